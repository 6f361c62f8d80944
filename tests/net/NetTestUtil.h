// Helpers for the network tests: recording owners, a loopback listener and a
// way to let posted notifications run without waiting on the clock.
#pragma once

#include "framework/Window.h"
#include "net/CConnMgr.h"
#include "net/CSockAddr.h"
#include "net/CSocket.h"
#include "net/CWinsock.h"
#include "net/Wsa.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace nettest {

constexpr int kTimeoutMs = 10000;

inline std::uint32_t Loopback(int iLast)
{
    return (127u << 24) | static_cast<std::uint32_t>(iLast);
}

// Lets everything that is queued now (and what it queues in turn, a few
// rounds deep) run, by waiting for marker messages posted behind it.
inline void Settle(int iRounds = 3)
{
    fw::Window marker;
    for (int i = 0; i < iRounds; ++i) {
        bool bSeen = false;
        marker.OnMessage(fw::WM_USER + 500, [&bSeen](fw::WPARAM, fw::LPARAM) {
            bSeen = true;
            return 0;
        });
        marker.Post(fw::WM_USER + 500);
        ASSERT_TRUE(fw::MessageLoop::PumpUntil([&] { return bSeen; }, kTimeoutMs));
    }
}

struct StreamEvent {
    int iEvent;
    int iError;
    const char* pBuffer;
};

class StreamRecorder : public CStreamCallback {
public:
    void StreamCallback(std::uint32_t dwData, int iEvent, int iError, const char* pBuffer) override
    {
        m_dwLastData = dwData;
        events.push_back({iEvent, iError, pBuffer});
        if (on)
            on(iEvent, iError, pBuffer);
    }
    int Count(int iEvent) const
    {
        int n = 0;
        for (const auto& e : events)
            n += e.iEvent == iEvent;
        return n;
    }
    std::vector<StreamEvent> events;
    std::function<void(int, int, const char*)> on;
    std::uint32_t m_dwLastData = 0;
};

// Reads everything a socket offers into a string on each READ.
inline void ReadAll(CStreamSocket& s, std::string& into)
{
    char buf[65536];
    for (;;) {
        int iLen = sizeof buf;
        if (s.Receive(buf, iLen) != 0 || iLen == 0)
            return;
        into.append(buf, static_cast<std::size_t>(iLen));
    }
}

// A listening CStreamSocket on a loopback address that accepts every
// connection; what the accepted sockets report goes to peer.
class Listener : public CStreamCallback {
public:
    explicit Listener(std::uint32_t dwAddress = Loopback(1))
    {
        m_socket.m_pCallback = this;
        m_iListenError = m_socket.Listen(CSockAddr(0, dwAddress));
    }
    std::uint16_t Port()
    {
        sockaddr_in a{};
        m_socket.GetSockName(&a);
        return ntohs(a.sin_port);
    }
    void StreamCallback(std::uint32_t, int iEvent, int iError, const char*) override
    {
        if (iEvent != ACCEPT)
            return;
        sockaddr_in peerAddr{};
        auto p = m_socket.Accept(&peer, static_cast<std::uint32_t>(accepted.size()), &peerAddr);
        if (p)
            accepted.push_back(std::move(p));
    }
    CStreamSocket m_socket;
    int m_iListenError = -1;
    StreamRecorder peer;
    std::vector<std::unique_ptr<CStreamSocket>> accepted;
};

// A loopback port with nobody listening: bound once, then released.
inline std::uint16_t ClosedPort()
{
    CStreamSocket s;
    EXPECT_EQ(0, s.Bind(CSockAddr(0, Loopback(1))));
    sockaddr_in a{};
    s.GetSockName(&a);
    s.Close();
    return ntohs(a.sin_port);
}

class ConnRecorder : public CConnMgrCallback {
public:
    void ConnMgrCallback(std::uint32_t dwData, int iResult) override
    {
        results.push_back(iResult);
        m_dwLastData = dwData;
        if (on)
            on(iResult);
    }
    std::vector<int> results;
    std::function<void(int)> on;
    std::uint32_t m_dwLastData = 0;
};

// Every test starts with the event window in place and without test hooks.
class NetTest : public ::testing::Test {
protected:
    // In the constructor, so that members of derived fixtures find the
    // window when they are built.
    NetTest() { CreateWinsockEventWindow(); }
    void SetUp() override { m_iRegistered = WinsockEventCallbackCount(); }
    void TearDown() override
    {
        wsa::SetConnectHook(nullptr);
        wsa::SetResolveHook(nullptr);
    }
    int m_iRegistered = 0;
};

} // namespace nettest
