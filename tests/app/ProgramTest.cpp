// The program and the tool seen from outside, as cron and scripts use them.
#include "core/TnIni.h"
#include "util/TimeZone.h"

#include "TestUtil.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using testutil::BinPath;
using testutil::ReadFile;
using testutil::RunProgram;
using testutil::TempDir;

namespace {
std::vector<std::string> HomeEnv(const std::string& home) { return {"MAILTOLVAN_HOME=" + home}; }

testutil::RunResult Tool(const std::string& home, std::vector<std::string> args,
                         const std::string& input = std::string())
{
    args.insert(args.begin(), BinPath("mailtolvan-tool"));
    return RunProgram(args, HomeEnv(home), input);
}
} // namespace

TEST(Program, HeadlessStartLeavesAFullSettingsFileAndNoWorkDirectories)
{
    TempDir base;
    std::string home = base.File("fresh home"); // created by the program
    auto r = RunProgram({BinPath("mailtolvan"), "--headless"}, HomeEnv(home));
    ASSERT_EQ(r.iExit, 0) << r.err;
    std::string ini = ReadFile(home + "/TOLVAN.INI");
    for (std::size_t i = 0; i < g_nIniKeys; ++i)
        EXPECT_NE(ini.find(std::string("\n") + g_aIniKeys[i].pszKey + "=" +
                           g_aIniKeys[i].pszDefault + "\n"),
                  std::string::npos)
            << g_aIniKeys[i].pszKey;
    EXPECT_EQ(ini.rfind("[Mailtolvan]\nVersion=256\n", 0), 0u);
    EXPECT_FALSE(testutil::Exists(home + "/$WORK"));
    EXPECT_FALSE(testutil::Exists(home + "/$REPWORK"));
    EXPECT_NE(r.err.find("Saving newsgroups file . . ."), std::string::npos);

    // A second start keeps what the user set.
    ASSERT_EQ(Tool(home, {"config", "Servers", "POP3Server", "pop.example.org"}).iExit, 0);
    ASSERT_EQ(RunProgram({BinPath("mailtolvan"), "--headless"}, HomeEnv(home)).iExit, 0);
    EXPECT_EQ(Tool(home, {"config", "servers", "pop3server"}).out, "pop.example.org\n");
}

TEST(Program, PathsPrintsEveryNameAndTouchesNothing)
{
    TempDir base;
    std::string home = base.File("h");
    auto r = RunProgram({BinPath("mailtolvan"), "--paths", "/i:other.ini"}, HomeEnv(home));
    ASSERT_EQ(r.iExit, 0) << r.err;
    std::string tzText = tz::TextFromBias(tz::SystemBias());
    EXPECT_EQ(r.out, "settings: " + home + "/other.ini\n" + "newsgroups: " + home + "/other.NWS\n" +
                         "help: " + home + "/TOLVAN.HLP\n" + "work: " + home + "/$WORK\n" +
                         "repwork: " + home + "/$REPWORK\n" + "packet: Other\n" + "tz: " + tzText +
                         "\n");
    EXPECT_FALSE(testutil::Exists(home));

    r = RunProgram({BinPath("mailtolvan"), "--paths", "-i", "/mail/Home.ini", "/A"}, HomeEnv(home));
    EXPECT_NE(r.out.find("settings: /mail/Home.ini\n"), std::string::npos);
    EXPECT_NE(r.out.find("newsgroups: /mail/Home.NWS\n"), std::string::npos);
    EXPECT_NE(r.out.find("packet: Home\n"), std::string::npos);
}

TEST(Program, TimeZoneLineFollowsTheSystemZone)
{
    TempDir home;
    auto r = RunProgram({BinPath("mailtolvan"), "--paths"},
                        {"MAILTOLVAN_HOME=" + home.Path(), "TZ=Asia/Kolkata"});
    if (r.out.find("tz: GMT+0000") != std::string::npos)
        GTEST_SKIP() << "no zone database on this machine";
    EXPECT_NE(r.out.find("tz: GMT+0530\n"), std::string::npos) << r.out;
    r = RunProgram({BinPath("mailtolvan"), "--paths"},
                   {"MAILTOLVAN_HOME=" + home.Path(), "TZ=UTC"});
    EXPECT_NE(r.out.find("tz: GMT+0000\n"), std::string::npos) << r.out;
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
    EXPECT_EQ(Tool(home.Path(), {"config", "Servers", "POP3Port"}).out, "110\n");
}

TEST(Program, UnwritableSettingsFileIsReported)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write anywhere";
    TempDir home;
    testutil::WriteFile(home.File("TOLVAN.INI"), "[User]\nName=Me\n");
    ::chmod(home.File("TOLVAN.INI").c_str(), 0400);
    auto r = RunProgram({BinPath("mailtolvan"), "--headless"}, HomeEnv(home.Path()));
    EXPECT_NE(r.iExit, 0);
    EXPECT_NE(r.err.find("cannot write its settings file"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(home.File("TOLVAN.INI")), "[User]\nName=Me\n");
}

