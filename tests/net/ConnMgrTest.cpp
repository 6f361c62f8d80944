// The connection sequence on loopback: numeric addresses, looked-up names,
// the next address after an unreachable network or a time-out, cancelling.
// Connect errors that loopback cannot produce are injected by the platform's
// connect hook, which stops the attempt before any packet is sent.

#include "NetTestUtil.h"

#include "net/CConnMgr.h"

#include <map>

using namespace nettest;

namespace {

class ConnMgrTest : public NetTest {
protected:
    void SetUp() override
    {
        NetTest::SetUp();
        m_connMgr = std::make_unique<CConnMgr>(&m_owner, 55);
        // Every connect is recorded; addresses listed in m_injected fail
        // with their error without touching the network.
        wsa::SetConnectHook([this](const sockaddr_in& sin) {
            CSockAddr a(sin);
            m_tried.push_back(a);
            EXPECT_EQ(127u, a.Address() >> 24) << "a test tried to leave loopback";
            auto it = m_injected.find(a.Address());
            return it == m_injected.end() ? 0 : it->second;
        });
    }
    void TearDown() override
    {
        m_connMgr.reset();
        NetTest::TearDown();
    }
    void UseNames(std::vector<std::uint32_t> addrs)
    {
        wsa::SetResolveHook([addrs](const std::string& name, std::vector<std::uint32_t>& out) {
            if (name != "server.test")
                return static_cast<int>(wsa::WSAHOST_NOT_FOUND);
            out = addrs;
            return 0;
        });
    }
    bool WaitResult()
    {
        return fw::MessageLoop::PumpUntil([&] { return !m_owner.results.empty(); }, kTimeoutMs);
    }

