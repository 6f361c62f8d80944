// Group list retrieval against scripted news servers: what is added and
// what is kept, the progress and status texts, "NewGroups", refusals, a
// server that hangs up in the middle, and a stopped list.
#include "NewsHost.h"
#include "ScriptedServer.h"

#include "framework/Files.h"

#include <ctime>

using sessiontest::NewsHost;
using sessiontest::ProgramDir;
using Outcome = GroupListRetrieval::Outcome;
using Split = ScriptedServer::Split;

namespace {

const char kGreeting[] = "200 news.example.org ready\r\n";
const char kSubscribed[] = "comp.lang.c,7,500,800000000,joe,pw\r\nalt.quiet,0,9,9,,\r\n";

class GroupList : public ::testing::Test {
protected:
    void SetUp() override
    {
        prototest::EnsureWinsock();
        dir.LoadGroups(kSubscribed);
    }
    void ExpectListUnchanged()
    {
        EXPECT_EQ(dir.Names(), (std::vector<std::string>{"comp.lang.c", "alt.quiet"}));
        EXPECT_EQ(dir.ini->GetLong("Groups", "NewGroups", 0), 0);
    }

    ProgramDir dir;
    testutil::TempDir work;
    NewsHost host{work.Path()};
};

class GroupListSplit : public GroupList, public ::testing::WithParamInterface<Split> {};

TEST_P(GroupListSplit, CompleteListAddsNewGroupsKeepsKnownOnesAndLeavesOutBadNames)
{
    ScriptedServer s(GetParam());
    s.Say(kGreeting).Expect("LIST\r\n").Say("215 list of newsgroups follows\r\n");
    std::string listing = "comp.lang.c 900 3 y\r\n"   // known: keeps its record
                          "bad,name 5 1 y\r\n"        // cannot be stored
                          "no.numbers y\r\n"          // not a group line
                          "..dotted.group 4 2 y\r\n"; // dot-stuffed: ".dotted.group"
    for (int i = 1; i <= 9; ++i)
        listing += "new.g" + std::to_string(i) + " " + std::to_string(i * 10) + " " +
                   std::to_string(i) + " y\r\n";
    listing += "alt.quiet 20 1 n\r\n.\r\n";
    s.Say(listing);
    s.Expect("QUIT\r\n").Say("205 bye\r\n").ExpectClose();
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(host.Connect(s.Port()));
    std::int64_t tBefore = std::time(nullptr);

    ASSERT_EQ(host.Retrieve(0), GroupListRetrieval::DONE) << s.Report();
    EXPECT_EQ(host.retrieval.Added(), 10);
    EXPECT_EQ(host.retrieval.Received(), 14u);
    EXPECT_EQ(dir.groups->Count(), 12);
    const newsgr* c = dir.Group("comp.lang.c");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->m_uFlags, 7u);
    EXPECT_EQ(c->m_lPointer, 500);
    EXPECT_EQ(c->m_lDate, 800000000);
    EXPECT_EQ(c->m_szUser, "joe");
    EXPECT_EQ(c->m_szPassword, "pw");
    EXPECT_EQ(dir.Group("alt.quiet")->m_lPointer, 9);
    const newsgr* g = dir.Group("new.g7");
    ASSERT_TRUE(g);
    EXPECT_EQ(g->m_uFlags, 0u);
    EXPECT_EQ(g->m_lPointer, 7);
    EXPECT_GE(g->m_lDate, tBefore);
    EXPECT_TRUE(dir.Group(".dotted.group"));
    EXPECT_FALSE(dir.Group("bad,name"));
    EXPECT_FALSE(dir.Group("bad"));
    EXPECT_EQ(dir.Names().front(), ".dotted.group") << "sorted by bytes";

    // "NewGroups" is the time the list was asked for.
    std::int32_t lNewGroups = dir.ini->GetLong("Groups", "NewGroups", 0);
    EXPECT_GE(lNewGroups, tBefore);
    EXPECT_EQ(g->m_lDate, lNewGroups);
    // Every tenth line counted, then the stages and the outcome.
    EXPECT_EQ(host.statuses, (std::vector<std::string>{
                                 "Retrieving 10th group", "Adding newsgroups . . .",
                                 "Sorting newsgroups . . .", "Done", "Added 10 new groups"}));
    // One warning for both lines that were left out, naming the first.
    ASSERT_EQ(dir.boxes.boxes.size(), 1u);
    EXPECT_EQ(dir.boxes.boxes[0].caption, "Warning!");
    EXPECT_NE(dir.boxes.boxes[0].text.find("2 groups of the server's list were not added"),
              std::string::npos)
        << dir.boxes.boxes[0].text;
    EXPECT_NE(dir.boxes.boxes[0].text.find("bad,name"), std::string::npos);
    EXPECT_EQ(FailureCount(), 0);
    EXPECT_TRUE(fw::ListDirectory(work.Path()).empty()) << "the reply file is deleted";
    EXPECT_TRUE(host.Quit());
    EXPECT_TRUE(s.Finish()) << s.Report();
}

