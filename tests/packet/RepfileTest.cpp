// Reading REP packets as real readers write them, broken or hostile, and the
// packet index that restores cut addresses and threads the replies.
#include "RepMaker.h"
#include "TestUtil.h"

#include "newsgroups/Newsgroups.h"
#include "packet/PacketIndex.h"
#include "packet/Repfile.h"

#include <gtest/gtest.h>

#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using testrep::Reply;

namespace {

const std::string kLongFrom = "Benedict Cumberbatch-Smith <benedict.cumberbatch@example.org>";
const std::string kShown = "Benedict Cumberbatch-Smit"; // the 25 bytes a reader copies

class RepRead : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::mkdir(work.c_str(), 0700);
        testutil::WriteFile(dir.File("groups.nws"), "");
        groups = std::make_unique<Newsgroups>(std::string());
        // The default list; make it known: a, b, c, d, e, f.
        while (groups->First())
            groups->Remove(groups->Current()->m_szName);
        for (const char* g : {"f.six", "e.five", "d.four", "c.three", "b.two", "a.one"})
            groups->Add(g, 1, 0, 0, "", "");
        groups->Renumber();
        options.repWorkDir = work;
        options.pGroups = groups.get();
    }
    std::unique_ptr<Repfile> Read(const std::vector<Reply>& replies, const std::string& dat = "",
                                  bool bDat = false, const std::string& name = "TOLVAN")
    {
        testutil::WriteFile(work + "/TOLVAN.MSG", testrep::MessageFile(name, replies));
        if (bDat)
            testutil::WriteFile(work + "/TOLVAN.DAT", dat);
        return std::make_unique<Repfile>(work + "/TOLVAN.MSG", bDat ? work + "/TOLVAN.DAT" : "",
                                         options, "Tolvan");
    }
    static Reply Mail(std::vector<std::string> lines, const std::string& to = "ann@example.org")
    {
        Reply r;
        r.to = to;
        r.lines = std::move(lines);
        return r;
    }
    static Reply Answer(const std::string& to, const std::string& reference,
                        std::vector<std::string> lines = {"Thanks."})
    {
        Reply r = Mail(std::move(lines), to);
        r.reference = reference;
        return r;
    }
    // The index of the packet the replies answer, with two mailing lists
    // before the groups: conference 4 is b.two, conference 3 a.one.
    void Indexed()
    {
        PacketIndexWriter w;
        ASSERT_TRUE(w.Open(index));
        w.Add({1, 0, kLongFrom, kLongFrom, "<m1@example.org>", "<r0@example.org>", ""});
        w.Add({2, 0, "Ann <ann@example.org>", "Ann <ann@example.org>", "<m2@example.org>", "", ""});
        w.Add({1, 4, "Bob <bob@example.org>", "Bob <bob@example.org>", "<n1@example.org>", "",
               "a.one,b.two"});
        // Conference 3's message 1 went to a group that conference 3 is not
        // (the packet answered was numbered otherwise).
        w.Add({1, 3, "Bob <bob@example.org>", "", "<n3@example.org>", "", "x.other"});
        ASSERT_TRUE(w.Close());
        options.iMailingLists = 2;
        options.indexPath = index;
    }

    testutil::TempDir dir;
    std::string work = dir.File("REPWORK");
    std::string index = dir.File("Tolvan.Qwk.idx");
    std::unique_ptr<Newsgroups> groups;
    RepReadOptions options;
};

// Header lines at the top of the text win over the header fields; beyond the
// leading block nothing is a header line.
TEST_F(RepRead, TheBodyStartsAfterALeadingHeaderBlockOnly)
{
    // The text's lines are split at "\n"; the subject "Test" is the header's.
    struct Case {
        const char *text, *body, *subject = "Test", *to = "ann@example.org", *cc = "(none)";
    } cases[] = {
        {"Subject: A subject longer than the header field\n\nBody", "Body\n",
         "A subject longer than the header field"},
        {"Subject: first\n\tsecond\nTo: bob@example.org\n\nText\n\nMore", "Text\n\nMore\n",
         "first\tsecond", "bob@example.org"},
        {"to: carl@x.org, dora@x.org\nCC: eve@x.org\nSubject:\n continued\n\nbody", "body\n",
         " continued", "carl@x.org, dora@x.org", "eve@x.org"},
        {"Note: see below\nText after it", "Note: see below\nText after it\n"},
        {"Note: see below\n\nText after it", "Note: see below\n\nText after it\n"},
        {"Hi Bob,\n\nSubject: not a header here\nTo: x@y",
         "Hi Bob,\n\nSubject: not a header here\nTo: x@y\n"},
        {"To: carl@example.org\nHello Carl", "Hello Carl\n", "Test", "carl@example.org"},
        {"\nStarts with an empty line", "\nStarts with an empty line\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<std::string> lines;
        std::stringstream in(c.text);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        auto rep = Read({Mail(lines)});
        mailxarticle* p = rep->FirstUnsent();
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->Body(), c.body);
        EXPECT_EQ(p->m_szSubject, c.subject);
        EXPECT_EQ(p->m_szTo.value_or(""), c.to);
        EXPECT_EQ(p->m_szCc.value_or("(none)"), c.cc);
    }
    EXPECT_EQ(FindHeaderLine("Subject:", "Subject: last line\n").value_or("-"), "last line");
}

