// Stream sockets on loopback: connect, accept, the output queue, close and
// end of stream, judged by the order of the events they report.

#include "NetTestUtil.h"

#include <sys/socket.h>

using namespace nettest;

namespace {

class StreamSocketTest : public NetTest {
protected:
    // Connects m_client to the listener and waits for both ends.
    void ConnectPair()
    {
        ASSERT_EQ(0, m_listener.m_iListenError);
        m_client.m_pCallback = &m_clientRec;
        m_client.m_dwCallbackData = 77;
        int iErr = m_client.Connect(CSockAddr(m_listener.Port(), Loopback(1)));
        ASSERT_EQ(wsa::WSAEWOULDBLOCK, iErr);
        EXPECT_EQ(CStreamSocket::CONNECTING, m_client.m_iState);
        ASSERT_TRUE(fw::MessageLoop::PumpUntil(
            [&] {
                return m_clientRec.Count(CStreamCallback::CONNECT) == 1 &&
                       m_listener.accepted.size() == 1;
            },
            kTimeoutMs));
        EXPECT_EQ(0, m_clientRec.events[0].iError);
        EXPECT_EQ(77u, m_clientRec.m_dwLastData);
        EXPECT_EQ(CStreamSocket::CONNECTED, m_client.m_iState);
        m_server = m_listener.accepted[0].get();
        EXPECT_EQ(CStreamSocket::CONNECTED, m_server->m_iState);
    }

    // Fixed, modest kernel buffers, so that a few megabytes fill them for
    // sure while the far end is not reading, and drain quickly once it is.
    void LimitBuffers()
    {
        int iSend = 16384, iReceive = 65536;
        ASSERT_EQ(0, m_client.SetSockOpt(SOL_SOCKET, SO_SNDBUF,
                                         reinterpret_cast<const char*>(&iSend), sizeof iSend));
        ASSERT_EQ(0,
                  m_server->SetSockOpt(SOL_SOCKET, SO_RCVBUF,
                                       reinterpret_cast<const char*>(&iReceive), sizeof iReceive));
    }

    // From now on, everything the accepted socket receives goes into "into".
    void DrainServer(CStreamSocket& server, std::string& into)
    {
        m_listener.peer.on = [&server, &into](int e, int, const char*) {
            if (e == CStreamCallback::READ)
                ReadAll(server, into);
        };
        ReadAll(server, into);
    }

