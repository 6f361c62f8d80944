#include "packet/Et4Zip.h"

#include "MessageMaker.h"
#include "SmallDisk.h"
#include "TestUtil.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using testmsg::Bytes;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

// Writes an archive with arbitrary entry names straight through libzip, the
// way a hostile REP packet could hold them.
void MakeRawZip(const std::string& path,
                const std::vector<std::pair<std::string, std::string>>& entries)
{
    int err = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    ASSERT_NE(z, nullptr);
    for (const auto& [name, data] : entries) {
        zip_source_t* src = zip_source_buffer(z, data.data(), data.size(), 0);
        ASSERT_NE(src, nullptr);
        ASSERT_GE(zip_file_add(z, name.c_str(), src, ZIP_FL_ENC_RAW), 0) << name;
    }
    ASSERT_EQ(zip_close(z), 0);
}

std::vector<std::string> ListEntries(ET4HANDLE h, const char* pszPattern = "*.*")
{
    std::vector<std::string> names;
    ET4FIND find;
    char name[ET4_MAX_NAME];
    std::snprintf(name, sizeof name, "%s", pszPattern);
    for (std::int16_t r = Et4ZipFindFirst(h, &find, name, "", 0xFFFF, "", 0xFFFF); r == 0;
         r = Et4ZipFindNext(h, &find, name, "", 0xFFFF, "", 0xFFFF))
        names.push_back(name);
    return names;
}

} // namespace

