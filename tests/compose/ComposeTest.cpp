// Composing outgoing messages from replies: headers, MIME and plain bodies,
// character sets and quoted-printable, attachments in every encoding, the
// address lists, and cutting a message into numbered parts.
#include "TestUtil.h"

#include "compose/HeaderText.h"
#include "compose/OutgoingMessage.h"
#include "compose/WSend.h"
#include "msg/QuotedPrintable.h"
#include "msg/UuCodec.h"
#include "packet/Repfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace {

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

// Undoes quoted-printable over a whole text (soft breaks join lines).
std::string QPDecode(const std::string& text)
{
    std::string out;
    for (const std::string& line : Lines(text)) {
        std::vector<char> buf(line.size() + 1);
        int n = QPDecodeLine(line, buf.data(), static_cast<int>(buf.size()));
        out.append(buf.data(), static_cast<std::size_t>(n));
        bool bSoft = !line.empty() && line.back() == '=';
        if (!bSoft)
            out += '\n';
    }
    return out;
}

class Compose : public ::testing::Test {
protected:
    std::unique_ptr<mailxarticle> Reply(const std::string& text, const std::string& to = "a@x")
    {
        auto p = std::make_unique<mailxarticle>();
        p->m_iEmail = 1;
        p->m_szTo = to;
        p->m_szSubject = "Subject";
        p->m_szText = text;
        p->m_iTextStart = ReplyTextStart(text);
        return p;
    }
    std::string Attach(mailxarticle& r, const std::string& bytes, const std::string& name)
    {
        r.m_szAttachPath = dir.File("ATTACH.BIN");
        r.m_szAttachName = name;
        testutil::WriteFile(r.m_szAttachPath, bytes);
        return bytes;
    }
    struct Built {
        std::string head, body;
        bool ok = false;
    };
    Built Make(const mailxarticle& r, bool bMime, int iEncoding = 0)
    {
        OutgoingMessage m(r, dir.Path(), bMime, iEncoding, "reply@x", "Caf\xC3\xA9 Org");
        Built b;
        b.ok = m.Built();
        if (b.ok) {
            b.head = testutil::ReadFile(m.m_szHeaderFile);
            b.body = testutil::ReadFile(m.m_szBodyFile);
        }
        return b;
    }
    std::string attachBytes = [] {
        std::string s;
        for (int i = 0; i < 700; ++i)
            s += static_cast<char>((i * 7) & 0xFF);
        return s;
    }();
    testutil::TempDir dir;
};

TEST_F(Compose, PlainSevenBitMailWithMime)
{
    auto r = Reply("To: a@x\n\nHello\nSubject: stays in the body\n");
    Built b = Make(*r, true);
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(b.head, "Reply-To: reply@x\nOrganization: =?iso-8859-1?Q?Caf=E9_Org?=\n"
                      "MIME-Version: 1.0\nX-Mail-Agent: Mail Tolvan version 1.00a\n"
                      "Content-Type: text/plain; charset=us-ascii\n"
                      "Content-Transfer-Encoding: 7bit\n");
    EXPECT_EQ(b.body, "\nHello\nSubject: stays in the body\n");
    b = Make(*r, false);
    EXPECT_EQ(b.head, "Reply-To: reply@x\nOrganization: =?iso-8859-1?Q?Caf=E9_Org?=\n"
                      "X-Mail-Agent: Mail Tolvan version 1.00a\n");
}

TEST_F(Compose, EightBitTextIsQuotedPrintableWithItsCharsetEvenWithoutMime)
{
    std::string latin = "caf\xC3\xA9 au lait\nplain line\n";
    std::string wide = "box \xE2\x94\x82 and \xC3\xA9\n";
    for (bool bMime : {true, false}) {
        SCOPED_TRACE(bMime);
        Built b = Make(*Reply(latin), bMime);
        EXPECT_NE(b.head.find("MIME-Version: 1.0\n"), std::string::npos);
        EXPECT_NE(b.head.find("charset=iso-8859-1\nContent-Transfer-Encoding: quoted-printable"),
                  std::string::npos);
        EXPECT_EQ(b.body, "\ncaf=E9 au lait\nplain line\n");
        b = Make(*Reply(wide), bMime);
        EXPECT_NE(b.head.find("charset=utf-8\n"), std::string::npos);
        EXPECT_EQ(QPDecode(b.body.substr(1)), wide);
    }
}

