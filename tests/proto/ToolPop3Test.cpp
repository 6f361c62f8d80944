// mailtolvan-tool pop3 against a scripted server.
#include "ScriptedServer.h"
#include "TestUtil.h"

#include "framework/Files.h"

#include <gtest/gtest.h>

#include <sstream>

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
    std::vector<std::string> a = {testutil::BinPath("mailtolvan-tool"),
                                  "pop3",
                                  "--host",
                                  "127.0.0.1",
                                  "--port",
                                  std::to_string(port),
                                  "--user",
                                  "joe",
                                  "--password-env",
                                  "MT_TEST_POP3_PW",
                                  "--dir",
                                  dir};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
}

TEST(ToolPop3, StoresMessagesAndPrintsEachNotification)
{
    testutil::TempDir home, out;
    ScriptedServer server(ScriptedServer::Split::Pairs);
    server.Say("+OK hi\r\n").Expect("USER joe\r\n").Say("+OK\r\n").Expect("PASS s3cret\r\n");
    server.Say("+OK\r\n").Expect("STAT\r\n").Say("+OK 2 40\r\n");
    server.Expect("RETR 1\r\n").Say("+OK\r\nSubject: a\r\n\r\n..x\r\n.\r\n").Expect("DELE 1\r\n");
    server.Say("+OK\r\n");
    server.Expect("RETR 2\r\n")
        .Say("+OK\r\nSubject: b\r\n.\r\n")
        .Expect("DELE 2\r\n")
        .Say("+OK\r\n");
    server.Expect("QUIT\r\n").Say("+OK\r\n").ExpectClose();
    ASSERT_TRUE(server.Start());
    auto r = testutil::RunProgram(Args(server.Port(), out.Path(), {"--delete"}),
                                  {"MAILTOLVAN_HOME=" + home.Path(), "MT_TEST_POP3_PW=s3cret"});
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_EQ(r.iExit, 0) << r.err;
    auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    EXPECT_EQ(lines[0], "count 2");
    EXPECT_EQ(lines[1].rfind("message 1 " + out.Path() + "/PWZ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2].rfind("message 2 " + out.Path() + "/PWZ", 0), 0u) << lines[2];
    EXPECT_EQ(lines[3], "end 1 0 done");
    EXPECT_EQ(testutil::ReadFile(lines[1].substr(10)), "Subject: a\r\n\r\n.x\r\n");
    EXPECT_EQ(testutil::ReadFile(lines[2].substr(10)), "Subject: b\r\n");
    EXPECT_EQ(fw::ListDirectory(out.Path()).size(), 2u);
}

TEST(ToolPop3, PasswordFromFileAndRefusal)
{
    testutil::TempDir home, out;
    testutil::WriteFile(home.File("pw"), "wrong\r\n");
    ScriptedServer server;
    server.Say("+OK\r\n").Expect("USER joe\r\n").Say("+OK\r\n").Expect("PASS wrong\r\n");
    server.Say("-ERR [AUTH] Authentication failed.\r\n").Expect("QUIT\r\n").Say("+OK\r\n");
    server.ExpectClose();
    ASSERT_TRUE(server.Start());
    auto args = Args(server.Port(), out.Path());
    args[8] = "--password-file";
    args[9] = home.File("pw");
    auto r = testutil::RunProgram(args, {"MAILTOLVAN_HOME=" + home.Path()});
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_NE(r.iExit, 0);
    EXPECT_EQ(r.out, "end 2 2 failed\n");
    EXPECT_NE(r.err.find("Bad Password."), std::string::npos) << r.err;
}

TEST(ToolPop3, BadArgumentsAreRefusedWithAReason)
{
    testutil::TempDir home, out;
    std::vector<std::string> env = {"MAILTOLVAN_HOME=" + home.Path(), "MT_TEST_POP3_PW=x"};
    struct Case {
        std::vector<std::string> args;
        const char* pszWant;
    } cases[] = {
        {{"--port", "0"}, "port"},
        {{"--port", "70000"}, "port"},
        {{"--keep-days", "-1"}, "keep-days"},
        {{"--bogus"}, "unknown argument"},
        {{"--password-file", "/nonexistent/pw"}, "usage"},
    };
    for (const auto& c : cases) {
        auto args = Args(1, out.Path(), c.args);
        auto r = testutil::RunProgram(args, env);
        EXPECT_NE(r.iExit, 0) << c.pszWant;
        EXPECT_NE(r.err.find(c.pszWant), std::string::npos) << r.err;
    }
    auto r = testutil::RunProgram(Args(1, out.Path() + "/missing"), env);
    EXPECT_NE(r.iExit, 0);
    EXPECT_NE(r.err.find("no such directory"), std::string::npos) << r.err;
    r = testutil::RunProgram(Args(1, out.Path()),
                             {"MAILTOLVAN_HOME=" + home.Path(), "MT_TEST_POP3_PW="});
    EXPECT_NE(r.iExit, 0);
    EXPECT_NE(r.err.find("not set"), std::string::npos) << r.err;
}

} // namespace
