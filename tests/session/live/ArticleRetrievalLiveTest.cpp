// Article retrieval against the real INN of tests/peers, each test in groups
// of its own: a group chosen by hand (overview, sorting, Find Article, the
// chosen rows into the packet), Stop and resume, the range rules with the
// server's real numbers, and the pointers that a failed save must not write.
#include "MainFixture.h"
#include "NewsHost.h"
#include "PeerState.h"
#include "RecordingViews.h"

#include "mainwin/Commands.h"
#include "packet/Rfcmsg.h"
#include "session/WGroups.h"

#include <cstdlib>
#include <sys/stat.h>
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
        GroupsOwner owner;
        owner.client = [this] { return &host.client; };
        owner.messages = [this]() -> Rfcmsg& {
            if (!pMessages)
                pMessages = std::make_unique<Rfcmsg>(work.Path());
            return *pMessages;
        };
        owner.createArticlesView = [this] {
            auto p = std::make_unique<RecordingArticlesView>();
            views.push_back(p.get());
            return p;
        };
        owner.converted = [this](const std::string& g, std::int32_t n) {
            converted.push_back(g + ":" + std::to_string(n));
            if (onConverted)
                onConverted();
        };
        w = std::make_unique<WGroups>(owner, std::make_unique<RecordingGroupsView>());
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
    std::unique_ptr<Rfcmsg> pMessages;
    std::unique_ptr<WGroups> w;
    std::vector<RecordingArticlesView*> views;
    std::vector<std::string> converted;
    std::function<void()> onConverted;
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
    RecordingArticlesView& v = *views[0];
    EXPECT_EQ(v.title, g + ",  5 new out of 5 total");
    EXPECT_FALSE(v.Saw("XOVER command not supported"));
    EXPECT_EQ(Pointer(g), 6) << "the whole range counts as seen";
    EXPECT_TRUE(converted.empty()) << "headers only";
    // A reply beside its article whatever the prefix's case; equal keys
    // (and senders equal but for case) in number order.
    EXPECT_EQ(Numbers(v.rows), (std::vector<int>{2, 5, 3, 1, 4}));
    a.Sort(2);
    EXPECT_EQ(Numbers(v.rows), (std::vector<int>{2, 4, 1, 3, 5}));
    EXPECT_EQ(dir.ini->GetInt("Articles", "Sort", 0), 2);
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
    EXPECT_TRUE(v.Saw("Done retrieving selected articles in " + g));
    EXPECT_EQ(converted, (std::vector<std::string>{g + ":1", g + ":2", g + ":4"}))
        << "the row already fetched is not fetched again";
    std::vector<char> marks;
    for (const auto& row : v.rows)
        marks.push_back(row[0]);
    EXPECT_EQ(marks, (std::vector<char>{'+', ' ', ' ', '+', '+'}));
    std::vector<std::string> subjects;
    for (SummaryInfo* p = pMessages->List().First(); p; p = pMessages->List().Next())
        subjects.push_back(p->m_szSubject);
    EXPECT_EQ(subjects, (std::vector<std::string>{"zoo trip", "Re: apple", "RE: Zoo trip"}));
    EXPECT_EQ(Pointer(g), 6) << "a chosen fetch leaves the pointer";
}

TEST_F(ArticlesLive, StopEndsAfterTheArticleAndTheCommandAgainResumesWithTheNextGroup)
{
    std::string a = MakeGroup(peers, "a", Plain(5));
    std::string b = MakeGroup(peers, "b", Plain(3));
    Open(a + ",3,1,0,,\r\n" + b + ",3,1,0,,\r\n");
    onConverted = [this] {
        if (converted.size() == 2)
            w->Stop();
    };
    w->Retrieve(true);
    ASSERT_TRUE(Idle());
    EXPECT_EQ(converted, (std::vector<std::string>{a + ":1", a + ":2"}));
    EXPECT_EQ(Pointer(a), 3) << "after the last article received";
    EXPECT_EQ(Pointer(b), 1);
    EXPECT_TRUE(views.at(0)->Saw("Stopped"));

    onConverted = nullptr;
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
}

TEST_F(ArticlesLive, PointersBeyondTheServersNumbersOrCountingBack)
{
    std::string g = MakeGroup(peers, "n", Plain(5));
    struct Case {
        std::int32_t pointer;
        std::vector<int> fetched;
        const char* status; // the groups window's
    } cases[] = {
        {500, {1, 2, 3, 4, 5}, "Done retrieving"}, // the server was renumbered
        {-2, {3, 4, 5}, "Done retrieving"},
        {6, {}, "No new articles in "},
        {7, {1, 2, 3, 4, 5}, "Done retrieving"}, // one past what is new: renumbered
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pointer);
        converted.clear();
        Open(g + ",3," + std::to_string(c.pointer) + ",0,,\r\n").Retrieve(true);
        ASSERT_TRUE(Idle());
        std::vector<std::string> want;
        for (int n : c.fetched)
            want.push_back(g + ":" + std::to_string(n));
        EXPECT_EQ(converted, want);
        EXPECT_EQ(Pointer(g), 6);
        const auto& said = static_cast<RecordingGroupsView&>(w->View()).statuses;
        std::string expect = c.status[0] == 'N' ? c.status + g : c.status;
        EXPECT_NE(std::find(said.begin(), said.end(), expect), said.end());
    }
}