TEST_F(RepRead, MailNewsAndTheConferenceMapping)
{
    options.iMailingLists = 2;
    auto in = [](char status, const char* number, std::vector<std::string> lines = {"x"}) {
        Reply r = Mail(std::move(lines));
        r.status = status;
        r.number = number;
        return r;
    };
    // Private, then public in conference 0, 7 (blank-led), 7 with a
    // Newsgroups: line, 2 (a mailing list), 9 (beyond the list), 3 (position 0).
    auto rep = Read({in('+', "7"), in(' ', "0"), in(' ', "  7"),
                     in(' ', "7", {"Newsgroups: comp.misc,comp.lang.c", "", "x"}), in(' ', "2"),
                     in(' ', "9"), in(' ', "3")},
                    "\n\n\n\n\n\nX.BIN,x.bin\n", true);
    testutil::WriteFile(work + "/X.BIN", "x");
    ASSERT_EQ(rep->All().size(), 7u);
    EXPECT_EQ(rep->m_iEmailCount, 2);
    EXPECT_EQ(rep->m_iNewsCount, 3);
    const auto& all = rep->All();
    EXPECT_EQ(all[0]->m_iEmail, 1);
    EXPECT_EQ(all[1]->m_iEmail, 1);
    EXPECT_EQ(all[2]->m_szNewsgroups.value_or(""), "e.five");
    EXPECT_EQ(all[3]->m_szNewsgroups.value_or(""), "comp.misc,comp.lang.c");
    EXPECT_NE(all[4]->m_szProblem.find("mailing-list"), std::string::npos);
    EXPECT_NE(all[5]->m_szProblem.find("conference 9"), std::string::npos);
    EXPECT_EQ(all[6]->m_szNewsgroups.value_or(""), "a.one");
    // Skipped replies still take their attachment line: the last one's is
    // its own (the file was written after reading, so it is missing).
    EXPECT_NE(all[6]->m_szAttachProblem.find("X.BIN"), std::string::npos);
}

TEST_F(RepRead, ThePacketMustBeOurs)
{
    for (const char* name : {"TOLxyz", "tol", "toLVAN"}) {
        auto rep = Read({Mail({"x"})}, "", false, name);
        EXPECT_TRUE(rep->Belongs()) << name;
        EXPECT_EQ(rep->m_iEmailCount, 1);
    }
    auto rep = Read({Mail({"x"})}, "", false, "TOXVAN");
    EXPECT_FALSE(rep->Belongs());
    EXPECT_EQ(rep->First(), nullptr);
    EXPECT_FALSE(testutil::Exists(work + "/TOLVAN.MSG")); // read and deleted either way
}

TEST_F(RepRead, BrokenBlockCountsEndThePacketAndKeepWhatCameBefore)
{
    for (const char* blocks : {"0", "-3", "     ", "999999", "3"}) {
        SCOPED_TRACE(blocks);
        Reply bad = Mail({"short"});
        bad.blocks = blocks;
        auto rep = Read({Mail({"good"}), bad});
        ASSERT_EQ(rep->All().size(), 1u);
        EXPECT_EQ(rep->All()[0]->Body(), "good\n");
        EXPECT_FALSE(rep->Damage().empty());
        EXPECT_FALSE(rep->AllSent());
    }
    // A last line without its line end and NUL padding.
    Reply open = Mail({"one", "two"});
    open.lastLineEnded = false;
    open.padding = '\0';
    auto rep = Read({open});
    EXPECT_EQ(rep->All()[0]->Body(), "one\ntwo\n");
    EXPECT_TRUE(rep->Damage().empty());
}

