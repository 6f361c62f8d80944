// Article retrieval against the real INN of tests/peers, each test in groups
// of its own: a group chosen by hand (overview, sorting, Find Article, the
// chosen rows into the packet), and Stop and resume.
#include "NewsHost.h"
#include "PeerState.h"

#include <cstdlib>
#include <unistd.h>

using sessiontest::NewsHost;
using sessiontest::ProgramDir;
using testpeers::PeerState;

namespace {

struct Article {
    std::string from, subject;
};

// Posts through a plain socket (the seeding client of tests/peers), not
// through the code under test.
const char kPoster[] = R"(
import os, sys
sys.path.insert(0, os.path.dirname(sys.argv[1]))
import peers
c = peers.NntpClient(int(sys.argv[2]), sys.argv[3], sys.argv[4])
bad = [r for r in (c.post(a.encode()) for a in sys.stdin.read().split("\f\n") if a)
       if not r.startswith("240")]
c.close()
sys.exit(print(bad) or 1 if bad else 0)
)";

// A new group on the server holding these articles, numbered from 1.
std::string MakeGroup(const PeerState& peers, const std::string& tag,
                      const std::vector<Article>& articles)
{
    std::string name = "local.test.l" + std::to_string(::getpid()) + tag;
    std::string cmd = "runuser -u news -- env INNCONF=" + peers.Get("INNCONF") +
                      " /usr/lib/news/bin/ctlinnd -s newgroup " + name + " y tester";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::string input;
    for (std::size_t i = 0; i < articles.size(); ++i)
        input += "From: " + articles[i].from + "\nNewsgroups: " + name +
                 "\nSubject: " + articles[i].subject + "\nMessage-ID: <" + name + "." +
                 std::to_string(i + 1) + "@live.test>\n\nBody of " + std::to_string(i + 1) +
                 ".\n\f\n";
    auto r = testutil::RunProgram({"/usr/bin/python3", "-c", kPoster, MT_PEERS_SCRIPT,
                                   peers.Get("NNTP_PORT"), peers.Get("NNTP_USER"),
                                   peers.Get("NNTP_PASS")},
                                  {}, input);
    EXPECT_EQ(r.iExit, 0) << r.out << r.err;
    return name;
}

std::vector<Article> Plain(int iCount)
{
    std::vector<Article> out;
    for (int i = 1; i <= iCount; ++i)
        out.push_back({"Seeder <s@live.test>", "item " + std::to_string(i)});
    return out;
}

// The article numbers of a manual group's rows, in row order.
std::vector<int> Numbers(const std::vector<std::string>& rows)
{
    std::vector<int> out;
    for (const auto& row : rows)
        out.push_back(std::atoi(row.substr(2, 6).c_str()));
    return out;
}

class ArticlesLive : public ::testing::Test {
protected:
    void SetUp() override
    {
        prototest::EnsureWinsock();
        ASSERT_TRUE(peers.Ok()) << peers.Error();
        ASSERT_TRUE(host.Connect(static_cast<std::uint16_t>(peers.GetInt("NNTP_PORT")),
                                 peers.Get("NNTP_USER").c_str(), peers.Get("NNTP_PASS").c_str()));
    }
    void TearDown() override
    {
        w.reset();
        EXPECT_TRUE(host.Quit());
    }
    // A groups window on the host's connection over the list loaded now.
    WGroups& Open(const std::string& list)
    {
        w.reset();
        dir.LoadGroups(list);
        w = host.OpenGroups();
        return *w;
    }
    // Until the window has nothing under way.
    bool Idle()
    {
        return fw::MessageLoop::PumpUntil([this] { return !w->Retrieving(); }, 20000);
    }
    std::int32_t Pointer(const std::string& group) { return dir.Group(group)->m_lPointer; }

    PeerState peers;
    ProgramDir dir;
    testutil::TempDir work;
    NewsHost host{work.Path()};
    std::vector<std::string>& converted = host.converted;
    std::unique_ptr<WGroups> w;
};