TEST(Et4Zip, CreatesArchiveWithFilesAtTopLevelAndExtractsThemIntact)
{
    TempDir dir;
    std::string work = dir.File("work dir with blanks");
    std::string out = dir.File("out");
    ASSERT_EQ(::mkdir(work.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
    std::vector<std::pair<std::string, std::string>> files = {
        {"messages.dat", Bytes(300000, 1)},
        {"control.dat", "Mail Tolvan\r\n"},
        {"000.ndx", std::string("\0\0\0\x82\0", 5)},
        {"empty.lst", ""}};
    std::string qwk = dir.File("Home.Qwk");
    ET4HANDLE h = 0;
    ASSERT_EQ(Et4ZipOpen(qwk.c_str(), ET4_MODE_CREATE, &h), 0);
    EXPECT_NE(h, 0u);
    for (const auto& [name, data] : files) {
        WriteFile(work + "/" + name, data);
        EXPECT_EQ(Et4Zip(&h, (work + "/" + name).c_str(), "", "-.lr"), 0);
    }
    EXPECT_EQ(Et4ZipClose(&h), 0);
    EXPECT_EQ(h, 0u);

    ASSERT_EQ(Et4ZipOpen(qwk.c_str(), ET4_MODE_READ, &h), 0);
    std::vector<std::string> names = ListEntries(h);
    ASSERT_EQ(names.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(names[i], files[i].first);
    EXPECT_EQ(ListEntries(h, "*.NDX"), std::vector<std::string>{"000.ndx"});
    for (const auto& [name, data] : files) {
        EXPECT_EQ(Et4UnZip(&h, out.c_str(), name.c_str(), "", ""), 0) << name;
        EXPECT_EQ(ReadFile(out + "/" + name), data) << name;
    }
    EXPECT_EQ(Et4UnZip(&h, out.c_str(), "absent.txt", "", ""), ET4_NO_ENTRY);
    EXPECT_EQ(Et4ZipClose(&h), 0);
}

TEST(Et4Zip, ExtractionReplacesAnExistingFileAndNeverFollowsALink)
{
    TempDir dir;
    std::string out = dir.File("out");
    ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
    std::string victim = dir.File("victim");
    WriteFile(victim, "keep me");
    ASSERT_EQ(::symlink(victim.c_str(), (out + "/reply.msg").c_str()), 0);
    std::string rep = dir.File("Home.Rep");
    MakeRawZip(rep, {{"reply.msg", "new content"}});
    ET4HANDLE h = 0;
    ASSERT_EQ(Et4ZipOpen(rep.c_str(), ET4_MODE_READ, &h), 0);
    EXPECT_EQ(Et4UnZip(&h, out.c_str(), "reply.msg", "", ""), 0);
    Et4ZipClose(&h);
    EXPECT_EQ(ReadFile(victim), "keep me");
    EXPECT_EQ(ReadFile(out + "/reply.msg"), "new content");
}

TEST(Et4Zip, RefusesEntryNamesThatLeaveTheTargetDirectory)
{
    TempDir dir;
    std::string out = dir.File("a/b");
    ASSERT_EQ(::mkdir(dir.File("a").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
    std::string rep = dir.File("evil.rep");
    std::vector<std::string> hostile = {
        "../escape.txt", "/tmp/absolute.txt",       "sub\\x.txt", "sub/inner.txt", "..", "a..b",
        "C:boot.ini",    std::string("ctl\x01name")};
    std::vector<std::pair<std::string, std::string>> entries;
    for (const auto& n : hostile)
        entries.emplace_back(n, "payload");
    entries.emplace_back("good.msg", "fine");
    entries.emplace_back("folder/", "");
    MakeRawZip(rep, entries);

    ET4HANDLE h = 0;
    ASSERT_EQ(Et4ZipOpen(rep.c_str(), ET4_MODE_READ, &h), 0);
    std::vector<std::string> names = ListEntries(h);
    // Every file entry is reported; the directory entry is not.
    EXPECT_EQ(names.size(), hostile.size() + 1);
    for (const auto& n : names) {
        std::int16_t r = Et4UnZip(&h, out.c_str(), n.c_str(), "", "");
        if (n == "good.msg")
            EXPECT_EQ(r, 0);
        else
            EXPECT_EQ(r, ET4_UNSAFE_NAME) << n;
    }
    Et4ZipClose(&h);
    EXPECT_EQ(ReadFile(out + "/good.msg"), "fine");
    // Nothing but the good file anywhere below the temporary directory.
    EXPECT_FALSE(testutil::Exists(dir.File("a/escape.txt")));
    EXPECT_FALSE(testutil::Exists("/tmp/absolute.txt"));
    EXPECT_FALSE(testutil::Exists(out + "/sub"));
    EXPECT_FALSE(testutil::Exists(out + "/a..b"));
    EXPECT_FALSE(testutil::Exists(out + "/sub\\x.txt"));
}

TEST(Et4Zip, SafeEntryNameRules)
{
    for (const char* ok : {"HOME.MSG", "file name with blanks.txt", ".hidden"})
        EXPECT_TRUE(Et4SafeEntryName(ok)) << ok;
    for (const char* bad : {"", static_cast<const char*>(nullptr), ".", "..", "x/y", "x\\y",
                            "/etc/passwd", "..hidden", "line\nbreak"})
        EXPECT_FALSE(Et4SafeEntryName(bad)) << (bad ? bad : "(null)");
}

TEST(Et4Zip, FailedOpensGiveNoHandleAndNoEntries)
{
    TempDir dir;
    ET4HANDLE h = 77;
    EXPECT_NE(Et4ZipOpen(dir.File("no/such/dir/x.qwk").c_str(), ET4_MODE_CREATE, &h), 0);
    EXPECT_EQ(h, 0u);
    EXPECT_NE(Et4ZipOpen(dir.File("missing.rep").c_str(), ET4_MODE_READ, &h), 0);
    EXPECT_EQ(h, 0u);
    WriteFile(dir.File("garbage.rep"), "this is not a zip archive at all");
    EXPECT_NE(Et4ZipOpen(dir.File("garbage.rep").c_str(), ET4_MODE_READ, &h), 0);
    // The REP reader does not test the open's result: the walk must simply
    // find nothing.
    EXPECT_TRUE(ListEntries(h).empty());
    EXPECT_EQ(Et4UnZip(&h, dir.Path().c_str(), "x", "", ""), ET4_BAD_HANDLE);
    EXPECT_EQ(Et4ZipClose(&h), ET4_BAD_HANDLE);
    EXPECT_NE(Et4ZipOpen(dir.File("x.qwk").c_str(), 2, &h), 0);
}

TEST(Et4Zip, AddingAMissingFileFailsButTheArchiveKeepsTheOthers)
{
    TempDir dir;
    WriteFile(dir.File("control.dat"), "x");
    ET4HANDLE h = 0;
    std::string qwk = dir.File("p.qwk");
    ASSERT_EQ(Et4ZipOpen(qwk.c_str(), ET4_MODE_CREATE, &h), 0);
    EXPECT_NE(Et4Zip(&h, dir.File("absent.dat").c_str(), "", "-.lr"), 0);
    EXPECT_EQ(Et4Zip(&h, dir.File("control.dat").c_str(), "", "-.lr"), 0);
    EXPECT_EQ(Et4ZipClose(&h), 0);
    ASSERT_EQ(Et4ZipOpen(qwk.c_str(), ET4_MODE_READ, &h), 0);
    EXPECT_EQ(ListEntries(h), std::vector<std::string>{"control.dat"});
    // A reading handle cannot add.
    EXPECT_NE(Et4Zip(&h, dir.File("control.dat").c_str(), "", "-.lr"), 0);
    Et4ZipClose(&h);
}

TEST(Et4Zip, AFullDiskWhileExtractingIsReportedAsMinusTenAndLeavesNoPartialFile)
{
    TempDir dir;
    std::string rep = dir.File("big.rep");
    MakeRawZip(rep, {{"big.msg", Bytes(512 * 1024, 7)}, {"small.msg", "ok"}});
    std::string mnt = dir.File("mnt");
    ASSERT_EQ(::mkdir(mnt.c_str(), 0755), 0);
    auto result = testutil::RunWithSmallDisk(mnt, 64 * 1024, [&]() {
        ET4HANDLE h = 0;
        if (Et4ZipOpen(rep.c_str(), ET4_MODE_READ, &h) != 0)
            return 1;
        std::int16_t full = Et4UnZip(&h, mnt.c_str(), "big.msg", "", "");
        std::int16_t ok = Et4UnZip(&h, mnt.c_str(), "small.msg", "", "");
        Et4ZipClose(&h);
        bool bLeftover = testutil::Exists(mnt + "/big.msg");
        if (full != ET4_DISK_FULL)
            return 2;
        if (ok != 0)
            return 3;
        if (bLeftover)
            return 4;
        return 0;
    });
    ASSERT_TRUE(result.has_value()) << "no private tmpfs mount";
    EXPECT_EQ(*result, 0);
}
