#include "framework/Files.h"
#include "framework/Process.h"

#include "TestUtil.h"

#include <atomic>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace fw;
using testutil::TempDir;

TEST(Files, TempFileNamesAreNewUniqueAndCreated)
{
    TempDir dir;
    std::set<std::string> names;
    for (int i = 0; i < 200; ++i) {
        std::string n = GetTempFileName(dir.Path(), "PWZxyz");
        ASSERT_FALSE(n.empty());
        EXPECT_EQ(BaseName(n).substr(0, 3), "PWZ");
        EXPECT_EQ(Extension(n), ".TMP");
        EXPECT_TRUE(testutil::Exists(n));
        names.insert(n);
    }
    EXPECT_EQ(names.size(), 200u);
    EXPECT_EQ(GetTempFileName(dir.Path(), "TMP", 0x1a), dir.File("TMP1A.TMP"));
    EXPECT_FALSE(testutil::Exists(dir.File("TMP1A.TMP"))) << "a given number creates nothing";
    EXPECT_TRUE(GetTempFileName(dir.File("missing"), "TMP").empty());
}

TEST(Files, ExistenceAndLookupByDirectorySearch)
{
    TempDir dir;
    testutil::WriteFile(dir.File("a.txt"), "x");
    EXPECT_TRUE(FileExists(dir.File("a.txt")));
    EXPECT_FALSE(FileExists(dir.File("A.TXT")));
    EXPECT_FALSE(FileExists(dir.File("b.txt")));
    EXPECT_FALSE(FileExists(dir.File("nodir/a.txt")));
    EXPECT_FALSE(FileExists(dir.Path() + "/.."));
    // Without regard to case, an exact match first, and never a path.
    testutil::WriteFile(dir.File("Control.DAT"), "");
    EXPECT_EQ(FindFileNoCase(dir.Path(), "CONTROL.DAT"), "Control.DAT");
    testutil::WriteFile(dir.File("CONTROL.DAT"), "");
    EXPECT_EQ(FindFileNoCase(dir.Path(), "CONTROL.DAT"), "CONTROL.DAT");
    EXPECT_EQ(FindFileNoCase(dir.Path(), "../x"), "");
    EXPECT_EQ(FindFileNoCase(dir.Path(), "nothing"), "");
}

TEST(Files, SafeEntryNames)
{
    for (const char* bad : {"", ".", "..", "a/b", "/etc", "..\\x", "a\\b", "x\ny", "\x7f"})
        EXPECT_FALSE(IsSafeEntryName(bad)) << bad;
    for (const char* good : {"A.MSG", "..hidden", "file name.dat", "a..b"})
        EXPECT_TRUE(IsSafeEntryName(good)) << good;
}

TEST(Files, PathPiecesAtTheirEdges)
{
    EXPECT_EQ(JoinPath("/a/", "b"), "/a/b");
    EXPECT_EQ(JoinPath("", "b"), "b");
    EXPECT_EQ(DirName("b.ini"), "");
    EXPECT_EQ(DirName("/b.ini"), "/");
    EXPECT_EQ(StemName("/x.y/noext"), "noext");
    EXPECT_EQ(Extension("/x.y/noext"), "");
    EXPECT_EQ(StemName(".hidden"), ".hidden");
}

TEST(Files, CopyKeepsExistingTargetWhenAskedAndNeverLeavesPartialFiles)
{
    TempDir dir;
    testutil::WriteFile(dir.File("src"), std::string(200000, 'q'));
    testutil::WriteFile(dir.File("dst"), "old");
    EXPECT_FALSE(CopyFile(dir.File("src"), dir.File("dst"), true));
    EXPECT_EQ(testutil::ReadFile(dir.File("dst")), "old");
    EXPECT_TRUE(CopyFile(dir.File("src"), dir.File("dst"), false));
    EXPECT_EQ(testutil::ReadFile(dir.File("dst")), std::string(200000, 'q'));
    EXPECT_FALSE(CopyFile(dir.File("missing"), dir.File("d2"), false));
    EXPECT_FALSE(CopyFile(dir.File("src"), dir.File("nodir/d2"), false));
    EXPECT_EQ(ListDirectory(dir.Path()).size(), 2u);
}

