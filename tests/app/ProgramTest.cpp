// The program and the tool seen from outside, as cron and scripts use them.
#include "core/TnIni.h"

#include "TestUtil.h"

#include <gtest/gtest.h>

using testutil::BinPath;
using testutil::ReadFile;
using testutil::RunProgram;
using testutil::RunTool;
using testutil::TempDir;

namespace {
std::vector<std::string> HomeEnv(const std::string& home) { return {"MAILTOLVAN_HOME=" + home}; }
} // namespace

TEST(Program, HeadlessStartLeavesAFullSettingsFileAndNoWorkDirectories)
{
    TempDir base;
    std::string home = base.File("fresh home"); // created by the program
    auto r = RunProgram({BinPath("mailtolvan"), "--headless"}, HomeEnv(home));
    ASSERT_EQ(r.iExit, 0) << r.err;
    // Every key with its default: TnIniTest.
    EXPECT_EQ(ReadFile(home + "/TOLVAN.INI").rfind("[Mailtolvan]\nVersion=256\n", 0), 0u);
    EXPECT_FALSE(testutil::Exists(home + "/$WORK"));
    EXPECT_FALSE(testutil::Exists(home + "/$REPWORK"));
    EXPECT_NE(r.err.find("Saving newsgroups file . . ."), std::string::npos);

    // A second start keeps what the user set.
    ASSERT_EQ(RunTool(home, {"config", "Servers", "POP3Server", "pop.example.org"}).iExit, 0);
    ASSERT_EQ(RunProgram({BinPath("mailtolvan"), "--headless"}, HomeEnv(home)).iExit, 0);
    EXPECT_EQ(RunTool(home, {"config", "servers", "pop3server"}).out, "pop.example.org\n");
}

TEST(Program, PathsPrintsEveryNameAndTheSystemZoneAndTouchesNothing)
{
    TempDir base;
    std::string home = base.File("h");
    auto r = RunProgram({BinPath("mailtolvan"), "--paths", "/i:other.ini"},
                        {"MAILTOLVAN_HOME=" + home, "TZ=Asia/Kolkata"});
    ASSERT_EQ(r.iExit, 0) << r.err;
    EXPECT_EQ(r.out, "settings: " + home + "/other.ini\n" + "newsgroups: " + home + "/other.NWS\n" +
                         "help: " + home + "/TOLVAN.HLP\n" + "work: " + home + "/$WORK\n" +
                         "repwork: " + home + "/$REPWORK\n" + "packet: Other\n" + "tz: GMT+0530\n");
    EXPECT_FALSE(testutil::Exists(home));
}

TEST(Program, BadCommandLinesAndMissingDirectoriesFailClearly)
{
    TempDir home;
    auto r = RunProgram({BinPath("mailtolvan"), "--headless", "--bogus"}, HomeEnv(home.Path()));
    EXPECT_EQ(r.iExit, 2);
    EXPECT_NE(r.err.find("unknown argument: --bogus"), std::string::npos);

    r = RunProgram({BinPath("mailtolvan"), "--headless", "/i:" + home.File("no/such/dir.ini")},
                   HomeEnv(home.Path()));
    EXPECT_NE(r.iExit, 0);
    EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;
    EXPECT_FALSE(testutil::Exists(home.File("no")));

    testutil::WriteFile(home.File("blocker"), "a file, not a directory");
    r = RunProgram({BinPath("mailtolvan"), "--headless"}, HomeEnv(home.File("blocker/sub")));
    EXPECT_NE(r.iExit, 0);
    EXPECT_NE(r.err.find("cannot create its directory"), std::string::npos) << r.err;

    r = RunProgram({BinPath("mailtolvan"), "--version"}, HomeEnv(home.Path()));
    EXPECT_EQ(r.out, "Mail Tolvan version 1.00a\n");
}

TEST(Program, CorruptSettingsFileIsKeptAndRepaired)
{
    TempDir home;
    std::string junk("\x00\xff\xfe garbage\n[Servers\nPOP3Server=keep.me\n", 38);
    junk += std::string(3'000'000, 'x'); // a line of megabytes, no final newline
    testutil::WriteFile(home.File("TOLVAN.INI"), junk);
    auto r = RunProgram({BinPath("mailtolvan"), "--headless"}, HomeEnv(home.Path()));
    ASSERT_EQ(r.iExit, 0) << r.err;
    std::string after = ReadFile(home.File("TOLVAN.INI"));
    EXPECT_EQ(after.substr(0, junk.size()), junk) << "nothing of the user's file is lost";
    EXPECT_NE(after.find("\n[Mailtolvan]\nVersion=256\n"), std::string::npos);
    EXPECT_EQ(RunTool(home.Path(), {"config", "Servers", "POP3Port"}).out, "110\n");
}

