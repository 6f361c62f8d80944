// mailtolvan --headless /a as cron runs it, night after night: what each run
// leaves behind, when it counts as a success, and that a run which cannot
// finish still ends and says why.
#include "LooseServer.h"
#include "TestUtil.h"
#include "framework/Files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

using testutil::BinPath;
using testutil::ReadFile;
using testutil::RunProgram;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

class UnattendedRun : public ::testing::Test {
protected:
    // A home set up as the README's cron recipe says, for a server on a port.
    // The runs keep the mailbox ("ClearMailbox" 0), so each finds the same mail.
    void SetUpFor(int iPort)
    {
        ASSERT_NE(iPort, 0);
        for (std::vector<std::string> args :
             {std::vector<std::string>{"config", "Servers", "POP3Server", "127.0.0.1"},
              {"config", "Servers", "POP3Port", std::to_string(iPort)},
              {"config", "Servers", "POP3Name", "me"},
              {"config", "Servers", "NNTPServer", ""},
              {"config", "Servers", "POP3Security", "none"},
              {"config", "Email", "ClearMailbox", "0"},
              {"config", "Autorun", "AutoEmail", "1"}})
            ASSERT_EQ(Tool(args), 0);
        ASSERT_EQ(Tool({"password", "pop3"}, "pw\n"), 0);
    }
    int Tool(std::vector<std::string> args, const std::string& input = std::string())
    {
        return testutil::RunTool(home.Path(), std::move(args), input).iExit;
    }
    testutil::RunResult Cron(std::vector<std::string> prefix = {},
                             std::vector<std::string> env = {})
    {
        prefix.insert(prefix.end(), {BinPath("mailtolvan"), "--headless", "/a"});
        env.push_back("MAILTOLVAN_HOME=" + home.Path());
        return RunProgram(prefix, env, "", 60000);
    }
    // The messages.dat of a packet (the packets are zip files).
    static std::string Messages(const std::string& qwk)
    {
        auto r = RunProgram({"unzip", "-p", qwk, "messages.dat"});
        return r.out;
    }
    TempDir home;
};

} // namespace

TEST_F(UnattendedRun, TwoRunsInARowMakeTwoPacketsAndLeaveTheFirstUntouched)
{
    LooseServer mailbox(LooseServer::POP3, 2);
    SetUpFor(mailbox.Port());
    auto r = Cron();
    ASSERT_EQ(r.iExit, 0) << r.err;
    std::string first = ReadFile(home.File("Tolvan.Qwk"));
    ASSERT_NE(Messages(home.File("Tolvan.Qwk")).find("Night mail 2"), std::string::npos);

    r = Cron(); // the reader has not been near the first packet
    ASSERT_EQ(r.iExit, 0) << r.err;
    EXPECT_EQ(ReadFile(home.File("Tolvan.Qwk")), first);
    EXPECT_NE(Messages(home.File("Tolvan.Qwa")).find("Night mail 2"), std::string::npos) << r.err;
}

TEST_F(UnattendedRun, AFailedSaveEndsTheRunWithAFailureAndKeepsTheMail)
{
    LooseServer mailbox(LooseServer::POP3, 1);
    SetUpFor(mailbox.Port());
    // The QWK directory lies below a plain file: no archive can be made there.
    WriteFile(home.File("blocker"), "not a directory\n");
    ASSERT_EQ(Tool({"config", "Directories", "Qwk", home.File("blocker/qwk")}), 0);
    // Questions counted as answered change nothing: the mail is rescued.
    ASSERT_EQ(Tool({"config", "Mailtolvan", "Confirmation", "0"}), 0);
    auto r = Cron();
    EXPECT_NE(r.iExit, 0) << r.err;
    EXPECT_NE(r.err.find("There was an error creating TOLVAN.ZIP!"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("could not be saved"), std::string::npos) << r.err;
    std::string rescued;
    for (const std::string& name : fw::ListDirectory(home.Path()))
        if (name.rfind("Tolvan-unsaved-", 0) == 0)
            rescued = home.File(name);
    ASSERT_FALSE(rescued.empty()) << r.err;
    EXPECT_NE(Messages(rescued).find("Night mail 1"), std::string::npos);
    EXPECT_NE(r.err.find(rescued), std::string::npos) << r.err;
}

TEST_F(UnattendedRun, AReadOnlySettingsFileIsReadWholeAndLeftAsItIs)
{
    LooseServer mailbox(LooseServer::POP3, 1);
    SetUpFor(mailbox.Port());
    // A QWK directory deeper than 79 characters.
    std::string qwkDir = home.File("packets for the offline reader") + "/" + std::string(60, 'q');
    ASSERT_TRUE(fw::MakeDirectories(qwkDir));
    ASSERT_EQ(Tool({"config", "Directories", "Qwk", home.File("x")}), 0);
    std::string ini = home.File("TOLVAN.INI");
    std::string text = ReadFile(ini);
    std::size_t at = text.find("\nQwk=");
    ASSERT_NE(at, std::string::npos);
    text.replace(at + 5, text.find('\n', at + 1) - at - 5, qwkDir);
    WriteFile(ini, text);
    ASSERT_EQ(::chmod(ini.c_str(), 0444), 0);

    auto r = Cron();
    EXPECT_EQ(r.iExit, 0) << r.err;
    std::size_t warned = r.err.find("cannot write its settings file");
    ASSERT_NE(warned, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("cannot write its settings file", warned + 1), std::string::npos)
        << "said once:\n"
        << r.err;
    EXPECT_EQ(ReadFile(ini), text);
    EXPECT_TRUE(testutil::Exists(qwkDir + "/Tolvan.Qwk")) << r.err;

    if (::geteuid() != 0)
        return;
    // The usual case for a user: a file someone else owns, in a home the
    // user may write (so the file could be renamed over).
    ASSERT_EQ(::chmod(ini.c_str(), 0644), 0);
    ASSERT_EQ(::chown(home.Path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chown(qwkDir.c_str(), 65534, 65534), 0);
    for (const std::string& name : fw::ListDirectory(home.Path())) {
        if (name != "TOLVAN.INI") {
            ASSERT_EQ(::chown(home.File(name).c_str(), 65534, 65534), 0) << name;
        }
    }
    r = Cron({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    EXPECT_EQ(r.iExit, 0) << r.err;
    EXPECT_NE(r.err.find("cannot write its settings file"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(ini), text);
    EXPECT_TRUE(testutil::Exists(qwkDir + "/Tolvan.Qwa")) << r.err;
}

TEST_F(UnattendedRun, EndsWhenTheServerStopsAnswering)
{
    testutil::LoopbackListener silent; // accepts the connection, never says a word
    SetUpFor(silent.Port());
    auto r = Cron({}, {"MAILTOLVAN_IDLE_TIMEOUT=1"});
    EXPECT_NE(r.iExit, 0);
    EXPECT_NE(r.err.find("No answer from the server for 1 seconds"), std::string::npos) << r.err;
    EXPECT_FALSE(testutil::Exists(home.File("$WORK")));
}
