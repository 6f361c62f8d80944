// How the clients ask for encryption and log in, against scripted plain
// servers (auto goes on in clear and says so once per run; starttls stops
// before any password goes out), password commands, and the login texts.
#include "ClientHarness.h"
#include "NntpHarness.h"
#include "RecordingMessageBox.h"
#include "ScriptedServer.h"
#include "TestUtil.h"

#include "core/PasswordCommand.h"
#include "net/CTls.h"
#include "proto/CNNTP.h"
#include "proto/CPOP3.h"
#include "proto/CSMTP.h"
#include "proto/Sasl.h"
#include "proto/ServerSecurity.h"
#include "util/CStringList.h"

#include <gtest/gtest.h>

using prototest::NntpNote;
using prototest::NntpRecorder;
using prototest::Pop3Recorder;
using prototest::PumpUntil;

namespace {

class Security : public ::testing::Test {
protected:
    void SetUp() override
    {
        prototest::EnsureWinsock();
        fw::SetMessageBoxService(&boxes);
    }
    void TearDown() override { fw::SetMessageBoxService(nullptr); }
    int ClearTextWarnings() const
    {
        int n = 0;
        for (const auto& b : boxes.boxes)
            n += b.text.find("in clear text") != std::string::npos;
        return n;
    }
    RecordingMessageBox boxes;
    testutil::TempDir dir;
};

struct Pop3Run {
    int iStatus = -1, iLastError = -1;
    std::string reply;
};

Pop3Run RunPop3(ScriptedServer& server, const ServerSecurity& s, const std::string& dir,
                const std::string& host = "127.0.0.1")
{
    EXPECT_TRUE(server.Start());
    Pop3Recorder rec;
    CPOP3 c(&rec, Pop3Recorder::kMsg, 0, dir.c_str());
    c.SetSecurity(s);
    EXPECT_TRUE(c.RetrieveMail(host.c_str(), static_cast<std::uint16_t>(server.Port()), "joe", "pw",
                               "", false, 0));
    EXPECT_TRUE(PumpUntil([&] { return rec.bEnded; }));
    EXPECT_TRUE(server.Finish()) << server.Report();
    return {c.Status(), c.m_iLastError, c.ReplyLine()};
}

void Pop3Plain(ScriptedServer& server)
{
    server.Say("+OK hi\r\n").Expect("STLS\r\n").Say("-ERR unknown command\r\n");
}
void Pop3Login(ScriptedServer& server)
{
    server.Expect("USER joe\r\n").Say("+OK\r\n").Expect("PASS pw\r\n").Say("+OK\r\n");
    server.Expect("STAT\r\n").Say("+OK 0 0\r\n").Expect("QUIT\r\n").Say("+OK\r\n");
}

TEST_F(Security, Pop3AgainstAPlainServer)
{
    // Auto goes on in clear and says so once per server.
    for (int i = 0; i < 2; ++i) {
        ScriptedServer server;
        Pop3Plain(server);
        Pop3Login(server);
        Pop3Run r = RunPop3(server, ServerSecurity::For("POP3", ServerSecurity::AUTO), dir.Path(),
                            "localhost");
        EXPECT_EQ(r.iStatus, CPOP3::STATUS_DONE);
    }
    EXPECT_EQ(ClearTextWarnings(), 1);

    // Required: stopped before the login, without a warning.
    ScriptedServer server;
    Pop3Plain(server);
    server.Expect("QUIT\r\n").Say("+OK\r\n");
    Pop3Run r = RunPop3(server, ServerSecurity::For("POP3", ServerSecurity::STARTTLS), dir.Path());
    EXPECT_EQ(r.iStatus, CPOP3::STATUS_FAILED);
    EXPECT_EQ(r.iLastError, TLS_E_NOT_OFFERED);
    EXPECT_NE(r.reply.find("does not offer encryption"), std::string::npos) << r.reply;
    EXPECT_EQ(ClearTextWarnings(), 1);

    // None: the plain session, as chosen.
    ScriptedServer plain;
    plain.Say("+OK hi\r\n");
    Pop3Login(plain);
    EXPECT_EQ(RunPop3(plain, ServerSecurity::For("POP3", ServerSecurity::NONE), dir.Path()).iStatus,
              CPOP3::STATUS_DONE);

    // A refused token: the server's challenge is answered empty, and the
    // refusal counts as a wrong password.
    ServerSecurity s = ServerSecurity::For("POP3", ServerSecurity::NONE);
    s.bOAuth2 = true;
    ScriptedServer oauth;
    oauth.Say("+OK hi\r\n").Expect("AUTH XOAUTH2 " + SaslXOAuth2("joe", "pw") + "\r\n");
    oauth.Say("+ eyJzdGF0dXMiOiI0MDEifQ==\r\n").Expect("\r\n").Say("-ERR denied\r\n");
    oauth.Expect("QUIT\r\n").Say("+OK\r\n");
    r = RunPop3(oauth, s, dir.Path());
    EXPECT_EQ(r.iStatus, CPOP3::STATUS_FAILED);
    EXPECT_EQ(r.reply, "-ERR denied");
}

class Smtp : public CSMTP {
public:
    explicit Smtp(fw::Window* pWnd) : CSMTP(pWnd, fw::WM_USER + 77) {}
    bool bDone = false;

protected:
    void NotifyDone() override { bDone = true; }
    std::string HostName() const override { return "host.test"; }
};

struct SmtpRun {
    int iStatus = -1, iLastError = -1;
    std::string failure;
};

SmtpRun RunSmtp(ScriptedServer& server, const ServerSecurity& s, const std::string& dir)
{
    EXPECT_TRUE(server.Start());
    testutil::WriteFile(dir + "/body", "hello\n");
    std::FILE* f = std::fopen((dir + "/body").c_str(), "rb");
    fw::Window wnd;
    Smtp c(&wnd);
    c.SetSecurity(s);
    CStringList to;
    to.Add("bob@x");
    EXPECT_TRUE(c.SendMail("127.0.0.1", static_cast<std::uint16_t>(server.Port()), f, "S", "me@x",
                           "", &to, nullptr));
    EXPECT_TRUE(PumpUntil([&] { return c.bDone; }));
    std::fclose(f);
    EXPECT_TRUE(server.Finish()) << server.Report();
    return {c.m_iStatus, c.m_iLastError, c.FailureText()};
}

TEST_F(Security, SmtpLoginsHeloWhenEhloIsRefusedAndStartTlsRequired)
{
    ServerSecurity s = ServerSecurity::For("SMTP", ServerSecurity::NONE);
    s.strUser = "joe";
    s.strPassword = "pw";
    // LOGIN only: user and password in turn, each in base64.
    ScriptedServer login;
    login.Say("220 hi\r\n").Expect("EHLO host.test\r\n");
    login.Say("250-x.test\r\n250-STARTTLS\r\n250 AUTH LOGIN\r\n").Expect("AUTH LOGIN\r\n");
    login.Say("334 VXNlcm5hbWU6\r\n").Expect(Base64Of("joe") + "\r\n");
    login.Say("334 UGFzc3dvcmQ6\r\n").Expect(Base64Of("pw") + "\r\n");
    login.Say("535 5.7.8 no\r\n").Expect("QUIT\r\n").Say("221 bye\r\n");
    SmtpRun r = RunSmtp(login, s, dir.Path());
    EXPECT_EQ(r.iStatus, CMessageSender::STATUS_FAILED);
    EXPECT_EQ(r.failure, "535 5.7.8 no");

    // PLAIN preferred when both are offered ("AUTH=" spelling too).
    ScriptedServer plain;
    plain.Say("220 hi\r\n").Expect("EHLO host.test\r\n");
    plain.Say("250-x.test\r\n250-AUTH=LOGIN PLAIN\r\n250 8BITMIME\r\n");
    plain.Expect("AUTH PLAIN " + SaslPlain("joe", "pw") + "\r\n").Say("235 ok\r\n");
    plain.Expect("MAIL FROM:<me@x>\r\n").Say("451 later\r\n").Expect("QUIT\r\n").Say("221\r\n");
    EXPECT_EQ(RunSmtp(plain, s, dir.Path()).failure, "451 later");

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
    EXPECT_EQ(RunSmtp(oauth, t, dir.Path()).failure, "535 5.7.8 bad token");
    ScriptedServer noOauth;
    noOauth.Say("220 hi\r\n").Expect("EHLO host.test\r\n").Say("250-x\r\n250 AUTH PLAIN\r\n");
    SmtpRun n = RunSmtp(noOauth, t, dir.Path());
    EXPECT_EQ(n.iStatus, CMessageSender::STATUS_FAILED);
    EXPECT_NE(n.failure.find("XOAUTH2"), std::string::npos) << n.failure;

    // A server of the old kind: HELO; with a user name there is no login
    // to be had, and the message does not go out without it.
    ScriptedServer old;
    old.Say("220 hi\r\n").Expect("EHLO host.test\r\n").Say("500 what?\r\n");
    old.Expect("HELO host.test\r\n").Say("250 ok\r\n");
    SmtpRun o = RunSmtp(old, s, dir.Path());
    EXPECT_EQ(o.iStatus, CMessageSender::STATUS_FAILED);
    EXPECT_NE(o.failure.find("offers no login"), std::string::npos) << o.failure;

    // Encryption required from a server without it: no password goes out.
    ScriptedServer plainOnly;
    plainOnly.Say("220 hi\r\n").Expect("EHLO host.test\r\n").Say("250-x\r\n250 AUTH PLAIN\r\n");
    plainOnly.Expect("QUIT\r\n").Say("221 bye\r\n");
    s.iMode = ServerSecurity::STARTTLS;
    SmtpRun p = RunSmtp(plainOnly, s, dir.Path());
    EXPECT_EQ(p.iStatus, CMessageSender::STATUS_FAILED);
    EXPECT_EQ(p.iLastError, TLS_E_NOT_OFFERED);
}

TEST_F(Security, NewsStartTlsRefused)
{
    for (int iMode : {ServerSecurity::AUTO, ServerSecurity::STARTTLS}) {
        SCOPED_TRACE(iMode);
        ScriptedServer server;
        server.Say("200 hi\r\n").Expect("STARTTLS\r\n").Say("502 not here\r\n");
        if (iMode == ServerSecurity::AUTO)
            server.Expect("QUIT\r\n").Say("205 bye\r\n");
        ASSERT_TRUE(server.Start());
        CNNTP client(dir.Path().c_str());
        NntpRecorder rec(client);
        std::size_t seen = 0;
        client.SetSecurity(ServerSecurity::For("NNTP", iMode));
        ASSERT_TRUE(client.Connect(&rec, CNNTP::MSG_CONNECT, "127.0.0.1",
                                   static_cast<std::uint16_t>(server.Port()), nullptr, nullptr));
        NntpNote n = rec.Next(&seen);
        if (iMode == ServerSecurity::AUTO) {
            EXPECT_EQ(n.kind, NntpNote::CONNECTED);
            ASSERT_TRUE(client.Quit(&rec, CNNTP::MSG_QUIT));
            rec.Next(&seen);
        } else {
            EXPECT_EQ(n.kind, NntpNote::END);
            EXPECT_EQ(client.m_iLastError, TLS_E_NOT_OFFERED);
        }
        EXPECT_TRUE(server.Finish()) << server.Report();
    }
}

TEST(PasswordCommand, FirstLineOrTheReasonItFailed)
{
    struct Case {
        const char* command;
        bool bOk;
        const char* want; // the password, or part of the reason
    } cases[] = {
        {"printf \"hunter2\\r\\nnext\\n\"", true, "hunter2"},
        // Words, never a shell: the semicolon and the dollar stay text.
        {"echo a;b $HOME", true, "a;b $HOME"},
        {"sh -c \"echo locked >&2; exit 4\"", false, "status 4: locked"},
        {"/nonexistent/vault", false, "cannot be started"},
        {"true", false, "printed no password"},
        {"", false, "empty"},
        {"sh -c \"kill -9 $$\"", false, "signal 9"},
        {"yes", false, "printed more than"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.command);
        std::string password, why;
        EXPECT_EQ(RunPasswordCommand(k.command, password, why), k.bOk) << why;
        EXPECT_NE((k.bOk ? password : why).find(k.want), std::string::npos)
            << password << "|" << why;
        if (k.bOk) {
            EXPECT_EQ(password, k.want);
        }
    }
    // A command that never ends is stopped at the limit.
    std::string password, why;
    EXPECT_FALSE(RunPasswordCommand("sleep 30", password, why, 1));
    EXPECT_NE(why.find("did not finish within 1 seconds"), std::string::npos) << why;
}

TEST(SecurityTexts, LoginsFingerprintsModesAndPorts)
{
    // The published examples of the two mechanisms.
    EXPECT_EQ(SaslPlain("tim", "tanstaaftanstaaf"), "AHRpbQB0YW5zdGFhZnRhbnN0YWFm");
    EXPECT_EQ(SaslXOAuth2("someuser@example.com", "ya29.vF9dft4qmTc2Nvb3RlckBhdHRhdmlzdGEuY29tCg"),
              "dXNlcj1zb21ldXNlckBleGFtcGxlLmNvbQFhdXRoPUJlYXJlciB5YTI5LnZGOWRmdDRxbVRjMk52YjNSbG"
              "NrQmhkSFJoZG1semRHRXVZMjl0Q2cBAQ==");
    EXPECT_EQ(Base64Of("ab"), "YWI=");

    std::string hex(64, 'A');
    EXPECT_EQ(NormalizeFingerprint(hex), std::string(64, 'a'));
    unsigned char d[32];
    for (int i = 0; i < 32; ++i)
        d[i] = static_cast<unsigned char>(i * 8);
    std::string colons = FormatFingerprint(d, 32);
    EXPECT_EQ(colons.substr(0, 9), "00:08:10:");
    EXPECT_EQ(NormalizeFingerprint(colons).size(), 64u);
    EXPECT_EQ(NormalizeFingerprint(hex.substr(1)), "");
    EXPECT_EQ(NormalizeFingerprint(hex.substr(1) + "g"), "");

    for (auto [text, iMode] : {std::pair{"TLS", ServerSecurity::TLS},
                               {"StartTLS", ServerSecurity::STARTTLS},
                               {"none", ServerSecurity::NONE},
                               {"ssl", ServerSecurity::AUTO}})
        EXPECT_EQ(ServerSecurity::ParseMode(text), iMode) << text;
    ServerSecurity tls = ServerSecurity::For("NNTP", ServerSecurity::TLS);
    EXPECT_EQ(tls.EffectivePort(119), 563);
    EXPECT_EQ(tls.EffectivePort(8119), 8119);
    EXPECT_EQ(ServerSecurity::For("SMTP", ServerSecurity::TLS).EffectivePort(25), 465);
    EXPECT_EQ(ServerSecurity::For("SMTP", ServerSecurity::STARTTLS).EffectivePort(25), 25);
    EXPECT_EQ(ServerSecurity::For("POP3", ServerSecurity::TLS).EffectivePort(110), 995);
}

} // namespace
