#include "packet/Rfcmsg.h"

#include "MessageMaker.h"
#include "SmallDisk.h"
#include "TestUtil.h"
#include "core/TnIni.h"
#include "framework/Files.h"
#include "util/TimeZone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <vector>

using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;
using namespace testmsg;

namespace {

// A record: body text ("-": no body file), attachment bytes, given name ("*"
// stands for the saved file's own name).
struct Rec {
    std::string body, attach, name;
    bool operator==(const Rec&) const = default;
};
using Recs = std::vector<Rec>;
void PrintTo(const Rec& r, std::ostream* os)
{
    *os << ::testing::PrintToString(r.body) << " + " << r.attach.size() << " bytes "
        << ::testing::PrintToString(r.attach.substr(0, 40)) << " as " << r.name;
}

class RfcmsgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        tz::SetProcessZone("GMT+0000", false);
        m_pConv = std::make_unique<Rfcmsg>(m_work.Path());
    }
    void TearDown() override { g_pIni = nullptr; }

    // Stores a message file as the POP3 client would and converts it.
    SummaryInfo* Convert(const std::string& message, const std::string& group = "email",
                         int iNumber = 1)
    {
        std::string path = m_work.File("PWZ" + std::to_string(++m_iFiles) + ".TMP");
        WriteFile(path, message);
        m_pConv->ConvertFile(path, iNumber, group);
        EXPECT_FALSE(testutil::Exists(path)) << "the message file is deleted";
        EXPECT_FALSE(m_pConv->WriteFailed());
        return m_pConv->Current();
    }
    std::vector<SummaryInfo*> Records()
    {
        std::vector<SummaryInfo*> v;
        for (SummaryInfo* p = m_pConv->List().First(); p; p = m_pConv->List().Next())
            v.push_back(p);
        return v;
    }
    Recs Summary()
    {
        Recs out;
        for (SummaryInfo* p : Records()) {
            std::string name = p->m_szGivenName.value_or("");
            if (!p->m_szAttachFile.empty() && name.rfind(p->m_szAttachFile.substr(0, 8), 0) == 0)
                name = "*" + name.substr(8);
            out.push_back({p->m_szBodyFile.empty() ? "-" : ReadFile(p->BodyPath()),
                           p->m_szAttachFile.empty() ? "" : ReadFile(p->AttachPath()), name});
        }
        return out;
    }
    // The header fields of a record: "id|from|reply-to|subject|newsgroups|
    // conference|number|date".
    static std::string Head(const SummaryInfo* p)
    {
        if (!p)
            return "(none)";
        return p->m_szMessageId + "|" + p->m_szFrom + "|" + p->m_szReplyTo + "|" + p->m_szSubject +
               "|" + p->m_szNewsgroups + "|" + p->m_szConference + "|" +
               std::to_string(p->m_iNumber) + "|" + std::to_string(p->m_tDate);
    }
    void LineLimit(const char* pszSection, int iLimit)
    {
        m_pIni = std::make_unique<TnIni>(m_iniDir.File("TOLVAN.INI"));
        m_pIni->WriteInt(pszSection, "ReceiveSize", iLimit);
        g_pIni = m_pIni.get();
    }
    // Every file of the work directory has a generated name.
    void ExpectOnlyGeneratedNames()
    {
        std::regex generated("[a-z]{8}\\.(txt|att)");
        for (const std::string& name : fw::ListDirectory(m_work.Path()))
            EXPECT_TRUE(std::regex_match(name, generated)) << name;
    }

    TempDir m_work;
    TempDir m_iniDir;
    std::unique_ptr<TnIni> m_pIni;
    std::unique_ptr<Rfcmsg> m_pConv;
    int m_iFiles = 0;
};

const std::string kAlice = "Alice <alice@example.org>";
const std::string kHead = "From: Alice <alice@example.org>\r\n"
                          "To: joe@example.net\r\n"
                          "Date: Tue, 07 Nov 1995 08:30:00 -0500\r\n";

} // namespace

