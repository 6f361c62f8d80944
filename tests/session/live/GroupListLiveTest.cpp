// Group list retrieval against the real INN of tests/peers: NEWGROUPS finds
// the group created when the server started, and LIST adds every group
// without undoing what the user set for a subscribed one.
#include "NewsHost.h"
#include "PeerState.h"

#include "framework/Files.h"

#include <algorithm>
#include <ctime>

using sessiontest::NewsHost;
using sessiontest::ProgramDir;
using testpeers::PeerState;

namespace {

class GroupListLive : public ::testing::Test {
protected:
    void SetUp() override
    {
        prototest::EnsureWinsock();
        ASSERT_TRUE(peers.Ok()) << peers.Error();
        ASSERT_TRUE(host.Connect(static_cast<std::uint16_t>(peers.GetInt("NNTP_PORT"))));
    }
    void TearDown() override
    {
        EXPECT_TRUE(host.Quit());
        EXPECT_TRUE(fw::ListDirectory(work.Path()).empty());
    }

    PeerState peers;
    ProgramDir dir;
    testutil::TempDir work;
    NewsHost host{work.Path()};
};

TEST_F(GroupListLive, NewGroupsSinceYesterdayFindTheGroupMadeAtStart)
{
    // The seeded groups are a month old; local.test.new was made at start.
    dir.LoadGroups("local.test.alpha,3,15,1000,,\r\n");
    std::int64_t tSince = static_cast<std::int64_t>(std::time(nullptr)) - 86400;
    ASSERT_EQ(host.Retrieve(tSince), GroupListRetrieval::DONE) << host.client.ReplyLine();
    const newsgr* g = dir.Group("local.test.new");
    ASSERT_TRUE(g);
    EXPECT_EQ(g->m_uFlags, 0u);
    EXPECT_EQ(g->m_lPointer, 1);
    EXPECT_FALSE(dir.Group("local.test.big"));
    EXPECT_EQ(dir.Group("local.test.alpha")->m_lPointer, 15);
    EXPECT_GE(dir.ini->GetLong("Groups", "NewGroups", 0), tSince + 86400);
    EXPECT_EQ(FailureCount(), 0);
}

TEST_F(GroupListLive, CompleteListAddsEveryGroupAndKeepsTheSubscribedOne)
{
    dir.LoadGroups("local.test.alpha,7,15,1000,alice,secret\r\nother.group,1,3,3,,\r\n");
    dir.groups->Find("local.test.alpha");
    dir.groups->Current()->m_lPointer = 18; // moved by an article retrieval
    ASSERT_EQ(host.Retrieve(0), GroupListRetrieval::DONE) << host.client.ReplyLine();

    std::vector<std::string> names = dir.Names();
    for (const auto& name : peers.GetList("NNTP_GROUPS"))
        EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
    const newsgr* a = dir.Group("local.test.alpha");
    EXPECT_EQ(a->m_uFlags, 7u);
    EXPECT_EQ(a->m_lPointer, 18);
    EXPECT_EQ(a->m_lLoadedPointer, 15);
    EXPECT_EQ(a->m_lDate, 1000);
    EXPECT_EQ(a->m_szUser, "alice");
    EXPECT_EQ(a->m_szPassword, "secret");
    EXPECT_TRUE(dir.Group("other.group")) << "a group the server lacks stays";
    // A new group starts unselected at the server's first article.
    const newsgr* big = dir.Group("local.test.big");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->m_uFlags, 0u);
    EXPECT_EQ(big->m_lPointer, 1);
    const newsgr* empty = dir.Group("local.test.empty");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->m_lPointer, 1);
    EXPECT_EQ(host.retrieval.Added(), static_cast<std::int32_t>(names.size()) - 2);
    EXPECT_EQ(host.statuses.back(),
              "Added " + std::to_string(host.retrieval.Added()) + " new groups");
}

} // namespace