TEST_F(Compose, LongLinesContinueWithSoftBreaks)
{
    std::string longLine;
    for (int i = 0; i < 1200; ++i)
        longLine += static_cast<char>('a' + i % 26);
    Built b = Make(*Reply("short\n" + longLine + "\n"), false);
    EXPECT_NE(b.head.find("Content-Transfer-Encoding: quoted-printable"), std::string::npos);
    for (const std::string& l : Lines(b.body))
        EXPECT_LE(l.size(), 76u);
    EXPECT_EQ(QPDecode(b.body.substr(1)), "short\n" + longLine + "\n");
    // 499 characters still go as they are.
    std::string edge(499, 'x');
    EXPECT_EQ(Make(*Reply(edge + "\n"), true).body, "\n" + edge + "\n");
}

TEST_F(Compose, MimeAttachmentIsAMultipartWithBase64)
{
    auto r = Reply("See the file.\n");
    Attach(*r, attachBytes, "data \xC3\xA9.bin");
    Built b = Make(*r, true, OutgoingMessage::ENCODING_UUENCODE); // MIME: base64 regardless
    ASSERT_TRUE(b.ok);
    auto head = Lines(b.head);
    ASSERT_GE(head.size(), 3u);
    EXPECT_EQ(head[head.size() - 3], "Content-Type: multipart/mixed;");
    std::string boundary = head[head.size() - 2].substr(14);
    boundary.pop_back();
    EXPECT_EQ(boundary.size(), 29u);
    EXPECT_EQ(boundary.rfind("=_ Boundary ", 0), 0u);
    EXPECT_EQ(head.back(), "");
    auto body = Lines(b.body);
    EXPECT_EQ(body[1], "--" + boundary);
    EXPECT_EQ(body[2], "Content-Type: text/plain; charset=us-ascii");
    EXPECT_EQ(body[5], "See the file.");
    EXPECT_EQ(body[7], "--" + boundary);
    // The file's bytes after decoding are the end-to-end posting test's.
    EXPECT_EQ(body[9], "Content-Transfer-Encoding: Base64");
    EXPECT_EQ(body[10], "Content-Disposition: attachment; filename*=utf-8''data%20%C3%A9.bin");
    EXPECT_EQ(body.back(), "--" + boundary + "--");
}

TEST_F(Compose, AttachmentsWithoutMimeInBothEncodings)
{
    auto r = Reply("Text\n");
    Attach(*r, attachBytes, "file.bin");
    Built uu = Make(*r, false, OutgoingMessage::ENCODING_UUENCODE);
    auto lines = Lines(uu.body);
    EXPECT_EQ(lines[1], "Text");
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3], "");
    EXPECT_EQ(lines[4], "begin 600 file.bin");
    CUUDEC dec;
    std::string decoded;
    for (std::size_t i = 4; i < lines.size(); ++i) {
        unsigned char out[CUUDEC::kMaxLineBytes];
        decoded.append(reinterpret_cast<char*>(out),
                       static_cast<std::size_t>(dec.DecodeLine(lines[i], out)));
    }
    EXPECT_EQ(decoded, attachBytes);
    EXPECT_EQ(lines.back(), "end");
    Built b64 = Make(*r, false, OutgoingMessage::ENCODING_BASE64);
    EXPECT_EQ(Lines(b64.body)[3].size(), 68u);
    for (int iEncoding : {0, 3})
        EXPECT_EQ(Make(*r, false, iEncoding).body, "\nText\n");
    // An 8-bit text: the whole body, file included, is quoted-printable.
    auto r8 = Reply("caf\xC3\xA9\n");
    Attach(*r8, attachBytes, "file.bin");
    Built q = Make(*r8, false, OutgoingMessage::ENCODING_UUENCODE);
    std::string plain = QPDecode(q.body.substr(1));
    EXPECT_NE(plain.find("begin 600 file.bin\n"), std::string::npos);
    EXPECT_EQ(plain.rfind("caf\xE9\n\n\n", 0), 0u);
    // A file that cannot be read builds nothing (the reply is kept).
    r->m_szAttachPath = dir.File("missing");
    EXPECT_FALSE(Make(*r, true).ok);
}

