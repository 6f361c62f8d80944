// The socket platform of the network library: a small Windows Sockets 1.1
// style layer on POSIX non-blocking sockets and the Qt event loop.
//
// Socket handles are numbers of our own, never reused within a process, so a
// notification that was queued for a socket that has since been closed can
// never reach a new socket that happens to get the same file descriptor.
// Readiness is watched with QSocketNotifier and delivered as window messages
// on the window named in AsyncSelect, with the event in the low and the error
// in the high 16 bits of lParam, re-enabled the Winsock way: another FD_READ
// only after Recv, another FD_ACCEPT only after Accept, FD_WRITE only after a
// Send that would have blocked (so the write notifier is enabled only while
// output waits), FD_CONNECT and FD_CLOSE once.
//
// Host lookups run getaddrinfo on a worker thread; the completion is handed
// to the user-interface thread, which fills the caller's buffer and sends the
// completion message to the window named in the request.
//
// Error codes are the Winsock numbers (10000 + n, 11001..11004); errno and
// resolver codes are translated in one place (ErrorFromErrno, ErrorFromEai).
#pragma once

#include "framework/Window.h"

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace wsa {

using SOCKET = std::uintptr_t;
using HANDLE = std::uintptr_t; // asynchronous task handle; 0 = none
constexpr SOCKET INVALID_SOCKET = ~SOCKET(0);
constexpr int SOCKET_ERROR = -1;

// Winsock error numbers.
enum : int {
    WSABASEERR = 10000,
    WSAEINTR = 10004,
    WSAEBADF = 10009,
    WSAEACCES = 10013,
    WSAEFAULT = 10014,
    WSAEINVAL = 10022,
    WSAEMFILE = 10024,
    WSAEWOULDBLOCK = 10035,
    WSAEINPROGRESS = 10036,
    WSAEALREADY = 10037,
    WSAENOTSOCK = 10038,
    WSAEDESTADDRREQ = 10039,
    WSAEMSGSIZE = 10040,
    WSAEPROTOTYPE = 10041,
    WSAENOPROTOOPT = 10042,
    WSAEPROTONOSUPPORT = 10043,
    WSAESOCKTNOSUPPORT = 10044,
    WSAEOPNOTSUPP = 10045,
    WSAEPFNOSUPPORT = 10046,
    WSAEAFNOSUPPORT = 10047,
    WSAEADDRINUSE = 10048,
    WSAEADDRNOTAVAIL = 10049,
    WSAENETDOWN = 10050,
    WSAENETUNREACH = 10051,
    WSAENETRESET = 10052,
    WSAECONNABORTED = 10053,
    WSAECONNRESET = 10054,
    WSAENOBUFS = 10055,
    WSAEISCONN = 10056,
    WSAENOTCONN = 10057,
    WSAESHUTDOWN = 10058,
    WSAETOOMANYREFS = 10059,
    WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061,
    WSAELOOP = 10062,
    WSAENAMETOOLONG = 10063,
    WSAEHOSTDOWN = 10064,
    WSAEHOSTUNREACH = 10065,
    WSAENOTEMPTY = 10066,
    WSAEPROCLIM = 10067,
    WSAEUSERS = 10068,
    WSAEDQUOT = 10069,
    WSAESTALE = 10070,
    WSAEREMOTE = 10071,
    WSASYSNOTREADY = 10091,
    WSAVERNOTSUPPORTED = 10092,
    WSANOTINITIALISED = 10093,
    WSAHOST_NOT_FOUND = 11001,
    WSATRY_AGAIN = 11002,
    WSANO_RECOVERY = 11003,
    WSANO_DATA = 11004,
};

// Notification events (low word of a select notification's lParam).
enum : long {
    FD_READ = 0x01,
    FD_WRITE = 0x02,
    FD_OOB = 0x04,
    FD_ACCEPT = 0x08,
    FD_CONNECT = 0x10,
    FD_CLOSE = 0x20,
};

constexpr fw::LPARAM MakeSelectReply(long lEvent, int iError)
{
    return static_cast<fw::LPARAM>((static_cast<std::uint32_t>(iError) << 16) |
                                   (static_cast<std::uint32_t>(lEvent) & 0xFFFFu));
}
constexpr fw::LPARAM MakeAsyncReply(int iBufLen, int iError)
{
    return static_cast<fw::LPARAM>((static_cast<std::uint32_t>(iError) << 16) |
                                   (static_cast<std::uint32_t>(iBufLen) & 0xFFFFu));
}
constexpr int SelectEvent(fw::LPARAM l) { return static_cast<int>(l & 0xFFFF); }
constexpr int SelectError(fw::LPARAM l) { return static_cast<int>((l >> 16) & 0xFFFF); }

// The start-up record.
struct WSADATA {
    std::uint16_t wVersion = 0;     // the version the caller will use
    std::uint16_t wHighVersion = 0; // the highest this layer supports
};
// The highest version this layer speaks (2.2, as the platform it stands in for).
constexpr std::uint16_t kHighestVersion = 0x0202;

// The calling thread's last error (0 when the last call succeeded).
int GetLastError();
void SetLastError(int iError);

// The one translation from errno and from getaddrinfo results to Winsock
// numbers.  Unknown errno values become WSABASEERR + errno (shown as an
// unknown error), never 0.
int ErrorFromErrno(int iErrno);
int ErrorFromEai(int iEai, int iErrno);

// Start-up: 0 or an error code (not through GetLastError, as the platform).
// The reported version is the requested one, capped at kHighestVersion; a
// requested major version of 0 is refused with WSAVERNOTSUPPORTED.
int Startup(std::uint16_t wVersionRequested, WSADATA* pData);
// SOCKET_ERROR with WSANOTINITIALISED when there was no matching Startup.
int Cleanup();
// How many Startup calls are not yet matched by Cleanup.
int StartupCount();

// Sockets.  Functions return SOCKET_ERROR / INVALID_SOCKET and set the last
// error on failure, as the platform does.
SOCKET Socket(int iFamily, int iType, int iProtocol);
int IoctlSocket(SOCKET s, long lCmd, unsigned long* pulArg); // FIONBIO, FIONREAD
int Connect(SOCKET s, const sockaddr* pAddr, int iLen);
int Bind(SOCKET s, const sockaddr* pAddr, int iLen);
int Listen(SOCKET s, int iBacklog);
SOCKET Accept(SOCKET s, sockaddr* pAddr, int* piLen);
int Send(SOCKET s, const char* pBuf, int iLen, int iFlags);
int Recv(SOCKET s, char* pBuf, int iLen, int iFlags);
int GetPeerName(SOCKET s, sockaddr* pAddr, int* piLen);
int GetSockName(SOCKET s, sockaddr* pAddr, int* piLen);
int GetSockOpt(SOCKET s, int iLevel, int iName, char* pVal, int* piLen);
int SetSockOpt(SOCKET s, int iLevel, int iName, const char* pVal, int iLen);
int CloseSocket(SOCKET s);
// Selects which events are sent as message uMsg to the window; a mask of 0
// stops notifications.
int AsyncSelect(SOCKET s, fw::Window* pWnd, unsigned uMsg, long lEvents);

// Starts a host lookup by name.  Returns the task handle (never 0), or 0 with
// the last error set.  On completion the buffer holds a hostent (IPv4
// addresses in the resolver's order; as many as fit) and message uMsg is
// sent to the window with the handle in wParam and MakeAsyncReply(bytes,
// error) in lParam.  The buffer must stay valid until then or until
// CancelAsyncRequest.
HANDLE AsyncGetHostByName(fw::Window* pWnd, unsigned uMsg, const char* pszName, char* pBuf,
                          int iBufLen);
// 0, or SOCKET_ERROR with WSAEINVAL (unknown handle) or WSAEALREADY (the
// lookup has already completed).  After a successful cancel no completion
// message is sent and the buffer is not touched.
int CancelAsyncRequest(HANDLE hTask);
// Lookups started and not yet delivered or cancelled.
int PendingLookups();
// Lookups whose worker has not yet handed its result to the UI thread
// (cancelled ones included).
int LookupsInFlight();

// Test seams.  Both are process-wide and reset by passing an empty function.
//
// The connect hook sees every Connect before any packet goes out.  Returning
// 0 lets the connect proceed; returning an error code makes the connect
// report that error through its FD_CONNECT notification without touching the
// network (as a connect that timed out or found no route would).
using ConnectHook = std::function<int(const sockaddr_in& addr)>;
void SetConnectHook(ConnectHook hook);
// The resolve hook replaces getaddrinfo: it fills addresses (host byte
// order) and returns 0 or a Winsock lookup error.  It runs on the worker.
using ResolveHook = std::function<int(const std::string& name, std::vector<std::uint32_t>& addrs)>;
void SetResolveHook(ResolveHook hook);

} // namespace wsa
