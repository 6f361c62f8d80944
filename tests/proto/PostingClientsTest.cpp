// The SMTP and NNTP posting clients against scripted servers: commands, the
// headers they compose, SMTP logins, refusals at each step, one end notice
// per session.
#include "ClientHarness.h"
#include "ScriptedServer.h"
#include "TestUtil.h"

#include "net/CTls.h"
#include "proto/CNNTPP.h"
#include "proto/CSMTP.h"
#include "proto/Sasl.h"
#include "proto/SendHeaders.h"
#include "proto/ServerSecurity.h"
#include "util/CStringList.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <regex>
#include <sys/socket.h>

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
    // Shrinks the connected socket's send buffer (the server's thread calls
    // it, the client being busy with its event loop meanwhile).
    void SetSendBuffer(int iBytes)
    {
        this->m_socket.SetSockOpt(SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&iBytes),
                                  sizeof iBytes);
    }

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

// How a session ended, as the owner and the client tell it.
struct Outcome {
    int iStatus = -1;
    int iLines = 0;
    int iLastError = 0;
    std::string failure;
};

class PostingClients : public ::testing::Test {
protected:
    void SetUp() override
    {
        prototest::EnsureWinsock();
        date = MessageDate(1700000000);
    }
    // Starts the server (none: a port nobody listens on), runs one client
    // with the body until its one end notice (a second one would come within
    // the extra pump).
    template <class C, class Go>
    Outcome Run(ScriptedServer* pServer, const std::string& body, Go go)
    {
        testutil::WriteFile(dir.File("body"), body);
        std::FILE* f = std::fopen(dir.File("body").c_str(), "rb");
        Owner owner;
        Fixed<C> c(&owner);
        if (security)
            c.SetSecurity(*security);
        setSendBuffer = [&c](int iBytes) { c.SetSendBuffer(iBytes); };
        unsigned short port = FreeLoopbackPort();
        if (pServer) {
            EXPECT_TRUE(pServer->Start());
            port = pServer->Port();
        }
        EXPECT_TRUE(go(c, port, f));
        EXPECT_TRUE(prototest::PumpUntil([&] { return !owner.statuses.empty(); }));
        fw::MessageLoop::PumpUntil([] { return false; }, 50);
        std::fclose(f);
        if (pServer) {
            EXPECT_TRUE(pServer->Finish()) << pServer->Report();
        }
        EXPECT_EQ(c.iDone, 1);
        EXPECT_EQ(owner.statuses.size(), 1u);
        return {owner.statuses.empty() ? -1 : owner.statuses[0], owner.iLines, c.m_iLastError,
                c.FailureText()};
    }
    Outcome Mail(ScriptedServer* pServer, const std::string& body, std::vector<const char*> to,
                 std::vector<const char*> cc = {}, const char* pszSubject = "S",
                 const char* pszName = "")
    {
        return Run<CSMTP>(pServer, body, [&](CSMTP& c, unsigned short port, std::FILE* f) {
            CStringList t, k;
            for (const char* a : to)
                t.Add(a);
            for (const char* a : cc)
                k.Add(a);
            return c.SendMail("127.0.0.1", port, f, pszSubject, "me@host.test", pszName, &t,
                              cc.empty() ? nullptr : &k);
        });
    }
    Outcome Post(ScriptedServer* pServer, const std::string& body, std::vector<const char*> groups,
                 const char* pszSubject = "S", const char* pszFrom = "me@x",
                 const char* pszName = "")
    {
        return Run<CNNTPP>(pServer, body, [&](CNNTPP& c, unsigned short port, std::FILE* f) {
            CStringList g;
            for (const char* a : groups)
                g.Add(a);
            return c.PostArticle("127.0.0.1", port, f, pszSubject, pszFrom, pszName, &g);
        });
    }
    testutil::TempDir dir;
    std::string date;
    std::function<void(int)> setSendBuffer; // of the running client
    std::optional<ServerSecurity> security; // for the next client, if set
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
    Outcome r = Mail(&server, "X-Mail-Agent: x\n\nline\n.dot\ncaf\xE9\n", {"a@x", "b@x", "c@x"},
                     {"d@y", "e@y"}, "Hello there", "Me Myself");
    EXPECT_EQ(r.iStatus, CMessageSender::STATUS_SENT);
    EXPECT_EQ(r.iLines, 5);
    EXPECT_TRUE(r.failure.empty());
}