// One message each: the records it gives and their encoding (if given).
// Destroying the converter leaves the work directory empty.
TEST_F(RfcmsgTest, BodiesAndAttachmentsOfOneMessage)
{
    const std::string data = Bytes(5000, 3), gif = Bytes(1000, 8), png = Bytes(300, 4),
                      longLine(6000, 'w');
    const std::string uu = Uuencode("xyz", "x"), real = Uuencode(Bytes(100, 6), "real.bin");
    TempDir outside;
    const std::string evil = outside.Path() + "/evil";
    const std::string realData = real.substr(real.find("\r\n") + 2);
    const std::string one = Bytes(100, 1), two = Bytes(3000, 2), three = Bytes(45, 3);
    // The third block lacks its grave-accent and "end" lines: the text line
    // after its data is still text.
    std::string cut = Uuencode(three, "c.bin");
    cut.erase(cut.find("`\r\nend\r\n"));
    auto lf = [](std::string s) {
        s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
        return s;
    };
    const std::string mixed = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
    const std::string b64Bin = "Content-Type: application/octet-stream\r\n"
                               "Content-Transfer-Encoding: base64\r\n\r\n";
    // Without padding the last group still counts: one byte or two of an
    // attachment, the LF of a text's CR LF.
    auto unpadded = [](const std::string& data) {
        std::string b64 = Base64(data);
        return b64.erase(b64.find('=')) + "\r\n";
    };
    // The records of a message that gives only one.
    auto One = [](const std::string& body, const std::string& attach = "", const char* name = "") {
        return Recs{{body, attach, name}};
    };
    const struct {
        const char* name;
        std::string message;
        Recs want;
        int iEncoding = -1;
    } rows[] = {
        {"plain text gets LF lines", kHead + "Subject: Hello\r\n\r\nLine one\r\n\r\nLine three\r\n",
         One("Line one\n\nLine three\n"), ENC_PLAIN},
        {"text and a base64 file: one record, the disposition's name",
         "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"XX\"\r\n\r\n"
         "preamble\r\n--XX\r\nContent-Type: text/plain\r\n\r\nSee the file.\r\n"
         "--XX\r\nContent-Type: application/octet-stream; name=\"other.bin\"\r\n"
         "Content-Transfer-Encoding: base64\r\n"
         "Content-Disposition: attachment; filename=\"my file.bin\"\r\n\r\n" +
             Base64(data) + "--XX--\r\n",
         One("See the file.\n", data, "my file.bin"), ENC_BASE64},
        {"the name falls back to the type's parameter, then the saved name",
         mixed + "--b\r\nContent-Type: text/plain\r\n\r\nt\r\n"
                 "--b\r\nContent-Type: application/pdf; x=1; FileName=\"doc.pdf\"\r\n\r\nA\r\n"
                 "--b\r\nContent-Type: image/png\r\n\r\nB\r\n--b--\r\n",
         {{"t\n", "A\n", "doc.pdf"}, {"-", "B\n", "*.att"}}},
        {"other alternatives are attachments of the first text",
         "Content-Type: multipart/alternative; boundary=b\r\n\r\n"
         "--b\r\nContent-Type: text/plain\r\n\r\nplain\r\n"
         "--b\r\nContent-Type: text/html\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
         "<p>caf=C3=A9</p>\r\n<p>two</p>\r\n--b--\r\n",
         One("plain\n", "<p>caf\xC3\xA9</p>\r\n<p>two</p>", "*.htm")},
        // A text part outside the alternatives is a text of its own again:
        // two texts never share a body file.
        {"nested alternatives give only their first text the others",
         mixed +
             "--b\r\nContent-Type: multipart/alternative; boundary=a\r\n\r\n"
             "--a\r\nContent-Type: text/plain\r\n\r\nthe text\r\n"
             "--a\r\nContent-Type: multipart/related; boundary=r\r\n\r\n"
             "--r\r\nContent-Type: text/html; name=\"page.html\"\r\n\r\n<b>the text</b>\r\n"
             "--r\r\nContent-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
             Base64(png) + "--r--\r\n--a--\r\n" +
             "--b\r\nContent-Type: text/plain; name=\"notes.txt\"\r\n\r\nnotes\r\n--b--\r\n",
         {{"the text\n", "<b>the text</b>\n", "page.html"},
          {"-", png, "*.att"},
          {"notes\n", "", ""}}},
        {"hostile names are only text: no file is made where they point",
         mixed + "--b\r\nContent-Type: text/plain\r\n\r\nbegin 644 " + evil + uu.substr(11) +
             "--b\r\nContent-Type: application/octet-stream; name=\"../../n\"\r\n"
             "Content-Disposition: attachment; filename=\"../../../etc/passwd\"\r\n"
             "Content-Transfer-Encoding: base64\r\n\r\n" +
             Base64("B64") + "--b--\r\n",
         {{"", "xyz", evil}, {"-", "B64", "../../../etc/passwd"}}},
        {"every uuencoded file inside text and the text between are kept",
         "\r\nfirst:\r\n" + Uuencode(one, "a.gif") + "between\r\n\r\n" + Uuencode(two, "b.gif") +
             "after two\r\n" + cut + "-- \r\nsig\r\n",
         {{"first:\nbetween\n\n", one, "a.gif"},
          {"after two\n", two, "b.gif"},
          {"-- \nsig\n", three, "c.bin"}},
         ENC_UUENCODE},
        // Data ending in "end" directly after the zero-length line leaves
        // nothing; a line other than "end" after it is text.
        {"an end line after uuencoded data is not text",
         "\r\n" + uu + "\r\n" + uu.substr(0, uu.find("end\r\n")) + "the end\r\n",
         {{"\n", "xyz", "x"}, {"the end\n", "xyz", "x"}}},
        {"begin line of a sentence", "\r\nbegin 10 minutes early\r\nSee you there.\r\n",
         One("begin 10 minutes early\nSee you there.\n")},
        {"begin line with a word for a name", "\r\nbegin 644 minutes\r\nM is not enough\r\n",
         One("begin 644 minutes\nM is not enough\n")},
        {"begin line with a blank line before the data", "\r\nbegin 644 x\r\n\r\n" + realData,
         One("begin 644 x\n\n" + lf(realData))},
        {"begin line as the last line", "\r\nbegin 10 minutes early",
         One("begin 10 minutes early\n")},
        {"begin line with a negative mode", "\r\nbegin -644 x\r\n" + realData,
         One("begin -644 x\n" + lf(realData))},
        {"capital Begin with data", "\r\nBegin 644 real.bin\r\n" + realData,
         One("", Bytes(100, 6), "real.bin")},
        {"quoted-printable: soft breaks join, hard breaks depend on the part",
         mixed + "--b\r\nContent-Type: text/plain\r\n"
                 "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                 "caf=C3=A9 and a long=\r\n line joined\r\nsecond =3D line\r\n"
                 "--b\r\nContent-Type: application/octet-stream\r\n"
                 "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                 "bin=00=E3ary=0D=0A=\r\ndata\r\nmore\r\n--b--\r\n",
         One("caf\xC3\xA9 and a long line joined\nsecond = line\n",
             std::string("bin\0\343ary\r\ndata\r\nmore", 20), "*.att"),
         ENC_QUOTED},
        // Groups of three bytes cut "\r\n" between two encoded lines; a lone
        // CR is data, and so is a CR at the very end.
        {"base64 text gets LF lines, binary keeps its CR LF",
         mixed +
             "--b\r\nContent-Type: text/plain; charset=utf-8\r\n"
             "Content-Transfer-Encoding: base64\r\n\r\n" +
             Base64("ab\r\ncd\re\r\n\r\nlast\r", 4) + "--b\r\n" + b64Bin +
             Base64("\x01\r\n\x02\r\r\n", 4) + "--b--\r\n",
         One("ab\ncd\re\n\nlast\r", "\x01\r\n\x02\r\r\n", "*.att"), ENC_BASE64},
        {"unpadded base64, one byte", b64Bin + unpadded("hello world!!"),
         One("-", "hello world!!", "*.att")},
        {"unpadded BASE64, two bytes",
         "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: BASE64\r\n\r\n" +
             unpadded("hello world!!!"),
         One("-", "hello world!!!", "*.att")},
        {"unpadded base64 text",
         "Content-Transfer-Encoding: base64\r\n\r\n" + unpadded("line\r\nxy\r\n"),
         One("line\nxy\n")},
        // The part ends before the CR LF of the closing delimiter.
        {"8bit text and a binary file",
         mixed + "--b\r\nContent-Type: text/plain; charset=utf-8\r\n"
                 "Content-Transfer-Encoding: 8bit\r\n\r\nr\xC3\xA4ksm\xC3\xB6rg\xC3\xA5s\r\nok\r\n"
                 "--b\r\nContent-Type: application/octet-stream\r\n"
                 "Content-Transfer-Encoding: binary\r\n\r\n\x01\x02\r\n\xFF\r\n--b--\r\n",
         One("r\xC3\xA4ksm\xC3\xB6rg\xC3\xA5s\nok\n", "\x01\x02\r\n\xFF", "*.att"), ENC_BINARY},
        {"long lines are not broken up", "\r\n" + longLine + "\r\nshort\r\n" + longLine,
         One(longLine + "\nshort\n" + longLine + "\n")},
        // The mail was cut off: the parts are still decoded, the last one up
        // to the end of the message.
        {"no closing delimiter",
         "Content-Type: multipart/mixed; boundary=zz\r\n\r\n"
         "--zz\r\nContent-Type: multipart/alternative; boundary=in\r\n\r\n"
         "--in\r\n\r\nimportant words\r\n--in\r\nContent-Type: text/html\r\n\r\n<i>w</i>\r\n"
         "--zz\r\nContent-Type: image/gif\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
             Base64(gif),
         {{"important words\n", "<i>w</i>\n", "*.htm"}, {"-", gif, "*.att"}}},
        {"no part can be found: the whole body is text",
         "Content-Type: multipart/mixed\r\n\r\n--zz\r\n\r\nimportant words\r\n--zz--\r\n",
         One("--zz\n\nimportant words\n--zz--\n")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        m_pConv = std::make_unique<Rfcmsg>(m_work.Path());
        SummaryInfo* last =
            Convert("Message-ID: <row@x>\r\nFrom: r@x\r\nSubject: row\r\n" + row.message);
        EXPECT_EQ(Summary(), row.want);
        std::vector<SummaryInfo*> v = Records();
        EXPECT_EQ(last, v.back());
        for (SummaryInfo* p : v) {
            EXPECT_TRUE(row.iEncoding < 0 || p->m_iEncoding == row.iEncoding);
            EXPECT_EQ(Head(p), Head(v[0])) << "each record has the message's header fields";
            EXPECT_EQ(p->m_szDir, m_work.Path());
        }
        ExpectOnlyGeneratedNames();
        m_pConv.reset();
        EXPECT_TRUE(fw::ListDirectory(m_work.Path()).empty());
    }
    EXPECT_TRUE(fw::ListDirectory(outside.Path()).empty());
}

TEST_F(RfcmsgTest, HeaderFieldsMadeUpIdsAndConferenceNames)
{
    SummaryInfo* r = Convert("Message-ID: <2@x>\r\nFROM: a@x\r\nreply-to: b@x\r\n"
                             "Sender: list-owner@lists.x\r\nSubject: multi\r\n\tline\r\n"
                             "Newsgroups: a.b,c.d\r\nDate: garbage\r\n\r\nbody\r\n");
    ASSERT_NE(r, nullptr);
    EXPECT_GT(r->m_tDate, 1700000000); // unparsable: the current time
    r->m_tDate = 0;
    EXPECT_EQ(Head(r), "<2@x>|a@x|b@x|multi\tline|a.b,c.d|list-owner@lists.x|1|0");
    // Reply-To defaults to From; a missing Message-ID is made, a new one each time.
    r = Convert(kHead + "Subject: s\r\n\r\nx\r\n");
    ASSERT_NE(r, nullptr);
    const std::string id = r->m_szMessageId;
    EXPECT_TRUE(std::regex_match(id, std::regex("<\\d{12,13}\\.\\d+@.+>"))) << id;
    EXPECT_EQ(Head(r), id + "|" + kAlice + "|" + kAlice + "|s||email|1|815751000");
    EXPECT_NE(Convert(kHead + "Subject: s\r\n\r\nx\r\n")->m_szMessageId, id);
    // Articles take the group name, whatever Sender says.
    r = Convert("Message-ID: <3@x>\r\nSender: s@x\r\nSubject: s\r\n\r\nx\r\n", "comp.lang.c", 77);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->m_szConference + "|" + std::to_string(r->m_iNumber), "comp.lang.c|77");
}