TEST_F(Compose, AddressListsAndRecipients)
{
    CAddrList list;
    EXPECT_TRUE(ParseAddrList(" a @ x , ,Bob Example <bob@y>,\tc@z", list));
    std::vector<std::string> got;
    for (const char* p = list.First(); p; p = list.Next())
        got.emplace_back(p);
    EXPECT_EQ(got, (std::vector<std::string>{"a@x", "bob@y", "c@z"}));
    CAddrList longOne;
    EXPECT_FALSE(ParseAddrList("ok@x," + std::string(76, 'l') + "@x.y,after@x", longOne));
    EXPECT_EQ(longOne.Count(), 1u);

    auto r = Reply("x\n", std::string(80, 'l'));
    OutgoingMessage none(*r, dir.Path(), true, 0, nullptr, nullptr);
    EXPECT_FALSE(none.Built());
    r->m_szCc = "c@x";
    OutgoingMessage ccOnly(*r, dir.Path(), true, 0, nullptr, nullptr);
    EXPECT_TRUE(ccOnly.Built());
    EXPECT_EQ(ccOnly.m_pRecipients, nullptr);
    ASSERT_NE(ccOnly.m_pCopies, nullptr);
    EXPECT_EQ(ccOnly.m_pCopies->Count(), 1u);
    r->m_iEmail = 0;
    r->m_szNewsgroups = "a.b, c.d";
    OutgoingMessage news(*r, dir.Path(), false, 1, nullptr, nullptr);
    ASSERT_TRUE(news.Built());
    EXPECT_EQ(news.m_pRecipients->Count(), 2u);
    EXPECT_EQ(news.m_pCopies, nullptr);
    std::string body;
    {
        OutgoingMessage gone(*r, dir.Path(), false, 1, nullptr, nullptr);
        body = gone.m_szBodyFile;
    }
    EXPECT_FALSE(testutil::Exists(body)) << "its files go with it";
}

// A job that records what it would send instead of starting a client.
class RecordingJob : public CSendJob {
public:
    RecordingJob(mailxarticle& r, SendSettings s) : CSendJob(r, std::move(s)) {}
    std::vector<std::string> subjects, parts;

protected:
    bool StartClient(std::FILE*, const std::string& subject) override
    {
        subjects.push_back(subject);
        parts.push_back(testutil::ReadFile(PartFile()));
        return true;
    }
};