TEST_F(PostingClients, SmtpRefusalsEndWithQuitAndKeepTheServersWords)
{
    // The steps of a session to two recipients ("" the greeting); the row's
    // step is refused, every one before it accepted.
    const std::string steps[] = {
        "",
        "HELO host.test\r\n",
        "MAIL FROM:<me@host.test>\r\n",
        "RCPT TO:<ok@x>\r\n",
        "RCPT TO:<reject@x>\r\n",
        "DATA\r\n",
        "To: ok@x,reject@x\r\nSubject: S\r\nFrom: <me@host.test> \r\nDate: " + date +
            "\r\nMessage-ID: <id.1@host.test>\r\n\r\nhi\r\n.\r\n"};
    // A reply of no class is no refusal: the client hangs up without QUIT.
    const std::string invalid = "The server sent a reply that is not a reply: ";
    const struct {
        int iStep;
        std::string refusal, failure = "";
    } rows[] = {{0, "554 go away"},
                {0, "hello", invalid + "hello"},
                {0, "6xx", invalid + "6xx"},
                {0, "", invalid},
                {3, "0 zero", invalid + "0 zero"},
                {1, "501 bad name"},
                {2, "553 sender refused"},
                {4, "550 5.1.1 <reject@x>: recipient refused"},
                {5, "554 no data"},
                {6, "552 too big"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.refusal);
        ScriptedServer server(row.iStep == 0 ? ScriptedServer::Split::Bytes
                                             : ScriptedServer::Split::Pairs);
        for (int i = 0; i < row.iStep; ++i)
            server.Expect(steps[i]).Say(i == 0   ? "220 hi\r\n"
                                        : i == 5 ? "354 go\r\n"
                                                 : "250 ok\r\n");
        if (row.iStep > 0)
            server.Expect(steps[row.iStep]);
        server.Say(row.refusal + "\r\n");
        if (row.iStep > 0 && row.failure.empty())
            server.Expect("QUIT\r\n").Say("221 bye\r\n");
        server.ExpectClose();
        Outcome r = Mail(&server, "\nhi\n", {"ok@x", "reject@x"});
        EXPECT_EQ(r.iStatus, CMessageSender::STATUS_FAILED);
        EXPECT_EQ(r.failure, row.failure.empty() ? row.refusal : row.failure);
    }
}

TEST_F(PostingClients, SmtpBodyThroughABusySocketAndAnOverlongLine)
{
    // Small buffers at both ends: the socket has to queue lines and report
    // them sent later; none may be lost or sent twice.
    std::string body, wire;
    for (int i = 0; i < 40000; ++i) {
        std::string line =
            (i % 7 == 0 ? "." : "") + std::string(90, static_cast<char>('a' + i % 26));
        body += line + "\n";
        wire += (line[0] == '.' ? "." : "") + line + "\r\n";
    }
    auto Prologue = [](ScriptedServer& server) -> ScriptedServer& {
        server.Say("220 hi\r\n").Expect("HELO host.test\r\n").Say("250 ok\r\n");
        server.Expect("MAIL FROM:<me@host.test>\r\n").Say("250 ok\r\n");
        return server.Expect("RCPT TO:<a@x>\r\n").Say("250 ok\r\n").Expect("DATA\r\n");
    };
    ScriptedServer server;
    server.SetReceiveBuffer(4096);
    Prologue(server).Do([&] { setSendBuffer(4096); }).Say("354 go\r\n");
    server.Expect("To: a@x\r\nSubject: S\r\nFrom: <me@host.test> \r\nDate: " + date +
                  "\r\nMessage-ID: <id.1@host.test>\r\n\r\n" + wire + ".\r\n");
    server.Say("250 ok\r\n").Expect("QUIT\r\n").Say("221 bye\r\n").ExpectClose();
    Outcome r = Mail(&server, "\n" + body, {"a@x"});
    EXPECT_EQ(r.iStatus, CMessageSender::STATUS_SENT) << r.failure;
    EXPECT_EQ(r.iLines, 40001);

    // A line over 998 characters: the client hangs up before the final dot,
    // so the server drops the message.
    ScriptedServer over;
    Prologue(over)
        .Say("354 go\r\n")
        .Expect("To: a@x\r\nSubject: S\r\nFrom: <me@host.test> \r\nDate: " + date +
                "\r\nMessage-ID: <id.1@host.test>\r\n\r\nok\r\n")
        .ExpectClose();
    r = Mail(&over, "\nok\n" + std::string(999, 'x') + "\nnever\n", {"a@x"});
    EXPECT_EQ(r.iStatus, CMessageSender::STATUS_FAILED);
    EXPECT_EQ(r.failure, "A message line is longer than 998 characters.");
}

