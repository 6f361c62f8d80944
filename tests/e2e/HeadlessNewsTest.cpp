// mailtolvan --headless /a with the real INN of tests/peers: the run
// connects, fetches the group list as "Groups" "Retrieve" asks, keeps what
// the user set for a subscribed group, and says QUIT; the next run asks only
// for the groups made since.
#include "PeerState.h"
#include "TestUtil.h"

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
        Tool({"config", "Servers", "POP3Server", ""});
        Tool({"config", "Autorun", "AutoNews", "1"});
        Tool({"config", "Groups", "Retrieve", "1"});
        Tool({"config", "Directories", "Qwk", home.Path()});
    }
    std::vector<std::string> Env() { return {"MAILTOLVAN_HOME=" + home.Path()}; }
    std::string Tool(std::vector<std::string> args)
    {
        args.insert(args.begin(), BinPath("mailtolvan-tool"));
        auto r = RunProgram(args, Env());
        EXPECT_EQ(r.iExit, 0) << r.err;
        return r.out;
    }
    testutil::RunResult Run()
    {
        return RunProgram({BinPath("mailtolvan"), "--headless", "/a"}, Env(), "", 120000);
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

TEST_F(HeadlessNews, ConnectsListsTheGroupsKeepsTheSubscribedOneAndSaysQuit)
{
    // A subscribed group whose pointer an earlier run moved.
    testutil::WriteFile(home.File("TOLVAN.NWS"), "local.test.alpha,3,15,1000,,\r\n");
    std::time_t tStart = std::time(nullptr);
    auto r = Run();
    // The article step cannot run yet: the run says so and fails, after
    // doing everything else.
    EXPECT_EQ(r.iExit, 1) << r.err;
    EXPECT_NE(r.err.find("Article retrieval is not available"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Winsock"), std::string::npos) << r.err;
    // Shown only when the server has answered QUIT.
    EXPECT_NE(r.err.find("Disconnected from " + peers.Get("PEERS_HOST")), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Added "), std::string::npos) << r.err;

    auto groups = Groups();
    for (const auto& name : peers.GetList("NNTP_GROUPS"))
        EXPECT_EQ(groups.count(name), 1u) << name;
    EXPECT_EQ(groups["local.test.alpha"], "local.test.alpha,3,15,1000,,\r");
    EXPECT_EQ(groups["local.test.big"].rfind("local.test.big,0,1,", 0), 0u);
    long lNewGroups = std::atol(Tool({"config", "Groups", "NewGroups"}).c_str());
    EXPECT_GE(lNewGroups, static_cast<long>(tStart));

    // A group made after that run: the next run asks for new groups only.
    std::string made = "local.test.e2e" + std::to_string(::getpid());
    std::string cmd = "runuser -u news -- env INNCONF=" + peers.Get("INNCONF") +
                      " /usr/lib/news/bin/ctlinnd -s newgroup " + made + " y tester";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    testutil::WriteFile(home.File("TOLVAN.NWS"), "local.test.alpha,3,15,1000,,\r\n");
    r = Run();
    EXPECT_NE(r.err.find("Disconnected from"), std::string::npos) << r.err;
    groups = Groups();
    EXPECT_EQ(groups.count(made), 1u) << r.err;
    EXPECT_EQ(groups.count("local.test.big"), 0u) << "NEWGROUPS, not the whole list";
    EXPECT_EQ(groups["local.test.alpha"], "local.test.alpha,3,15,1000,,\r");
}

} // namespace