    Listener m_listener;
    StreamRecorder m_clientRec;
    std::unique_ptr<CStreamSocket> m_pClient = std::make_unique<CStreamSocket>();
    CStreamSocket& m_client = *m_pClient; // until a test destroys it
    CStreamSocket* m_server = nullptr;
};

TEST_F(StreamSocketTest, ConnectAcceptAndExchangeBothWays)
{
    ConnectPair();
    std::string atServer, atClient;
    DrainServer(*m_server, atServer);
    m_clientRec.on = [&](int e, int, const char*) {
        if (e == CStreamCallback::READ)
            ReadAll(m_client, atClient);
    };
    static const char kHello[] = "USER someone\r\n";
    EXPECT_EQ(0, m_client.Send(kHello, sizeof kHello - 1));
    ASSERT_TRUE(fw::MessageLoop::PumpUntil([&] { return atServer == kHello; }, kTimeoutMs));
    static const char kReply[] = "+OK welcome\r\n";
    EXPECT_EQ(0, m_server->Send(kReply, sizeof kReply - 1));
    ASSERT_TRUE(fw::MessageLoop::PumpUntil([&] { return atClient == kReply; }, kTimeoutMs));
    // A buffer that went out at once never gives a WRITE event.
    Settle();
    EXPECT_EQ(0, m_clientRec.Count(CStreamCallback::WRITE));
    EXPECT_EQ(0, m_listener.peer.Count(CStreamCallback::WRITE));

    // Without a callback, events are dropped.
    std::size_t nEvents = m_clientRec.events.size();
    m_client.m_pCallback = nullptr;
    ASSERT_EQ(0, m_server->Send("ignored\r\n", 9));
    Settle();
    EXPECT_EQ(nEvents, m_clientRec.events.size());
    EXPECT_EQ(atClient, kReply);
}

TEST_F(StreamSocketTest, QueuedSendsGoOutInOrderWithOneWriteEventEach)
{
    ConnectPair();
    LimitBuffers();

    // The far end does not read yet, so the kernel buffers fill and the rest
    // of the first buffer waits in the queue.
    std::string first(8 << 20, '\0');
    for (std::size_t i = 0; i < first.size(); ++i)
        first[i] = static_cast<char>('a' + i % 26);
    std::string second = "second buffer, queued whole\r\n";
    ASSERT_EQ(wsa::WSAEWOULDBLOCK, m_client.Send(first.data(), static_cast<int>(first.size())));
    ASSERT_EQ(wsa::WSAEWOULDBLOCK, m_client.Send(second.data(), static_cast<int>(second.size())));
    ASSERT_NE(m_client.m_pbdHead, m_client.m_pbdTail);

    // Nothing is reported while the far end is not reading.
    Settle();
    EXPECT_EQ(0, m_clientRec.Count(CStreamCallback::WRITE));

    // A send from the WRITE event of the last queued buffer still goes out
    // after it (with a WRITE event of its own if it had to wait).
    std::string tail = "tail";
    int iTail = -1;
    m_clientRec.on = [&](int e, int, const char* p) {
        if (e == CStreamCallback::WRITE && p == second.data())
            iTail = m_client.Send(tail.data(), static_cast<int>(tail.size()));
    };
    std::string atServer;
    DrainServer(*m_server, atServer);
    ASSERT_TRUE(fw::MessageLoop::PumpUntil(
        [&] { return atServer.size() == first.size() + second.size() + tail.size(); }, kTimeoutMs));
    Settle();
    EXPECT_EQ(m_clientRec.Count(CStreamCallback::WRITE), iTail == 0 ? 2 : 3);
    std::vector<StreamEvent> writes;
    for (const auto& e : m_clientRec.events)
        if (e.iEvent == CStreamCallback::WRITE)
            writes.push_back(e);
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ(first.data(), writes[0].pBuffer);
    EXPECT_EQ(0, writes[0].iError);
    EXPECT_EQ(second.data(), writes[1].pBuffer);
    EXPECT_EQ(0, writes[1].iError);
    EXPECT_TRUE(atServer == first + second + tail);
    EXPECT_EQ(nullptr, m_client.m_pbdHead);
    EXPECT_EQ(nullptr, m_client.m_pbdTail);

    // With the queue empty, a Send goes straight out again.
    EXPECT_EQ(0, m_client.Send("x", 1));
}

TEST_F(StreamSocketTest, CloseDropsQueuedOutputWithoutWriteEvents)
{
    ConnectPair();
    LimitBuffers();
    std::string big(8 << 20, 'q');
    ASSERT_EQ(wsa::WSAEWOULDBLOCK, m_client.Send(big.data(), static_cast<int>(big.size())));
    ASSERT_EQ(wsa::WSAEWOULDBLOCK, m_client.Send("more", 4));
    wsa::SOCKET old = m_client.m_s;

    EXPECT_EQ(0, m_client.Close());
    EXPECT_EQ(wsa::INVALID_SOCKET, m_client.m_s);
    EXPECT_EQ(CStreamSocket::IDLE, m_client.m_iState);
    EXPECT_EQ(nullptr, m_client.m_pbdHead);
    EXPECT_EQ(nullptr, FindWinsockEventCallback(old, WINSOCK_KIND_SOCKET));

    // The far end reads what had reached it; the closed socket says nothing.
    std::string atServer;
    DrainServer(*m_server, atServer);
    ASSERT_TRUE(fw::MessageLoop::PumpUntil(
        [&] { return m_listener.peer.Count(CStreamCallback::CLOSE) == 1; }, kTimeoutMs));
    EXPECT_LT(atServer.size(), big.size());
    // A late notification for the old handle finds no receiver.
    std::size_t nBefore = m_clientRec.events.size();
    EXPECT_EQ(0, GetWinsockEventWindow()->Send(WM_WINSOCK_SELECT, old,
                                               wsa::MakeSelectReply(wsa::FD_WRITE, 0)));
    EXPECT_EQ(0, GetWinsockEventWindow()->Send(WM_WINSOCK_SELECT, old,
                                               wsa::MakeSelectReply(wsa::FD_READ, 0)));
    Settle();
    EXPECT_EQ(nBefore, m_clientRec.events.size());
    EXPECT_EQ(0, m_clientRec.Count(CStreamCallback::WRITE));
}

TEST_F(StreamSocketTest, PeerCloseReportsDataFirstThenCloseAndReceiveGivesEndOfStream)
{
    ConnectPair();
    std::string atClient;
    int iEndResult = -1, iEndLength = -1;
    m_clientRec.on = [&](int e, int, const char*) {
        if (e == CStreamCallback::READ)
            ReadAll(m_client, atClient);
        if (e == CStreamCallback::CLOSE) {
            char buf[16];
            int iLen = sizeof buf;
            iEndResult = m_client.Receive(buf, iLen);
            iEndLength = iLen;
        }
    };
    ASSERT_EQ(0, m_server->Send("+OK bye\r\n", 9));
    EXPECT_EQ(0, m_server->Close());
    ASSERT_TRUE(fw::MessageLoop::PumpUntil(
        [&] { return m_clientRec.Count(CStreamCallback::CLOSE) == 1; }, kTimeoutMs));
    EXPECT_EQ("+OK bye\r\n", atClient);
    EXPECT_EQ(0, iEndResult);
    EXPECT_EQ(0, iEndLength);
    // Every READ came before the CLOSE, and CLOSE came once, without error.
    EXPECT_EQ(CStreamCallback::CLOSE, m_clientRec.events.back().iEvent);
    EXPECT_EQ(0, m_clientRec.events.back().iError);
    EXPECT_GE(m_clientRec.Count(CStreamCallback::READ), 1);
    Settle();
    EXPECT_EQ(1, m_clientRec.Count(CStreamCallback::CLOSE));
}

TEST_F(StreamSocketTest, SendToResetPeerFailsWithoutKillingTheProcess)
{
    ConnectPair();
    // An abortive close on the far end: the next sends meet a reset.
    linger lg{1, 0};
    m_server->SetSockOpt(SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lg), sizeof lg);
    m_server->Close();
    ASSERT_TRUE(fw::MessageLoop::PumpUntil(
        [&] { return m_clientRec.Count(CStreamCallback::CLOSE) == 1; }, kTimeoutMs));
    EXPECT_EQ(wsa::WSAECONNRESET, m_clientRec.events.back().iError);
    int iErr = 0;
    for (int i = 0; i < 3 && iErr == 0; ++i)
        iErr = m_client.Send("data", 4);
    EXPECT_EQ(wsa::WSAECONNRESET, iErr);
    EXPECT_EQ(nullptr, m_client.m_pbdHead); // a failed send is not queued
}