TEST_F(PostingClients, SmtpLoginsHeloWhenEhloIsRefusedAndStartTlsRequired)
{
    ServerSecurity s = ServerSecurity::For("SMTP", ServerSecurity::NONE);
    s.strUser = "joe";
    s.strPassword = "pw";
    auto send = [&](ScriptedServer& server, const ServerSecurity& sec) {
        security = sec;
        return Mail(&server, "hello\n", {"bob@x"});
    };
    // LOGIN only: user and password in turn, each in base64.
    ScriptedServer login;
    login.Say("220 hi\r\n").Expect("EHLO host.test\r\n");
    login.Say("250-x.test\r\n250-STARTTLS\r\n250 AUTH LOGIN\r\n").Expect("AUTH LOGIN\r\n");
    login.Say("334 VXNlcm5hbWU6\r\n").Expect(Base64Of("joe") + "\r\n");
    login.Say("334 UGFzc3dvcmQ6\r\n").Expect(Base64Of("pw") + "\r\n");
    login.Say("535 5.7.8 no\r\n").Expect("QUIT\r\n").Say("221 bye\r\n");
    Outcome r = send(login, s);
    EXPECT_EQ(r.iStatus, CMessageSender::STATUS_FAILED);
    EXPECT_EQ(r.failure, "535 5.7.8 no");

    // PLAIN preferred when both are offered ("AUTH=" spelling too).
    ScriptedServer plain;
    plain.Say("220 hi\r\n").Expect("EHLO host.test\r\n");
    plain.Say("250-x.test\r\n250-AUTH=LOGIN PLAIN\r\n250 8BITMIME\r\n");
    plain.Expect("AUTH PLAIN " + SaslPlain("joe", "pw") + "\r\n").Say("235 ok\r\n");
    plain.Expect("MAIL FROM:<me@host.test>\r\n")
        .Say("451 later\r\n")
        .Expect("QUIT\r\n")
        .Say("221\r\n");
    EXPECT_EQ(send(plain, s).failure, "451 later");

    // An access token: XOAUTH2 in one line; a refusal's challenge is
    // answered empty and the refusal ends the session; a server without
    // XOAUTH2 gets no password at all.
    ServerSecurity t = s;
    t.bOAuth2 = true;
    ScriptedServer oauth;
    oauth.Say("220 hi\r\n").Expect("EHLO host.test\r\n").Say("250-x\r\n250 AUTH PLAIN XOAUTH2\r\n");
    oauth.Expect("AUTH XOAUTH2 " + SaslXOAuth2("joe", "pw") + "\r\n");
    oauth.Say("334 eyJzdGF0dXMiOiI0MDEifQ==\r\n").Expect("\r\n").Say("535 5.7.8 bad token\r\n");
    oauth.Expect("QUIT\r\n").Say("221 bye\r\n");
    EXPECT_EQ(send(oauth, t).failure, "535 5.7.8 bad token");
    ScriptedServer noOauth;
    noOauth.Say("220 hi\r\n").Expect("EHLO host.test\r\n").Say("250-x\r\n250 AUTH PLAIN\r\n");
    noOauth.Expect("QUIT\r\n").Say("221 bye\r\n");
    Outcome n = send(noOauth, t);
    EXPECT_EQ(n.iStatus, CMessageSender::STATUS_FAILED);
    EXPECT_NE(n.failure.find("XOAUTH2"), std::string::npos) << n.failure;

    // A server of the old kind: HELO; with a user name there is no login
    // to be had, and the message does not go out without it.
    ScriptedServer old;
    old.Say("220 hi\r\n").Expect("EHLO host.test\r\n").Say("500 what?\r\n");
    old.Expect("HELO host.test\r\n").Say("250 ok\r\n").Expect("QUIT\r\n").Say("221 bye\r\n");
    Outcome o = send(old, s);
    EXPECT_EQ(o.iStatus, CMessageSender::STATUS_FAILED);
    EXPECT_NE(o.failure.find("offers no login"), std::string::npos) << o.failure;

    // Encryption required from a server without it: no password goes out.
    ScriptedServer plainOnly;
    plainOnly.Say("220 hi\r\n").Expect("EHLO host.test\r\n").Say("250-x\r\n250 AUTH PLAIN\r\n");
    plainOnly.Expect("QUIT\r\n").Say("221 bye\r\n");
    s.iMode = ServerSecurity::STARTTLS;
    Outcome p = send(plainOnly, s);
    EXPECT_EQ(p.iStatus, CMessageSender::STATUS_FAILED);
    EXPECT_EQ(p.iLastError, TLS_E_NOT_OFFERED);
}

