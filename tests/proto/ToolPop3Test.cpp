// mailtolvan-tool pop3 against a scripted server, also on a full disk.
#include "ClientHarness.h"
#include "ScriptedServer.h"
#include "SmallDisk.h"
#include "TestUtil.h"

#include "framework/Files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

std::vector<std::string> Args(unsigned short port, const std::string& dir,
                              std::vector<std::string> extra = {})
{
    const std::string tool = testutil::BinPath("mailtolvan-tool");
    std::vector<std::string> a = {
        tool,     "pop3", "--host",         "127.0.0.1",       "--port", std::to_string(port),
        "--user", "joe",  "--password-env", "MT_TEST_POP3_PW", "--dir",  dir};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
}

// Greeting, login, STAT with iCount messages, UIDL refused.
void Login(ScriptedServer& s, int iCount)
{
    s.Say("+OK hi\r\n").Expect("USER joe\r\n").Say("+OK\r\n").Expect("PASS s3cret\r\n");
    s.Say("+OK\r\n").Expect("STAT\r\n").Say("+OK " + std::to_string(iCount) + " 40\r\n");
    s.Expect("UIDL\r\n").Say("-ERR\r\n");
}

TEST(ToolPop3, StoresMessagesAndPrintsEachNotificationWithAPasswordFile)
{
    testutil::TempDir home, out;
    ScriptedServer server(ScriptedServer::Split::Pairs);
    Login(server, 3);
    server.Expect("LIST\r\n").Say("+OK\r\n1 30\r\n2 20\r\n3 501\r\n.\r\n");
    server.Expect("RETR 1\r\n").Say("+OK\r\nSubject: a\r\n\r\n..x\r\n.\r\n");
    server.Expect("DELE 1\r\n").Say("+OK\r\n");
    server.Expect("RETR 2\r\n").Say("+OK\r\nSubject: b\r\n.\r\n");
    server.Expect("DELE 2\r\n").Say("+OK\r\n");
    server.Expect("QUIT\r\n").Say("+OK\r\n").ExpectClose();
    ASSERT_TRUE(server.Start());
    // The password file's first line.
    testutil::WriteFile(home.File("pw"), "s3cret\r\nnot this\n");
    auto args = Args(server.Port(), out.Path(), {"--delete", "--max-size", "500"});
    args[8] = "--password-file";
    args[9] = home.File("pw");
    auto r = testutil::RunProgram(args, {"MAILTOLVAN_HOME=" + home.Path()});
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_EQ(r.iExit, 0) << r.err;
    auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.out;
    EXPECT_EQ(lines[0], "count 3");
    EXPECT_EQ(lines[1].rfind("message 1 " + out.Path() + "/PWZ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2].rfind("message 2 " + out.Path() + "/PWZ", 0), 0u) << lines[2];
    EXPECT_EQ(lines[3], "skipped 3 oversize");
    EXPECT_EQ(lines[4], "end 1 0 done");
    EXPECT_EQ(testutil::ReadFile(lines[1].substr(10)), "Subject: a\r\n\r\n.x\r\n");
    EXPECT_EQ(testutil::ReadFile(lines[2].substr(10)), "Subject: b\r\n");
    EXPECT_EQ(fw::ListDirectory(out.Path()).size(), 2u);
}

TEST(ToolPop3, BadArgumentsAreRefusedWithAReason)
{
    testutil::TempDir home, out;
    const struct {
        std::vector<std::string> args;
        const char* pszWant;
        std::string dir = "", password = "x";
    } cases[] = {
        {{"--port", "0"}, "port"},
        {{"--port", "70000"}, "port"},
        {{"--keep-days", "-1"}, "keep-days"},
        {{"--max-size", "10k"}, "max-size"},
        {{"--bogus"}, "unknown argument"},
        {{"--password-file", "/nonexistent/pw"}, "usage"},
        {{}, "no such directory", "/missing"},
        {{}, "not set", "", ""},
    };
    for (const auto& c : cases) {
        auto r = testutil::RunProgram(
            Args(1, out.Path() + c.dir, c.args),
            {"MAILTOLVAN_HOME=" + home.Path(), "MT_TEST_POP3_PW=" + c.password});
        EXPECT_NE(r.iExit, 0) << c.pszWant;
        EXPECT_NE(r.err.find(c.pszWant), std::string::npos) << r.err;
    }
}

TEST(ToolPop3, FullDiskCommitsNoDeletion)
{
    testutil::TempDir home, out;
    std::string mnt = out.File("mnt");
    ASSERT_EQ(::mkdir(mnt.c_str(), 0755), 0);
    ScriptedServer server;
    Login(server, 2);
    server.Expect("RETR 1\r\n").Say("+OK\r\nsmall\r\n.\r\n").Expect("DELE 1\r\n").Say("+OK\r\n");
    // Larger than the disk: the writes fail while the server is still
    // sending, so the client hangs up without QUIT.
    server.Expect("RETR 2\r\n").Say("+OK\r\n" + std::string(40000, 'b') + "\r\n.\r\n");
    server.ExpectClose();
    ASSERT_TRUE(server.Start());
    // Everything the child needs is made before it is forked.
    auto args = Args(server.Port(), mnt, {"--delete"});
    std::vector<std::string> env = {"MAILTOLVAN_HOME=" + home.Path(), "MT_TEST_POP3_PW=s3cret",
                                    "PATH=/usr/bin:/bin"};
    std::vector<char*> argv, envp;
    for (auto& a : args)
        argv.push_back(a.data());
    for (auto& e : env)
        envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    std::string outFile = out.File("stdout"), errFile = out.File("stderr");
    auto exitCode = testutil::RunWithSmallDisk(mnt, 16 * 1024, [&]() {
        ::dup2(::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        ::dup2(::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        ::execve(argv[0], argv.data(), envp.data());
        return 127;
    });
    ASSERT_TRUE(exitCode.has_value()) << "no private mount";
    // Nothing deleted, the message before stored, the reason on stderr.
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_TRUE(prototest::CommittedDeletions(server.Received()).empty()) << server.Report();
    EXPECT_NE(*exitCode, 0);
    auto lines = Lines(testutil::ReadFile(outFile));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].rfind("message 1 ", 0), 0u);
    EXPECT_EQ(lines[2], "end 2 0 failed");
    EXPECT_NE(testutil::ReadFile(errFile).find("No space left on device"), std::string::npos);
}

} // namespace
