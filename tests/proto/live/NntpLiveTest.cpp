// CNNTP against a real news server (INN, on loopback by tests/peers): the
// overview, and articles byte for byte against the server's spool, and the
// search for the first new article.  The group lists against the same server
// are the headless program's test (tests/e2e).
#include "ClientHarness.h"
#include "NntpHarness.h"
#include "PeerState.h"
#include "TestUtil.h"

#include "framework/Files.h"
#include "proto/CNNTP.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <sstream>
#include <thread>
#include <unistd.h>

using prototest::NntpNote;
using prototest::NntpRecorder;
using testpeers::PeerState;

namespace {

class NntpLive : public ::testing::Test {
protected:
    void SetUp() override
    {
        prototest::EnsureWinsock();
        ASSERT_TRUE(peers.Ok()) << peers.Error();
        port = static_cast<std::uint16_t>(peers.GetInt("NNTP_PORT"));
        ASSERT_NE(port, 0);
        ASSERT_TRUE(client.Connect(&rec, CNNTP::MSG_CONNECT, peers.Get("PEERS_HOST").c_str(), port,
                                   nullptr, nullptr));
        NntpNote n = Next();
        ASSERT_EQ(n.kind, NntpNote::CONNECTED) << n.reply;
    }
    void TearDown() override
    {
        if (client.IsReady() && client.Quit(&rec, CNNTP::MSG_QUIT)) {
            NntpNote n = Next();
            EXPECT_EQ(n.w, static_cast<fw::WPARAM>(CNNTP::STATUS_QUIT));
        }
        EXPECT_TRUE(fw::ListDirectory(dir.Path()).empty());
    }
    NntpNote Next() { return rec.Next(&seen); }
    NntpNote Group(const std::string& name, std::int64_t tSince = 0)
    {
        EXPECT_TRUE(client.Group(&rec, CNNTP::MSG_GROUP, name.c_str(), tSince, nullptr, nullptr));
        return Next();
    }
    // An article as the spool keeps it (the wire form: CR LF, dots doubled,
    // the final dot line), as the client must store it.
    std::string Spool(const std::string& group, int n)
    {
        std::string path = peers.Get("PEERS_DIR") + "/nntp/spool/articles/";
        for (char c : group)
            path += c == '.' ? '/' : c;
        std::string wire = testutil::ReadFile(path + "/" + std::to_string(n)), out;
        EXPECT_GE(wire.size(), 3u);
        EXPECT_EQ(wire.substr(wire.size() - 3), ".\r\n");
        for (std::size_t pos = 0; pos + 3 < wire.size();) {
            std::size_t end = wire.find("\r\n", pos);
            out += wire.substr(pos + (wire[pos] == '.'), end + 2 - pos - (wire[pos] == '.'));
            pos = end + 2;
        }
        return out;
    }

