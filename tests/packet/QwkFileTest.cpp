#include "packet/QwkFile.h"

#include "TestUtil.h"
#include "core/TnIni.h"
#include "newsgroups/Newsgroups.h"
#include "packet/Rfcmsg.h"
#include "util/TimeZone.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

const std::string E3 = "\xE3";
const std::string kBanner =
    "Produced by Qmail...Copyright (c) 1987 by Sparkware.  All Rights Reserved       Above for "
    "Compatibility with Qmail              ";

std::string Pad(const std::string& s, std::size_t n)
{
    return (s + std::string(n, ' ')).substr(0, n);
}

// A header block written out field by field.
std::string Header(char status, const std::string& number, const std::string& date,
                   const std::string& time, const std::string& to, const std::string& from,
                   const std::string& subject, const std::string& blocks, int conference)
{
    std::string h;
    h += status;
    h += Pad(number, 7) + date + time + Pad(to, 25) + Pad(from, 25) + Pad(subject, 25);
    h += std::string(12, ' ') + std::string(8, ' ') + Pad(blocks, 6);
    h += '\xE1';
    h += static_cast<char>(conference & 0xFF);
    h += static_cast<char>(conference >> 8);
    h += std::string(3, '\0');
    return h;
}

std::string PadBlocks(const std::string& text)
{
    std::size_t n = (text.size() + 127) / 128 * 128;
    return text + std::string(n - text.size(), ' ');
}

std::string Bytes(std::initializer_list<int> v)
{
    std::string s;
    for (int b : v)
        s += static_cast<char>(b);
    return s;
}

// A message as written: its header block, then the text in blocks of 128,
// each line ended by 0xE3 (LF ends the lines of body and more).
std::string Message(char status, int number, const std::string& to, const std::string& from,
                    const std::string& subject, int conference, std::string body,
                    std::string more = "")
{
    for (std::string* p : {&body, &more})
        for (std::size_t i; (i = p->find('\n')) != std::string::npos;)
            p->replace(i, 1, E3);
    std::string text =
        PadBlocks("From: " + from + E3 + "Subject: " + subject + E3 + more + E3 + body);
    return Header(status, std::to_string(number), "03-07-24", "14:05", to, from, subject,
                  std::to_string(text.size() / 128 + 1), conference) +
           text;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start) + "<no CRLF>");
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// 7 March 2024, 14:05:09 UTC.
constexpr std::int64_t kDate = 1709820309;

class QwkFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        tz::SetProcessZone("GMT+0000", false);
        m_pConv = std::make_unique<Rfcmsg>(m_dir.Path());
        m_pGroups = std::make_unique<Newsgroups>("");
        m_pGroups->Remove("news.answers");
        m_pGroups->Remove("news.newusers.questions");
    }
    void TearDown() override
    {
        g_pIni = nullptr;
        tz::SetProcessZone("GMT+0000", false);
    }

    SummaryInfo* Add(const std::string& conference, const std::string& from,
                     const std::string& subject, const std::string& body,
                     const std::string& newsgroups = std::string())
    {
        auto p = std::make_unique<SummaryInfo>(m_dir.Path());
        p->m_szMessageId = "id" + std::to_string(++m_iCount) + "@test";
        p->m_szFrom = from;
        p->m_szReplyTo = from;
        p->m_szSubject = subject;
        p->m_szNewsgroups = newsgroups;
        p->m_szConference = conference;
        p->m_tDate = kDate;
        p->m_szBodyFile = "body" + std::to_string(m_iCount) + ".txt";
        WriteFile(p->BodyPath(), body);
        return m_pConv->List().Add(std::move(p));
    }
    void AddAttachment(SummaryInfo* p, const std::string& bytes, const char* pszGiven, int part = 0,
                       int total = 0)
    {
        p->m_szAttachFile = "att" + std::to_string(m_iCount) + "file.att";
        WriteFile(p->AttachPath(), bytes);
        if (pszGiven)
            p->m_szGivenName = pszGiven;
        p->m_iPartNumber = part;
        p->m_iPartsTotal = total;
    }
    bool Write(bool bListAll = false, bool bLongNames = true, bool bUseReplyTo = true,
               fw::Window* pWindow = nullptr)
    {
        QwkFile qwk(pWindow, m_dir.Path(), "Joe User", "Home", m_pGroups.get(), bUseReplyTo,
                    bLongNames, bListAll);
        bool ok = qwk.WritePacket(*m_pConv);
        m_iListed = qwk.ListedFileCount();
        m_error = qwk.LastError();
        return ok;
    }
    std::string Packet(const std::string& name) { return ReadFile(m_dir.File(name)); }
    // control.dat from the line after the user's name: the lines joined by "|".
    std::string ControlTail()
    {
        std::vector<std::string> lines = Lines(Packet("control.dat"));
        std::string out;
        for (std::size_t i = 7; i < lines.size(); ++i)
            out += (i > 7 ? "|" : "") + lines[i];
        return out;
    }
    std::string P(const std::string& name) { return m_dir.File(name); }

    TempDir m_dir;
    std::unique_ptr<Rfcmsg> m_pConv;
    std::unique_ptr<Newsgroups> m_pGroups;
    int m_iCount = 0;
    std::int32_t m_iListed = 0;
    std::string m_error;
};

} // namespace