TEST_F(RepRead, AttachmentNamesNeverLeaveTheWorkDirectory)
{
    testutil::WriteFile(dir.File("victim"), "keep me");
    testutil::WriteFile(work + "/GOOD.ZIP", "data");
    ASSERT_EQ(::symlink(dir.File("victim").c_str(), (work + "/LINK.BIN").c_str()), 0);
    std::string dat = "../victim,v\r\n" + dir.File("victim") +
                      ",v\r\nsub/victim,v\r\n..\\victim,v\r\nvi\001ctim,v\r\nLINK.BIN,l\r\n" +
                      "nocomma\r\n" + std::string(200, 'a') +
                      ",long\r\ngood.zip,Report \"1\".zip\r\n";
    std::vector<Reply> replies(9, Mail({"x"}));
    {
        auto rep = Read(replies, dat, true);
        ASSERT_EQ(rep->All().size(), 9u);
        for (int i = 0; i < 8; ++i) {
            EXPECT_TRUE(rep->All()[i]->m_szAttachPath.empty()) << i;
            EXPECT_FALSE(rep->All()[i]->m_szAttachProblem.empty()) << i;
        }
        EXPECT_EQ(rep->All()[8]->m_szAttachPath, work + "/GOOD.ZIP");
        EXPECT_EQ(rep->All()[8]->m_szAttachName, "Report _1_.zip");
    }
    EXPECT_EQ(testutil::ReadFile(dir.File("victim")), "keep me");
    EXPECT_FALSE(testutil::Exists(work + "/GOOD.ZIP")); // the record owned it
    // A short list: the replies beyond it have no attachment.
    testutil::WriteFile(work + "/A.BIN", "a");
    auto rep = Read({Mail({"1"}), Mail({"2"})}, "A.BIN,a.bin\r\n", true);
    EXPECT_EQ(rep->All()[0]->m_szAttachName, "a.bin");
    EXPECT_TRUE(rep->All()[1]->m_szAttachPath.empty());
    EXPECT_TRUE(rep->All()[1]->m_szAttachProblem.empty());
}

TEST_F(RepRead, RepliesWithoutDestinationAndTheCursor)
{
    auto rep = Read({Mail({"1"}, ""), Mail({"2"}), Mail({"3"})});
    EXPECT_NE(rep->All()[0]->m_szProblem.find("no destination"), std::string::npos);
    mailxarticle* p = rep->FirstUnsent();
    ASSERT_EQ(p, rep->All()[0].get());
    rep->DeleteCurrent("dropped");
    EXPECT_EQ(rep->First(), rep->All()[1].get());
    EXPECT_EQ(rep->Current(), rep->All()[1].get());
    EXPECT_EQ(rep->m_iEmailCount, 2);
    rep->All()[1]->m_iSent = 1;
    EXPECT_EQ(rep->FirstUnsent(), rep->All()[2].get());
    EXPECT_EQ(rep->NextUnsent(), nullptr);
    rep->All()[2]->m_iSent = 1;
    EXPECT_FALSE(rep->AllSent()); // the dropped one is not sent
    EXPECT_EQ(rep->All().size(), 3u);
}

