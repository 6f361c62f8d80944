// The packet index: written beside a saved packet (and only then); how a REP
// packet's replies use it is tested with the reading of REP packets.
#include "TestUtil.h"

#include "core/Startup.h"
#include "core/TnIni.h"
#include "framework/Files.h"
#include "packet/PacketIndex.h"
#include "packet/PacketSave.h"
#include "packet/Rfcmsg.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using testutil::Exists;
using testutil::WriteFile;

namespace {

const std::string kLongFrom = "Benedict Cumberbatch-Smith <benedict.cumberbatch@example.org>";

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

TEST_F(PacketSaving, OnlyASavedPacketBringsItsIndexAndALaterOneReplacesIt)
{
    Gather(kLongFrom, "<m1@example.org>", "<r0@example.org>");
    Gather("Ann <ann@example.org>", "<m2@example.org>", "");
    const std::string indexDir = CPacketSaver::IndexDirectory();
    std::string dir = home.File("missing");
    ini->WriteString("Directories", "Qwk", dir);
    std::string path;
    EXPECT_FALSE(Save(path));
    EXPECT_FALSE(Exists(PacketIndexPath(indexDir, path)));
    EXPECT_TRUE(LatestPacketIndex(indexDir, "Tolvan").empty());
    EXPECT_NE(conv, nullptr) << "the messages are kept";

    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    ASSERT_TRUE(Save(path));
    ASSERT_EQ(fw::BaseName(path), "Tolvan.Qwk");
    const std::string index = PacketIndexPath(indexDir, path);
    EXPECT_EQ(LatestPacketIndex(indexDir, "tolvan"), index);
    auto e = LookUpPacketIndex(index, 0, 1);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->from, kLongFrom);
    EXPECT_EQ(e->messageId, "<m1@example.org>");
    EXPECT_EQ(e->references, "<r0@example.org>");
    EXPECT_TRUE(LookUpPacketIndex(index, 0, 2));
    EXPECT_FALSE(LookUpPacketIndex(index, 0, 3));
    EXPECT_FALSE(Exists(fw::JoinPath(startup->m_szWorkDir, "packet.idx")));
    EXPECT_EQ(fw::ListDirectory(dir), std::vector<std::string>{"Tolvan.Qwk"});

    // A later packet of the same name brings its own index.
    Gather("Carl <carl@example.org>", "<m3@example.org>", "");
    std::string again;
    ASSERT_TRUE(Save(again));
    ASSERT_EQ(again, path);
    e = LookUpPacketIndex(index, 0, 1);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->messageId, "<m3@example.org>");
    EXPECT_FALSE(LookUpPacketIndex(index, 0, 2));
    EXPECT_EQ(fw::ListDirectory(indexDir), std::vector<std::string>{"Tolvan.Qwk.idx"})
        << "nothing half written is left";
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