TEST(QwkFormat, MsbinNumbersMatchTheReadersValues)
{
    const std::pair<int, std::uint32_t> rows[] = {
        {1, 0x81000000u},  {2, 0x82000000u},   {3, 0x82400000u},    {6, 0x83400000u},
        {10, 0x84200000u}, {100, 0x87480000u}, {1000, 0x8A7A0000u}, {65536, 0x91000000u},
        {0, 0u},           {-2, 0x82800000u}};
    for (const auto& [n, want] : rows)
        EXPECT_EQ(QwkFile::ToMsbin(n), want) << n;
}

TEST(QwkFormat, FoldingJoinsPiecesAndBreaksLinesAtSeventy)
{
    EXPECT_EQ(QwkFile::FoldHeaderList("a, b", ','), "a,b");
    EXPECT_EQ(QwkFile::FoldHeaderList("  Hello \t  big   world ", ' '), "Hello big world");
    EXPECT_EQ(QwkFile::FoldHeaderList("", ' '), "");
    EXPECT_EQ(QwkFile::FoldHeaderList(" , ,, ", ','), "");
    EXPECT_EQ(QwkFile::FoldHeaderList("   ", ' '), "");
    // Ten groups of 14 characters: four fit a line (60 + 14 = 74 is more
    // than 70); a line keeps its trailing separator before 0xE3 and a blank.
    std::string groups;
    for (int i = 0; i < 10; ++i)
        groups += (i ? ", " : "") + std::string("comp.group.n") + char('0' + i) + "x";
    auto run = [](int from, int to) {
        std::string s;
        for (int i = from; i < to; ++i)
            s += std::string("comp.group.n") + char('0' + i) + "x,";
        return s;
    };
    std::string last = run(8, 10);
    last.pop_back();
    EXPECT_EQ(QwkFile::FoldHeaderList(groups, ','),
              run(0, 4) + E3 + " " + run(4, 8) + E3 + " " + last);
    // Pieces are cut to 79 characters; a long first piece starts no empty line.
    std::string longWord(100, 'x');
    EXPECT_EQ(QwkFile::FoldHeaderList(longWord + " end", ' '),
              std::string(79, 'x') + " " + E3 + " end");
}

