// The socket service object, the event window's routing and the error
// translation of the platform layer.

#include "NetTestUtil.h"

#include "framework/MessageBox.h"

#include <netdb.h>

#include <cerrno>

using namespace nettest;

namespace {

class EventRecorder : public CWinsockEventCallback {
public:
    void EventCallback(fw::Window* hwnd, unsigned uMsg, fw::WPARAM wParam,
                       fw::LPARAM lParam) override
    {
        calls.push_back({uMsg, wParam, lParam});
        m_hwnd = hwnd;
        if (on)
            on();
    }
    struct Call {
        unsigned uMsg;
        fw::WPARAM wParam;
        fw::LPARAM lParam;
    };
    std::vector<Call> calls;
    fw::Window* m_hwnd = nullptr;
    std::function<void()> on;
};

using WinsockServiceTest = NetTest;

TEST_F(WinsockServiceTest, StartUpChecksTheVersionAndStopsWhatItStartedAndOneEventWindow)
{
    ASSERT_EQ(0, wsa::StartupCount());
    EXPECT_EQ(wsa::SOCKET_ERROR, wsa::Cleanup()) << "nothing to stop";
    EXPECT_EQ(wsa::WSANOTINITIALISED, wsa::GetLastError());
    const struct {
        std::uint16_t wRequested, wLowest;
        int iError;
        bool bStarted;
        std::uint16_t wVersion;
    } rows[] = {
        {0x0101, 0x0101, 0, true, 0x0101},
        // 2.0 asked, 1.1 enough: the service offers 2.0.
        {0x0002, 0x0101, 0, true, 0x0002},
        // 1.0 is older than the lowest: reported, but started and stopped.
        {0x0001, 0x0101, wsa::WSAVERNOTSUPPORTED, true, 0},
        // 0.1 is refused by the service itself: nothing to stop.
        {0x0100, 0x0101, wsa::WSAVERNOTSUPPORTED, false, 0},
    };
    for (const auto& row : rows) {
        {
            CWinsock winsock(row.wRequested, row.wLowest);
            EXPECT_EQ(row.iError, winsock.m_iLastError) << row.wRequested;
            EXPECT_EQ(row.bStarted, winsock.m_bStarted) << row.wRequested;
            EXPECT_EQ(row.bStarted, sg_bWinsockStarted) << row.wRequested;
            EXPECT_EQ(row.bStarted ? 1 : 0, wsa::StartupCount()) << row.wRequested;
            EXPECT_TRUE(!row.wVersion || row.wVersion == winsock.m_wsaData.wVersion)
                << row.wRequested;
        }
        EXPECT_FALSE(sg_bWinsockStarted);
        EXPECT_EQ(0, wsa::StartupCount()) << row.wRequested;
    }
    // A second event window is refused; the first stays.
    fw::Window* pFirst = GetWinsockEventWindow();
    ASSERT_NE(nullptr, pFirst);
    EXPECT_FALSE(CreateWinsockEventWindow());
    EXPECT_EQ(pFirst, GetWinsockEventWindow());
}

using EventRegistryTest = NetTest;

TEST_F(EventRegistryTest, RoutesByKeyAndKindAndDropsTheRest)
{
    EventRecorder task, sock;
    RegisterWinsockEventCallback(&task, 4242, WINSOCK_KIND_TASK);
    RegisterWinsockEventCallback(&sock, 4242, WINSOCK_KIND_SOCKET);
    fw::Window* w = GetWinsockEventWindow();

    EXPECT_EQ(0, w->Send(WM_ASYNC_LOOKUP_FIRST, 4242, 8));
    EXPECT_EQ(0, w->Send(WM_ASYNC_LOOKUP_LAST, 4242, 9));
    EXPECT_EQ(0, w->Send(WM_WINSOCK_SELECT, 4242, 10));
    ASSERT_EQ(2u, task.calls.size());
    EXPECT_EQ(WM_ASYNC_LOOKUP_FIRST, task.calls[0].uMsg);
    EXPECT_EQ(8, task.calls[0].lParam);
    EXPECT_EQ(9, task.calls[1].lParam);
    EXPECT_EQ(w, task.m_hwnd);
    ASSERT_EQ(1u, sock.calls.size());
    EXPECT_EQ(WM_WINSOCK_SELECT, sock.calls[0].uMsg);
    EXPECT_EQ(10, sock.calls[0].lParam);

    // A posted notification arrives the same way.
    w->Post(WM_WINSOCK_SELECT, 4242, 11);
    ASSERT_TRUE(fw::MessageLoop::PumpUntil([&] { return sock.calls.size() == 2; }, kTimeoutMs));
    EXPECT_EQ(11, sock.calls[1].lParam);

    // Unknown keys and messages outside the range reach nobody.
    EXPECT_EQ(0, w->Send(WM_WINSOCK_SELECT, 5002, wsa::MakeSelectReply(wsa::FD_READ, 0)));
    EXPECT_EQ(0, WinsockEventWindowProc(w, fw::WM_USER + 7, 4242, 0));
    EXPECT_EQ(0, WinsockEventWindowProc(w, fw::WM_USER - 1, 4242, 0));
    DeregisterWinsockEventCallback(4242, WINSOCK_KIND_TASK);
    EXPECT_EQ(0, w->Send(WM_ASYNC_HOST_LOOKUP, 4242, 0));
    DeregisterWinsockEventCallback(4242, WINSOCK_KIND_SOCKET);
    EXPECT_EQ(0, w->Send(WM_WINSOCK_SELECT, 4242, 0));
    EXPECT_EQ(2u, task.calls.size());
    EXPECT_EQ(2u, sock.calls.size());
    EXPECT_EQ(m_iRegistered, WinsockEventCallbackCount());
}

TEST_F(EventRegistryTest, ReceiverMayDeregisterItselfWhileCalled)
{
    EventRecorder a, b;
    RegisterWinsockEventCallback(&a, 7001, WINSOCK_KIND_SOCKET);
    RegisterWinsockEventCallback(&b, 7002, WINSOCK_KIND_SOCKET);
    a.on = [] { DeregisterWinsockEventCallback(7001, WINSOCK_KIND_SOCKET); };
    GetWinsockEventWindow()->Send(WM_WINSOCK_SELECT, 7001, 0);
    GetWinsockEventWindow()->Send(WM_WINSOCK_SELECT, 7001, 0);
    EXPECT_EQ(1u, a.calls.size());
    EXPECT_TRUE(b.calls.empty());
    EXPECT_EQ(&b, FindWinsockEventCallback(7002, WINSOCK_KIND_SOCKET));
    DeregisterWinsockEventCallback(7002, WINSOCK_KIND_SOCKET);
}

using EventRegistryDeathTest = NetTest;

TEST_F(EventRegistryDeathTest, DuplicateRegistrationOrMissingDeregistrationIsFatal)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EventRecorder rec;
    EXPECT_EXIT(
        {
            RegisterWinsockEventCallback(&rec, 8001, WINSOCK_KIND_SOCKET);
            RegisterWinsockEventCallback(&rec, 8001, WINSOCK_KIND_SOCKET);
        },
        ::testing::ExitedWithCode(1),
        "Winsock Classes Fatal Error.*Can't register CWinsockEventCallback object\\.");
    EXPECT_EXIT(DeregisterWinsockEventCallback(8002, WINSOCK_KIND_TASK),
                ::testing::ExitedWithCode(1),
                "Winsock Classes Fatal Error.*Can't deregister CWinsockEventCallback object\\.");
}