TEST(Tool, ConfigReadsWritesAndLists)
{
    TempDir home;
    EXPECT_EQ(Tool(home.Path(), {"config", "Servers", "NNTPPort"}).out, "119\n");
    EXPECT_EQ(Tool(home.Path(), {"config", "Servers", "NNTPPort", "1119"}).iExit, 0);
    EXPECT_EQ(Tool(home.Path(), {"config", "Servers", "NNTPPort"}).out, "1119\n");
    std::string reg = ReadFile(home.File("registry.ini"));
    EXPECT_NE(reg.find("[HKEY_CLASSES_ROOT\\tolvan\\Servers\\NNTPPort]\n@=1119\n"),
              std::string::npos);

    auto bad = Tool(home.Path(), {"config", "Servers", "NNTPPort", "abc"});
    EXPECT_NE(bad.iExit, 0);
    EXPECT_FALSE(bad.err.empty());
    EXPECT_NE(Tool(home.Path(), {"config", "Servers", "NoSuchKey"}).iExit, 0);
    EXPECT_NE(Tool(home.Path(), {"config", "User", "Name", std::string(80, 'n')}).iExit, 0);
    EXPECT_NE(Tool(home.Path(), {"config", "Servers", "POP3Password", "x"}).iExit, 0);

    auto list = Tool(home.Path(), {"config", "--list"});
    ASSERT_EQ(list.iExit, 0);
    EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), static_cast<long>(g_nIniKeys));
    EXPECT_NE(list.out.find("Servers NNTPPort 1119\n"), std::string::npos);
    EXPECT_NE(list.out.find("Servers POP3Password (empty)\n"), std::string::npos);
    EXPECT_EQ(list.out.rfind("Mailtolvan Version 256\n", 0), 0u);
}

TEST(Tool, ConfigHonoursTheSettingsFileOption)
{
    TempDir home;
    auto r = RunProgram(
        {BinPath("mailtolvan-tool"), "/i:second.ini", "config", "User", "Name", "Second"},
        HomeEnv(home.Path()));
    ASSERT_EQ(r.iExit, 0) << r.err;
    EXPECT_NE(ReadFile(home.File("second.ini")).find("Name=Second\n"), std::string::npos);
    EXPECT_FALSE(testutil::Exists(home.File("TOLVAN.INI")));
    std::string reg = ReadFile(home.File("registry.ini"));
    EXPECT_NE(reg.find("[HKEY_CLASSES_ROOT\\second\\User\\Name]"), std::string::npos);
}

TEST(Tool, PasswordIsStoredScrambledWithItsSaveFlag)
{
    TempDir home;
    ASSERT_EQ(Tool(home.Path(), {"config", "Servers", "POP3SavePassword", "0"}).iExit, 0);
    auto r = Tool(home.Path(), {"password", "pop3"}, "s3cret word\n");
    ASSERT_EQ(r.iExit, 0) << r.err;
    std::string ini = ReadFile(home.File("TOLVAN.INI"));
    EXPECT_EQ(ini.find("s3cret"), std::string::npos);
    EXPECT_EQ(Tool(home.Path(), {"config", "Servers", "POP3SavePassword"}).out, "1\n");
    EXPECT_EQ(Tool(home.Path(), {"config", "Servers", "POP3Password"}).out, "(set)\n");
    // Read it back the way the program does.
    std::size_t at = ini.find("POP3Password=");
    ASSERT_NE(at, std::string::npos);
    std::string stored = ini.substr(at + 13, ini.find('\n', at) - at - 13);
    TnIni::ScramblePassword(stored, false);
    EXPECT_EQ(stored, "s3cret word");

    EXPECT_NE(Tool(home.Path(), {"password", "pop3"}, std::string(52, 'p') + "\n").iExit, 0);
    EXPECT_NE(Tool(home.Path(), {"password", "pop3"}, "caf\xc3\xa9\n").iExit, 0);
    EXPECT_NE(Tool(home.Path(), {"password", "smtp"}, "x\n").iExit, 0);
    EXPECT_NE(Tool(home.Path(), {"password", "nntp"}, "").iExit, 0);
}

TEST(Tool, HelpListsSubcommandsAndUnknownOnesFail)
{
    TempDir home;
    auto r = Tool(home.Path(), {"--help"});
    EXPECT_EQ(r.iExit, 0);
    EXPECT_NE(r.out.find("config"), std::string::npos);
    EXPECT_NE(r.out.find("password"), std::string::npos);
    r = Tool(home.Path(), {"frobnicate"});
    EXPECT_NE(r.iExit, 0);
    EXPECT_NE(r.err.find("unknown command"), std::string::npos);
}

TEST(Program, HeadlessRunEndsWhenTheServerStopsAnswering)
{
    // A server that accepts the connection and never says a word.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);

    TempDir home;
    for (std::vector<std::string> args :
         {std::vector<std::string>{"config", "Servers", "POP3Server", "127.0.0.1"},
          {"config", "Servers", "POP3Port", std::to_string(ntohs(addr.sin_port))},
          {"config", "Servers", "POP3Name", "me"},
          {"config", "Servers", "NNTPServer", ""},
          {"config", "Autorun", "AutoEmail", "1"}})
        ASSERT_EQ(Tool(home.Path(), args).iExit, 0);
    ASSERT_EQ(Tool(home.Path(), {"password", "pop3"}, "pw\n").iExit, 0);
    auto r = RunProgram({BinPath("mailtolvan"), "--headless", "/a"},
                        {"MAILTOLVAN_HOME=" + home.Path(), "MAILTOLVAN_IDLE_TIMEOUT=1"}, "", 60000);
    ::close(fd);
    EXPECT_NE(r.iExit, 0);
    EXPECT_NE(r.err.find("No answer from the server for 1 seconds"), std::string::npos) << r.err;
    EXPECT_FALSE(testutil::Exists(home.File("$WORK")));
}
