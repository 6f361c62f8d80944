// Host lookups: the real resolver for names that never leave the machine,
// the resolve hook for names with several loopback addresses.

#include "NetTestUtil.h"

#include "net/CHost.h"

using namespace nettest;

namespace {

class LookupRecorder : public CAsyncDBCallback {
public:
    void AsyncDBCallback(std::uint32_t dwData, int iError) override
    {
        calls.push_back({dwData, iError});
        if (on)
            on();
    }
    std::vector<std::pair<std::uint32_t, int>> calls;
    std::function<void()> on;
};

class HostTest : public NetTest {
protected:
    LookupRecorder m_rec;
};

TEST_F(HostTest, LocalhostResolvesToLoopback)
{
    CHost host("localhost");
    ASSERT_EQ(0, host.Start(&m_rec, 99));
    EXPECT_EQ(CAsyncDB::ASYNC_PENDING, host.State());
    EXPECT_EQ(&host, FindWinsockEventCallback(host.m_hWSATask, WINSOCK_KIND_TASK));
    bool bResult = true;
    host.GetFirstAddress(&bResult);
    EXPECT_FALSE(bResult) << "not before completion";
    // A second Start while pending returns 1 and changes nothing.
    wsa::HANDLE hTask = host.m_hWSATask;
    LookupRecorder other;
    EXPECT_EQ(1, host.Start(&other, 2));
    EXPECT_EQ(1, host.m_iLastError);
    EXPECT_EQ(hTask, host.m_hWSATask);

    ASSERT_TRUE(fw::MessageLoop::PumpUntil([&] { return !m_rec.calls.empty(); }, kTimeoutMs));
    Settle();
    EXPECT_EQ(1u, m_rec.calls.size());
    EXPECT_TRUE(other.calls.empty());
    EXPECT_EQ((std::pair<std::uint32_t, int>{99, 0}), m_rec.calls.at(0));
    // Cancelling the finished request counts as success; nothing is no request.
    EXPECT_EQ(wsa::SOCKET_ERROR, wsa::CancelAsyncRequest(hTask));
    EXPECT_EQ(wsa::WSAEALREADY, wsa::GetLastError());
    EXPECT_EQ(wsa::SOCKET_ERROR, wsa::CancelAsyncRequest(0));
    EXPECT_EQ(wsa::WSAEINVAL, wsa::GetLastError());
    EXPECT_EQ(CAsyncDB::ASYNC_COMPLETE, host.State());
    EXPECT_EQ(nullptr, host.m_pCallback);
    EXPECT_EQ(nullptr, FindWinsockEventCallback(host.m_hWSATask, WINSOCK_KIND_TASK));
    CSockAddr first = host.GetFirstAddress(&bResult);
    ASSERT_TRUE(bResult);
    EXPECT_EQ(Loopback(1), first.Address());
    EXPECT_EQ(0, first.Port());
}

TEST_F(HostTest, AddressesComeInResolverOrderCutToTheBuffer)
{
    // More addresses than the buffer holds: cut, not overrun.
    wsa::SetResolveHook([](const std::string& name, std::vector<std::uint32_t>& addrs) {
        for (int i = 1; i <= 500; ++i)
            addrs.push_back(Loopback(i % 250 + 1));
        return name == "many.test" ? 0 : static_cast<int>(wsa::WSAHOST_NOT_FOUND);
    });
    CHost host("many.test");
    ASSERT_EQ(0, host.Start(&m_rec, 0));
    ASSERT_TRUE(fw::MessageLoop::PumpUntil([&] { return !m_rec.calls.empty(); }, kTimeoutMs));
    ASSERT_EQ(0, m_rec.calls[0].second);
    int n = host.AddressCount();
    EXPECT_GT(n, 10);
    EXPECT_LT(n, 500);
    bool b = false;
    EXPECT_EQ(Loopback(2), host.GetFirstAddress(&b).Address());
    for (int i = 1; i < n; ++i) {
        CSockAddr a = host.GetNextAddress(&b);
        ASSERT_TRUE(b);
        EXPECT_EQ(Loopback((i + 1) % 250 + 1), a.Address());
    }
    EXPECT_EQ(0u, host.GetNextAddress(&b).Address());
    EXPECT_FALSE(b);
    // GetFirstAddress starts the walk again.
    EXPECT_EQ(Loopback(2), host.GetFirstAddress(&b).Address());
    EXPECT_EQ(Loopback(3), host.GetNextAddress(&b).Address());
}

TEST_F(HostTest, DestroyingAPendingLookupStopsTheCallbackAndLeavesNoEntry)
{
    // (A cancelled one: the connection manager's cancel test.)
    {
        CHost host("localhost");
        ASSERT_EQ(0, host.Start(&m_rec, 0));
    }
    // The worker finishes; its result reaches nobody.
    ASSERT_TRUE(
        fw::MessageLoop::PumpUntil([&] { return wsa::LookupsInFlight() == 0; }, kTimeoutMs));
    Settle();
    EXPECT_TRUE(m_rec.calls.empty());
    EXPECT_EQ(m_iRegistered, WinsockEventCallbackCount());
}

TEST_F(HostTest, LookupCanBeRestartedFromItsOwnCallback)
{
    CHost host("localhost");
    m_rec.on = [&] {
        if (m_rec.calls.size() == 1) {
            EXPECT_EQ(0, host.Start(&m_rec, 2));
        }
    };
    ASSERT_EQ(0, host.Start(&m_rec, 1));
    ASSERT_TRUE(fw::MessageLoop::PumpUntil([&] { return m_rec.calls.size() == 2; }, kTimeoutMs));
    EXPECT_EQ(2u, m_rec.calls[1].first);
    EXPECT_EQ(CAsyncDB::ASYNC_COMPLETE, host.State());
}

} // namespace