    ConnRecorder m_owner;
    std::unique_ptr<CConnMgr> m_connMgr;
    CStreamSocket m_socket;
    StreamRecorder m_final;
    std::vector<CSockAddr> m_tried;
    std::map<std::uint32_t, int> m_injected;
};

TEST_F(ConnMgrTest, NumericAddressConnectsWithoutLookupAndTheNextConnectDropsIt)
{
    Listener listener;
    int iInFlight = wsa::LookupsInFlight();
    ASSERT_TRUE(m_connMgr->Connect("127.0.0.1", listener.Port(), &m_socket, &m_final, 31));
    EXPECT_EQ(iInFlight, wsa::LookupsInFlight());
    EXPECT_FALSE(m_connMgr->IsIdle());
    EXPECT_EQ(m_connMgr.get(), m_socket.m_pCallback);
    // A Connect while one is running is refused and changes nothing.
    CStreamSocket other;
    StreamRecorder otherFinal;
    EXPECT_FALSE(m_connMgr->Connect("localhost", 1, &other, &otherFinal, 2));
    EXPECT_EQ(nullptr, other.m_pCallback);
    EXPECT_EQ(listener.Port(), m_connMgr->m_wPort);
    EXPECT_STREQ("127.0.0.1", m_connMgr->m_pszHost.get());
    ASSERT_TRUE(WaitResult());
    ASSERT_EQ(std::vector<int>{CConnMgrCallback::CONNECTED}, m_owner.results);
    EXPECT_EQ(55u, m_owner.m_dwLastData);
    EXPECT_TRUE(m_connMgr->m_bNumericAddress);
    EXPECT_EQ(0, m_connMgr->m_iLastError);
    EXPECT_EQ(nullptr, m_connMgr->m_pszHost);
    EXPECT_TRUE(m_connMgr->IsIdle());
    EXPECT_EQ(CStreamSocket::CONNECTED, m_socket.m_iState);
    // The socket now reports to its final owner with the final data.
    EXPECT_EQ(&m_final, m_socket.m_pCallback);
    EXPECT_EQ(31u, m_socket.m_dwCallbackData);
    ASSERT_TRUE(
        fw::MessageLoop::PumpUntil([&] { return listener.accepted.size() == 1; }, kTimeoutMs));
    ASSERT_EQ(0, listener.accepted[0]->Send("200 ready\r\n", 11));
    ASSERT_TRUE(fw::MessageLoop::PumpUntil(
        [&] { return m_final.Count(CStreamCallback::READ) >= 1; }, kTimeoutMs));
    EXPECT_EQ(31u, m_final.m_dwLastData);
    EXPECT_EQ(1u, m_tried.size());

    // The second time by name, through the system's own lookup.
    wsa::SOCKET first = m_socket.m_s;
    m_owner.results.clear();
    ASSERT_TRUE(m_connMgr->Connect("localhost", listener.Port(), &m_socket, &m_final, 0));
    EXPECT_NE(first, m_socket.m_s);
    ASSERT_TRUE(WaitResult());
    EXPECT_EQ(std::vector<int>{CConnMgrCallback::CONNECTED}, m_owner.results);
    EXPECT_FALSE(m_connMgr->m_bNumericAddress);
    // The far end of the first connection sees it close.
    ASSERT_TRUE(fw::MessageLoop::PumpUntil(
        [&] { return listener.peer.Count(CStreamCallback::CLOSE) == 1; }, kTimeoutMs));
}

TEST_F(ConnMgrTest, LookedUpNameMovesOnAfterTimeOutAndUnreachableNetwork)
{
    Listener listener(Loopback(4));
    ASSERT_EQ(0, listener.m_iListenError);
    UseNames({Loopback(2), Loopback(3), Loopback(4)});
    m_injected[Loopback(2)] = wsa::WSAETIMEDOUT;
    m_injected[Loopback(3)] = wsa::WSAENETUNREACH;
    ASSERT_TRUE(m_connMgr->Connect("server.test", listener.Port(), &m_socket, &m_final, 0));
    ASSERT_TRUE(WaitResult());
    EXPECT_EQ(std::vector<int>{CConnMgrCallback::CONNECTED}, m_owner.results);
    EXPECT_FALSE(m_connMgr->m_bNumericAddress);
    ASSERT_EQ(3u, m_tried.size());
    EXPECT_EQ(Loopback(2), m_tried[0].Address());
    EXPECT_EQ(Loopback(3), m_tried[1].Address());
    EXPECT_EQ(Loopback(4), m_tried[2].Address());
    for (const auto& a : m_tried)
        EXPECT_EQ(listener.Port(), a.Port());
    ASSERT_TRUE(
        fw::MessageLoop::PumpUntil([&] { return listener.accepted.size() == 1; }, kTimeoutMs));
    sockaddr_in peer{};
    ASSERT_EQ(0, m_socket.GetPeerName(&peer));
    EXPECT_EQ(Loopback(4), CSockAddr(peer).Address());
}

TEST_F(ConnMgrTest, FailuresAreReportedOnceAfterTheRightTries)
{
    std::uint16_t wClosed = ClosedPort();
    const struct {
        const char* name;
        const char* host;
        std::vector<std::uint32_t> names; // what server.test resolves to
        std::vector<std::uint32_t> timeOut;
        int iError;
        std::size_t nTries;
    } rows[] = {
        {"a refused numeric address: no second try", "127.0.0.1", {}, {}, wsa::WSAECONNREFUSED, 1},
        {"a numeric address timing out: no second try", "127.0.0.2", {}, {2}, wsa::WSAETIMEDOUT, 1},
        {"every address timing out", "server.test", {2, 3, 4}, {2, 3, 4}, wsa::WSAETIMEDOUT, 3},
        {"other errors end at once", "server.test", {1, 3}, {3}, wsa::WSAECONNREFUSED, 1},
        {"an unknown host: no connect", "unknown.test", {}, {}, wsa::WSAHOST_NOT_FOUND, 0},
    };
    for (const auto& row : rows) {
        std::vector<std::uint32_t> addrs;
        for (std::uint32_t i : row.names)
            addrs.push_back(Loopback(static_cast<int>(i)));
        UseNames(addrs);
        m_injected.clear();
        for (std::uint32_t i : row.timeOut)
            m_injected[Loopback(static_cast<int>(i))] = wsa::WSAETIMEDOUT;
        m_tried.clear();
        m_owner.results.clear();
        ASSERT_TRUE(m_connMgr->Connect(row.host, wClosed, &m_socket, &m_final, 0)) << row.name;
        ASSERT_TRUE(WaitResult()) << row.name;
        Settle();
        EXPECT_EQ(std::vector<int>{CConnMgrCallback::FAILED}, m_owner.results) << row.name;
        EXPECT_EQ(row.iError, m_connMgr->m_iLastError) << row.name;
        EXPECT_EQ(row.nTries, m_tried.size()) << row.name;
        EXPECT_EQ(wsa::INVALID_SOCKET, m_socket.m_s) << row.name;
        EXPECT_EQ(&m_final, m_socket.m_pCallback) << row.name;
    }
}

TEST_F(ConnMgrTest, CancelOrDestroyDuringLookupOrConnectNotifiesOnlyWhenAsked)
{
    m_connMgr->Cancel(true);
    EXPECT_TRUE(m_owner.results.empty()) << "nothing to cancel";
    UseNames({Loopback(1)});
    Listener listener;
    int iRegistered = WinsockEventCallbackCount();
    for (const char* host : {"server.test", "127.0.0.1"})
        for (int iHow : {0, 1, 2}) { // cancel quietly, cancel with a notice, destroy
            SCOPED_TRACE(std::string(host) + " " + std::to_string(iHow));
            m_owner.results.clear();
            m_tried.clear();
            int iPending = wsa::PendingLookups();
            ASSERT_TRUE(m_connMgr->Connect(host, listener.Port(), &m_socket, &m_final, 0));
            bool bLookup = host[0] == 's';
            EXPECT_EQ(wsa::PendingLookups(), iPending + bLookup);
            EXPECT_EQ(m_socket.m_iState, bLookup ? CStreamSocket::IDLE : CStreamSocket::CONNECTING);
            if (iHow == 2)
                m_connMgr = std::make_unique<CConnMgr>(&m_owner, 55);
            else
                m_connMgr->Cancel(iHow == 1);
            EXPECT_TRUE(m_connMgr->IsIdle());
            EXPECT_EQ(iPending, wsa::PendingLookups());
            if (bLookup) { // (the listener may have accepted the other)
                EXPECT_EQ(iRegistered, WinsockEventCallbackCount());
            }
            EXPECT_EQ(wsa::INVALID_SOCKET, m_socket.m_s);
            EXPECT_EQ(CStreamSocket::IDLE, m_socket.m_iState);
            EXPECT_EQ(&m_final, m_socket.m_pCallback);
            ASSERT_TRUE(fw::MessageLoop::PumpUntil([&] { return wsa::LookupsInFlight() == 0; },
                                                   kTimeoutMs));
            Settle();
            EXPECT_EQ(iHow == 1 ? std::vector<int>{CConnMgrCallback::CANCELLED}
                                : std::vector<int>{},
                      m_owner.results);
            EXPECT_TRUE(m_final.events.empty());
            EXPECT_EQ(m_tried.size(), bLookup ? 0u : 1u);
        }
}

TEST_F(ConnMgrTest, OwnerMayReconnectFromItsCallback)
{
    std::uint16_t wClosed = ClosedPort();
    Listener listener;
    m_owner.on = [&](int iResult) {
        if (iResult == CConnMgrCallback::FAILED) {
            EXPECT_TRUE(m_connMgr->Connect("127.0.0.1", listener.Port(), &m_socket, &m_final, 0));
        }
    };
    ASSERT_TRUE(m_connMgr->Connect("127.0.0.1", wClosed, &m_socket, &m_final, 0));
    ASSERT_TRUE(
        fw::MessageLoop::PumpUntil([&] { return m_owner.results.size() == 2; }, kTimeoutMs));
    EXPECT_EQ(CConnMgrCallback::FAILED, m_owner.results[0]);
    EXPECT_EQ(CConnMgrCallback::CONNECTED, m_owner.results[1]);
}

TEST_F(ConnMgrTest, OwnerMayDestroyTheManagerInItsCallback)
{
    m_owner.on = [&](int) { m_connMgr.reset(); };
    std::uint16_t wClosed = ClosedPort();
    ASSERT_TRUE(m_connMgr->Connect("127.0.0.1", wClosed, &m_socket, &m_final, 0));
    ASSERT_TRUE(WaitResult());
    EXPECT_EQ(nullptr, m_connMgr);
}

using ConnMgrDeathTest = ConnMgrTest;

TEST_F(ConnMgrDeathTest, UnexpectedSocketEventOrLookupWithoutAddressIsFatal)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            m_injected[Loopback(9)] = wsa::WSAETIMEDOUT;
            m_connMgr->Connect("127.0.0.9", 110, &m_socket, &m_final, 0);
            m_connMgr->StreamCallback(0, CStreamCallback::READ, 0, nullptr);
        },
        ::testing::ExitedWithCode(1),
        "Winsock Classes Fatal Error.*Unexpected socket event in CConnMgr::StreamCallback");
    EXPECT_EXIT(
        {
            wsa::SetResolveHook([](const std::string&, std::vector<std::uint32_t>&) { return 0; });
            m_connMgr->Connect("server.test", 110, &m_socket, &m_final, 0);
            fw::MessageLoop::PumpUntil([] { return false; }, kTimeoutMs);
            std::exit(3);
        },
        ::testing::ExitedWithCode(1),
        "Can't access address following lookup in CConnMgr::AwaitLookup");
}

} // namespace