// The main window online with the real server, its packet saved or not.
class PointersLive : public MainFixture {
protected:
    void SetUp() override
    {
        prototest::EnsureWinsock();
        MainFixture::SetUp();
        ASSERT_TRUE(peers.Ok()) << peers.Error();
    }
    // A new program whose list holds the group alone, online with the
    // server; the packet directory cannot be made (a file is in its way).
    void Start(const std::string& group)
    {
        Build({});
        pIni->WriteString("Servers", "NNTPServer", "127.0.0.1");
        pIni->WriteInt("Servers", "NNTPPort", peers.GetInt("NNTP_PORT"));
        pIni->WriteString("Servers", "NNTPName", peers.Get("NNTP_USER"));
        ASSERT_TRUE(pIni->StoreNntpPassword(peers.Get("NNTP_PASS")));
        pIni->WriteInt("Groups", "Retrieve", 0);
        blocker = home.File("blocker" + std::to_string(++iStarts));
        testutil::WriteFile(blocker, "");
        pIni->WriteString("Directories", "Qwk", blocker + "/qwk");
        while (pGroups->Count() > 0)
            pGroups->Remove(pGroups->At(0)->m_szName);
        pGroups->Add(group, 3, 1, 1000, "", "");
        ASSERT_TRUE(pGroups->Save());
        pMain->OnCommand(CMD_CONNECT);
        ASSERT_TRUE(Pump([this] { return pMain->m_bNewsConnected; }));
    }
    bool Pump(const std::function<bool()>& cond) { return fw::MessageLoop::PumpUntil(cond, 20000); }
    // The group's line in the newsgroups file on disk.
    std::string OnDisk(const std::string& group)
    {
        std::string text = testutil::ReadFile(pStartup->m_szNwsFile);
        std::size_t at = text.find(group + ",");
        return at == std::string::npos ? "" : text.substr(at, text.find('\r', at) - at);
    }
    PeerState peers;
    std::string blocker;
    int iStarts = 0;
};

TEST_F(PointersLive, AFailedSaveNeverWritesThePointersPastItsArticles)
{
    std::string g = MakeGroup(peers, "p", Plain(3));
    const std::string before = g + ",3,1,1000,,";
    for (bool bSaveLater : {true, false}) {
        SCOPED_TRACE(bSaveLater ? "saved after all" : "dropped at exit");
        Start(g);
        pMain->OnCommand(CMD_GETNEW);
        ASSERT_TRUE(Pump([this] { return pMain->GroupsWindow()->Done(); }));
        ASSERT_TRUE(pMain->Messages());
        EXPECT_EQ(pGroups->Find(g) ? pGroups->Current()->m_lPointer : 0, 4);
        pMain->OnCommand(CMD_DISCONNECT);
        ASSERT_TRUE(Pump([this] { return !pMain->m_bNewsQuitting; }));

        pMain->OnCommand(CMD_SAVE);
        ASSERT_TRUE(pMain->Messages()) << "not saved";
        EXPECT_EQ(OnDisk(g), before);
        if (bSaveLater) {
            boxes.answers = {fw::IDNO}; // do not drop the unsaved messages
            pMain->OnCommand(CMD_EXIT);
            ASSERT_FALSE(pMain->Exited());
            EXPECT_EQ(OnDisk(g), before);
            ::unlink(blocker.c_str());
            ASSERT_EQ(::mkdir(blocker.c_str(), 0700), 0);
            ASSERT_EQ(::mkdir((blocker + "/qwk").c_str(), 0700), 0);
            pMain->OnCommand(CMD_SAVE);
            ASSERT_FALSE(pMain->Messages()) << "saved";
            EXPECT_EQ(OnDisk(g).rfind(g + ",3,4,", 0), 0u) << OnDisk(g);
        } else {
            // Drop them, and Yes to saving the current pointers: still not
            // past what no packet holds.
            boxes.answers = {fw::IDYES, fw::IDYES};
            pMain->OnCommand(CMD_EXIT);
            ASSERT_TRUE(pMain->Exited());
            ASSERT_TRUE(pGroups->Save()); // as the program's end does
            EXPECT_EQ(OnDisk(g), before);
        }
    }
}

} // namespace
