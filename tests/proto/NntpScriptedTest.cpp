// CNNTP against scripted servers: exact transcripts with every reply split at
// every byte or joined two per send, logins, encryption asked of a plain
// server, the search for the first new article, stopping a transfer,
// refusals, closes and aborts.
#include "ClientHarness.h"
#include "NntpHarness.h"
#include "ScriptedServer.h"
#include "TestUtil.h"

#include "framework/Files.h"
#include "net/CTls.h"
#include "net/Wsa.h"
#include "proto/CNNTP.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

using prototest::NntpNote;
using prototest::NntpRecorder;
using Split = ScriptedServer::Split;

namespace {

const char kGreeting[] = "200 news.example.org ready\r\n";

void Quit(ScriptedServer& s) { s.Expect("QUIT\r\n").Say("205 bye\r\n").ExpectClose(); }
// A login the server asked for, accepted.
void Login(ScriptedServer& s, const std::string& user = "joe", const std::string& pass = "pw")
{
    s.Expect("AUTHINFO USER " + user + "\r\n").Say("381 More authentication required\r\n");
    s.Expect("AUTHINFO PASS " + pass + "\r\n").Say("281 Authentication accepted\r\n");
}
// The start of the search for the first new article since kSince2001.
void Since(ScriptedServer& s, const std::string& g)
{
    s.Expect("GROUP " + g + "\r\n").Say("211 9 2 10 " + g + "\r\n");
    s.Expect("NEWNEWS " + g + " 010203 040506 GMT\r\n");
}

class NntpScripted : public ::testing::Test {
protected:
    void SetUp() override { prototest::EnsureWinsock(); }

    // Starts the server (its script begins with the greeting) and connects.
    void Connect(ScriptedServer& s, const char* pszUser = "joe", const char* pszPass = "pw")
    {
        ASSERT_TRUE(s.Start());
        ASSERT_TRUE(
            client.Connect(&rec, CNNTP::MSG_CONNECT, "127.0.0.1", s.Port(), pszUser, pszPass));
        NntpNote n = Next();
        ASSERT_EQ(n.kind, NntpNote::CONNECTED) << s.Report();
        ASSERT_EQ(n.l, 0);
        ASSERT_EQ(n.uMsg, CNNTP::MSG_CONNECT);
    }
    NntpNote Next() { return rec.Next(&seen); }
    // QUIT and the end of the connection: status 1.
    void QuitAndFinish(ScriptedServer& s)
    {
        ASSERT_TRUE(client.Quit(&rec, CNNTP::MSG_QUIT));
        NntpNote n = Next();
        EXPECT_EQ(n.kind, NntpNote::END);
        EXPECT_EQ(n.w, static_cast<fw::WPARAM>(CNNTP::STATUS_QUIT));
        EXPECT_EQ(n.uMsg, CNNTP::MSG_QUIT);
        EXPECT_STREQ(reinterpret_cast<const char*>(n.l), "QUIT\r\n");
        EXPECT_TRUE(s.Finish()) << s.Report();
        EXPECT_TRUE(client.IsIdle());
    }
    NntpNote Group(const char* pszGroup, std::int64_t tSince = 0, const char* pszUser = nullptr,
                   const char* pszPass = nullptr)
    {
        EXPECT_TRUE(client.Group(&rec, CNNTP::MSG_GROUP, pszGroup, tSince, pszUser, pszPass));
        return Next();
    }
    void ExpectNoFilesLeft() { EXPECT_TRUE(fw::ListDirectory(dir.Path()).empty()); }
    // An operation that must start, and its notification.
    NntpNote Run(bool bStarted)
    {
        EXPECT_TRUE(bStarted);
        return Next();
    }
    static void ExpectEnd(const NntpNote& n, int status)
    {
        EXPECT_EQ(n.kind, NntpNote::END);
        EXPECT_EQ(n.w, static_cast<fw::WPARAM>(status));
    }