TEST_F(RfcmsgTest, GetHeaderUnfoldsAndIgnoresCaseAndStopsAtTheBody)
{
    std::string path = m_work.File("m.txt");
    WriteFile(path, "Subject: first\r\n  second\r\n\tthird\r\nX-A: 1\r\nx-b:\t  v\r\n\r\n"
                    "Body-Header: not a header\r\n");
    EXPECT_EQ(Rfcmsg::GetHeader("subject:", path), "first  second\tthird");
    EXPECT_EQ(Rfcmsg::GetHeader("X-B:", path), "v");
    EXPECT_EQ(Rfcmsg::GetHeader("Body-Header:", path), std::nullopt);
    EXPECT_EQ(Rfcmsg::GetHeader("X-C:", path), std::nullopt);
    EXPECT_EQ(Rfcmsg::GetHeader("Subject:", m_work.File("absent")), std::nullopt);
    // A very long header line cannot smuggle a field in after 1000 bytes.
    WriteFile(path, "X-Long: " + std::string(1500, 'a') + "Message-ID: <fake@x>\r\n\r\n");
    EXPECT_EQ(Rfcmsg::GetHeader("Message-ID:", path), std::nullopt);
}

TEST_F(RfcmsgTest, SplitUuencodedPostIsJoinedOnlyToItsOwnSeries)
{
    std::string data = Bytes(45 * 40, 11);
    std::string uu = Uuencode(data, "big.zip");
    // Cut after the 20th data line: part 1 holds the begin line and 20 lines.
    std::size_t cut = 0;
    for (int i = 0; i < 21; ++i)
        cut = uu.find("\r\n", cut) + 2;
    const std::string rest = uu.substr(cut);
    std::string restText = rest;
    restText.erase(std::remove(restText.begin(), restText.end(), '\r'), restText.end());
    SummaryInfo* first = Convert("Message-ID: <a1@x>\r\nFrom: poster@x\r\n"
                                 "Subject: big.zip [1/2]\r\n\r\n" +
                                     uu.substr(0, cut),
                                 "alt.bin", 10);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->m_iPartNumber, 1);
    EXPECT_EQ(first->m_iPartsTotal, 2);
    // Look-alikes of part 2 are messages of their own and leave part 1 be:
    // another sender, another series (whose first part never came: text),
    // another total, a file of its own.
    const std::vector<std::string> lookAlikes = {
        "From: other@x\r\nSubject: big.zip [2/2]\r\n\r\n",
        "From: poster@x\r\nSubject: small.zip [2/2]\r\n\r\n",
        "From: poster@x\r\nSubject: big.zip [2/3]\r\n\r\n",
        "From: poster@x\r\nSubject: big.zip [2/2]\r\n"
        "Content-Disposition: inline; filename=\"big.zip.txt\"\r\n\r\n",
    };
    int i = 0;
    for (const std::string& head : lookAlikes) {
        SummaryInfo* r =
            Convert("Message-ID: <la" + std::to_string(++i) + "@x>\r\n" + head + rest, "alt.bin");
        ASSERT_NE(r, nullptr) << head;
        EXPECT_EQ(ReadFile(r->BodyPath()), restText) << head;
        EXPECT_LT(r->m_iPartNumber, 1) << head;
    }
    EXPECT_EQ(Records().size(), 1u + lookAlikes.size());
    EXPECT_EQ(first->m_iPartNumber, 1);
    SummaryInfo* second = Convert("Message-ID: <a2@x>\r\nFrom: poster@x\r\n"
                                  "Subject: big.zip [2/2]\r\n\r\n" +
                                      rest,
                                  "alt.bin", 11);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(Records().size(), 1u + lookAlikes.size());
    EXPECT_EQ(first->m_iPartNumber, 2);
    EXPECT_EQ(ReadFile(first->AttachPath()), data);
    EXPECT_EQ(first->m_szGivenName.value_or(""), "big.zip");
}