TEST(Files, EmptyAndRemoveDeletesFilesButLeavesForeignSubdirectories)
{
    TempDir dir;
    std::string work = dir.File("$WORK");
    ASSERT_TRUE(MakeDirectories(work + "/x/y"));
    testutil::WriteFile(work + "/a", "1");
    testutil::WriteFile(work + "/x/keep", "1");
    testutil::WriteFile(dir.File("outside"), "1");
    ASSERT_EQ(::symlink(dir.File("outside").c_str(), (work + "/link").c_str()), 0);
    EXPECT_FALSE(EmptyAndRemoveDirectory(work));
    EXPECT_FALSE(testutil::Exists(work + "/a"));
    EXPECT_FALSE(testutil::Exists(work + "/link"));
    EXPECT_TRUE(testutil::Exists(dir.File("outside"))) << "a link is removed, not followed";
    EXPECT_TRUE(testutil::Exists(work + "/x/keep"));
    std::string plain = dir.File("plain");
    ASSERT_TRUE(MakeDirectories(plain));
    testutil::WriteFile(plain + "/f", "");
    EXPECT_TRUE(EmptyAndRemoveDirectory(plain));
    EXPECT_FALSE(testutil::Exists(plain));
}

TEST(Process, TemplatesSplitBeforeSubstitution)
{
    EXPECT_EQ(SplitCommandLine("  zip  -q \"my dir/x\" a\"b c\"d "),
              (std::vector<std::string>{"zip", "-q", "my dir/x", "ab cd"}));
    EXPECT_EQ(ExpandCommand("packer -a %2 %1", {"/tmp/my files/*", "/out dir/P.QWK"}),
              (std::vector<std::string>{"packer", "-a", "/out dir/P.QWK", "/tmp/my files/*"}));
    EXPECT_EQ(ExpandCommand("x --out=%1.qwk 100%% %3", {"a b"}),
              (std::vector<std::string>{"x", "--out=a b.qwk", "100%", "%3"}));
    EXPECT_EQ(ExpandCommand("echo $(rm -rf x) ; %1", {"`id`"}),
              (std::vector<std::string>{"echo", "$(rm", "-rf", "x)", ";", "`id`"}));
    EXPECT_TRUE(SplitCommandLine("   ").empty());
}

TEST(Process, LaunchWaitsAndReportsExitCodeWithoutAShell)
{
    TempDir dir;
    int code = -5;
    std::string marker = dir.File("made by sh");
    ASSERT_TRUE(LaunchProgram({"sh", "-c", "touch \"$0\"; exit 3", marker}, true, &code));
    EXPECT_EQ(code, 3);
    EXPECT_TRUE(testutil::Exists(marker));
    EXPECT_FALSE(LaunchProgram({"/nonexistent/program"}, true, &code));
    EXPECT_FALSE(LaunchProgram({}, false));
    // Shell syntax in a word is just text for the program.
    std::string out;
    ASSERT_TRUE(RunAndCapture(ExpandCommand("echo %1", {"$(id); `id`"}), out, code));
    EXPECT_EQ(out, "$(id); `id`\n");
}

TEST(Process, LaunchWithoutWaitingReturnsAtOnce)
{
    // The program waits on a FIFO that the test opens only after the launch
    // returned: a launch that waited for the program would never return.  So
    // that such a fault fails instead of hanging, a watchdog releases the
    // program after a minute, and the test checks who released it.
    TempDir dir;
    std::string gate = dir.File("gate"), answer = dir.File("answer");
    ASSERT_EQ(::mkfifo(gate.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(answer.c_str(), 0600), 0);
    std::atomic<bool> bClaimed{false}; // whoever claims it releases the program
    std::thread watchdog([&] {
        for (int i = 0; i < 600 && !bClaimed; ++i)
            ::usleep(100000);
        if (!bClaimed.exchange(true)) {
            testutil::WriteFile(gate, "watchdog\n");
            testutil::ReadFile(answer);
        }
    });
    bool bLaunched = LaunchProgram(
        {"sh", "-c", "read line < \"$0\"; echo \"got $line\" > \"$1\"", gate, answer}, false);
    bool bMine = !bClaimed.exchange(true);
    watchdog.join();
    ASSERT_TRUE(bLaunched);
    ASSERT_TRUE(bMine) << "the launch waited for the program";
    testutil::WriteFile(gate, "test\n");
    EXPECT_EQ(testutil::ReadFile(answer), "got test\n");
}