TEST_F(ArticlesLive, ManualGroupSortsFindsAndFetchesTheChosenRows)
{
    std::string g = MakeGroup(peers, "m",
                              {{"Bea <bea@live.test>", "zoo trip"},
                               {"Al <al@live.test>", "Re: apple"},
                               {"Bea <bea@live.test>", "lunch"},
                               {"AL <al@live.test>", "RE: Zoo trip"},
                               {"Bea <bea@live.test>", "apple"}});
    dir.ini->WriteInt("Articles", "Sort", 3);
    Open(g + ",1,1,0,,\r\n").Retrieve(true);
    ASSERT_TRUE(Idle());
    ASSERT_EQ(w->ArticleWindows().size(), 1u);
    WArticles& a = *w->ArticleWindows()[0];
    RecordingArticlesView& v = *host.views[0];
    EXPECT_EQ(v.title, g + ",  5 new out of 5 total");
    EXPECT_FALSE(Has(v.statuses, "XOVER command not supported"));
    EXPECT_EQ(Pointer(g), 6) << "the whole range counts as seen";
    EXPECT_TRUE(converted.empty()) << "headers only";
    // The rows sorted, and sorted anew (every key: ArticleRules' table).
    EXPECT_EQ(Numbers(v.rows), (std::vector<int>{2, 5, 3, 1, 4}));
    a.Sort(2);
    EXPECT_EQ(Numbers(v.rows), (std::vector<int>{2, 4, 1, 3, 5}));
    a.Sort(3);

    // Find from the top, Repeat after the caret, case ignored.
    EXPECT_EQ(a.FindArticle("ZOO", false), 3);
    EXPECT_EQ(a.FindArticle("ZOO", true), 4);
    EXPECT_EQ(a.FindArticle("ZOO", true), -1);
    ASSERT_EQ(dir.boxes.boxes.size(), 1u);
    EXPECT_EQ(dir.boxes.boxes[0].text, "Could not find article.");

    // One row by itself, then a run over it and two others.
    ASSERT_TRUE(a.RetrieveRow(3));
    ASSERT_TRUE(Idle());
    EXPECT_EQ(converted, (std::vector<std::string>{g + ":1"}));
    v.HighlightRow(0, true);
    ASSERT_TRUE(a.RetrieveSelected());
    ASSERT_TRUE(Idle());
    EXPECT_TRUE(Has(v.statuses, "Done retrieving selected articles in " + g));
    EXPECT_EQ(converted, (std::vector<std::string>{g + ":1", g + ":2", g + ":4"}))
        << "the row already fetched is not fetched again";
    std::vector<char> marks;
    for (const auto& row : v.rows)
        marks.push_back(row[0]);
    EXPECT_EQ(marks, (std::vector<char>{'+', ' ', ' ', '+', '+'}));
    std::vector<std::string> subjects;
    for (SummaryInfo* p = host.pMessages->List().First(); p; p = host.pMessages->List().Next())
        subjects.push_back(p->m_szSubject);
    EXPECT_EQ(subjects, (std::vector<std::string>{"zoo trip", "Re: apple", "RE: Zoo trip"}));
    EXPECT_EQ(Pointer(g), 6) << "a chosen fetch leaves the pointer";
}

TEST_F(ArticlesLive, StopEndsAfterTheArticleAndTheCommandAgainResumesWithTheNextGroup)
{
    std::string a = MakeGroup(peers, "a", Plain(5));
    std::string b = MakeGroup(peers, "b", Plain(3));
    Open(a + ",3,1,0,,\r\n" + b + ",3,1,0,,\r\n");
    host.onConverted = [this] {
        if (converted.size() == 2)
            w->Stop();
    };
    w->Retrieve(true);
    ASSERT_TRUE(Idle());
    EXPECT_EQ(converted, (std::vector<std::string>{a + ":1", a + ":2"}));
    EXPECT_EQ(Pointer(a), 3) << "after the last article received";
    EXPECT_EQ(Pointer(b), 1);
    EXPECT_TRUE(Has(host.views.at(0)->statuses, "Stopped"));

    host.onConverted = nullptr;
    converted.clear();
    w->Retrieve(true);
    ASSERT_TRUE(Idle());
    EXPECT_EQ(converted, (std::vector<std::string>{b + ":1", b + ":2", b + ":3"}));
    EXPECT_EQ(Pointer(a), 3);
    EXPECT_EQ(Pointer(b), 4);

    // Once done, the command starts over: the stopped group's rest.
    converted.clear();
    w->Retrieve(true);
    ASSERT_TRUE(Idle());
    EXPECT_EQ(converted, (std::vector<std::string>{a + ":3", a + ":4", a + ":5"}));
    EXPECT_EQ(Pointer(a), 6);
    EXPECT_EQ(Pointer(b), 4);

    // Nothing new anywhere: nothing is fetched, and each group says so.
    converted.clear();
    w->Retrieve(true);
    ASSERT_TRUE(Idle());
    EXPECT_TRUE(converted.empty());
    const auto& said = static_cast<RecordingGroupsView&>(w->View()).statuses;
    EXPECT_TRUE(Has(said, "No new articles in " + a) && Has(said, "No new articles in " + b));
}

} // namespace
