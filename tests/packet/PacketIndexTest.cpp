// The packet index: written beside a saved packet (and only then), read
// back when a REP packet answers it, so that replies get the whole address
// the reader cut to 25 characters and thread under the message they answer.
#include "RepMaker.h"
#include "TestUtil.h"

#include "core/Startup.h"
#include "core/TnIni.h"
#include "framework/Files.h"
#include "newsgroups/Newsgroups.h"
#include "packet/PacketIndex.h"
#include "packet/PacketSave.h"
#include "packet/Repfile.h"
#include "packet/Rfcmsg.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using testutil::Exists;
using testutil::WriteFile;

namespace {

const std::string kLongFrom = "Benedict Cumberbatch-Smith <benedict.cumberbatch@example.org>";
const std::string kShown = "Benedict Cumberbatch-Smit"; // the 25 bytes a reader copies

class PacketSaving : public ::testing::Test {
protected:
    void SetUp() override
    {
        startup = std::make_unique<Startup>(ParseCommandLine({}), home.Path());
        g_pStartup = startup.get();
        ini = std::make_unique<TnIni>(startup->m_szIniFile);
        g_pIni = ini.get();
        // News groups are not needed: every message here is mail.
        ini->WriteInt("Email", "ReplyTo", 1);
    }
    void TearDown() override
    {
        saver.reset();
        conv.reset();
        g_pIni = nullptr;
        g_pStartup = nullptr;
    }
    void Gather(const std::string& from, const std::string& id, const std::string& refs)
    {
        if (!conv)
            conv = std::make_unique<Rfcmsg>(startup->m_szWorkDir);
        auto p = std::make_unique<SummaryInfo>(startup->m_szWorkDir);
        p->m_szMessageId = id;
        p->m_szReferences = refs;
        p->m_szFrom = p->m_szReplyTo = from;
        p->m_szSubject = "Hello";
        p->m_szConference = "email";
        p->m_tDate = 1709820309;
        p->m_szBodyFile = "body" + std::to_string(++count) + ".txt";
        WriteFile(p->BodyPath(), "Hi\n");
        conv->List().Add(std::move(p));
    }
    bool Save(std::string& path)
    {
        PacketSaveHooks hooks;
        hooks.messages = [this] { return conv.get(); };
        hooks.dropMessages = [this] { conv.reset(); };
        saver = std::make_unique<CPacketSaver>(hooks);
        return saver->Save(path, false);
    }

    testutil::TempDir home;
    std::unique_ptr<Startup> startup;
    std::unique_ptr<TnIni> ini;
    std::unique_ptr<Rfcmsg> conv;
    std::unique_ptr<CPacketSaver> saver;
    int count = 0;
};

TEST_F(PacketSaving, TheIndexComesWithASavedPacketAndReplacesAnOlderOne)
{
    Gather(kLongFrom, "<m1@example.org>", "<r0@example.org>");
    Gather("Ann <ann@example.org>", "<m2@example.org>", "");
    std::string path;
    ASSERT_TRUE(Save(path));
    ASSERT_EQ(fw::BaseName(path), "Tolvan.Qwk");
    auto e = LookUpPacketIndex(PacketIndexPath(CPacketSaver::IndexDirectory(), path), 0, 1);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->from, kLongFrom);
    EXPECT_EQ(e->messageId, "<m1@example.org>");
    EXPECT_EQ(e->references, "<r0@example.org>");
    ASSERT_TRUE(LookUpPacketIndex(PacketIndexPath(CPacketSaver::IndexDirectory(), path), 0, 2));
    EXPECT_FALSE(LookUpPacketIndex(PacketIndexPath(CPacketSaver::IndexDirectory(), path), 0, 3));
    EXPECT_FALSE(Exists(fw::JoinPath(startup->m_szWorkDir, "packet.idx")));
    EXPECT_EQ(LatestPacketIndex(CPacketSaver::IndexDirectory(), "tolvan"),
              PacketIndexPath(CPacketSaver::IndexDirectory(), path));
    // The directory of packets holds only the packet.
    for (const std::string& name : fw::ListDirectory(home.Path()))
        EXPECT_EQ(name.find(".idx"), std::string::npos) << name;