    PeerState peers;
    std::uint16_t port = 0;
    testutil::TempDir dir;
    CNNTP client{dir.Path().c_str()};
    NntpRecorder rec{client};
    std::size_t seen = 0;
};

TEST_F(NntpLive, OverviewAndArticlesByteForByte)
{
    const int iLast = peers.GetInt("NNTP_ARTICLES_BIG");
    ASSERT_GT(iLast, 10);
    NntpNote g = Group("local.test.big");
    ASSERT_EQ(g.kind, NntpNote::GROUP) << g.reply;
    EXPECT_EQ(g.group.iFirst, 1);
    EXPECT_EQ(g.group.iLast, iLast);
    ASSERT_TRUE(client.Xover(&rec, CNNTP::MSG_XOVER, 1, iLast));
    NntpNote x = Next();
    ASSERT_EQ(x.kind, NntpNote::FILE) << x.reply;

    // One line per article, in order; each names its article's Message-ID.
    std::istringstream overview(x.content);
    std::vector<std::string> lines;
    for (std::string line; std::getline(overview, line);)
        lines.push_back(line);
    ASSERT_EQ(static_cast<int>(lines.size()), iLast);
    for (int n = 1; n <= iLast; ++n)
        EXPECT_EQ(lines[n - 1].rfind(std::to_string(n) + "\t", 0), 0u) << lines[n - 1];

    // Every kind of seeded article (the plain one has the dot lines).
    for (int n = 1; n <= 10; ++n) {
        SCOPED_TRACE(n);
        ASSERT_TRUE(client.Article(&rec, CNNTP::MSG_ARTICLE, n));
        NntpNote a = Next();
        ASSERT_EQ(a.kind, NntpNote::FILE) << a.reply;
        EXPECT_EQ(a.iArticle, n);
        EXPECT_EQ(a.content, Spool("local.test.big", n));
        std::string id = a.content.substr(a.content.find("Message-ID: ") + 12);
        EXPECT_NE(lines[n - 1].find("\t" + id.substr(0, id.find("\r\n")) + "\t"),
                  std::string::npos);
    }
    // The headers of the current article, then NEXT over a cancelled gap.
    ASSERT_EQ(Group("local.test.alpha").kind, NntpNote::GROUP);
    ASSERT_TRUE(client.Head(&rec, CNNTP::MSG_HEADER, 2));
    NntpNote h = Next();
    ASSERT_EQ(h.kind, NntpNote::FILE);
    std::string article = Spool("local.test.alpha", 2);
    EXPECT_EQ(h.content, article.substr(0, article.find("\r\n\r\n") + 2));
    ASSERT_TRUE(client.NextArticle(&rec, CNNTP::MSG_ARTICLE));
    NntpNote next = Next();
    ASSERT_EQ(next.kind, NntpNote::FILE) << next.reply;
    EXPECT_EQ(next.iArticle, 5);
    EXPECT_EQ(next.content, Spool("local.test.alpha", 5));
    ASSERT_TRUE(client.Article(&rec, CNNTP::MSG_ARTICLE, 3));
    EXPECT_EQ(Next().kind, NntpNote::REFUSED);
}

TEST_F(NntpLive, DatePointerFindsTheFirstNewArticle)
{
    // A group of this test's own, so nothing else posts into it.
    std::string group = "local.test.ptr" + std::to_string(::getpid());
    std::string cmd = "runuser -u news -- env INNCONF=" + peers.Get("INNCONF") +
                      " /usr/lib/news/bin/ctlinnd -s newgroup " + group + " y tester";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    auto seed = [&](int iCount, const std::string& prefix) {
        return std::system(("/usr/bin/python3 " MT_PEERS_SCRIPT " seed-nntp --port " +
                            std::to_string(port) + " --group " + group + " --count " +
                            std::to_string(iCount) + " --prefix " + prefix + " >/dev/null")
                               .c_str());
    };
    ASSERT_EQ(seed(1, "before"), 0);
    // The server keeps arrival times in seconds: the since-time is the next
    // second, which only the later articles reach.
    std::time_t tFirst = std::time(nullptr);
    while (std::time(nullptr) <= tFirst)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::time_t tSince = std::time(nullptr);
    ASSERT_EQ(seed(2, "after"), 0);

    NntpNote g = Group(group, tSince);
    ASSERT_EQ(g.kind, NntpNote::GROUP) << g.reply;
    EXPECT_EQ(g.group.iFirst, 1);
    EXPECT_EQ(g.group.iLast, 3);
    EXPECT_EQ(g.group.iFirstNew, 2);
    g = Group(group, tFirst - 3600);
    ASSERT_EQ(g.kind, NntpNote::GROUP) << g.reply;
    EXPECT_EQ(g.group.iFirstNew, 1);
    // Nothing since: no number, and the connection goes on.
    g = Group(group, tSince + 3600);
    ASSERT_EQ(g.kind, NntpNote::GROUP) << g.reply;
    EXPECT_EQ(g.group.iFirstNew, 0);
    ASSERT_TRUE(client.Article(&rec, CNNTP::MSG_ARTICLE, 2));
    NntpNote a = Next();
    ASSERT_EQ(a.kind, NntpNote::FILE);
    EXPECT_NE(a.content.find("Message-ID: <after.1@peers.test>"), std::string::npos);
}

} // namespace