TEST_F(RepRead, IdentitiesAreStableAndTellTwinRepliesApart)
{
    std::vector<Reply> replies = {Mail({"same"}), Mail({"same"}), Mail({"other"})};
    auto a = Read(replies);
    auto b = Read(replies);
    ASSERT_EQ(a->All().size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(a->All()[i]->m_szIdentity, b->All()[i]->m_szIdentity);
    EXPECT_NE(a->All()[0]->m_szIdentity, a->All()[1]->m_szIdentity);
    EXPECT_NE(a->All()[0]->m_szIdentity, a->All()[2]->m_szIdentity);
}

TEST_F(RepRead, TheReadersCharacterSet)
{
    Reply r = Mail({"Subject: \x84pfel", "", "\x94l und \xE1 \xB3 \x9C"});
    r.subject = std::string("\x81") + "ber";
    EXPECT_EQ(Read({r})->FirstUnsent()->Body(), "\xC3\xB6l und \xC3\x9F \xE2\x94\x82 \xC2\xA3\n");
    EXPECT_EQ(Read({r})->FirstUnsent()->m_szSubject, "\xC3\xA4pfel");
    options.charset = ReaderCharsetFromSetting(" latin-1 ");
    r.lines = {"caf\xE9"};
    r.subject = std::string("\xFC") + "ber";
    auto rep = Read({r});
    EXPECT_EQ(rep->FirstUnsent()->Body(), "caf\xC3\xA9\n");
    EXPECT_EQ(rep->FirstUnsent()->m_szSubject, std::string("\xC3\xBC") + "ber");
    EXPECT_EQ(ReaderCharsetFromSetting("CP437"), ReaderCharset::Cp437);
    EXPECT_EQ(ReaderCharsetFromSetting(""), ReaderCharset::Cp437);
}

TEST_F(RepRead, ACutAddressIsRestoredAndTheReplyThreads)
{
    Indexed();
    testrep::Reply news = testrep::ReaderStyleReply(4, "Bob", "Re: x", {"Agreed."});
    news.reference = "1";
    auto rep = Read({Answer(kShown, "1"), Answer("Ann <ann@example.org>", "2"), news});
    ASSERT_EQ(rep->All().size(), 3u);
    const mailxarticle& a = *rep->All()[0];
    EXPECT_EQ(a.m_iReference, 1);
    EXPECT_EQ(a.m_szTo.value_or(""), "benedict.cumberbatch@example.org");
    EXPECT_EQ(a.m_szInReplyTo, "<m1@example.org>");
    EXPECT_EQ(a.m_szReferences, "<r0@example.org> <m1@example.org>");
    // A sender that fitted whole stays as written, and still threads.
    const mailxarticle& b = *rep->All()[1];
    EXPECT_EQ(b.m_szTo.value_or(""), "Ann <ann@example.org>");
    EXPECT_EQ(b.m_szReferences, "<m2@example.org>");
    // News: conference 4 is b.two (after two mailing lists), one of its groups.
    const mailxarticle& n = *rep->All()[2];
    EXPECT_EQ(n.m_szNewsgroups.value_or(""), "b.two");
    EXPECT_EQ(n.m_szInReplyTo, "<n1@example.org>");
    EXPECT_EQ(n.m_szTo.value_or(""), "Bob");
}

TEST_F(RepRead, WithoutAFittingEntryTheReplyStaysAsWritten)
{
    Indexed();
    testrep::Reply typed = Answer(kShown, "1", {"To: someone@example.net", "", "Hi"});
    testrep::Reply otherGroup = testrep::ReaderStyleReply(3, "Bob", "Re: x", {"Agreed."});
    otherGroup.reference = "1";
    std::vector<testrep::Reply> replies = {Answer(kShown, "7"), Answer(kShown, ""),
                                           Answer("Someone Else", "1"), typed, otherGroup};
    auto check = [&](const Repfile& rep, bool bIndexed) {
        ASSERT_EQ(rep.All().size(), 5u);
        EXPECT_EQ(rep.All()[0]->m_szTo.value_or(""), kShown);
        EXPECT_EQ(rep.All()[1]->m_szTo.value_or(""), kShown);
        EXPECT_EQ(rep.All()[2]->m_szTo.value_or(""), "Someone Else");
        EXPECT_EQ(rep.All()[3]->m_szTo.value_or(""), "someone@example.net");
        for (const auto& p : rep.All())
            EXPECT_TRUE(p->m_szInReplyTo.empty() && p->m_szReferences.empty())
                << p->m_iNumber << (bIndexed ? " with" : " without") << " the index";
    };
    check(*Read(replies), true);
    options.indexPath = "";
    check(*Read(replies), false);
    options.indexPath = dir.File("no-such.idx");
    check(*Read(replies), false);
}

TEST_F(RepRead, HostileIndexLinesAreIgnored)
{
    Indexed();
    std::string good = "3\t0\tAnn <ann@example.org>\t\t<ok@example.org>\t\t\n";
    testutil::WriteFile(index, "MTIDX 1\n"
                               "1\t0\tEvil <evil@example.net>\n"               // too few fields
                               "1\t0\ta\tb\tc\td\te\tf\n"                      // too many
                               "x1\t0\tEvil <evil@example.net>\t\t<e@x>\t\t\n" // not a number
                               "-1\t0\tEvil <evil@example.net>\t\t<e@x>\t\t\n" // negative
                               "1\t0\t" +
                                   kShown + std::string(5000, 'x') +
                                   "\t\t<e@x>\t\t\n" // too long
                                   "2\t0\t" +
                                   kLongFrom + "\t\t<a b@x>\rBcc: evil@x\t<c@x>\rX: y\t\n" + good);
    auto rep =
        Read({Answer(kShown, "1"), Answer(kShown, "2"), Answer("Ann <ann@example.org>", "3")});
    ASSERT_EQ(rep->All().size(), 3u);
    EXPECT_EQ(rep->All()[0]->m_szTo.value_or(""), kShown);
    EXPECT_TRUE(rep->All()[0]->m_szInReplyTo.empty());
    // The address is known, the identifier is not well formed: no threading.
    EXPECT_EQ(rep->All()[1]->m_szTo.value_or(""), "benedict.cumberbatch@example.org");
    EXPECT_TRUE(rep->All()[1]->m_szInReplyTo.empty());
    EXPECT_EQ(rep->All()[2]->m_szInReplyTo, "<ok@example.org>");

    // A file that is not an index at all is no index.
    testutil::WriteFile(index, good);
    rep = Read({Answer("Ann <ann@example.org>", "3")});
    EXPECT_TRUE(rep->All()[0]->m_szInReplyTo.empty());
}

} // namespace