TEST(QwkFormat, ShortNamesForAttachedList)
{
    SummaryInfo r;
    r.m_szAttachFile = "ABCDEFGH.ATT";
    EXPECT_EQ(QwkFile::ShortName(r), "ABCDEFGH.ATT");
    auto named = [&](const char* given) {
        r.m_szGivenName = given;
        return QwkFile::ShortName(r);
    };
    // Hostile names are text only, and can neither break the comma-separated
    // line nor name a path; no name is the saved name.
    EXPECT_EQ(named("readme.txt"), "readme.txt");
    EXPECT_EQ(named("longfilename.html"), "longname.htm");
    EXPECT_EQ(named("archive"), "archive");
    EXPECT_EQ(named("picture number one"), "pict~one.BIN");
    EXPECT_EQ(named("my.long.filename.txt"), "my~lname.txt");
    EXPECT_EQ(named("a.html"), "a.htm");
    EXPECT_EQ(named("x"), "x");
    EXPECT_EQ(named("a,b.txt"), "a~b.txt");
    EXPECT_EQ(named("../../etc/passwd"), "~~~~~~~~.~et");
    EXPECT_EQ(named("r\xE9sum\xE9.doc"), "r~sum~.doc");
    EXPECT_EQ(named(""), "ABCDEFGH.ATT");
}

TEST(QwkFormat, ConferenceNamesShortenedOnlyWhenAsked)
{
    EXPECT_EQ(QwkFile::ConferenceName("comp.lang.c.moderated", true), "comp.lang.c.moderated");
    EXPECT_EQ(QwkFile::ConferenceName("abcdefghijklmnopqrst", false), "abcdef~opqrst");
    EXPECT_EQ(QwkFile::ConferenceName("thirteen.char", false), "thirteen.char");
    EXPECT_EQ(QwkFile::ConferenceName("fourteen.chars", false), "fourte~.chars");
}

TEST_F(QwkFileTest, OneMailMakesTheSmallestPacketByteForByte)
{
    Add("email", "alice@example.org", "Hi", "Hello\nWorld\n");
    ASSERT_TRUE(Write()) << m_error;
    std::string text =
        "From: alice@example.org" + E3 + "Subject: Hi" + E3 + E3 + "Hello" + E3 + "World" + E3;
    std::string expected =
        kBanner +
        Header('*', "1", "03-07-24", "14:05", "Joe User", "alice@example.org", "Hi", "2", 0) +
        PadBlocks(text);
    EXPECT_EQ(Packet("messages.dat"), expected);
    EXPECT_EQ(expected,
              kBanner + Message('*', 1, "Joe User", "alice@example.org", "Hi", 0, "Hello\nWorld\n"))
        << "the helper of the other tests";
    EXPECT_EQ(Packet("000.ndx"), Bytes({0, 0, 0, 0x82, 0}));
    EXPECT_EQ(Packet("personal.ndx"), Packet("000.ndx"));
    EXPECT_EQ(Lines(Packet("qwkfiles.lst")),
              (std::vector<std::string>{P("messages.dat"), P("control.dat"), P("000.ndx"),
                                        P("personal.ndx")}));
    EXPECT_EQ(m_iListed, 4);
    EXPECT_FALSE(testutil::Exists(P("attached.lst")));

    std::vector<std::string> control = Lines(Packet("control.dat"));
    ASSERT_EQ(control.size(), 13u);
    EXPECT_EQ(control[0], "Mail Tolvan - An Internet mail gathering utility");
    EXPECT_EQ(control[4], "00000,Home");
    EXPECT_TRUE(std::regex_match(control[5], std::regex(R"(\d\d-\d\d-\d{4},\d\d:\d\d:\d\d)")))
        << control[5];
    EXPECT_EQ(control[6], "Joe User");
    // A blank, 0, the messages, the highest conference number, then each
    // conference's number and name.
    EXPECT_EQ(ControlTail(), "|0|1|0|0|email");
    // The record's body file now holds the packet-ready message.
    SummaryInfo* r = m_pConv->List().First();
    EXPECT_EQ(r->m_iBlocks, 2);
    EXPECT_EQ(ReadFile(r->BodyPath()).size(), 256u);
    EXPECT_FALSE(testutil::Exists(P("body1.txt")));
}

