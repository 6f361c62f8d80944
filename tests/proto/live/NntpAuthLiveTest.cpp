// CNNTP against a news server (INN) that demands AUTHINFO before anything
// else: the login on the demand and the command sent again.
#include "ClientHarness.h"
#include "NntpHarness.h"
#include "PeerState.h"
#include "TestUtil.h"

#include "proto/CNNTP.h"

#include <gtest/gtest.h>

using prototest::NntpNote;
using prototest::NntpRecorder;
using testpeers::PeerState;

namespace {

class NntpAuthLive : public ::testing::Test {
protected:
    void SetUp() override
    {
        prototest::EnsureWinsock();
        ASSERT_TRUE(peers.Ok()) << peers.Error();
        ASSERT_EQ(peers.GetInt("NNTP_AUTH_REQUIRED"), 1);
    }
    void Connect(const char* pszUser, const char* pszPass)
    {
        auto port = static_cast<std::uint16_t>(peers.GetInt("NNTP_PORT"));
        ASSERT_TRUE(client.Connect(&rec, CNNTP::MSG_CONNECT, peers.Get("PEERS_HOST").c_str(), port,
                                   pszUser, pszPass));
        ASSERT_EQ(Next().kind, NntpNote::CONNECTED);
    }
    NntpNote Next() { return rec.Next(&seen); }
    void Quit()
    {
        ASSERT_TRUE(client.Quit(&rec, CNNTP::MSG_QUIT));
        EXPECT_EQ(Next().w, static_cast<fw::WPARAM>(CNNTP::STATUS_QUIT));
    }

    PeerState peers;
    testutil::TempDir dir;
    CNNTP client{dir.Path().c_str()};
    NntpRecorder rec{client};
    std::size_t seen = 0;
};

TEST_F(NntpAuthLive, LogsInOnDemandAndSendsTheCommandAgain)
{
    std::string user = peers.Get("NNTP_USER"), pass = peers.Get("NNTP_PASS");
    Connect(user.c_str(), pass.c_str());
    ASSERT_TRUE(client.GroupList(&rec, CNNTP::MSG_GROUP_LIST, 0));
    NntpNote n = Next();
    ASSERT_EQ(n.kind, NntpNote::FILE) << n.reply;
    EXPECT_NE(n.content.find("local.test.big "), std::string::npos);
    ASSERT_TRUE(client.Group(&rec, CNNTP::MSG_GROUP, "local.test.big", 0, nullptr, nullptr));
    n = Next();
    ASSERT_EQ(n.kind, NntpNote::GROUP) << n.reply;
    EXPECT_EQ(n.group.iLast, peers.GetInt("NNTP_ARTICLES_BIG"));
    ASSERT_TRUE(client.Article(&rec, CNNTP::MSG_ARTICLE, 1));
    n = Next();
    ASSERT_EQ(n.kind, NntpNote::FILE) << n.reply;
    EXPECT_NE(n.content.find("Message-ID: <local-test-big.1@peers.test>"), std::string::npos);
    Quit();
}

} // namespace