// Part markers in their three forms; a subject that only looks like one is
// kept, and so is its message.
TEST_F(RfcmsgTest, PartMarkersAndSubjectsThatOnlyLookLikeThem)
{
    struct Case {
        const char* subject;
        int iPart = 0, iTotal = 0; // the total is not checked for -1
        std::string rest = "\r\nx\r\n", body = "x\n";
    };
    const std::vector<Case> cases = {
        {"12/25 party plans", -1, 0, "\r\nBring a dish.\r\n", "Bring a dish.\n"},
        {"[2/2] minutes", -1, 0, "\r\nAll present.\r\n", "All present.\n"},
        {"2/3 of the budget", -1, 0,
         "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
             Base64("Two thirds \xE2\x82\xAC\r\n"),
         "Two thirds \xE2\x82\xAC\n"},
        {"[2/2] minutes", 0, 0,
         "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nSee the file.\r\n"
         "--b\r\nContent-Type: application/pdf; name=\"m.pdf\"\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\n" +
             Base64("%PDF") + "--b--\r\n",
         "See the file.\n"},
        {"Budget 2/3 done", 0, 0, "\r\nSee:\r\n" + Uuencode("sheet", "b.xls"), "See:\n"},
        {"file [1/5]", 1, 5},
        {"file (1/7) more", 1, 7},
        {"file 1/9 here", 1, 9},
        {"a/b"},
        {"no marker"},
        {"x [1/2] and/or"},
        {"25/12 dinner"},
    };
    int i = 0;
    for (const Case& c : cases) {
        SummaryInfo* r = Convert("Message-ID: <s" + std::to_string(++i) +
                                 "@x>\r\nFrom: a@x\r\nSubject: " + c.subject + "\r\n" + c.rest);
        ASSERT_NE(r, nullptr) << c.subject;
        EXPECT_EQ(r->m_szSubject, c.subject);
        EXPECT_EQ(ReadFile(r->BodyPath()), c.body) << c.subject;
        EXPECT_EQ(r->m_iPartNumber, c.iPart) << c.subject;
        EXPECT_TRUE(c.iPart < 0 || r->m_iPartsTotal == c.iTotal) << c.subject;
    }
    std::vector<SummaryInfo*> v = Records();
    ASSERT_EQ(v.size(), cases.size());
    EXPECT_EQ(ReadFile(v[3]->AttachPath()), "%PDF");
    EXPECT_EQ(ReadFile(v[4]->AttachPath()), "sheet");
    ExpectOnlyGeneratedNames();
    // Header-list converters do no part detection.
    Rfcmsg plain(m_work.Path(), true);
    std::string path = m_work.File("NWZ1.TMP");
    WriteFile(path, "Message-ID: <q@x>\r\nSubject: f [2/2]\r\n\r\nx\r\n");
    plain.ConvertFile(path, 1, "g");
    ASSERT_NE(plain.Current(), nullptr);
    EXPECT_EQ(plain.Current()->m_iPartNumber, 0);
}

