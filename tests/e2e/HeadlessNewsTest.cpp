// mailtolvan --headless /a with the real INN of tests/peers: mail, the
// automatic groups and the group list in one run, then only what is new.
#include "PeerState.h"
#include "TestUtil.h"

#include "framework/Process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <map>
#include <sstream>
#include <unistd.h>

using testpeers::PeerState;
using testutil::BinPath;
using testutil::ReadFile;
using testutil::RunProgram;
using testutil::TempDir;

namespace {

class HeadlessNews : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(peers.Ok()) << peers.Error();
        Tool({"config", "Servers", "NNTPServer", peers.Get("PEERS_HOST")});
        Tool({"config", "Servers", "NNTPPort", peers.Get("NNTP_PORT")});
        Tool({"config", "Autorun", "AutoNews", "1"});
        Tool({"config", "Groups", "Retrieve", "1"});
        Tool({"config", "Directories", "Qwk", home.Path()});
    }
    // A group made now, by the server's own control command.
    void NewGroup(const std::string& name)
    {
        std::string cmd = "runuser -u news -- env INNCONF=" + peers.Get("INNCONF") +
                          " /usr/lib/news/bin/ctlinnd -s newgroup " + name + " y tester";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    std::string Tool(std::vector<std::string> args, const std::string& input = std::string())
    {
        auto r = testutil::RunTool(home.Path(), std::move(args), input);
        EXPECT_EQ(r.iExit, 0) << r.err;
        return r.out;
    }
    testutil::RunResult Run()
    {
        return RunProgram({BinPath("mailtolvan"), "--headless", "/a"},
                          {"MAILTOLVAN_HOME=" + home.Path()}, "", 120000);
    }
    // The group lines of TOLVAN.NWS by name.
    std::map<std::string, std::string> Groups()
    {
        std::map<std::string, std::string> out;
        std::istringstream in(ReadFile(home.File("TOLVAN.NWS")));
        for (std::string line; std::getline(in, line);) {
            EXPECT_EQ(out.count(line.substr(0, line.find(','))), 0u) << "twice: " << line;
            out[line.substr(0, line.find(','))] = line;
        }
        return out;
    }

    PeerState peers;
    TempDir home;
};

