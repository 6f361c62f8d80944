// Group list retrieval against scripted news servers: what is added and
// what is kept, the progress and status texts, "NewGroups", a refusal and a
// hang-up in the middle (a stopped list: the main window's news tests).
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
    std::string listing = "comp.lang.c 900 3 y\r\n"                // known: keeps its record
                          "bad,name 5 1 y\r\n"                     // cannot be stored
                          "no.numbers y\r\n"                       // not a group line
                          "..dotted.group 4 2 y\r\n"               // dot-stuffed: ".dotted.group"
                          "new.empty 0000000000 0000000001 y\r\n"; // as INN lists an empty group
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
    EXPECT_EQ(host.retrieval.Added(), 11);
    EXPECT_EQ(host.retrieval.Received(), 15u);
    EXPECT_EQ(dir.groups->Count(), 13);
    EXPECT_EQ(dir.Group("new.empty")->m_lPointer, 1);
    // Known records as they were (every field: GroupListMerge's test).
    ASSERT_TRUE(dir.Group("comp.lang.c"));
    EXPECT_EQ(dir.Group("comp.lang.c")->m_uFlags, 7u);
    EXPECT_EQ(dir.Group("comp.lang.c")->m_szUser, "joe");
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
                                 "Sorting newsgroups . . .", "Done", "Added 11 new groups"}));
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

TEST_F(GroupList, ARefusalOrAHangUpLeavesTheList)
{
    struct Case {
        const char* reply; // to LIST
        bool bHangUp;      // after the reply
        Outcome outcome;
        const char* caption;
        const char* text; // its start
        fw::MbIcon icon;
    } cases[] = {
        {"502 You have no permission to talk\r\n", false, GroupListRetrieval::REFUSED,
         "NNTP Group Error", "502 You have no permission to talk", fw::MbIcon::Exclamation},
        {"215 list follows\r\nnew.a 1 1 y\r\nnew.b 1 1 y\r\n", true, GroupListRetrieval::ENDED,
         "ERROR!",
         "Your news server has closed the winsock connection after the command:\n\nLIST\nwas sent "
         "the the news server.",
         fw::MbIcon::Stop},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        ResetFailures();
        dir.boxes.boxes.clear();
        ScriptedServer s;
        s.Say(kGreeting).Expect("LIST\r\n").Say(c.reply);
        if (c.bHangUp)
            s.Close();
        else
            s.Expect("QUIT\r\n").Say("205 bye\r\n").ExpectClose();
        ASSERT_TRUE(s.Start());
        NewsHost h(work.Path());
        ASSERT_TRUE(h.Connect(s.Port()));
        EXPECT_EQ(h.Retrieve(0), c.outcome);
        ExpectListUnchanged();
        ASSERT_EQ(dir.boxes.boxes.size(), 1u);
        EXPECT_EQ(dir.boxes.boxes[0].caption, c.caption);
        EXPECT_EQ(dir.boxes.boxes[0].text.rfind(c.text, 0), 0u) << dir.boxes.boxes[0].text;
        EXPECT_EQ(dir.boxes.boxes[0].icon, c.icon);
        EXPECT_EQ(FailureCount(), 1);
        EXPECT_TRUE(fw::ListDirectory(work.Path()).empty());
        if (c.bHangUp)
            EXPECT_TRUE(h.client.IsIdle());
        else
            EXPECT_TRUE(h.client.IsReady() && h.Quit()) << "the connection stays usable";
        EXPECT_TRUE(s.Finish()) << s.Report();
    }
}

} // namespace