TEST_F(PostingClients, NntpPostsWithItsHeaders)
{
    ScriptedServer server(ScriptedServer::Split::Bytes);
    server.Say("200 news.test ready\r\n").Expect("POST\r\n").Say("340 send it\r\n");
    server.Expect("Newsgroups: local.test.a,local.test.b\r\nSubject: =?utf-8?Q?x?=\r\n"
                  "From: me@host.test (Me)\r\nDate: " +
                  date +
                  "\r\nMessage-ID: <id.1@host.test>\r\nPath: host.test\r\n\r\n"
                  "..\r\n...two\r\n.\r\n");
    server.Say("240 article posted\r\n").Expect("QUIT\r\n").Say("205 bye\r\n").ExpectClose();
    EXPECT_EQ(Post(&server, "\n.\n..two\n", {"local.test.a", "local.test.b"},
                   "=?utf-8?Q?x?=", "me@host.test", "Me")
                  .iStatus,
              CMessageSender::STATUS_SENT);
}

TEST_F(PostingClients, NntpPostRefusedOrCutOffFails)
{
    const std::string article = "Newsgroups: g\r\nSubject: S\r\nFrom: <me@x> \r\nDate: " + date +
                                "\r\nMessage-ID: <id.1@host.test>\r\nPath: host.test\r\n.\r\n";
    const struct {
        const char* name;
        bool bArticleSent;    // the server said 340 and took the article
        const char* pszReply; // to POST or to the article; none: the server closes
    } rows[] = {{"posting not allowed", false, "440 posting not allowed"},
                {"article refused", true, "441 article refused"},
                {"closed after the go-ahead", false, nullptr}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server;
        server.Say("201 no posting\r\n").Expect("POST\r\n");
        if (!row.pszReply)
            server.Say("340 go\r\n").Close();
        else if (row.bArticleSent)
            server.Say("340 go\r\n").Expect(article);
        if (row.pszReply)
            server.Say(std::string(row.pszReply) + "\r\n")
                .Expect("QUIT\r\n")
                .Say("205 bye\r\n")
                .ExpectClose();
        Outcome r = Post(&server, "", {"g"});
        EXPECT_EQ(r.iStatus, CMessageSender::STATUS_FAILED);
        if (row.pszReply) {
            EXPECT_EQ(r.failure, row.pszReply);
        }
    }
    // Nobody listening: failed, with the socket's error.
    Outcome r = Post(nullptr, "", {"a.b"});
    EXPECT_EQ(r.iStatus, CMessageSender::STATUS_FAILED);
    EXPECT_NE(r.iLastError, 0);
}

// STARTTLS is asked for after the greeting: refused, auto goes on in clear,
// starttls posts nothing.  (Accepted: against the real server.)
TEST_F(PostingClients, NntpAsksForEncryptionAsTheSettingsSay)
{
    ScriptedServer clear;
    clear.Say("200 hi\r\n").Expect("STARTTLS\r\n").Say("502 not here\r\n");
    clear.Expect("POST\r\n").Say("440 posting not allowed\r\n").Expect("QUIT\r\n");
    clear.Say("205 bye\r\n");
    security = ServerSecurity::For("NNTP", ServerSecurity::AUTO);
    EXPECT_EQ(Post(&clear, "", {"g"}).failure, "440 posting not allowed");

    ScriptedServer refused;
    refused.Say("200 hi\r\n").Expect("STARTTLS\r\n").Say("580 cannot\r\n");
    refused.Expect("QUIT\r\n").Say("205 bye\r\n");
    security = ServerSecurity::For("NNTP", ServerSecurity::STARTTLS);
    Outcome r = Post(&refused, "", {"g"});
    EXPECT_EQ(r.iStatus, CMessageSender::STATUS_FAILED);
    EXPECT_EQ(r.iLastError, TLS_E_NOT_OFFERED);
    EXPECT_EQ(r.failure, "The news server does not offer encryption (STARTTLS): 580 cannot");
}

TEST_F(PostingClients, AbortWithoutANoticeIsSilent)
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