// One message's header block and text after the banner, byte for byte.
TEST_F(QwkFileTest, OneMessageInTheZoneWithTheSenderAsConfigured)
{
    auto text = [](const std::string& sender, const std::string& subject, const std::string& body) {
        return "From: " + sender + E3 + "Subject: " + subject + E3 + E3 + body;
    };
    const std::string full(256 - text("reply@x", "s", "").size(), 'x');
    const std::string subject = "This subject is a good deal longer than twenty-five characters "
                                "and goes on past seventy as well";
    const std::string folded = "This subject is a good deal longer than twenty-five characters "
                               "and " +
                               E3 + " goes on past seventy as well";
    auto header = [](const char* time, const char* sender, const std::string& subject,
                     const char* blocks) {
        return Header('*', "1", "03-07-24", time, "Joe User", sender, subject, blocks, 0);
    };
    const struct {
        const char* name;
        const char* zone;
        bool bUseReplyTo;
        std::string subject, body, want;
    } rows[] = {
        {"two full blocks of text get no padding", "GMT+0000", true, "s", full,
         header("14:05", "reply@x", "s", "3") + text("reply@x", "s", full)},
        {"a long subject is cut in the header and folded in the text", "GMT+0000", true, subject,
         "", header("14:05", "reply@x", subject, "2") + PadBlocks(text("reply@x", folded, ""))},
        {"the sender is From", "GMT+0000", false, "s", "",
         header("14:05", "from@x", "s", "2") + PadBlocks(text("from@x", "s", ""))},
        {"the date is shown in the process zone", "GMT+0530", true, "s", "",
         header("19:35", "reply@x", "s", "2") + PadBlocks(text("reply@x", "s", ""))},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        tz::SetProcessZone(row.zone, false);
        m_pConv = std::make_unique<Rfcmsg>(m_dir.Path());
        Add("email", "from@x", row.subject, row.body)->m_szReplyTo = "reply@x";
        ASSERT_TRUE(Write(false, true, row.bUseReplyTo));
        EXPECT_EQ(Packet("messages.dat"), kBanner + row.want);
    }
}

TEST_F(QwkFileTest, ConferencesAreMailThenMailingListsThenGroupsByListPosition)
{
    for (const char* g : {"g.five", "g.four", "g.three", "g.two", "g.one"})
        m_pGroups->Add(g, NG_SELECTED, 1, 1, "", "");
    // "g.five" sits at position 4: after two mailing lists, conference 7.
    Add("list@lists.example.org", "d@x", "list mail", "l\n");
    Add("email", "a@x", "one", "1\n");
    Add("g.five", "b@x", "art", "line\n", "g.five,g.one");
    Add("not-a-group", "e@x", "odd", "o\n", "not-a-group");
    Add("list@lists.example.org", "g@x", "more", "m\n");
    Add("email", "c@x", "two", "2\n");
    TempDir iniDir;
    TnIni ini(iniDir.File("TOLVAN.INI"));
    g_pIni = &ini;
    ASSERT_TRUE(Write(false, false)) << m_error;
    EXPECT_EQ(ini.GetInt("Groups", "MailingLists", -1), 2);
    const std::string list = "Mailing-List: list@lists.example.org\n";
    EXPECT_EQ(Packet("messages.dat"),
              kBanner + Message('*', 1, "Joe User", "a@x", "one", 0, "1\n") +
                  Message('*', 2, "Joe User", "c@x", "two", 0, "2\n") +
                  Message(' ', 1, "ALL", "d@x", "list mail", 1, "l\n", list) +
                  Message(' ', 2, "ALL", "g@x", "more", 1, "m\n", list) +
                  Message(' ', 1, "ALL", "e@x", "odd", 2, "o\n", "Newsgroups: not-a-group\n") +
                  Message(' ', 1, "ALL", "b@x", "art", 7, "line\n", "Newsgroups: g.five,g.one\n"));
    EXPECT_EQ(Packet("000.ndx"), Bytes({0, 0, 0, 0x82, 0, 0, 0, 0, 0x83, 0}));
    EXPECT_EQ(Packet("001.ndx"), Bytes({0, 0, 0x40, 0x83, 1, 0, 0, 0, 0x84, 1}));
    EXPECT_EQ(Packet("002.ndx"), Bytes({0, 0, 0x20, 0x84, 2}));
    EXPECT_EQ(Packet("007.ndx"), Bytes({0, 0, 0x40, 0x84, 7}));
    // Long names off: the list's name is shortened.
    EXPECT_EQ(ControlTail(), "|0|6|3|0|email|1|list@l~le.org|2|not-a-group|7|g.five");
    EXPECT_EQ(
        Lines(Packet("qwkfiles.lst")),
        (std::vector<std::string>{P("messages.dat"), P("control.dat"), P("000.ndx"),
                                  P("personal.ndx"), P("001.ndx"), P("002.ndx"), P("007.ndx")}));
    // Positions became the conference numbers; the in-packet mark is set.
    ASSERT_TRUE(m_pGroups->Find("g.five"));
    EXPECT_EQ(m_pGroups->Current()->m_iConference, 4);
    EXPECT_TRUE(m_pGroups->Current()->m_uFlags & NG_INPACKET);

    // Listing every group: all five, numbered by position after the lists.
    ASSERT_TRUE(Write(true, false));
    EXPECT_EQ(ControlTail(), "|0|6|7|0|email|1|list@l~le.org|2|not-a-group|3|g.one|4|g.two|5|"
                             "g.three|6|g.four|7|g.five");
}