TEST_F(StreamSocketTest, RefusedConnectStaysConnectingUntilClosed)
{
    std::uint16_t wPort = ClosedPort();
    m_client.m_pCallback = &m_clientRec;
    int iErr = m_client.Connect(CSockAddr(wPort, Loopback(1)));
    if (iErr == wsa::WSAEWOULDBLOCK) {
        ASSERT_TRUE(fw::MessageLoop::PumpUntil(
            [&] { return m_clientRec.Count(CStreamCallback::CONNECT) == 1; }, kTimeoutMs));
        EXPECT_EQ(wsa::WSAECONNREFUSED, m_clientRec.events[0].iError);
        EXPECT_EQ(CStreamSocket::CONNECTING, m_client.m_iState);
    } else {
        EXPECT_EQ(wsa::WSAECONNREFUSED, iErr);
        EXPECT_EQ(CStreamSocket::IDLE, m_client.m_iState);
    }
    EXPECT_NE(wsa::INVALID_SOCKET, m_client.m_s); // the owner closes it
    EXPECT_EQ(0, m_client.Close());
    EXPECT_EQ(CStreamSocket::IDLE, m_client.m_iState);
    EXPECT_EQ(m_iRegistered, WinsockEventCallbackCount()); // the listener's entry only
}

TEST_F(StreamSocketTest, OperationsWithoutSocketAndListenOnAnAddressInUse)
{
    CStreamSocket s;
    sockaddr_in a{};
    EXPECT_EQ(wsa::WSAENOTSOCK, s.GetPeerName(&a));
    EXPECT_EQ(wsa::WSAENOTSOCK, s.m_iLastError);
    EXPECT_EQ(0, s.Close());
    char buf[4];
    int iLen = sizeof buf;
    EXPECT_EQ(wsa::WSAENOTSOCK, s.Receive(buf, iLen));
    EXPECT_EQ(0, iLen);
    ASSERT_EQ(0, m_listener.m_iListenError);
    EXPECT_EQ(wsa::WSAEADDRINUSE, s.Listen(CSockAddr(m_listener.Port(), Loopback(1))));
    EXPECT_EQ(CStreamSocket::IDLE, s.m_iState);
}

TEST_F(StreamSocketTest, DestroyingSocketInWriteEventStopsDraining)
{
    ConnectPair();
    LimitBuffers();
    std::string big(8 << 20, 'd');
    ASSERT_EQ(wsa::WSAEWOULDBLOCK, m_client.Send(big.data(), static_cast<int>(big.size())));
    ASSERT_EQ(wsa::WSAEWOULDBLOCK, m_client.Send("a", 1));
    ASSERT_EQ(wsa::WSAEWOULDBLOCK, m_client.Send("b", 1));
    int nWrites = 0;
    m_clientRec.on = [&](int e, int, const char*) {
        if (e == CStreamCallback::WRITE && ++nWrites == 1)
            m_pClient.reset();
    };
    std::string atServer;
    DrainServer(*m_server, atServer);
    ASSERT_TRUE(fw::MessageLoop::PumpUntil([&] { return m_pClient == nullptr; }, kTimeoutMs));
    Settle();
    EXPECT_EQ(1, nWrites);
}

} // namespace
