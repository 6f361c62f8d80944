// A REP file on disk: unpacking, its members in any letter case, the ledger.
#include "RepMaker.h"
#include "TestUtil.h"

#include "packet/RepPacket.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

class RepFile : public ::testing::Test {
protected:
    void SetUp() override { ::mkdir(work.c_str(), 0700); }
    testutil::TempDir dir;
    std::string work = dir.File("REPWORK");
};

TEST_F(RepFile, BuiltInUnzipEmptiesTheWorkDirectoryAndFindsMembersInAnyCase)
{
    testutil::WriteFile(work + "/LEFTOVER.TXT", "from an earlier packet");
    ::mkdir((work + "/sub").c_str(), 0700);
    testutil::WriteFile(work + "/sub/deep", "x");
    std::string rep = dir.File("tolvan.rep");
    ASSERT_TRUE(testrep::WriteZip(rep, {{"TOLVAN.MSG", testrep::Block1("TOLVAN")},
                                        {"tolvan.dat", "\r\n"},
                                        {"../escape.txt", "no"},
                                        {"FILE1.BIN", "bytes"}}));
    std::vector<std::string> statuses;
    std::vector<int> progress;
    RepUnpackHooks hooks;
    hooks.status = [&](const std::string& s) { statuses.push_back(s); };
    hooks.progress = [&](int p) { progress.push_back(p); };
    EXPECT_EQ(UnpackRep(rep, work, "", hooks), RepUnpack::Done);
    EXPECT_FALSE(testutil::Exists(work + "/LEFTOVER.TXT"));
    EXPECT_FALSE(testutil::Exists(work + "/sub"));
    EXPECT_FALSE(testutil::Exists(dir.File("escape.txt")));
    EXPECT_EQ(RepMemberPath(work, rep, ".MSG"), work + "/TOLVAN.MSG");
    EXPECT_EQ(RepMemberPath(work, rep, ".DAT"), work + "/tolvan.dat");
    EXPECT_EQ(testutil::ReadFile(work + "/FILE1.BIN"), "bytes");
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.front().rfind("Unzipping ", 0), 0u);
    EXPECT_EQ(statuses.back(), "Done!");
    EXPECT_EQ(progress.back(), 0);
    EXPECT_EQ(progress[progress.size() - 2], 100);

    // Not an archive: nothing is extracted, so there is no message file.
    testutil::WriteFile(dir.File("Tolvan.Rep"), "not a zip");
    EXPECT_EQ(UnpackRep(dir.File("Tolvan.Rep"), work, "", {}), RepUnpack::Done);
    EXPECT_EQ(RepMemberPath(work, dir.File("Tolvan.Rep"), ".MSG"), "");
}

TEST_F(RepFile, ExternalUnpacker)
{
    std::string rep = dir.File("Home.Rep");
    ASSERT_TRUE(testrep::WriteZip(rep, {{"HOME.MSG", testrep::Block1("HOME")}}));
    EXPECT_EQ(UnpackRep(rep, work, "/usr/bin/python3 -m zipfile -e %1 %2", {}), RepUnpack::Done);
    EXPECT_NE(RepMemberPath(work, rep, ".msg"), "");
    EXPECT_EQ(UnpackRep(rep, work, "/no/such/unpacker %1 %2", {}), RepUnpack::CannotStart);
    EXPECT_EQ(UnpackRep(rep, work, "/usr/bin/python3 -m zipfile -e %1", {}),
              RepUnpack::CannotStart);
    EXPECT_EQ(UnpackRep(rep, dir.File("missing"), "", {}), RepUnpack::WorkDirUnusable);
    // A packet inside the work directory is never emptied away with it.
    std::string inside = work + "/Home.Rep";
    ASSERT_TRUE(testrep::WriteZip(inside, {{"HOME.MSG", testrep::Block1("HOME")}}));
    EXPECT_EQ(UnpackRep(inside, work, "", {}), RepUnpack::WorkDirUnusable);
    EXPECT_TRUE(testutil::Exists(inside));
}

TEST_F(RepFile, TheLedgerRemembersSentRepliesAcrossRuns)
{
    std::string path = dir.File("sent-replies.lst");
    std::string error;
    {
        RepLedger ledger(path);
        ASSERT_TRUE(ledger.Load(error)) << error;
        EXPECT_FALSE(ledger.Contains("a"));
        ASSERT_TRUE(ledger.Record("a", error)) << error;
        ASSERT_TRUE(ledger.Record("b", error)) << error;
        ASSERT_TRUE(ledger.Record("c", error)) << error;
    }
    RepLedger again(path);
    ASSERT_TRUE(again.Load(error));
    EXPECT_TRUE(again.Contains("a") && again.Contains("b") && again.Contains("c"));
    ASSERT_TRUE(again.Forget({"a", "c"}, error)) << error;
    EXPECT_EQ(testutil::ReadFile(path), "b\n");
    ASSERT_TRUE(again.Forget({"b"}, error));
    EXPECT_FALSE(testutil::Exists(path));
    RepLedger nowhere(dir.File("no/such/dir/ledger"));
    EXPECT_FALSE(nowhere.Record("x", error));
    EXPECT_FALSE(error.empty());
}

} // namespace