TEST_F(QwkFileTest, AttachmentsAreListedNamedInUpperCaseAndNoted)
{
    m_pGroups->Add("alt.binaries", 0, 1, 1, "", "");
    SummaryInfo* a = Add("email", "a@x", "pic", "see\n");
    AddAttachment(a, "PNGDATA", "longfilename.html");
    SummaryInfo* b = Add("alt.binaries", "b@x", "part", "", "alt.binaries");
    AddAttachment(b, "half", nullptr, 1, 2);
    std::string aName = a->m_szAttachFile, bName = b->m_szAttachFile;
    ASSERT_TRUE(Write()) << m_error;
    std::string aUpper = "ATT1FILE.ATT", bUpper = "ATT2FILE.ATT";
    EXPECT_EQ(a->m_szAttachFile, aUpper);
    EXPECT_EQ(ReadFile(P(aUpper)), "PNGDATA");
    EXPECT_FALSE(testutil::Exists(P(aName)));
    EXPECT_EQ(ReadFile(P(bUpper)), "half");
    EXPECT_EQ(Packet("attached.lst"),
              "0,1," + aUpper + ",longname.htm\r\n1,1," + bUpper + "," + bUpper + "\r\n");
    EXPECT_EQ(
        Lines(Packet("qwkfiles.lst")),
        (std::vector<std::string>{P("attached.lst"), P("messages.dat"), P("control.dat"), P(aUpper),
                                  P("000.ndx"), P("personal.ndx"), P(bUpper), P("001.ndx")}));
    std::string m = Packet("messages.dat");
    EXPECT_EQ(m.substr(256, 128),
              PadBlocks("From: a@x" + E3 + "Subject: pic" + E3 + E3 + "see" + E3 + E3 +
                        "File longfilename.html has been attached to this message as" + E3 +
                        "*Enclosed file: " + aUpper + E3));
    std::string bText = "From: b@x" + E3 + "Subject: part" + E3 + "Newsgroups: alt.binaries" + E3 +
                        E3 + E3 + "* * INCOMPLETE FILE ATTACHMENT * *" + E3 + "File " + bUpper +
                        " has been attached to this message" + E3 + "*Enclosed file: " + bUpper +
                        E3;
    EXPECT_EQ(m.substr(512), PadBlocks(bText));
    // Written again from the same records (as after a failed save): the same packet.
    const std::string lst = Packet("attached.lst"), files = Packet("qwkfiles.lst"),
                      ndx = Packet("001.ndx");
    ASSERT_TRUE(Write());
    EXPECT_EQ(Packet("messages.dat"), m);
    EXPECT_EQ(Packet("attached.lst"), lst);
    EXPECT_EQ(Packet("qwkfiles.lst"), files);
    EXPECT_EQ(Packet("001.ndx"), ndx);
    // Destroying the records deletes their files, upper-case names included.
    m_pConv.reset();
    EXPECT_FALSE(testutil::Exists(P(aUpper)));
    EXPECT_FALSE(testutil::Exists(P(bUpper)));
}