    // A later packet of the same name brings its own index.
    Gather("Carl <carl@example.org>", "<m3@example.org>", "");
    std::string again = path;
    ASSERT_TRUE(Save(again));
    ASSERT_EQ(again, path);
    e = LookUpPacketIndex(PacketIndexPath(CPacketSaver::IndexDirectory(), path), 0, 1);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->messageId, "<m3@example.org>");
    EXPECT_FALSE(LookUpPacketIndex(PacketIndexPath(CPacketSaver::IndexDirectory(), path), 0, 2));
    for (const std::string& name : fw::ListDirectory(CPacketSaver::IndexDirectory()))
        EXPECT_EQ(name, "Tolvan.Qwk.idx") << "nothing half written is left";
}

TEST_F(PacketSaving, AFailedSaveWritesNoIndex)
{
    Gather(kLongFrom, "<m1@example.org>", "");
    std::string dir = home.File("missing");
    ini->WriteString("Directories", "Qwk", dir);
    std::string path;
    EXPECT_FALSE(Save(path));
    EXPECT_FALSE(Exists(PacketIndexPath(CPacketSaver::IndexDirectory(), path)));
    EXPECT_TRUE(LatestPacketIndex(CPacketSaver::IndexDirectory(), "Tolvan").empty());
    EXPECT_NE(conv, nullptr) << "the messages are kept";
    // Saved at last, the index appears beside the packet.
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    ASSERT_TRUE(Save(path));
    EXPECT_TRUE(
        LookUpPacketIndex(LatestPacketIndex(CPacketSaver::IndexDirectory(), "Tolvan"), 0, 1));
    EXPECT_EQ(fw::ListDirectory(dir), std::vector<std::string>{"Tolvan.Qwk"});
}

class ThreadedReplies : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::mkdir(work.c_str(), 0700);
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
        groups = std::make_unique<Newsgroups>(std::string());
        while (groups->First())
            groups->Remove(groups->Current()->m_szName);
        for (const char* g : {"c.three", "b.two", "a.one"})
            groups->Add(g, 1, 0, 0, "", "");
        groups->Renumber();
        options.repWorkDir = work;
        options.pGroups = groups.get();
        options.iMailingLists = 2;
        options.indexPath = index;
    }
    std::unique_ptr<Repfile> Read(const std::vector<testrep::Reply>& replies)
    {
        WriteFile(work + "/TOLVAN.MSG", testrep::MessageFile("TOLVAN", replies));
        return std::make_unique<Repfile>(work + "/TOLVAN.MSG", "", options, "Tolvan");
    }
    static testrep::Reply Mail(const std::string& to, const std::string& reference,
                               std::vector<std::string> lines = {"Thanks."})
    {
        testrep::Reply r;
        r.to = to;
        r.reference = reference;
        r.lines = std::move(lines);
        return r;
    }

    testutil::TempDir dir;
    std::string work = dir.File("REPWORK");
    std::string index = dir.File("Tolvan.Qwk.idx");
    std::unique_ptr<Newsgroups> groups;
    RepReadOptions options;
};