TEST_F(RfcmsgTest, SplitBase64PostIsJoinedAcrossMessages)
{
    // The last group is padded; CR LF inside the data stays as it is.
    std::string data = Bytes(57 * 15, 12) + "\r\n\r" + Bytes(57 * 15 + 7, 13);
    std::string b64 = Base64(data);
    std::size_t cut = 78 * 15; // 15 full lines of 76 characters
    Convert("Message-ID: <b1@x>\r\nSubject: Movie (1/3) clip.avi\r\n"
            "Content-Type: multipart/mixed; boundary=q\r\n\r\n--q\r\n\r\nfirst part\r\n"
            "--q\r\nContent-Type: video/avi\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                b64.substr(0, cut) + "--q--\r\n",
            "alt.bin");
    Convert("Message-ID: <b2@x>\r\nSubject: Movie (2/3) clip.avi\r\n\r\n" +
                b64.substr(cut, 78 * 10),
            "alt.bin");
    std::vector<SummaryInfo*> v = Records();
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0]->m_iPartNumber, 2);
    EXPECT_EQ(v[0]->m_iPartsTotal, 3);
    Convert("Message-ID: <b3@x>\r\nSubject: Movie (3/3) clip.avi\r\n\r\n" +
                b64.substr(cut + 78 * 10),
            "alt.bin");
    v = Records();
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0]->m_iPartNumber, 3);
    EXPECT_EQ(ReadFile(v[0]->AttachPath()), data);
    EXPECT_EQ(ReadFile(v[0]->BodyPath()), "first part\n");
}