TEST_F(QwkFileTest, DiscardedPartialArticlesLeaveNoGapAndMailIsNeverDiscarded)
{
    m_pGroups->Add("alt.bin", 0, 1, 1, "", "");
    SummaryInfo* p1 = Add("alt.bin", "a@x", "first", "1\n", "alt.bin");
    AddAttachment(p1, "part", nullptr, 1, 3);
    Add("alt.bin", "b@x", "second", "2\n", "alt.bin");
    SummaryInfo* mail = Add("email", "c@x", "mail", "3\n");
    AddAttachment(mail, "half", nullptr, 1, 2);
    TempDir iniDir;
    TnIni ini(iniDir.File("TOLVAN.INI"));
    ini.WriteInt("Articles", "DiscardPartial", 1);
    ini.WriteInt("Email", "DiscardPartial", 1);
    g_pIni = &ini;
    ASSERT_TRUE(Write()) << m_error;
    std::string m = Packet("messages.dat");
    EXPECT_NE(m.find("mail"), std::string::npos) << "the e-mail is kept";
    EXPECT_EQ(m.find("first"), std::string::npos);
    EXPECT_NE(Packet("000.ndx"), "");
    EXPECT_NE(Packet("personal.ndx"), "");
    EXPECT_EQ(Packet("001.ndx").size(), 5u) << "one article, numbered without a gap";
    // The total counts the discarded ones.
    EXPECT_EQ(ControlTail().substr(0, 5), "|0|3|");
}

TEST_F(QwkFileTest, EmptyListStillGivesAWellFormedPacket)
{
    ASSERT_TRUE(Write());
    EXPECT_EQ(Packet("messages.dat"), kBanner);
    EXPECT_EQ(Lines(Packet("qwkfiles.lst")),
              (std::vector<std::string>{P("messages.dat"), P("control.dat")}));
    EXPECT_EQ(ControlTail(), "|0|0|0|0|email");
}

TEST_F(QwkFileTest, ProgressMessagesGoToTheWindow)
{
    m_pGroups->Add("g.x", 0, 1, 1, "", "");
    Add("email", "a@x", "1", "");
    Add("email", "a@x", "2", "");
    Add("g.x", "a@x", "3", "", "g.x");
    fw::Window window;
    std::vector<std::pair<fw::WPARAM, std::string>> seen;
    window.OnMessage(QwkFile::WM_QWKPROGRESS, [&](fw::WPARAM w, fw::LPARAM l) {
        if (w == 0)
            seen.emplace_back(0, std::to_string(l));
        else
            seen.emplace_back(w, reinterpret_cast<const char*>(l));
        return 0;
    });
    // Written from inside a message handler, as the main window's Save does.
    fw::Window caller;
    bool done = false;
    caller.OnMessage(fw::WM_USER + 1, [&](fw::WPARAM, fw::LPARAM) {
        EXPECT_TRUE(Write(false, true, true, &window));
        done = true;
        return 0;
    });
    caller.Post(fw::WM_USER + 1);
    ASSERT_TRUE(fw::MessageLoop::PumpUntil([&] { return done && seen.size() == 5; }, 5000));
    EXPECT_EQ(seen, (std::vector<std::pair<fw::WPARAM, std::string>>{
                        {0, "3"},
                        {1, "Saving 1 messages in conference email"},
                        {2, "Saving 2 messages in conference email"},
                        {1, "Saving 1 messages in conference g.x"},
                        {0, "0"}}));
}

TEST_F(QwkFileTest, AnUnwritableDirectoryIsReported)
{
    Add("email", "a@x", "s", "x\n");
    QwkFile qwk(nullptr, m_dir.File("missing"), "Joe", "Home", m_pGroups.get(), true, true, false);
    EXPECT_FALSE(qwk.WritePacket(*m_pConv));
    EXPECT_FALSE(qwk.LastError().empty());
}