TEST(Tool, ConfigReadsWritesListsAndRefuses)
{
    TempDir home;
    EXPECT_EQ(RunTool(home.Path(), {"config", "Servers", "NNTPPort"}).out, "119\n");
    EXPECT_EQ(RunTool(home.Path(), {"config", "Servers", "NNTPPort", "1119"}).iExit, 0);
    EXPECT_EQ(RunTool(home.Path(), {"config", "Servers", "NNTPPort"}).out, "1119\n");
    EXPECT_NE(ReadFile(home.File("registry.ini"))
                  .find("[HKEY_CLASSES_ROOT\\tolvan\\Servers\\NNTPPort]\n@=1119\n"),
              std::string::npos);

    auto list = RunTool(home.Path(), {"config", "--list"});
    ASSERT_EQ(list.iExit, 0);
    EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), static_cast<long>(g_nIniKeys));
    EXPECT_NE(list.out.find("Servers NNTPPort 1119\n"), std::string::npos);
    EXPECT_NE(list.out.find("Servers POP3Password (empty)\n"), std::string::npos);
    EXPECT_EQ(list.out.rfind("Mailtolvan Version 256\n", 0), 0u);

    auto bad = RunTool(home.Path(), {"config", "Servers", "NNTPPort", "abc"});
    EXPECT_NE(bad.iExit, 0);
    EXPECT_FALSE(bad.err.empty());
    EXPECT_NE(RunTool(home.Path(), {"config", "Servers", "NoSuchKey"}).iExit, 0);
    EXPECT_NE(RunTool(home.Path(), {"config", "User", "Name", std::string(80, 'n')}).iExit, 0);
    EXPECT_NE(RunTool(home.Path(), {"config", "Servers", "POP3Password", "x"}).iExit, 0);

    // Another settings file: its own file and its own registry key.
    auto r = RunTool(home.Path(), {"/i:second.ini", "config", "User", "Name", "Second"});
    ASSERT_EQ(r.iExit, 0) << r.err;
    EXPECT_NE(ReadFile(home.File("second.ini")).find("Name=Second\n"), std::string::npos);
    EXPECT_NE(ReadFile(home.File("registry.ini")).find("[HKEY_CLASSES_ROOT\\second\\User\\Name]"),
              std::string::npos);
    EXPECT_EQ(ReadFile(home.File("TOLVAN.INI")).find("Second"), std::string::npos);
}

TEST(Tool, PasswordIsStoredScrambledWithItsSaveFlag)
{
    TempDir home;
    ASSERT_EQ(RunTool(home.Path(), {"config", "Servers", "POP3SavePassword", "0"}).iExit, 0);
    auto r = RunTool(home.Path(), {"password", "pop3"}, "s3cret word\n");
    ASSERT_EQ(r.iExit, 0) << r.err;
    std::string ini = ReadFile(home.File("TOLVAN.INI"));
    EXPECT_EQ(ini.find("s3cret"), std::string::npos);
    EXPECT_EQ(RunTool(home.Path(), {"config", "Servers", "POP3SavePassword"}).out, "1\n");
    EXPECT_EQ(RunTool(home.Path(), {"config", "Servers", "POP3Password"}).out, "(set)\n");
    // Read back by the program: the headless runs of tests/e2e log in with it.

    EXPECT_NE(RunTool(home.Path(), {"password", "pop3"}, std::string(52, 'p') + "\n").iExit, 0);
    EXPECT_NE(RunTool(home.Path(), {"password", "pop3"}, "caf\xc3\xa9\n").iExit, 0);
    EXPECT_NE(RunTool(home.Path(), {"password", "imap"}, "x\n").iExit, 0);
    EXPECT_NE(RunTool(home.Path(), {"password", "nntp"}, "").iExit, 0);
}

TEST(Tool, HelpListsSubcommandsAndUnknownOnesFail)
{
    TempDir home;
    auto r = RunTool(home.Path(), {"--help"});
    EXPECT_EQ(r.iExit, 0);
    for (const char* command :
         {"config", "password", "connect", "pop3", "pack", "mime", "date", "decode", "encode"})
        EXPECT_NE(r.out.find(std::string("  ") + command + " "), std::string::npos) << command;
    r = RunTool(home.Path(), {"frobnicate"});
    EXPECT_NE(r.iExit, 0);
    EXPECT_NE(r.err.find("unknown command"), std::string::npos);
}