TEST_F(RfcmsgTest, LineLimitSplitsLongTexts)
{
    LineLimit("Email", 100);
    std::string body;
    for (int i = 1; i <= 250; ++i)
        body += "line " + std::to_string(i) + "\r\n";
    SummaryInfo* last = Convert("Message-ID: <e@x>\r\nSubject: long\r\n\r\n" + body);
    std::vector<SummaryInfo*> v = Records();
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(last, v[2]);
    EXPECT_TRUE(m_pConv->SplitHappened());
    std::vector<int> counts;
    for (SummaryInfo* p : v) {
        std::string text = ReadFile(p->BodyPath());
        counts.push_back(static_cast<int>(std::count(text.begin(), text.end(), '\n')));
        EXPECT_EQ(p->m_szSubject, "long");
    }
    EXPECT_EQ(counts, (std::vector<int>{101, 101, 48}));
    EXPECT_EQ(ReadFile(v[1]->BodyPath()).substr(0, 9), "line 102\n");
    // The article limit is separate.
    SummaryInfo* art = Convert("Message-ID: <f@x>\r\nSubject: art\r\n\r\n" + body, "comp.x");
    ASSERT_NE(art, nullptr);
    EXPECT_EQ(Records().size(), 4u);
}

TEST_F(RfcmsgTest, QuotedPrintableEscapesAndSoftBreaksAcrossTheReadBuffer)
{
    // Long lines are read in pieces of 999 bytes: the escapes and soft
    // breaks of these lines fall on every position around the cuts.
    std::string pattern;
    for (int i = 0; i < 1000; ++i)
        pattern += "ab\xE9=";
    for (std::size_t k = 993; k <= 1001; ++k) {
        std::string a(k, 'a'), pad(k % 8, 'p');
        std::string encoded = a + "=C3=A9" + a + "=\r\nb\r\n" + a + "=  \r\n" + a + "=\r\n" + pad +
                              QuotedPrintable(pattern) + "\r\nend";
        SummaryInfo* r = Convert("Message-ID: <qp" + std::to_string(k) +
                                 "@x>\r\n"
                                 "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
                                 encoded);
        ASSERT_NE(r, nullptr);
        EXPECT_TRUE(ReadFile(r->BodyPath()) ==
                    a + "\xC3\xA9" + a + "b\n" + a + a + pad + pattern + "\nend\n")
            << "at " << k;
    }
}