INSTANTIATE_TEST_SUITE_P(Splits, GroupListSplit,
                         ::testing::Values(Split::Whole, Split::Bytes, Split::Pairs));

TEST_F(GroupList, RefusalLeavesTheListAndTheConnectionAsTheyWere)
{
    ScriptedServer s;
    s.Say(kGreeting).Expect("LIST\r\n").Say("502 You have no permission to talk\r\n");
    s.Expect("QUIT\r\n").Say("205 bye\r\n").ExpectClose();
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(host.Connect(s.Port()));
    EXPECT_EQ(host.Retrieve(0), GroupListRetrieval::REFUSED);
    ExpectListUnchanged();
    ASSERT_EQ(dir.boxes.boxes.size(), 1u);
    EXPECT_EQ(dir.boxes.boxes[0].caption, "NNTP Group Error");
    EXPECT_EQ(dir.boxes.boxes[0].text, "502 You have no permission to talk");
    EXPECT_EQ(dir.boxes.boxes[0].icon, fw::MbIcon::Exclamation);
    EXPECT_EQ(FailureCount(), 1);
    EXPECT_TRUE(host.client.IsReady());
    EXPECT_TRUE(host.Quit());
    EXPECT_TRUE(s.Finish()) << s.Report();
}

TEST_F(GroupList, ServerHangingUpInTheMiddleAddsNothing)
{
    ScriptedServer s;
    s.Say(kGreeting).Expect("LIST\r\n").Say("215 list follows\r\nnew.a 1 1 y\r\nnew.b 1 1 y\r\n");
    s.Close();
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(host.Connect(s.Port()));
    EXPECT_EQ(host.Retrieve(0), GroupListRetrieval::ENDED);
    ExpectListUnchanged();
    ASSERT_EQ(dir.boxes.boxes.size(), 1u);
    EXPECT_EQ(dir.boxes.boxes[0].caption, "ERROR!");
    EXPECT_EQ(dir.boxes.boxes[0].text.rfind("Your news server has closed the winsock connection "
                                            "after the command:\n\nLIST\nwas sent the the news "
                                            "server.",
                                            0),
              0u)
        << dir.boxes.boxes[0].text;
    EXPECT_EQ(FailureCount(), 1);
    EXPECT_TRUE(host.client.IsIdle());
    EXPECT_TRUE(fw::ListDirectory(work.Path()).empty());
    EXPECT_TRUE(s.Finish()) << s.Report();
}

TEST_F(GroupList, StoppedListAddsNothingAndTheClientComesBackReady)
{
    ScriptedServer s;
    host.onLine = [this] { host.retrieval.Stop(); };
    s.Say(kGreeting).Expect("LIST\r\n").Say("215 list follows\r\nnew.a 1 1 y\r\n");
    s.WaitFor([this] { return host.iLines.load() >= 1; });
    s.Say("new.b 1 1 y\r\nnew.c 1 1 y\r\n.\r\n");
    s.ExpectReconnect();
    s.Say("200 again\r\n").Expect("QUIT\r\n").Say("205 bye\r\n").ExpectClose();
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(host.Connect(s.Port()));
    EXPECT_EQ(host.Retrieve(0), GroupListRetrieval::STOPPED) << s.Report();
    ExpectListUnchanged();
    EXPECT_TRUE(host.SawStatus("Stopped"));
    EXPECT_FALSE(host.SawStatus("Adding newsgroups . . ."));
    EXPECT_TRUE(dir.boxes.boxes.empty());
    EXPECT_TRUE(fw::ListDirectory(work.Path()).empty()) << "the part of a list is deleted";
    EXPECT_TRUE(host.client.IsReady());
    EXPECT_TRUE(host.Quit());
    EXPECT_TRUE(s.Finish()) << s.Report();
}

} // namespace