TEST_F(ThreadedReplies, ACutAddressIsRestoredAndTheReplyThreads)
{
    testrep::Reply news = testrep::ReaderStyleReply(4, "Bob", "Re: x", {"Agreed."});
    news.reference = "1";
    auto rep = Read({Mail(kShown, "1"), Mail("Ann <ann@example.org>", "2"), news});
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

TEST_F(ThreadedReplies, WithoutAFittingEntryTheReplyStaysAsWritten)
{
    testrep::Reply typed = Mail(kShown, "1", {"To: someone@example.net", "", "Hi"});
    testrep::Reply otherGroup = testrep::ReaderStyleReply(3, "Bob", "Re: x", {"Agreed."});
    otherGroup.reference = "1";
    std::vector<testrep::Reply> replies = {Mail(kShown, "7"), Mail(kShown, ""),
                                           Mail("Someone Else", "1"), typed, otherGroup};
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

TEST_F(ThreadedReplies, HostileIndexLinesAreIgnored)
{
    std::string good = "3\t0\tAnn <ann@example.org>\t\t<ok@example.org>\t\t\n";
    WriteFile(index, "MTIDX 1\n"
                     "1\t0\tEvil <evil@example.net>\n"               // too few fields
                     "1\t0\ta\tb\tc\td\te\tf\n"                      // too many
                     "x1\t0\tEvil <evil@example.net>\t\t<e@x>\t\t\n" // not a number
                     "-1\t0\tEvil <evil@example.net>\t\t<e@x>\t\t\n" // negative
                     "1\t0\t" +
                         kShown + std::string(5000, 'x') +
                         "\t\t<e@x>\t\t\n" // too long
                         "2\t0\t" +
                         kLongFrom + "\t\t<a b@x>\rBcc: evil@x\t<c@x>\rX: y\t\n" + good);
    auto rep = Read({Mail(kShown, "1"), Mail(kShown, "2"), Mail("Ann <ann@example.org>", "3")});
    ASSERT_EQ(rep->All().size(), 3u);
    EXPECT_EQ(rep->All()[0]->m_szTo.value_or(""), kShown);
    EXPECT_TRUE(rep->All()[0]->m_szInReplyTo.empty());
    // The address is known, the identifier is not well formed: no threading.
    EXPECT_EQ(rep->All()[1]->m_szTo.value_or(""), "benedict.cumberbatch@example.org");
    EXPECT_TRUE(rep->All()[1]->m_szInReplyTo.empty());
    EXPECT_EQ(rep->All()[2]->m_szInReplyTo, "<ok@example.org>");

    // A file that is not an index at all is no index.
    WriteFile(index, good);
    rep = Read({Mail("Ann <ann@example.org>", "3")});
    EXPECT_TRUE(rep->All()[0]->m_szInReplyTo.empty());
}

TEST(PacketIndexFields, StaySafeForOneLine)
{
    EXPECT_EQ(IndexField("a\tb\r\nc\x7F", 100), "a b  c");
    EXPECT_EQ(IndexField("caf\xC3\xA9", 4), "caf"); // never half a character
    EXPECT_EQ(CleanMessageId(" <a@b> "), "<a@b>");
    for (const char* bad : {"<a b@c>", "a@b", "<@b>", "<a@>", "<ab>", "<a<b@c>", "<a@b\n>"})
        EXPECT_EQ(CleanMessageId(bad), "") << bad;
    EXPECT_EQ(CleanMessageId("<" + std::string(300, 'a') + "@b>"), "");
    // Bad identifiers go; over the limit the oldest after the first go.
    EXPECT_EQ(CleanReferences("<1@x> junk <bad id@x> <2@x>\t<3@x>", 100), "<1@x> <2@x> <3@x>");
    EXPECT_EQ(CleanReferences("<1@x> <2@x> <3@x>", 11), "<1@x> <3@x>");
}

TEST(PacketIndexFiles, TheNewestIndexOfThePacketNameIsTaken)
{
    testutil::TempDir d;
    WriteFile(d.File("Tolvan.Qwk.idx"), "");
    WriteFile(d.File("Other.Qwk.idx"), "");
    WriteFile(d.File("TolvanX.Qwk.idx"), "");
    WriteFile(d.File("tolvan-2.qwk.IDX"), "");
    struct timespec times[2] = {{1000, 0}, {1000, 0}};
    ::utimensat(AT_FDCWD, d.File("Tolvan.Qwk.idx").c_str(), times, 0);
    EXPECT_EQ(LatestPacketIndex(d.Path(), "Tolvan"), d.File("tolvan-2.qwk.IDX"));
    ::mkdir(d.File("Tolvan.Qwb.idx").c_str(), 0700); // no file: never taken
    EXPECT_EQ(LatestPacketIndex(d.Path(), "Tolvan"), d.File("tolvan-2.qwk.IDX"));
    EXPECT_EQ(LatestPacketIndex(d.File("none"), "Tolvan"), "");
    // No index to move: an older one of that name goes, it would mislead.
    WriteFile(d.File("P.Qwk.idx"), "old");
    EXPECT_FALSE(InstallPacketIndex(d.File("missing"), d.Path(), "/elsewhere/P.Qwk"));
    EXPECT_FALSE(testutil::Exists(d.File("P.Qwk.idx")));
}

} // namespace
