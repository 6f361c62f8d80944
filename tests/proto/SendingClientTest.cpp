// The sending clients' shared part, driven by a small client of the test's
// own: multi-line replies give one event, the body goes out dot-stuffed
// through the one command buffer (waiting for it while the socket has it
// queued), a line over 998 characters stops the send, a reply of no class
// is refused.
#include "ClientHarness.h"
#include "ScriptedServer.h"
#include "TestUtil.h"

#include "proto/CSendingClient.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/socket.h>

namespace {

constexpr unsigned kMsg = 1225;

// GREETING(2) -> "DATA" -> (3) -> body -> (2) -> "QUIT" -> (2) -> end.
class CTestSender : public CSendingClient {
public:
    enum { ABORTED = 0, DONE = 1, FAILED = 2, INVALID = 3 };
    CTestSender(fw::Window* pWnd) : CSendingClient("CTEST", pWnd, kMsg) {}

    void Start(unsigned short port, std::FILE* pBody)
    {
        m_pBodyStream = pBody;
        BeginSession("127.0.0.1", port);
        SetState(&CTestSender::Connect);
        Run(EV_ENTER);
    }
    void Abort()
    {
        m_iStatus = ABORTED;
        Run(EV_ABORT);
    }
    int m_iStatus = ABORTED;
    int m_iEvents = 0; // reply events seen
    int m_iWaits = 0;  // times the body waited for the command buffer
    int m_iSendBuffer = 0;

protected:
    void OnInvalidReply() override { Fail(INVALID); }
    void OnOverlongLine() override { Fail(FAILED); }

private:
    void Fail(int iStatus)
    {
        m_iStatus = iStatus;
        SetState(&CTestSender::End);
        Run(EV_ENTER);
    }
    bool Common(int e)
    {
        if (e == EV_CLOSED || e == EV_ABORT || e == EV_CONNECT_FAILED) {
            if (e != EV_ABORT)
                m_iStatus = FAILED;
            SetState(&CTestSender::End);
            return true;
        }
        if (e >= EV_CLASS1 && e <= EV_CLASS5)
            ++m_iEvents;
        return false;
    }
    bool Connect(int)
    {
        SetState(&CTestSender::AwaitGreeting);
        StartConnect();
        return false;
    }
    bool AwaitGreeting(int e)
    {
        if (e == EV_CONNECTED && m_iSendBuffer > 0)
            m_socket.SetSockOpt(SOL_SOCKET, SO_SNDBUF,
                                reinterpret_cast<const char*>(&m_iSendBuffer),
                                sizeof m_iSendBuffer);
        if (Common(e))
            return true;
        if (e == EV_CLASS2) {
            SendLine("DATA\r\n");
            SetState(&CTestSender::AwaitGo);
        }
        return false;
    }
    bool AwaitGo(int e)
    {
        if (Common(e))
            return true;
        if (e == EV_CLASS3) {
            BeginBody(m_pBodyStream);
            SetState(&CTestSender::SendBody);
            return true;
        }
        return false;
    }
    bool SendBody(int e)
    {
        if (Common(e))
            return true;
        if (e != EV_ENTER && e != EV_BUFFER_SENT)
            return false;
        while (!CommandBusy()) {
            switch (SendNextBodyLine()) {
            case BODY_LINE_SENT:
                continue;
            case BODY_END_SENT:
                SetState(&CTestSender::AwaitDone);
                return false;
            default:
                m_iStatus = FAILED;
                SetState(&CTestSender::End);
                return true;
            }
        }
        ++m_iWaits;
        return false; // event 8 brings us back
    }
    bool AwaitDone(int e)
    {
        if (Common(e))
            return true;
        if (e == EV_CLASS2) {
            m_iStatus = DONE;
            SendLine("QUIT\r\n");
            SetState(&CTestSender::AwaitQuit);
        }
        return false;
    }
    bool AwaitQuit(int e)
    {
        if (e >= EV_CLASS1 && e <= EV_CLASS5)
            ++m_iEvents;
        if (e == EV_CLOSED || (e >= EV_CLASS1 && e <= EV_CLASS5)) {
            SetState(&CTestSender::End);
            return true;
        }
        return Common(e);
    }
    bool End(int)
    {
        CloseSession();
        Notify(static_cast<fw::WPARAM>(m_iStatus), 0);
        return false;
    }
    std::FILE* m_pBodyStream = nullptr;
};

struct Owner : fw::Window {
    Owner()
    {
        OnMessage(kMsg, [this](fw::WPARAM w, fw::LPARAM) -> fw::LRESULT {
            bEnded = true;
            iStatus = static_cast<int>(w);
            return 0;
        });
    }
    bool bEnded = false;
    int iStatus = -1;
};

class SendingClient : public ::testing::Test {
protected:
    void SetUp() override { prototest::EnsureWinsock(); }
    std::FILE* Body(const std::string& text)
    {
        testutil::WriteFile(dir.File("body"), text);
        return std::fopen(dir.File("body").c_str(), "rb");
    }
    testutil::TempDir dir;
};

TEST_F(SendingClient, MultiLineReplyIsOneEventAndTheBodyIsStuffed)
{
    ScriptedServer server(ScriptedServer::Split::Bytes);
    server.Say("220-first\r\n220-second line\r\n220 ready\r\n").Expect("DATA\r\n");
    server.Say("354 go ahead\r\n").Expect("line\r\n..dot\r\n..\r\n\r\nlast\r\n.\r\n");
    server.Say("250 ok\r\n").Expect("QUIT\r\n").Say("221 bye\r\n").ExpectClose();
    ASSERT_TRUE(server.Start());
    Owner owner;
    CTestSender c(&owner);
    std::FILE* f = Body("line\n.dot\n.\n\nlast\n");
    c.Start(server.Port(), f);
    ASSERT_TRUE(prototest::PumpUntil([&] { return owner.bEnded; }));
    std::fclose(f);
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_EQ(owner.iStatus, CTestSender::DONE);
    EXPECT_EQ(c.m_iEvents, 4); // greeting, 354, 250, 221
    EXPECT_STREQ(c.LastReply(), "221 bye");
}

TEST_F(SendingClient, LargeBodyWaitsForTheCommandBuffer)
{
    // Enough that the socket has to queue lines and report them sent later.
    std::string body, wire;
    for (int i = 0; i < 40000; ++i) {
        std::string line =
            (i % 7 == 0 ? "." : "") + std::string(90, static_cast<char>('a' + i % 26));
        body += line + "\n";
        wire += (line[0] == '.' ? "." : "") + line + "\r\n";
    }
    ScriptedServer server;
    server.SetReceiveBuffer(4096);
    server.Say("220 hi\r\n").Expect("DATA\r\n").Say("354 go\r\n").Expect(wire + ".\r\n");
    server.Say("250 ok\r\n").Expect("QUIT\r\n").Say("221 bye\r\n").ExpectClose();
    ASSERT_TRUE(server.Start());
    Owner owner;
    CTestSender c(&owner);
    c.m_iSendBuffer = 4096;
    std::FILE* f = Body(body);
    c.Start(server.Port(), f);
    ASSERT_TRUE(prototest::PumpUntil([&] { return owner.bEnded; }, 60000));
    std::fclose(f);
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_EQ(owner.iStatus, CTestSender::DONE);
    // Small buffers at both ends: the socket had to queue lines.
    EXPECT_GT(c.m_iWaits, 0);
}

TEST_F(SendingClient, LineOver998CharactersStopsTheSend)
{
    ScriptedServer server;
    server.Say("220 hi\r\n").Expect("DATA\r\n").Say("354 go\r\n").Expect("ok\r\n").ExpectClose();
    ASSERT_TRUE(server.Start());
    Owner owner;
    CTestSender c(&owner);
    std::FILE* f = Body("ok\n" + std::string(999, 'x') + "\nnever\n");
    c.Start(server.Port(), f);
    ASSERT_TRUE(prototest::PumpUntil([&] { return owner.bEnded; }));
    std::fclose(f);
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_EQ(owner.iStatus, CTestSender::FAILED);
}

TEST_F(SendingClient, ReplyWithoutAClassIsRefused)
{
    for (const char* bad : {"hello\r\n", "6xx\r\n", "\r\n", "0 zero\r\n"}) {
        SCOPED_TRACE(bad);
        ScriptedServer server(ScriptedServer::Split::Pairs);
        server.Say(bad).ExpectClose();
        ASSERT_TRUE(server.Start());
        Owner owner;
        CTestSender c(&owner);
        c.Start(server.Port(), nullptr);
        ASSERT_TRUE(prototest::PumpUntil([&] { return owner.bEnded; }));
        EXPECT_TRUE(server.Finish()) << server.Report();
        EXPECT_EQ(owner.iStatus, CTestSender::INVALID);
        EXPECT_EQ(c.m_iEvents, 0);
    }
}

TEST_F(SendingClient, AbortWhileWaiting)
{
    ScriptedServer server;
    server.Say("220-only the first line of many\r\n").Hold();
    ASSERT_TRUE(server.Start());
    Owner owner;
    CTestSender c(&owner);
    c.Start(server.Port(), nullptr);
    ASSERT_TRUE(prototest::PumpUntil([&] { return server.StepsDone() >= 1; }));
    EXPECT_FALSE(c.IsIdle());
    c.Abort();
    EXPECT_TRUE(c.IsIdle());
    EXPECT_TRUE(server.Finish()) << server.Report();
    ASSERT_TRUE(prototest::PumpUntil([&] { return owner.bEnded; }));
    EXPECT_EQ(owner.iStatus, CTestSender::ABORTED);
    EXPECT_EQ(c.m_iEvents, 0);
}

} // namespace
