// The article retrieval loop against scripted news servers: a server without
// the overview command (one HEAD per article, gaps stepped over with NEXT),
// and a server that closes the connection in the middle of an article.
#include "NewsHost.h"
#include "ScriptedServer.h"

using sessiontest::NewsHost;
using sessiontest::ProgramDir;

namespace {

class ArticleWindows : public ::testing::Test {
protected:
    void SetUp() override { prototest::EnsureWinsock(); }
    bool Pump(const std::function<bool()>& cond) { return fw::MessageLoop::PumpUntil(cond, 10000); }

    ProgramDir dir;
    testutil::TempDir work;
};

TEST_F(ArticleWindows, WithoutOverviewOneHeadPerArticleAndNextOverAGap)
{
    dir.LoadGroups("m.hand,1,0,0,,\r\n");
    ScriptedServer s(ScriptedServer::Split::Pairs);
    s.Say("200 ready\r\n").Expect("GROUP m.hand\r\n").Say("211 3 10 13 m.hand\r\n");
    s.Expect("XOVER 10-13\r\n").Say("500 what?\r\n").Expect("HEAD 10\r\n");
    s.Say("221 10 <t@x>\r\nSubject: zebra\r\nFrom: x@y\r\nMessage-ID: <t@x>\r\nLines: 4\r\n.\r\n");
    s.Expect("HEAD 11\r\n").Say("423 no such article\r\n");
    s.Expect("NEXT\r\n").Say("223 13 <h@x> next\r\n").Expect("HEAD\r\n");
    s.Say("221 13 <h@x>\r\nSubject: apple\r\nFrom: a@b\r\nMessage-ID: <h@x>\r\n.\r\n").Hold();
    ASSERT_TRUE(s.Start());
    NewsHost host(work.Path());
    ASSERT_TRUE(host.Connect(s.Port())) << s.Report();
    dir.ini->WriteInt("Articles", "Sort", 3);
    auto w = host.OpenGroups();
    w->Retrieve(true);
    ASSERT_TRUE(Pump([&] { return host.iLoopsDone == 1; })) << s.Report();
    ASSERT_EQ(host.views.size(), 1u);
    RecordingArticlesView& v = *host.views[0];
    EXPECT_EQ(v.title, "m.hand,  4 new out of 3 total");
    EXPECT_TRUE(Has(v.statuses, "XOVER command not supported"));
    EXPECT_TRUE(Has(v.statuses, "Could not find header 11"));
    EXPECT_TRUE(Has(v.statuses, "Done retrieving in m.hand"));
    ASSERT_EQ(v.rows.size(), 2u);
    EXPECT_NE(v.rows[0].find("\t    13\t"), std::string::npos) << "sorted by subject";
    EXPECT_NE(v.rows[1].find("zebra"), std::string::npos);
    EXPECT_EQ(dir.Group("m.hand")->m_lPointer, 14);
    EXPECT_TRUE(host.converted.empty()) << "headers only";
    EXPECT_TRUE(v.bCommands) << "sorting and choosing once the headers are in";
    EXPECT_TRUE(w->Done());
}

TEST_F(ArticleWindows, TheServerClosingMidArticleEndsTheRunWithoutMovingThePointer)
{
    dir.LoadGroups("a.auto,3,5,0,,\r\nb.auto,3,1,0,,\r\n");
    ScriptedServer s;
    s.Say("200 ready\r\n").Expect("GROUP a.auto\r\n").Say("211 2 5 6 a.auto\r\n");
    s.Expect("ARTICLE 5\r\n")
        .Say("220 5 <five@x>\r\nSubject: five\r\nFrom: x@y\r\n\r\nthe first li");
    s.Close();
    ASSERT_TRUE(s.Start());
    NewsHost host(work.Path());
    ASSERT_TRUE(host.Connect(s.Port())) << s.Report();
    auto w = host.OpenGroups();
    w->Retrieve(true);
    ASSERT_TRUE(Pump([&] { return !host.ends.empty(); })) << s.Report();
    EXPECT_TRUE(s.Finish()) << s.Report();
    EXPECT_EQ(host.ends, std::vector<int>{CNNTP::STATUS_CLOSED});
    ASSERT_EQ(dir.boxes.boxes.size(), 1u);
    EXPECT_EQ(dir.boxes.boxes[0].caption, "ERROR!");
    EXPECT_NE(dir.boxes.boxes[0].text.find("ARTICLE 5"), std::string::npos);
    EXPECT_TRUE(host.converted.empty());
    EXPECT_EQ(dir.Group("a.auto")->m_lPointer, 5) << "article 5 comes again";
    EXPECT_EQ(dir.Group("b.auto")->m_lPointer, 1) << "the loop ended";
    EXPECT_TRUE(w->Done());
    EXPECT_FALSE(w->Retrieving());
}

} // namespace