    testutil::TempDir dir;
    CNNTP client{dir.Path().c_str()};
    NntpRecorder rec{client};
    std::size_t seen = 0;
};

class NntpSplit : public NntpScripted, public ::testing::WithParamInterface<Split> {};

TEST_P(NntpSplit, GroupOverviewArticleAndQuit)
{
    ScriptedServer s(GetParam());
    s.Say(kGreeting).Expect("GROUP local.test\r\n").Say("211 20 3 22 local.test\r\n");
    s.Expect("XOVER 3-5\r\n").Say("224 Overview information follows\r\n");
    s.Say("3\tHello\tjoe@x\tdate\t<a@x>\t\t12\t1\r\n5\t...dots\tjoe@x\td\t<b@x>\t\t9\t1\r\n.\r\n");
    // Dot lines: "..", "...", ". " and ".text" all arrive unstuffed.
    s.Expect("ARTICLE 5\r\n").Say("220 5 <b@x> article\r\nSubject: x\r\n\r\n..\r\n...\r\n");
    s.Say(". \r\n.text\r\nend.\r\n.\r\n");
    Quit(s);
    Connect(s);

    NntpNote g = Group("local.test");
    ASSERT_EQ(g.kind, NntpNote::GROUP);
    EXPECT_EQ(g.uMsg, CNNTP::MSG_GROUP);
    EXPECT_EQ(g.group.iCount, 20);
    EXPECT_EQ(g.group.iFirst, 3);
    EXPECT_EQ(g.group.iLast, 22);
    EXPECT_EQ(g.group.iFirstNew, 0);

    NntpNote x = Run(client.Xover(&rec, CNNTP::MSG_XOVER, 3, 5));
    ASSERT_EQ(x.kind, NntpNote::FILE);
    EXPECT_EQ(x.uMsg, CNNTP::MSG_XOVER);
    EXPECT_EQ(x.iArticle, 3);
    EXPECT_EQ(x.iStop, 0);
    EXPECT_EQ(x.content,
              "3\tHello\tjoe@x\tdate\t<a@x>\t\t12\t1\r\n5\t...dots\tjoe@x\td\t<b@x>\t\t9\t1\r\n");
    EXPECT_EQ(fw::BaseName(x.file).substr(0, 3), "NWZ");
    EXPECT_EQ(fw::DirName(x.file), dir.Path());

    int iLinesBefore = rec.iLines;
    NntpNote a = Run(client.Article(&rec, CNNTP::MSG_ARTICLE, 5));
    ASSERT_EQ(a.kind, NntpNote::FILE);
    EXPECT_EQ(a.iArticle, 5);
    EXPECT_EQ(a.content, "Subject: x\r\n\r\n.\r\n..\r\n \r\ntext\r\nend.\r\n");
    EXPECT_NE(a.file, x.file);
    // One progress note per stored line, carrying the article number.
    EXPECT_EQ(iLinesBefore, 2);
    EXPECT_EQ(rec.iLines, 9);
    EXPECT_EQ(rec.lineArticles.front(), 3);
    EXPECT_EQ(rec.lineArticles.back(), 5);

    QuitAndFinish(s);
    ExpectNoFilesLeft();
    EXPECT_EQ(client.m_iLastError, 0);
}

INSTANTIATE_TEST_SUITE_P(Wire, NntpSplit,
                         ::testing::Values(Split::Whole, Split::Bytes, Split::Pairs),
                         [](const auto& info) { return std::string(SplitName(info.param)); });

TEST_F(NntpScripted, LoginsTheirLimitsAndTheGroupsCredentials)
{
    // A server that never accepts a login is given up after three tries,
    // and the connection stays usable.
    ScriptedServer s(Split::Pairs);
    s.Say(kGreeting);
    for (int i = 0; i < CNNTP::kMaxLogins; ++i) {
        s.Expect("LIST\r\n").Say("480 Authentication required\r\n");
        s.Expect("AUTHINFO USER joe\r\n").Say("281 ok\r\n");
    }
    s.Expect("LIST\r\n").Say("480 Authentication required\r\n");
    // A refused password: the refusal is reported, no retry.
    s.Expect("HEAD 4\r\n").Say("480 Authentication required\r\n");
    s.Expect("AUTHINFO USER joe\r\n").Say("381 More\r\n");
    s.Expect("AUTHINFO PASS pw\r\n").Say("481 Authentication failed\r\n");
    s.Expect("HEAD 4\r\n").Say("221 4 <x@y>\r\nSubject: s\r\n.\r\n");
    // A group's permission refusal takes the group's credentials.
    s.Expect("GROUP secret.group\r\n").Say("450 Permission denied\r\n");
    Login(s, "gu", "gp");
    s.Expect("GROUP secret.group\r\n").Say("211 2 1 2 secret.group\r\n");
    // A 480 to GROUP takes the connection's credentials.
    s.Expect("GROUP other.group\r\n").Say("480 Authentication required\r\n");
    Login(s);
    s.Expect("GROUP other.group\r\n").Say("211 0 1 0 other.group\r\n");
    // Without the group's credentials the refusal stands.
    s.Expect("GROUP third.group\r\n").Say("450 Permission denied\r\n");
    // An unknown group leaves the connection usable.
    s.Expect("GROUP no.such\r\n").Say("411 No such group\r\n");
    s.Expect("GROUP other.group\r\n").Say("211 0 1 0 other.group\r\n");
    Quit(s);
    Connect(s);
    NntpNote n = Run(client.GroupList(&rec, CNNTP::MSG_GROUP_LIST, 0));
    EXPECT_EQ(n.kind, NntpNote::REFUSED) << s.Report();
    EXPECT_EQ(n.reply, "480 Authentication required");
    n = Run(client.Head(&rec, CNNTP::MSG_HEADER, 4));
    EXPECT_EQ(n.kind, NntpNote::REFUSED);
    EXPECT_EQ(n.reply, "481 Authentication failed");
    n = Run(client.Head(&rec, CNNTP::MSG_HEADER, 4));
    ASSERT_EQ(n.kind, NntpNote::FILE);
    EXPECT_EQ(n.content, "Subject: s\r\n");
    NntpNote g = Group("secret.group", 0, "gu", "gp");
    ASSERT_EQ(g.kind, NntpNote::GROUP) << s.Report();
    EXPECT_EQ(g.group.iLast, 2);
    EXPECT_EQ(Group("other.group", 0, "gu", "gp").kind, NntpNote::GROUP);
    EXPECT_EQ(Group("third.group").kind, NntpNote::REFUSED);
    NntpNote u = Group("no.such");
    EXPECT_EQ(u.kind, NntpNote::REFUSED);
    EXPECT_EQ(u.l, 0);
    EXPECT_EQ(u.reply, "411 No such group");
    EXPECT_EQ(Group("other.group").kind, NntpNote::GROUP);
    QuitAndFinish(s);

    // Without credentials nothing is sent: the demand is reported.
    ScriptedServer t;
    t.Say(kGreeting).Expect("NEXT\r\n").Say("480 Authentication required\r\n");
    Quit(t);
    Connect(t, nullptr, nullptr);
    EXPECT_EQ(Run(client.NextArticle(&rec, CNNTP::MSG_ARTICLE)).kind, NntpNote::REFUSED);
    QuitAndFinish(t);
}

// 2001-02-03 04:05:06 UTC.
const std::int64_t kSince2001 = 981173106;

TEST_F(NntpScripted, FirstNewArticleSearch)
{
    ScriptedServer s(Split::Pairs);
    s.Say(kGreeting);
    // STAT gives the number of the first new article.
    Since(s, "g");
    s.Say("230 list follows\r\n<a@x>\r\n<b@x>\r\n.\r\n");
    s.Expect("STAT <a@x>\r\n").Say("223 7 <a@x> status\r\n");
    // A refused STAT ends the search; a login demand on NEWNEWS starts it
    // again from GROUP.
    Since(s, "g");
    s.Say("230 follows\r\n<a@x>\r\n<b@x>\r\n.\r\n");
    s.Expect("STAT <a@x>\r\n").Say("430 No such article\r\n");
    Since(s, "g");
    s.Say("480 Authentication required\r\n");
    Login(s);
    Since(s, "g");
    s.Say("230 follows\r\n<b@x>\r\n.\r\n");
    s.Expect("STAT <b@x>\r\n").Say("223 9 <b@x>\r\n");
    // STAT gives 0: the number comes from the Xref of the header, the one
    // for this group, even in a folded field; from then on only the header
    // is asked for.
    Since(s, "a.b");
    s.Say("230 list follows\r\n<gone@x>\r\nnot-an-id\r\n<c@x>\r\n.\r\n");
    s.Expect("STAT <gone@x>\r\n").Say("223 0 <gone@x> status\r\n");
    s.Expect("HEAD <gone@x>\r\n").Say("430 No such article\r\n");
    s.Expect("HEAD <c@x>\r\n").Say("221 0 <c@x>\r\nSubject: s\r\nXref: host a.bc:99\r\n");
    s.Say(" x.y:3 a.b:8\r\n.\r\n");
    // A header without Xref ends the search: no header here will tell.
    Since(s, "a.b");
    s.Say("230 follows\r\n<d@x>\r\n<e@x>\r\n.\r\n");
    s.Expect("HEAD <d@x>\r\n").Say("221 0 <d@x>\r\nSubject: s\r\n.\r\n");
    // Nothing new at all: number 0.
    Since(s, "a.b");
    s.Say("230 follows\r\n.\r\n");
    Quit(s);
    // The time goes as UTC whatever the local zone.
    const char* pszTz = std::getenv("TZ");
    std::string oldTz = pszTz ? pszTz : "";
    ::setenv("TZ", "EST5EDT", 1);
    ::tzset();
    Connect(s);
    NntpNote g = Group("g", kSince2001);
    pszTz ? ::setenv("TZ", oldTz.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
    ASSERT_EQ(g.kind, NntpNote::GROUP) << s.Report();
    EXPECT_EQ(g.group.iFirst, 2);
    EXPECT_EQ(g.group.iFirstNew, 7);
    g = Group("g", kSince2001);
    EXPECT_EQ(g.kind, NntpNote::REFUSED) << s.Report();
    EXPECT_EQ(g.reply, "430 No such article");
    for (int iWant : {9, 8, 0, 0}) {
        g = Group(iWant == 9 ? "g" : "a.b", kSince2001);
        ASSERT_EQ(g.kind, NntpNote::GROUP) << s.Report();
        EXPECT_EQ(g.group.iFirstNew, iWant);
    }
    QuitAndFinish(s);
}

TEST_F(NntpScripted, ListsHeadsNextAndRepliesOutOfProtocol)
{
    ScriptedServer s(Split::Bytes);
    s.Say(kGreeting).Expect("NEWGROUPS 010203 040506 GMT\r\n");
    s.Say("231 New newsgroups follow\r\nlocal.new 0 1 y\r\n.\r\n");
    s.Expect("LIST\r\n").Say("215 list follows\r\na.b 10 1 y\r\nc.d 0 1 m\r\n.\r\n");
    s.Expect("HEAD 5\r\n").Say("221 5 <e@x>\r\nSubject: five\r\n.\r\n");
    s.Expect("NEXT\r\n").Say("223 7 <g@x> retrieved\r\n");
    s.Expect("HEAD\r\n").Say("221 7 <g@x>\r\nSubject: seven\r\n.\r\n");
    s.Expect("NEXT\r\n").Say("223 9 <i@x> retrieved\r\n");
    s.Expect("ARTICLE 9\r\n").Say("220 9 <i@x>\r\nSubject: nine\r\n\r\nbody\r\n.\r\n");
    s.Expect("NEXT\r\n").Say("421 No next article\r\n");
    // 500: the server lacks the command; the connection stays.
    s.Expect("XOVER 1-9\r\n").Say("500 What?\r\n");
    // A class 3 reply to GROUP cannot be followed: QUIT, status 3.
    s.Expect("GROUP g\r\n").Say("340 send it\r\n");
    Quit(s);
    Connect(s);
    NntpNote n = Run(client.GroupList(&rec, CNNTP::MSG_GROUP_LIST, kSince2001));
    ASSERT_EQ(n.kind, NntpNote::FILE) << s.Report();
    EXPECT_EQ(n.uMsg, CNNTP::MSG_GROUP_LIST);
    EXPECT_EQ(n.content, "local.new 0 1 y\r\n");
    n = Run(client.GroupList(&rec, CNNTP::MSG_GROUP_LIST, 0));
    ASSERT_EQ(n.kind, NntpNote::FILE);
    EXPECT_EQ(n.content, "a.b 10 1 y\r\nc.d 0 1 m\r\n");
    EXPECT_EQ(Run(client.Head(&rec, CNNTP::MSG_HEADER, 5)).content, "Subject: five\r\n");
    n = Run(client.NextHead(&rec, CNNTP::MSG_HEADER));
    ASSERT_EQ(n.kind, NntpNote::FILE) << s.Report();
    EXPECT_EQ(n.iArticle, 7);
    EXPECT_EQ(n.content, "Subject: seven\r\n");
    n = Run(client.NextArticle(&rec, CNNTP::MSG_ARTICLE));
    ASSERT_EQ(n.kind, NntpNote::FILE) << s.Report();
    EXPECT_EQ(n.iArticle, 9);
    EXPECT_EQ(n.content, "Subject: nine\r\n\r\nbody\r\n");
    EXPECT_EQ(Run(client.NextArticle(&rec, CNNTP::MSG_ARTICLE)).kind, NntpNote::REFUSED);
    EXPECT_EQ(Run(client.Xover(&rec, CNNTP::MSG_XOVER, 1, 9)).kind, NntpNote::REFUSED);
    ExpectEnd(Group("g"), CNNTP::STATUS_FAILED);
    EXPECT_STREQ(client.ReplyLine(), "340 send it");
    EXPECT_TRUE(s.Finish()) << s.Report();
}

TEST_F(NntpScripted, StopDuringAnArticleReconnects)
{
    ScriptedServer s;
    std::atomic<bool> bStopped{false};
    rec.onNote = [&](const NntpNote& n) {
        if (n.kind == NntpNote::LINE && !bStopped) {
            client.Stop();
            bStopped = true;
        }
    };
    s.Say(kGreeting).Expect("ARTICLE 5\r\n").Say("220 5 <a@x>\r\nSubject: first\r\n");
    s.WaitFor([&] { return bStopped.load(); });
    s.Say("second line\r\nthird line\r\n.\r\n");
    s.ExpectReconnect();
    s.Say("200 again\r\n").Expect("GROUP g\r\n").Say("211 1 1 1 g\r\n");
    Quit(s);
    Connect(s);
    NntpNote a = Run(client.Article(&rec, CNNTP::MSG_ARTICLE, 5));
    ASSERT_EQ(a.kind, NntpNote::FILE) << s.Report();
    EXPECT_EQ(a.iStop, 1);
    EXPECT_EQ(a.iArticle, 5);
    EXPECT_EQ(a.content, "Subject: first\r\n");
    EXPECT_FALSE(client.IsReady()); // connecting again
    NntpNote c = Next();
    ASSERT_EQ(c.kind, NntpNote::CONNECTED) << s.Report();
    EXPECT_EQ(c.l, 1);
    EXPECT_EQ(c.uMsg, CNNTP::MSG_ARTICLE);
    EXPECT_FALSE(client.StopRequested());
    EXPECT_EQ(Group("g").kind, NntpNote::GROUP);
    QuitAndFinish(s);
}

TEST_F(NntpScripted, ClosedConnections)
{
    // Closed after the password: the command shown never holds it.
    ScriptedServer t;
    t.Say(kGreeting).Expect("ARTICLE 1\r\n").Say("480 login\r\n");
    t.Expect("AUTHINFO USER joe\r\n").Say("381 More\r\n").Expect("AUTHINFO PASS pw\r\n");
    t.Close();
    Connect(t);
    NntpNote n = Run(client.Article(&rec, CNNTP::MSG_ARTICLE, 1));
    ExpectEnd(n, CNNTP::STATUS_CLOSED);
    EXPECT_STREQ(reinterpret_cast<const char*>(n.l), "AUTHINFO PASS ********\r\n");
    EXPECT_TRUE(t.Finish()) << t.Report();

    // Closed in the middle of an article: the half article goes with it.
    ScriptedServer s(Split::Pairs);
    s.Say(kGreeting).Expect("ARTICLE 1\r\n").Say("220 1 <a@x>\r\nSubject: a\r\n").Close();
    Connect(s);
    n = Run(client.Article(&rec, CNNTP::MSG_ARTICLE, 1));
    ExpectEnd(n, CNNTP::STATUS_CLOSED);
    EXPECT_STREQ(reinterpret_cast<const char*>(n.l), "ARTICLE 1\r\n");
    EXPECT_TRUE(s.Finish()) << s.Report();
    ExpectNoFilesLeft();
}

TEST_F(NntpScripted, AbortAndConnectionFailures)
{
    // Abort in the middle of a transfer: the file goes, the end is told.
    ScriptedServer s;
    s.Say(kGreeting).Expect("ARTICLE 3\r\n").Say("220 3 <a@x>\r\nline\r\n").Hold();
    Connect(s);
    ASSERT_TRUE(client.Article(&rec, CNNTP::MSG_ARTICLE, 3));
    ASSERT_TRUE(prototest::PumpUntil([&] { return rec.iLines == 1; }));
    client.Abort(&rec, CNNTP::MSG_QUIT, true);
    NntpNote n = Next();
    ExpectEnd(n, CNNTP::STATUS_ABORTED);
    EXPECT_EQ(n.uMsg, CNNTP::MSG_QUIT);
    EXPECT_TRUE(s.Finish()) << s.Report();
    ExpectNoFilesLeft();

    // A greeting of class 5 fails the connection; one of class 4 is a
    // refusal on a live connection.
    ScriptedServer t;
    t.Say("502 You have no permission to talk\r\n").ExpectClose();
    ASSERT_TRUE(t.Start());
    n = Run(client.Connect(&rec, CNNTP::MSG_CONNECT, "127.0.0.1", t.Port(), nullptr, nullptr));
    ExpectEnd(n, CNNTP::STATUS_CONNECT_FAILED);
    EXPECT_EQ(n.reply, "502 You have no permission to talk");
    EXPECT_TRUE(t.Finish()) << t.Report();

    ScriptedServer u;
    u.Say("400 Service temporarily unavailable\r\n").Close();
    ASSERT_TRUE(u.Start());
    EXPECT_EQ(
        Run(client.Connect(&rec, CNNTP::MSG_CONNECT, "127.0.0.1", u.Port(), nullptr, nullptr)).kind,
        NntpNote::REFUSED);
    n = Next();
    ExpectEnd(n, CNNTP::STATUS_CLOSED);

    // Nobody listening: status 2 with the socket error.
    n = Run(client.Connect(&rec, CNNTP::MSG_CONNECT, "127.0.0.1", FreeLoopbackPort(), nullptr,
                           nullptr));
    EXPECT_EQ(n.w, static_cast<fw::WPARAM>(CNNTP::STATUS_CONNECT_FAILED));
    EXPECT_EQ(client.m_iLastError, wsa::WSAECONNREFUSED);
    // Without notify, an abort posts nothing.
    ScriptedServer w;
    w.Hold();
    ASSERT_TRUE(w.Start());
    ASSERT_TRUE(client.Connect(&rec, CNNTP::MSG_CONNECT, "127.0.0.1", w.Port(), nullptr, nullptr));
    ASSERT_TRUE(prototest::PumpUntil([&] { return w.Connected(); }));
    std::size_t before = rec.notes.size();
    client.Abort(&rec, CNNTP::MSG_CONNECT, false);
    EXPECT_TRUE(client.IsIdle());
    EXPECT_TRUE(w.Finish()) << w.Report();
    fw::MessageLoop::DispatchPending();
    EXPECT_EQ(rec.notes.size(), before);
}

TEST_F(NntpScripted, EncryptionAskedOfAPlainServer)
{
    // Auto goes on in clear; required ends the connection.
    ScriptedServer s;
    s.Say(kGreeting).Expect("STARTTLS\r\n").Say("502 not here\r\n");
    Quit(s);
    client.SetSecurity(ServerSecurity::For("NNTP", ServerSecurity::AUTO));
    Connect(s);
    QuitAndFinish(s);

    ScriptedServer t;
    t.Say(kGreeting).Expect("STARTTLS\r\n").Say("502 not here\r\n").ExpectClose();
    ASSERT_TRUE(t.Start());
    client.SetSecurity(ServerSecurity::For("NNTP", ServerSecurity::STARTTLS));
    NntpNote n =
        Run(client.Connect(&rec, CNNTP::MSG_CONNECT, "127.0.0.1", t.Port(), nullptr, nullptr));
    ExpectEnd(n, CNNTP::STATUS_CONNECT_FAILED);
    EXPECT_EQ(client.m_iLastError, TLS_E_NOT_OFFERED);
    EXPECT_TRUE(t.Finish()) << t.Report();
}

TEST_F(NntpScripted, ArgumentsThatCannotBeUsedAreRefused)
{
    // Nothing of these reaches the server.
    ScriptedServer s;
    s.Say(kGreeting).Expect("GROUP fine.group\r\n").Say("211 0 1 0 fine.group\r\n");
    s.Expect("HEAD\r\n").Say("221 3 <c@x>\r\nSubject: s\r\n.\r\n");
    Quit(s);
    Connect(s);
    for (const char* bad : {"a,b", "a b", "a*", "", "x\r\nQUIT"}) {
        SCOPED_TRACE(bad);
        NntpNote n = Group(bad);
        EXPECT_EQ(n.kind, NntpNote::REFUSED);
        EXPECT_NE(n.reply.find("The group name"), std::string::npos) << n.reply;
    }
    NntpNote n = Group("fine.group", 0, "user", "pass,word");
    EXPECT_EQ(n.kind, NntpNote::REFUSED);
    EXPECT_NE(n.reply.find("comma"), std::string::npos) << n.reply;
    EXPECT_EQ(Group("fine.group", 0, "user", "password").kind, NntpNote::GROUP);
    // One operation at a time; none before a connection.
    ASSERT_TRUE(client.Head(&rec, CNNTP::MSG_HEADER, -1));
    EXPECT_FALSE(client.Article(&rec, CNNTP::MSG_ARTICLE, 1));
    n = Next();
    ASSERT_EQ(n.kind, NntpNote::FILE) << s.Report();
    EXPECT_EQ(n.iArticle, 3);
    QuitAndFinish(s);
    EXPECT_FALSE(client.Article(&rec, CNNTP::MSG_ARTICLE, 1));

    // A line end in the connection's password never goes out.
    n = Run(client.Connect(&rec, CNNTP::MSG_CONNECT, "127.0.0.1", 1, "joe", "pw\r\nQUIT"));
    EXPECT_EQ(n.w, static_cast<fw::WPARAM>(CNNTP::STATUS_CONNECT_FAILED));
    EXPECT_NE(n.reply.find("line end"), std::string::npos);
    EXPECT_EQ(client.m_iLastError, 0);

    // Group list lines: the ones that cannot be stored are refused.
    std::string name, reason;
    std::int32_t iLast = 0, iFirst = 0;
    EXPECT_TRUE(CNNTP::ParseGroupLine("comp.lang.c 1200 3 y", &name, &iLast, &iFirst, &reason));
    EXPECT_EQ(name + " " + std::to_string(iLast) + " " + std::to_string(iFirst),
              "comp.lang.c 1200 3");
    for (const char* bad : {"a,b 10 1 y", "a.b", "a.b 99999999999 1 y"})
        EXPECT_FALSE(CNNTP::ParseGroupLine(bad, &name, &iLast, &iFirst, &reason)) << bad;
}

TEST_F(NntpScripted, LongLinesAndFilesThatCannotBeCreated)
{
    // A data line longer than the receive buffer is stored whole.
    std::string longLine(10000, 'x');
    ScriptedServer s(Split::Pairs);
    s.Say(kGreeting).Expect("ARTICLE 1\r\n").Say("220 1 <a@x>\r\n." + longLine + "\r\n");
    s.Say(".." + longLine + "\r\nshort\r\n.\r\n");
    s.Expect("ARTICLE 2\r\n").Say("220 2 <b@x>\r\nline\r\n.\r\n");
    // A status line that long cannot be followed.
    s.Expect("GROUP g\r\n").Say("211 " + longLine + "\r\n").ExpectClose();
    Connect(s);
    NntpNote n = Run(client.Article(&rec, CNNTP::MSG_ARTICLE, 1));
    ASSERT_EQ(n.kind, NntpNote::FILE);
    EXPECT_EQ(n.content, longLine + "\r\n." + longLine + "\r\nshort\r\n");
    EXPECT_EQ(rec.iLines, 3);
    // No directory for the file: the reply is read to its end and refused
    // with the reason, and the connection goes on.
    ASSERT_EQ(::rmdir(dir.Path().c_str()), 0);
    n = Run(client.Article(&rec, CNNTP::MSG_ARTICLE, 2));
    ASSERT_TRUE(fw::MakeDirectories(dir.Path()));
    EXPECT_EQ(n.kind, NntpNote::REFUSED);
    EXPECT_NE(n.reply.find("Cannot create a temporary file"), std::string::npos) << n.reply;
    ExpectEnd(Group("g"), CNNTP::STATUS_FAILED);
    EXPECT_TRUE(s.Finish()) << s.Report();
}

} // namespace
