// The SMTP and NNTP posting clients against scripted servers: their command
// sequences, the header lines they compose, multi-line replies, refusals at
// each step, and one end notice per session.
#include "ClientHarness.h"
#include "ScriptedServer.h"
#include "TestUtil.h"

#include "proto/CNNTPP.h"
#include "proto/CSMTP.h"
#include "proto/SendHeaders.h"
#include "util/CStringList.h"
#include "util/TimeZone.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <regex>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr unsigned kMsg = 1225;

struct Owner : fw::Window {
    Owner()
    {
        OnMessage(kMsg, [this](fw::WPARAM, fw::LPARAM l) -> fw::LRESULT {
            if (l == CMessageSender::PROGRESS_LINE)
                ++iLines;
            else
                statuses.push_back(static_cast<int>(l));
            return 0;
        });
    }
    std::vector<int> statuses;
    int iLines = 0;
};

// Fixed host, time and identifier, so the transcript is exact.
template <class Base>
class Fixed : public Base {
public:
    explicit Fixed(fw::Window* pWnd) : Base(pWnd, kMsg) {}
    int iDone = 0;

protected:
    void NotifyDone() override
    {
        ++iDone;
        this->Notify(0, this->m_iStatus);
    }
    std::string HostName() const override { return "host.test"; }
    std::int64_t Now() const override { return 1700000000; }
    std::string NewId(std::int64_t, const std::string&) const override { return "id.1@host.test"; }
};

class PostingClients : public ::testing::Test {
protected:
    void SetUp() override
    {
        prototest::EnsureWinsock();
        date = MessageDate(1700000000);
    }
    std::FILE* Body(const std::string& text)
    {
        testutil::WriteFile(dir.File("body"), text);
        return std::fopen(dir.File("body").c_str(), "rb");
    }
    static void Fill(CStringList& list, std::initializer_list<const char*> items)
    {
        for (const char* p : items)
            list.Add(p);
    }
    template <class C>
    void Run(ScriptedServer& server, Owner& owner, C& client)
    {
        ASSERT_TRUE(prototest::PumpUntil([&] { return !owner.statuses.empty(); }));
        fw::MessageLoop::PumpUntil([] { return false; }, 50); // a second notice would come now
        EXPECT_TRUE(server.Finish()) << server.Report();
        EXPECT_EQ(client.iDone, 1);
        ASSERT_EQ(owner.statuses.size(), 1u);
    }
    testutil::TempDir dir;
    std::string date;
};

TEST_F(PostingClients, SmtpSendsEveryRecipientAndItsHeaders)
{
    ScriptedServer server(ScriptedServer::Split::Bytes);
    server.Say("220-mail.test ESMTP\r\n220-more of the greeting\r\n220 ready\r\n")
        .Expect("HELO host.test\r\n")
        .Say("250-mail.test\r\n250 PIPELINING\r\n")
        .Expect("MAIL FROM:<me@host.test>\r\n")
        .Say("250 ok\r\n");
    for (const char* a : {"a@x", "b@x", "c@x", "d@y", "e@y"})
        server.Expect(std::string("RCPT TO:<") + a + ">\r\n").Say("250 ok\r\n");
    server.Expect("DATA\r\n").Say("354 go\r\n");
    server.Expect("To: a@x,b@x,c@x\r\nCc: d@y,e@y\r\nSubject: Hello there\r\n"
                  "From: me@host.test (Me Myself)\r\nDate: " +
                  date +
                  "\r\nMessage-ID: <id.1@host.test>\r\n"
                  "X-Mail-Agent: x\r\n\r\nline\r\n..dot\r\ncaf\xE9\r\n.\r\n");
    server.Say("250 queued\r\n").Expect("QUIT\r\n").Say("221 bye\r\n").ExpectClose();
    ASSERT_TRUE(server.Start());
    Owner owner;
    Fixed<CSMTP> c(&owner);
    CStringList to, cc;
    Fill(to, {"a@x", "b@x", "c@x"});
    Fill(cc, {"d@y", "e@y"});
    std::FILE* f = Body("X-Mail-Agent: x\n\nline\n.dot\ncaf\xE9\n");
    ASSERT_TRUE(c.SendMail("127.0.0.1", server.Port(), f, "Hello there", "me@host.test",
                           "Me Myself", &to, &cc));
    Run(server, owner, c);
    std::fclose(f);
    EXPECT_EQ(owner.statuses[0], CMessageSender::STATUS_SENT);
    EXPECT_EQ(owner.iLines, 5);
    EXPECT_TRUE(c.FailureText().empty());
}