TEST(WsaErrorTranslation, ErrnoAndResolverResultsMapToWinsockNumbers)
{
    EXPECT_EQ(0, wsa::ErrorFromErrno(0));
    EXPECT_EQ(wsa::WSAECONNREFUSED, wsa::ErrorFromErrno(ECONNREFUSED));
    EXPECT_EQ(wsa::WSAEWOULDBLOCK, wsa::ErrorFromErrno(EINPROGRESS));
    EXPECT_EQ(wsa::WSAECONNRESET, wsa::ErrorFromErrno(EPIPE));
    // Unknown values stay errors and fit the 16 bits a notification carries.
    int iOdd = wsa::ErrorFromErrno(EIO);
    EXPECT_NE(0, iOdd);
    EXPECT_EQ(iOdd, wsa::SelectError(wsa::MakeSelectReply(wsa::FD_CLOSE, iOdd)));
    EXPECT_EQ(wsa::FD_CLOSE, wsa::SelectEvent(wsa::MakeSelectReply(wsa::FD_CLOSE, iOdd)));

    EXPECT_EQ(0, wsa::ErrorFromEai(0, 0));
    EXPECT_EQ(wsa::WSAHOST_NOT_FOUND, wsa::ErrorFromEai(EAI_NONAME, 0));
    EXPECT_EQ(wsa::WSATRY_AGAIN, wsa::ErrorFromEai(EAI_AGAIN, 0));
    EXPECT_EQ(wsa::WSANO_RECOVERY, wsa::ErrorFromEai(EAI_SYSTEM, 0));
}

TEST(WsaSockets, HandlesAreNotReusedAfterClose)
{
    wsa::SOCKET a = wsa::Socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(wsa::INVALID_SOCKET, a);
    EXPECT_EQ(0, wsa::CloseSocket(a));
    wsa::SOCKET b = wsa::Socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(wsa::INVALID_SOCKET, b);
    EXPECT_NE(a, b);
    EXPECT_EQ(wsa::SOCKET_ERROR, wsa::CloseSocket(a));
    EXPECT_EQ(wsa::WSAENOTSOCK, wsa::GetLastError());
    EXPECT_EQ(0, wsa::CloseSocket(b));
    EXPECT_EQ(wsa::INVALID_SOCKET, wsa::Socket(AF_INET6, SOCK_STREAM, 0));
    EXPECT_EQ(wsa::WSAEAFNOSUPPORT, wsa::GetLastError());
}

} // namespace