TEST_F(Compose, CuttingIntoNumberedParts)
{
    std::string text;
    for (int i = 0; i < 50; ++i)
        text += std::string(49, static_cast<char>('a' + i % 26)) + "\n";
    auto r = Reply(text);
    r->m_szSubject = "Caf\xC3\xA9";
    r->m_szAttachPath = "";
    SendSettings s;
    s.workDir = dir.Path();
    s.iPostSize = 1;
    s.bMime = true;
    RecordingJob job(*r, s);
    EXPECT_EQ(job.PartsTotal(), 3); // 2501 bytes of body
    std::string joined;
    while (true) {
        ASSERT_TRUE(job.NextPart()) << job.Error();
        if (!job.MoreParts())
            break;
    }
    ASSERT_EQ(job.parts.size(), 3u);
    EXPECT_EQ(job.subjects[0], "=?iso-8859-1?Q?Caf=E9_-__=5B1/3=5D?=");
    EXPECT_EQ(job.subjects[2], "=?iso-8859-1?Q?Caf=E9_-__=5B3/3=5D?=");
    for (const std::string& p : job.parts) {
        EXPECT_EQ(p.rfind("MIME-Version: 1.0\n", 0), 0u);
        std::size_t split = p.find("\n\n");
        joined += p.substr(split + 2);
    }
    EXPECT_EQ(joined, text);
    EXPECT_TRUE(testutil::Exists(job.PartFile()));
    // One part without a post size.
    s.iPostSize = 0;
    RecordingJob one(*r, s);
    ASSERT_TRUE(one.NextPart());
    EXPECT_FALSE(one.MoreParts());
    EXPECT_EQ(one.subjects[0], "=?iso-8859-1?Q?Caf=E9?=");
    EXPECT_TRUE(testutil::Exists(one.PartFile()));
}

TEST(HeaderText, EncodedWordsAndCuts)
{
    EXPECT_EQ(EncodeHeaderText("plain", 9), "plain");
    EXPECT_EQ(EncodeHeaderText("a\r\nBcc: x", 9), "a  Bcc: x");
    EXPECT_EQ(EncodeHeaderText("\xE2\x82\xAC 5 caf\xC3\xA9", 9),
              "=?utf-8?Q?=E2=82=AC_5_caf=C3=A9?=");
    EXPECT_EQ(EncodeHeaderText("\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC", 9),
              "=?utf-8?B?4oKs4oKs4oKs?=");
    std::string longText;
    for (int i = 0; i < 60; ++i)
        longText += "\xC3\xA9t\xC3\xA9 ";
    std::string enc = EncodeHeaderText(longText, 9);
    std::size_t first = enc.find("\r\n");
    ASSERT_NE(first, std::string::npos);
    EXPECT_LE(first + 9, 76u);
    for (const std::string& l : Lines(enc))
        EXPECT_LE(l.size(), 77u); // with its CR
    EXPECT_EQ(CutUtf8("ab\xC3\xA9", 3), "ab");
    EXPECT_EQ(CutUtf8("ab\xC3\xA9", 4), "ab\xC3\xA9");
    EXPECT_STREQ(CharsetFor("ascii"), "us-ascii");
    EXPECT_EQ(InCharset("\xC3\xA9", "iso-8859-1"), "\xE9");
}

} // namespace

TEST_F(Compose, ARepliedMessageGivesThreadingHeadersFoldedBetweenIdentifiers)
{
    auto r = Reply("Hello\n");
    Built b = Make(*r, false);
    EXPECT_EQ(b.head.find("In-Reply-To"), std::string::npos);
    EXPECT_EQ(b.head.find("References"), std::string::npos);

    std::string refs;
    for (int i = 0; i < 6; ++i)
        refs += "<thread-message-" + std::to_string(i) + "@news.example.org> ";
    r->m_szInReplyTo = "<thread-message-5@news.example.org>";
    r->m_szReferences = refs;
    b = Make(*r, false);
    ASSERT_TRUE(b.ok);
    std::vector<std::string> lines = Lines(b.head);
    auto at = std::find(lines.begin(), lines.end(), "In-Reply-To: " + r->m_szInReplyTo);
    ASSERT_NE(at, lines.end()) << b.head;
    ASSERT_LT(at + 1, lines.end());
    ASSERT_EQ(at[1].rfind("References: <thread-message-0@", 0), 0u) << b.head;
    std::string unfolded = at[1];
    for (auto it = at + 2; it != lines.end() && !it->empty() && (*it)[0] == ' '; ++it)
        unfolded += *it;
    for (auto it = at + 1; it != lines.end() && it->size() > 0; ++it)
        EXPECT_LE(it->size(), 78u) << *it;
    EXPECT_EQ(unfolded, "References: " + refs.substr(0, refs.size() - 1));
}