TEST_F(PostingClients, SmtpRefusalsEndWithQuitAndKeepTheServersWords)
{
    struct Case {
        const char* step;    // the command the server refuses
        const char* refusal; // its reply
    } cases[] = {{"HELO host.test\r\n", "501 bad name\r\n"},
                 {"MAIL FROM:<me@host.test>\r\n", "553 sender refused\r\n"},
                 {"RCPT TO:<reject@x>\r\n", "550 5.1.1 <reject@x>: recipient refused\r\n"},
                 {"DATA\r\n", "554 no data\r\n"},
                 {"body", "552 too big\r\n"}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.step);
        ScriptedServer server(ScriptedServer::Split::Pairs);
        server.Say("220 hi\r\n");
        std::string s = k.step;
        std::vector<std::string> steps = {"HELO host.test\r\n", "MAIL FROM:<me@host.test>\r\n",
                                          "RCPT TO:<ok@x>\r\n", "RCPT TO:<reject@x>\r\n",
                                          "DATA\r\n"};
        for (const std::string& cmd : steps) {
            server.Expect(cmd);
            if (cmd == s)
                break;
            server.Say(cmd == "DATA\r\n" ? "354 go\r\n" : "250 ok\r\n");
        }
        if (s == "body")
            server.Expect("To: ok@x,reject@x\r\nSubject: S\r\nFrom: <me@host.test> \r\nDate: " +
                          date + "\r\nMessage-ID: <id.1@host.test>\r\n\r\nhi\r\n.\r\n");
        server.Say(k.refusal).Expect("QUIT\r\n").Say("221 bye\r\n").ExpectClose();
        ASSERT_TRUE(server.Start());
        Owner owner;
        Fixed<CSMTP> c(&owner);
        CStringList to;
        Fill(to, {"ok@x", "reject@x"});
        std::FILE* f = Body("\nhi\n");
        ASSERT_TRUE(
            c.SendMail("127.0.0.1", server.Port(), f, "S", "me@host.test", "", &to, nullptr));
        Run(server, owner, c);
        std::fclose(f);
        EXPECT_EQ(owner.statuses[0], CMessageSender::STATUS_FAILED);
        std::string refusal = k.refusal;
        EXPECT_EQ(c.FailureText(), refusal.substr(0, refusal.size() - 2));
    }
}

TEST_F(PostingClients, RefusedGreetingClosedConnectionAndNoServer)
{
    {
        ScriptedServer server;
        server.Say("554 go away\r\n").ExpectClose();
        ASSERT_TRUE(server.Start());
        Owner owner;
        Fixed<CSMTP> c(&owner);
        CStringList to;
        to.Add("a@x");
        ASSERT_TRUE(c.SendMail("127.0.0.1", server.Port(), nullptr, "S", "me@x", "", &to, nullptr));
        Run(server, owner, c);
        EXPECT_EQ(owner.statuses[0], CMessageSender::STATUS_FAILED);
        EXPECT_EQ(c.FailureText(), "554 go away");
    }
    {
        ScriptedServer server;
        server.Say("200 news\r\n").Expect("POST\r\n").Say("340 go\r\n").Close();
        ASSERT_TRUE(server.Start());
        Owner owner;
        Fixed<CNNTPP> c(&owner);
        CStringList groups;
        groups.Add("a.b");
        std::FILE* f = Body("\nhello\n");
        ASSERT_TRUE(c.PostArticle("127.0.0.1", server.Port(), f, "S", "me@x", "", &groups));
        ASSERT_TRUE(prototest::PumpUntil([&] { return !owner.statuses.empty(); }));
        std::fclose(f);
        EXPECT_EQ(owner.statuses[0], CMessageSender::STATUS_FAILED);
        EXPECT_EQ(c.iDone, 1);
    }
    Owner owner;
    Fixed<CNNTPP> c(&owner);
    CStringList groups;
    groups.Add("a.b");
    // A port nobody listens on.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len), 0);
    ::close(fd);
    unsigned short port = ntohs(sa.sin_port);
    ASSERT_TRUE(c.PostArticle("127.0.0.1", port, nullptr, "S", "me@x", "", &groups));
    ASSERT_TRUE(prototest::PumpUntil([&] { return !owner.statuses.empty(); }));
    EXPECT_EQ(owner.statuses[0], CMessageSender::STATUS_FAILED);
    EXPECT_NE(c.m_iLastError, 0);
}