// The conferences of a QWK packet (CONTROL.DAT) and how many messages
// each holds (MESSAGES.DAT: a 128-byte header block per message with its
// block count at 116 and its conference at 123).
std::map<std::string, int> CountByConference(const std::string& qwk)
{
    auto unzip = [&](const char* member) {
        std::string out;
        int code = -1;
        EXPECT_TRUE(fw::RunAndCapture({"unzip", "-p", "-C", qwk, member}, out, code));
        return out;
    };
    std::map<int, std::string> names;
    std::istringstream control(unzip("CONTROL.DAT"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(control, line);)
        lines.push_back(line.substr(0, line.find('\r')));
    // Line 11 holds the highest conference index; the pairs follow it.
    EXPECT_GT(lines.size(), 11u);
    int iConferences = lines.size() > 10 ? std::atoi(lines[10].c_str()) + 1 : 0;
    for (std::size_t i = 11; iConferences-- > 0 && i + 1 < lines.size(); i += 2)
        names[std::atoi(lines[i].c_str())] = lines[i + 1];
    std::string m = unzip("MESSAGES.DAT");
    std::map<std::string, int> out;
    for (std::size_t at = 128; at + 128 <= m.size();) {
        int iBlocks = std::atoi(m.substr(at + 116, 6).c_str());
        int iConf =
            static_cast<unsigned char>(m[at + 123]) | static_cast<unsigned char>(m[at + 124]) << 8;
        EXPECT_GE(iBlocks, 1);
        EXPECT_EQ(names.count(iConf), 1u) << iConf;
        ++out[names[iConf]];
        at += static_cast<std::size_t>(std::max(iBlocks, 1)) * 128;
    }
    return out;
}

TEST_F(HeadlessNews, MailAndNewsMakeOnePacketAndTheNextRunOnlyWhatIsNew)
{
    // A group of this test alone, so that nothing else posts to it.
    std::string own = "local.test.r" + std::to_string(::getpid());
    NewGroup(own);
    auto seed = [&](int iCount, const std::string& prefix) {
        std::string cmd = "/usr/bin/python3 " + std::string(MT_PEERS_SCRIPT) +
                          " seed-nntp --port " + peers.Get("NNTP_PORT") + " --group " + own +
                          " --count " + std::to_string(iCount) + " --prefix " + prefix +
                          " >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    };
    seed(3, "first");
    // One mail waits in a mailbox of this test.
    std::string user = peers.GetList("POP3_SCRATCH_USERS").at(4);
    ASSERT_TRUE(testpeers::EmptyMaildir(peers, user));
    ASSERT_TRUE(testpeers::DeliverToMaildir(
        peers, user, 1, "From: a@b.test\nTo: c@d.test\nSubject: the mail\n\nHello.\n"));
    Tool({"config", "Servers", "POP3Server", peers.Get("PEERS_HOST")});
    Tool({"config", "Servers", "POP3Port", peers.Get("POP3_PORT")});
    Tool({"config", "Servers", "POP3Name", user});
    Tool({"config", "Autorun", "AutoEmail", "1"});
    Tool({"password", "pop3"}, peers.Get("POP3_SCRATCH_PASS") + "\n");
    // alpha and beta automatic, new chosen by hand, big not selected; the
    // whole group list comes too.
    testutil::WriteFile(home.File("TOLVAN.NWS"),
                        "local.test.alpha,3,0,0,,\r\nlocal.test.beta,3,0,0,,\r\n"
                        "local.test.new,1,0,0,,\r\nlocal.test.big,2,0,0,,\r\n" +
                            own + ",3,0,0,,\r\n");
    std::time_t tStart = std::time(nullptr);
    auto r = Run();
    ASSERT_EQ(r.iExit, 0) << r.err;
    EXPECT_EQ(r.err.find("Winsock"), std::string::npos) << r.err;
    // Shown only when the server has answered QUIT.
    EXPECT_NE(r.err.find("Disconnected from " + peers.Get("PEERS_HOST")), std::string::npos)
        << r.err;
    auto counts = CountByConference(home.File("Tolvan.Qwk"));
    // 20 posted, 3 and 4 cancelled; beta holds its own and alpha's
    // crossposts (every fifth).
    EXPECT_EQ(counts["local.test.alpha"], 18) << r.err;
    EXPECT_GE(counts["local.test.beta"], 4 + 1) << r.err;
    EXPECT_EQ(counts[own], 3) << r.err;
    EXPECT_EQ(counts.count("local.test.new"), 0u);
    EXPECT_EQ(counts.count("local.test.big"), 0u);
    int iMail = 0;
    for (const auto& [name, n] : counts)
        if (name.find("local.test.") != 0)
            iMail += n;
    EXPECT_EQ(iMail, 1) << "the mail in the same packet";
    std::size_t said = r.err.find("Skipped local.test.new");
    EXPECT_NE(said, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Skipped local.test.new", said + 1), std::string::npos) << "once";
    auto groups = Groups();
    for (const auto& name : peers.GetList("NNTP_GROUPS"))
        EXPECT_EQ(groups.count(name), 1u) << name;
    EXPECT_EQ(groups["local.test.new"], "local.test.new,1,0,0,,\r") << "left as it was";
    EXPECT_EQ(groups[own].rfind(own + ",3,4,", 0), 0u) << groups[own];
    EXPECT_EQ(groups["local.test.alpha"].rfind("local.test.alpha,3,21,", 0), 0u);
    EXPECT_GE(std::atol(Tool({"config", "Groups", "NewGroups"}).c_str()), long{tStart});

    // Two more articles and a group made after that run; the list keeps this
    // test's group alone: the next run fetches the two and asks for new groups only.
    seed(2, "second");
    std::string made = "local.test.e2e" + std::to_string(::getpid());
    NewGroup(made);
    testutil::WriteFile(home.File("TOLVAN.NWS"), groups[own] + "\n");
    r = Run();
    ASSERT_EQ(r.iExit, 0) << r.err;
    ASSERT_TRUE(testutil::Exists(home.File("Tolvan.Qwa"))) << r.err;
    counts = CountByConference(home.File("Tolvan.Qwa"));
    EXPECT_EQ(counts[own], 2) << r.err;
    groups = Groups();
    EXPECT_EQ(groups[own].rfind(own + ",3,6,", 0), 0u);
    EXPECT_EQ(groups.count(made), 1u) << r.err;
    EXPECT_EQ(groups.count("local.test.big"), 0u) << "NEWGROUPS, not the whole list";
}

} // namespace
