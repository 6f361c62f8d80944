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
#include <memory>
#include <sys/socket.h>

namespace {

constexpr unsigned kMsg = 1225;

// Greeting (class 2) -> "DATA" -> (3) -> the body -> (2) -> "QUIT" -> any
// reply or the close; then the status goes to the owner.
class CTestSender : public CSendingClient {
public:
    enum { ABORTED, DONE, FAILED, INVALID };
    CTestSender(fw::Window* pWnd, std::FILE* pBody, int iSendBuffer)
        : CSendingClient("CTEST", pWnd, kMsg), m_pBody(pBody), m_iSendBuffer(iSendBuffer)
    {
    }
    void Start(unsigned short port)
    {
        BeginSession("127.0.0.1", port);
        SetState(&CTestSender::Step);
        StartConnect();
    }
    void Abort()
    {
        if (!IsIdle())
            End(ABORTED);
    }
    int m_iEvents = 0; // reply events seen
    int m_iWaits = 0;  // times the body waited for the command buffer

protected:
    void OnInvalidReply() override { End(INVALID); }
    void OnOverlongLine() override { End(FAILED); }

private:
    void End(int iStatus)
    {
        CloseSession();
        Notify(static_cast<fw::WPARAM>(iStatus), 0);
    }
    // Where the session is: awaiting the greeting, the go-ahead for the
    // body, sending it, awaiting its acceptance, awaiting QUIT's reply.
    enum { GREETING, DATA, BODY, SENT, QUITTING };
    bool Step(int e)
    {
        if (e == EV_CONNECTED && m_iSendBuffer > 0)
            m_socket.SetSockOpt(SOL_SOCKET, SO_SNDBUF,
                                reinterpret_cast<const char*>(&m_iSendBuffer),
                                sizeof m_iSendBuffer);
        bool bReply = e >= EV_CLASS1 && e <= EV_CLASS5;
        m_iEvents += bReply;
        if (e == EV_CLOSED || e == EV_CONNECT_FAILED || (m_iPhase == QUITTING && bReply))
            End(m_iPhase == QUITTING ? DONE : FAILED);
        else if (e == EV_CLASS2 && (m_iPhase == GREETING || m_iPhase == SENT))
            SendLine(m_iPhase++ == GREETING ? "DATA\r\n" : "QUIT\r\n");
        else if ((e == EV_CLASS3 && m_iPhase == DATA) || (e == EV_BUFFER_SENT && m_iPhase == BODY))
            SendBody();
        return false;
    }
    void SendBody()
    {
        if (m_iPhase == DATA)
            BeginBody(m_pBody);
        m_iPhase = BODY;
        while (!CommandBusy()) {
            BodyStep r = SendNextBodyLine();
            if (r == BODY_END_SENT)
                m_iPhase = SENT;
            else if (r != BODY_LINE_SENT)
                End(FAILED);
            if (r != BODY_LINE_SENT)
                return;
        }
        ++m_iWaits; // the WRITE event brings us back
    }
    std::FILE* m_pBody;
    int m_iSendBuffer;
    int m_iPhase = 0;
};

struct Owner : fw::Window {
    Owner()
    {
        OnMessage(kMsg, [this](fw::WPARAM w, fw::LPARAM) -> fw::LRESULT {
            iStatus = static_cast<int>(w);
            return 0;
        });
    }
    int iStatus = -1;
};

class SendingClient : public ::testing::Test {
protected:
    void SetUp() override { prototest::EnsureWinsock(); }
    // Sends the body to the server with the test's client; its status.
    int Send(ScriptedServer& server, const std::string& body, int iSendBuffer = 0)
    {
        EXPECT_TRUE(server.Start());
        testutil::WriteFile(dir.File("body"), body);
        std::FILE* f = std::fopen(dir.File("body").c_str(), "rb");
        client = std::make_unique<CTestSender>(&owner, f, iSendBuffer);
        client->Start(server.Port());
        EXPECT_TRUE(prototest::PumpUntil([&] { return owner.iStatus >= 0; }, 60000));
        std::fclose(f);
        EXPECT_TRUE(server.Finish()) << server.Report();
        EXPECT_TRUE(client->IsIdle());
        return owner.iStatus;
    }
    testutil::TempDir dir;
    Owner owner;
    std::unique_ptr<CTestSender> client;
};

TEST_F(SendingClient, MultiLineReplyIsOneEventAndTheBodyIsStuffed)
{
    ScriptedServer server(ScriptedServer::Split::Bytes);
    server.Say("220-first\r\n220-second line\r\n220 ready\r\n").Expect("DATA\r\n");
    server.Say("354 go ahead\r\n").Expect("line\r\n..dot\r\n..\r\n\r\nlast\r\n.\r\n");
    server.Say("250 ok\r\n").Expect("QUIT\r\n").Say("221 bye\r\n").ExpectClose();
    EXPECT_EQ(Send(server, "line\n.dot\n.\n\nlast\n"), CTestSender::DONE);
    EXPECT_EQ(client->m_iEvents, 4); // greeting, 354, 250, 221
    EXPECT_STREQ(client->LastReply(), "221 bye");
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
    EXPECT_EQ(Send(server, body, 4096), CTestSender::DONE);
    // Small buffers at both ends: the socket had to queue lines.
    EXPECT_GT(client->m_iWaits, 0);
}

TEST_F(SendingClient, LineOver998CharactersStopsTheSend)
{
    ScriptedServer server;
    server.Say("220 hi\r\n").Expect("DATA\r\n").Say("354 go\r\n").Expect("ok\r\n").ExpectClose();
    EXPECT_EQ(Send(server, "ok\n" + std::string(999, 'x') + "\nnever\n"), CTestSender::FAILED);
}

TEST_F(SendingClient, ReplyWithoutAClassIsRefused)
{
    for (const char* bad : {"hello\r\n", "6xx\r\n", "\r\n", "0 zero\r\n"}) {
        SCOPED_TRACE(bad);
        ScriptedServer server(ScriptedServer::Split::Pairs);
        server.Say(bad).ExpectClose();
        owner.iStatus = -1;
        EXPECT_EQ(Send(server, ""), CTestSender::INVALID);
        EXPECT_EQ(client->m_iEvents, 0);
    }
}

TEST_F(SendingClient, AbortWhileWaiting)
{
    ScriptedServer server;
    server.Say("220-only the first line of many\r\n").Hold();
    ASSERT_TRUE(server.Start());
    CTestSender c(&owner, nullptr, 0);
    c.Start(server.Port());
    ASSERT_TRUE(prototest::PumpUntil([&] { return server.StepsDone() >= 1; }));
    EXPECT_FALSE(c.IsIdle());
    c.Abort();
    EXPECT_TRUE(c.IsIdle());
    EXPECT_TRUE(server.Finish()) << server.Report();
    ASSERT_TRUE(prototest::PumpUntil([&] { return owner.iStatus >= 0; }));
    EXPECT_EQ(owner.iStatus, CTestSender::ABORTED);
    EXPECT_EQ(c.m_iEvents, 0);
}

} // namespace