TEST_F(PostingClients, NntpPostsWithItsHeadersAndReportsARefusedPost)
{
    {
        ScriptedServer server(ScriptedServer::Split::Bytes);
        server.Say("200 news.test ready\r\n").Expect("POST\r\n").Say("340 send it\r\n");
        server.Expect("Newsgroups: local.test.a,local.test.b\r\nSubject: =?utf-8?Q?x?=\r\n"
                      "From: me@host.test (Me)\r\nDate: " +
                      date +
                      "\r\nMessage-ID: <id.1@host.test>\r\nPath: host.test\r\n\r\n"
                      "..\r\n...two\r\n.\r\n");
        server.Say("240 article posted\r\n").Expect("QUIT\r\n").Say("205 bye\r\n").ExpectClose();
        ASSERT_TRUE(server.Start());
        Owner owner;
        Fixed<CNNTPP> c(&owner);
        CStringList groups;
        Fill(groups, {"local.test.a", "local.test.b"});
        std::FILE* f = Body("\n.\n..two\n");
        ASSERT_TRUE(c.PostArticle("127.0.0.1", server.Port(), f, "=?utf-8?Q?x?=", "me@host.test",
                                  "Me", &groups));
        Run(server, owner, c);
        std::fclose(f);
        EXPECT_EQ(owner.statuses[0], CMessageSender::STATUS_SENT);
    }
    for (const char* refusal : {"440 posting not allowed", "441 article refused"}) {
        SCOPED_TRACE(refusal);
        bool bAtPost = refusal[2] == '0';
        ScriptedServer server;
        server.Say("201 no posting\r\n").Expect("POST\r\n");
        if (!bAtPost)
            server.Say("340 go\r\n")
                .Expect("Newsgroups: g\r\nSubject: S\r\nFrom: <me@x> \r\nDate: " + date +
                        "\r\nMessage-ID: <id.1@host.test>\r\nPath: host.test\r\n.\r\n");
        server.Say(std::string(refusal) + "\r\n")
            .Expect("QUIT\r\n")
            .Say("205 bye\r\n")
            .ExpectClose();
        ASSERT_TRUE(server.Start());
        Owner owner;
        Fixed<CNNTPP> c(&owner);
        CStringList groups;
        groups.Add("g");
        std::FILE* f = Body("");
        ASSERT_TRUE(c.PostArticle("127.0.0.1", server.Port(), f, "S", "me@x", "", &groups));
        Run(server, owner, c);
        std::fclose(f);
        EXPECT_EQ(owner.statuses[0], CMessageSender::STATUS_FAILED);
        EXPECT_EQ(c.FailureText(), refusal);
    }
}

TEST_F(PostingClients, AbortGivesNoNoticeUnlessAskedAndASentMessageStaysSent)
{
    ScriptedServer server;
    server.Say("220 hi\r\n").Expect("HELO host.test\r\n").Hold();
    ASSERT_TRUE(server.Start());
    Owner owner;
    Fixed<CSMTP> c(&owner);
    CStringList to;
    to.Add("a@x");
    ASSERT_TRUE(c.SendMail("127.0.0.1", server.Port(), nullptr, "S", "me@x", "", &to, nullptr));
    ASSERT_TRUE(prototest::PumpUntil([&] { return server.StepsDone() >= 2; }));
    c.Abort(false);
    EXPECT_TRUE(c.IsIdle());
    EXPECT_TRUE(server.Finish()) << server.Report();
    fw::MessageLoop::PumpUntil([] { return false; }, 50);
    EXPECT_TRUE(owner.statuses.empty());
    EXPECT_EQ(c.iDone, 0);
}

TEST(SendHeaders, DateMessageIdAndFrom)
{
    std::string d = MessageDate(1700000000);
    EXPECT_TRUE(std::regex_match(
        d, std::regex("(Mon|Tue|Wed|Thu|Fri|Sat|Sun), \\d\\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|"
                      "Sep|Oct|Nov|Dec) 20\\d\\d \\d\\d:\\d\\d:\\d\\d [+-]\\d{4}")))
        << d;
    std::string a = NewMessageId(1700000000, "host.test");
    std::string b = NewMessageId(1700000000, "host.test");
    EXPECT_NE(a, b);
    EXPECT_TRUE(std::regex_match(a, std::regex("[0-9a-f.]+@host\\.test"))) << a;
    std::string c = NewMessageId(1700000000, "");
    EXPECT_EQ(c.substr(c.find('@')), "@localhost");
    EXPECT_EQ(FromLine("a@b", "Ann (the) Boss\\"), "From: a@b (Ann  the  Boss )\r\n");
    EXPECT_EQ(FromLine("a@b", ""), "From: <a@b> \r\n");
    std::string host = LocalHostName();
    EXPECT_EQ(host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                     "0123456789-._"),
              std::string::npos);
}

} // namespace