// Lines whose CR LF falls on the end of a 999-byte piece, in the header block
// (whose end must still be found) and in the text.
TEST_F(RfcmsgTest, LineEndsAtTheEdgeOfTheReadBuffer)
{
    for (std::size_t n = 996; n <= 1001; ++n) {
        std::string line(n, 'x');
        SummaryInfo* r =
            Convert("Message-ID: <k" + std::to_string(n) + "@x>\r\nX-Long: " + line.substr(8) +
                    "\r\n\r\n" + line + "\r\n" + line + "\r\nbody\r\n");
        ASSERT_NE(r, nullptr);
        EXPECT_TRUE(ReadFile(r->BodyPath()) == line + "\n" + line + "\nbody\n") << n;
    }
}

TEST_F(RfcmsgTest, AMissingFileMakesNoRecord)
{
    m_pConv->ConvertFile(m_work.File("absent.TMP"), 1, "email");
    EXPECT_EQ(m_pConv->Current(), nullptr);
    EXPECT_TRUE(Records().empty());
}

TEST_F(RfcmsgTest, OverviewLinesMakeHeaderOnlyRecords)
{
    m_pConv->AddOverview("1234\tA subject\tBob <bob@x>\tTue, 07 Nov 1995 08:30:00 -0500\t<o@x>\t"
                         "<ref@x>\t2000\t42");
    SummaryInfo* r = m_pConv->Current();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(Head(r), "<o@x>|Bob <bob@x>||A subject|||1234|815751000");
    EXPECT_EQ(r->m_iLines, 42);
    EXPECT_EQ(r->m_iBlocks, 32);
    EXPECT_TRUE(r->m_szBodyFile.empty());
    m_pConv->AddOverview("5\tno id\tx\t\t\t\t1\t1");
    EXPECT_EQ(m_pConv->Current(), nullptr);
    m_pConv->AddOverview("6\ttruncated");
    EXPECT_EQ(m_pConv->Current(), nullptr);
    EXPECT_EQ(Records().size(), 1u);
    EXPECT_TRUE(fw::ListDirectory(m_work.Path()).empty());
}

TEST(RfcmsgDisk, AFullDiskIsReportedAndTheMessageFileKept)
{
    TempDir dir;
    std::string mnt = dir.File("work");
    ASSERT_EQ(::mkdir(mnt.c_str(), 0755), 0);
    std::string message = dir.File("PWZ1.TMP");
    WriteFile(message, "Message-ID: <full@x>\r\nContent-Type: application/octet-stream\r\n"
                       "Content-Transfer-Encoding: base64\r\n\r\n" +
                           Base64(Bytes(200000, 5)));
    auto result = testutil::RunWithSmallDisk(mnt, 64 * 1024, [&]() {
        Rfcmsg conv(mnt);
        conv.ConvertFile(message, 1, "email");
        if (!conv.WriteFailed())
            return 1;
        if (!testutil::Exists(message))
            return 2;
        return 0;
    });
    ASSERT_TRUE(result.has_value()) << "no private tmpfs mount";
    EXPECT_EQ(*result, 0);
}
