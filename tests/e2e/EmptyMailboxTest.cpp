// A cron run against the real POP3 server that finds the mailbox empty: a
// success without a packet.
#include "PeerState.h"
#include "TestUtil.h"

#include "framework/Files.h"

#include <gtest/gtest.h>

using testutil::BinPath;
using testutil::RunProgram;

TEST(EmptyMailbox, ACronRunThatFindsNoMailSucceedsWithoutAPacket)
{
    testpeers::PeerState peers;
    ASSERT_TRUE(peers.Ok()) << peers.Error();
    // The second user's mailbox is kept empty by the server set-up; it is
    // only read here.
    const std::string user = peers.Get("POP3_USER2");
    ASSERT_EQ(testpeers::CountMaildir(peers, user), 0);
    testutil::TempDir home;
    std::vector<std::string> env = {"MAILTOLVAN_HOME=" + home.Path()};
    for (std::vector<std::string> args :
         {std::vector<std::string>{"config", "Servers", "POP3Server", peers.Get("PEERS_HOST")},
          {"config", "Servers", "POP3Port", peers.Get("POP3_PORT")},
          {"config", "Servers", "POP3Name", user},
          {"config", "Servers", "NNTPServer", ""},
          {"config", "Autorun", "AutoEmail", "1"}}) {
        args.insert(args.begin(), BinPath("mailtolvan-tool"));
        ASSERT_EQ(RunProgram(args, env).iExit, 0);
    }
    ASSERT_EQ(RunProgram({BinPath("mailtolvan-tool"), "password", "pop3"}, env,
                         peers.Get("POP3_PASS2") + "\n")
                  .iExit,
              0);
    auto r = RunProgram({BinPath("mailtolvan"), "--headless", "/a"}, env, "", 60000);
    EXPECT_EQ(r.iExit, 0) << r.err;
    EXPECT_NE(r.err.find("\nNo new mail\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("ERROR"), std::string::npos) << r.err;
    for (const std::string& name : fw::ListDirectory(home.Path()))
        EXPECT_EQ(name.find(".Qw"), std::string::npos) << name;
}
