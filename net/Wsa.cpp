#include "net/Wsa.h"

#include "util/Assert.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace wsa {

namespace {

thread_local int t_iLastError = 0;

int Fail(int iError)
{
    t_iLastError = iError;
    return SOCKET_ERROR;
}

// Handles for sockets and lookup tasks come from one counter and are never
// handed out twice (the counter is 32 bits wide, as the handles the window
// messages carry; it skips 0 and the invalid value when it wraps).
std::uint32_t s_nextHandle = 0x100;

std::uintptr_t NewHandle()
{
    std::uint32_t h = s_nextHandle++;
    if (s_nextHandle == 0 || s_nextHandle == 0xFFFFFFFFu)
        s_nextHandle = 0x100;
    return h;
}

// ---- sockets --------------------------------------------------------------

struct SockEntry {
    int fd = -1;
    fw::Window* pWnd = nullptr;
    unsigned uMsg = 0;
    long lEvents = 0;
    bool bListening = false;
    bool bConnected = false;
    bool bConnecting = false; // a connect is under way, FD_CONNECT not yet reported
    int iInjectedError = 0;   // the connect hook's error for this attempt
    bool bReadArmed = true;   // FD_READ / FD_ACCEPT may be reported
    bool bWriteArmed = false; // a send would have blocked: report FD_WRITE
    bool bCloseReported = false;
    std::unique_ptr<QSocketNotifier> pRead;
    std::unique_ptr<QSocketNotifier> pWrite;
};

// Lives for the whole process (never destroyed, so no notifier outlives the
// event dispatcher in a static destructor).  Used on the UI thread only.
std::map<SOCKET, std::unique_ptr<SockEntry>>& Sockets()
{
    static auto* s_pSockets = new std::map<SOCKET, std::unique_ptr<SockEntry>>;
    return *s_pSockets;
}

SockEntry* Find(SOCKET s)
{
    auto it = Sockets().find(s);
    return it == Sockets().end() ? nullptr : it->second.get();
}

ConnectHook& TheConnectHook()
{
    static ConnectHook s_hook;
    return s_hook;
}

void OnReadable(SOCKET s);
void OnWritable(SOCKET s);

void PostEvent(SOCKET s, SockEntry& e, long lEvent, int iError)
{
    if (e.pWnd && (e.lEvents & lEvent))
        e.pWnd->Post(e.uMsg, s, MakeSelectReply(lEvent, iError));
}

// Brings the notifiers in line with what may be reported now.  The write
// notifier is on only while a connect waits or output is queued.
void Update(SOCKET s, SockEntry& e)
{
    bool bRead = false;
    bool bWrite = false;
    if (e.pWnd && e.lEvents) {
        if (e.bListening)
            bRead = (e.lEvents & FD_ACCEPT) && e.bReadArmed;
        else if (e.bConnected)
            bRead = (e.lEvents & (FD_READ | FD_CLOSE)) && e.bReadArmed && !e.bCloseReported;
        bWrite = (e.bConnecting && !e.iInjectedError && (e.lEvents & FD_CONNECT)) ||
                 (e.bConnected && e.bWriteArmed && (e.lEvents & FD_WRITE));
        if (e.bConnecting && e.iInjectedError && (e.lEvents & FD_CONNECT)) {
            // The hook decided the outcome: report it as the platform would.
            int iError = e.iInjectedError;
            e.bConnecting = false;
            e.iInjectedError = 0;
            PostEvent(s, e, FD_CONNECT, iError);
        }
    }
    if (bRead && !e.pRead) {
        e.pRead = std::make_unique<QSocketNotifier>(e.fd, QSocketNotifier::Read);
        QObject::connect(e.pRead.get(), &QSocketNotifier::activated, [s] { OnReadable(s); });
    }
    if (e.pRead)
        e.pRead->setEnabled(bRead);
    if (bWrite && !e.pWrite) {
        e.pWrite = std::make_unique<QSocketNotifier>(e.fd, QSocketNotifier::Write);
        QObject::connect(e.pWrite.get(), &QSocketNotifier::activated, [s] { OnWritable(s); });
    }
    if (e.pWrite)
        e.pWrite->setEnabled(bWrite);
}

void OnReadable(SOCKET s)
{
    SockEntry* e = Find(s);
    if (!e)
        return;
    e->bReadArmed = false; // until Recv or Accept
    if (e->bListening) {
        PostEvent(s, *e, FD_ACCEPT, 0);
    } else {
        char c;
        ssize_t n = ::recv(e->fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) {
            if (e->lEvents & FD_READ)
                PostEvent(s, *e, FD_READ, 0);
            else
                e->bReadArmed = true; // nothing to say until the data is gone
        } else if (n == 0) {
            e->bCloseReported = true;
            PostEvent(s, *e, FD_CLOSE, 0);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            e->bReadArmed = true; // spurious wake-up
        } else {
            e->bCloseReported = true;
            PostEvent(s, *e, FD_CLOSE, ErrorFromErrno(errno));
        }
    }
    Update(s, *e);
}

void OnWritable(SOCKET s)
{
    SockEntry* e = Find(s);
    if (!e)
        return;
    if (e->bConnecting) {
        int iErr = 0;
        socklen_t len = sizeof iErr;
        if (::getsockopt(e->fd, SOL_SOCKET, SO_ERROR, &iErr, &len) != 0)
            iErr = errno;
        e->bConnecting = false;
        if (iErr == 0)
            e->bConnected = true;
        PostEvent(s, *e, FD_CONNECT, iErr ? ErrorFromErrno(iErr) : 0);
    } else if (e->bWriteArmed) {
        e->bWriteArmed = false; // until a send would block again
        PostEvent(s, *e, FD_WRITE, 0);
    }
    Update(s, *e);
}

int ToNative(int iFlags)
{
    // MSG_OOB, MSG_PEEK and MSG_DONTROUTE have the same values on both sides.
    return iFlags & (MSG_OOB | MSG_PEEK | MSG_DONTROUTE);
}

// ---- lookups ----------------------------------------------------------------

struct LookupTask {
    fw::Window* pWnd;
    unsigned uMsg;
    char* pBuf;
    int iBufLen;
    std::string name;
};

std::map<HANDLE, LookupTask>& Lookups()
{
    static auto* s_pLookups = new std::map<HANDLE, LookupTask>;
    return *s_pLookups;
}

// Workers hand their results to the UI thread through this object.  Both the
// object and the lock stay alive until the process ends, so a worker that is
// still resolving while the program shuts down finds them intact.
std::mutex& DeliveryLock()
{
    static auto* s_pLock = new std::mutex;
    return *s_pLock;
}
QObject* s_pDispatcher = nullptr;

ResolveHook& TheResolveHook()
{
    static ResolveHook s_hook;
    return s_hook;
}

int Resolve(const std::string& name, const ResolveHook& hook, std::vector<std::uint32_t>& addrs)
{
    if (hook)
        return hook(name, addrs);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* pList = nullptr;
    int iEai = ::getaddrinfo(name.c_str(), nullptr, &hints, &pList);
    if (iEai != 0)
        return ErrorFromEai(iEai, errno);
    for (addrinfo* p = pList; p; p = p->ai_next)
        if (p->ai_family == AF_INET && p->ai_addrlen >= sizeof(sockaddr_in))
            addrs.push_back(
                ntohl(reinterpret_cast<const sockaddr_in*>(p->ai_addr)->sin_addr.s_addr));
    ::freeaddrinfo(pList);
    return addrs.empty() ? WSANO_DATA : 0;
}

// Writes a hostent with its lists into the caller's buffer.  Returns the
// bytes used, or 0 when not even one address fits.
int BuildHostent(char* pBuf, int iBufLen, const std::string& name,
                 const std::vector<std::uint32_t>& addrs)
{
    auto align = [](std::size_t n) { return (n + alignof(char*) - 1) & ~(alignof(char*) - 1); };
    std::size_t size = static_cast<std::size_t>(iBufLen);
    std::size_t head = align(sizeof(hostent)) + sizeof(char*); // + empty alias list
    std::size_t per = sizeof(char*) + 4;
    if (size < head + sizeof(char*) + per)
        return 0;
    std::size_t nFit = (size - head - sizeof(char*)) / per;
    std::size_t n = std::min(nFit, addrs.size());
    std::size_t used = head + (n + 1) * sizeof(char*) + 4 * n;
    std::size_t nameLen = name.size() + 1 <= size - used ? name.size() + 1 : 0;

    std::memset(pBuf, 0, size);
    auto* he = reinterpret_cast<hostent*>(pBuf);
    auto** aliases = reinterpret_cast<char**>(pBuf + align(sizeof(hostent)));
    auto** list = aliases + 1;
    char* pAddr = reinterpret_cast<char*>(list + n + 1);
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t net = htonl(addrs[i]);
        std::memcpy(pAddr + 4 * i, &net, 4);
        list[i] = pAddr + 4 * i;
    }
    list[n] = nullptr;
    aliases[0] = nullptr;
    char* pName = pAddr + 4 * n;
    if (nameLen)
        std::memcpy(pName, name.c_str(), nameLen);
    he->h_name = pName; // empty text when the name did not fit
    he->h_aliases = aliases;
    he->h_addrtype = AF_INET;
    he->h_length = 4;
    he->h_addr_list = list;
    return static_cast<int>(used + nameLen);
}

std::atomic<int> s_iInFlight{0};

void Complete(HANDLE h, int iError, const std::vector<std::uint32_t>& addrs)
{
    --s_iInFlight;
    auto it = Lookups().find(h);
    if (it == Lookups().end())
        return; // cancelled
    LookupTask task = std::move(it->second);
    Lookups().erase(it);
    int iBytes = 0;
    if (iError == 0) {
        iBytes = BuildHostent(task.pBuf, task.iBufLen, task.name, addrs);
        if (iBytes == 0)
            iError = WSAENOBUFS;
    }
    task.pWnd->Send(task.uMsg, h, MakeAsyncReply(iBytes, iError));
}

} // namespace

int GetLastError() { return t_iLastError; }
void SetLastError(int iError) { t_iLastError = iError; }

int ErrorFromErrno(int iErrno)
{
    switch (iErrno) {
    case 0:
        return 0;
    case EINTR:
        return WSAEINTR;
    case EBADF:
        return WSAEBADF;
    case EACCES:
    case EPERM:
        return WSAEACCES;
    case EFAULT:
        return WSAEFAULT;
    case EINVAL:
        return WSAEINVAL;
    case EMFILE:
    case ENFILE:
        return WSAEMFILE;
    case EWOULDBLOCK:
    case EINPROGRESS:
        return WSAEWOULDBLOCK;
    case EALREADY:
        return WSAEALREADY;
    case ENOTSOCK:
        return WSAENOTSOCK;
    case EDESTADDRREQ:
        return WSAEDESTADDRREQ;
    case EMSGSIZE:
        return WSAEMSGSIZE;
    case EPROTOTYPE:
        return WSAEPROTOTYPE;
    case ENOPROTOOPT:
        return WSAENOPROTOOPT;
    case EPROTONOSUPPORT:
        return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT:
        return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP:
        return WSAEOPNOTSUPP;
    case EPFNOSUPPORT:
        return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT:
        return WSAEAFNOSUPPORT;
    case EADDRINUSE:
        return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
        return WSAEADDRNOTAVAIL;
    case ENETDOWN:
        return WSAENETDOWN;
    case ENETUNREACH:
        return WSAENETUNREACH;
    case ENETRESET:
        return WSAENETRESET;
    case ECONNABORTED:
        return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE:
        return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
        return WSAENOBUFS;
    case EISCONN:
        return WSAEISCONN;
    case ENOTCONN:
        return WSAENOTCONN;
    case ESHUTDOWN:
        return WSAESHUTDOWN;
    case ETOOMANYREFS:
        return WSAETOOMANYREFS;
    case ETIMEDOUT:
        return WSAETIMEDOUT;
    case ECONNREFUSED:
        return WSAECONNREFUSED;
    case ELOOP:
        return WSAELOOP;
    case ENAMETOOLONG:
        return WSAENAMETOOLONG;
    case EHOSTDOWN:
        return WSAEHOSTDOWN;
    case EHOSTUNREACH:
        return WSAEHOSTUNREACH;
    case ENOTEMPTY:
        return WSAENOTEMPTY;
    case EUSERS:
        return WSAEUSERS;
    case EDQUOT:
        return WSAEDQUOT;
    case ESTALE:
        return WSAESTALE;
    case EREMOTE:
        return WSAEREMOTE;
    default:
        return WSABASEERR + iErrno;
    }
}

int ErrorFromEai(int iEai, int iErrno)
{
    switch (iEai) {
    case 0:
        return 0;
    case EAI_NONAME:
        return WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
        return WSATRY_AGAIN;
#ifdef EAI_NODATA
    case EAI_NODATA:
        return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
        return WSANO_DATA;
#endif
    case EAI_MEMORY:
        return WSAENOBUFS;
    case EAI_SYSTEM:
        return iErrno ? ErrorFromErrno(iErrno) : WSANO_RECOVERY;
    case EAI_FAIL:
    default:
        return WSANO_RECOVERY;
    }
}

// ---- start-up ---------------------------------------------------------------

namespace {
int s_iStartups = 0;
}

int Startup(std::uint16_t wVersionRequested, WSADATA* pData)
{
    if (!pData)
        return WSAEFAULT;
    if ((wVersionRequested & 0xFF) == 0)
        return WSAVERNOTSUPPORTED;
    std::uint16_t wUse = wVersionRequested;
    unsigned major = wUse & 0xFF, minor = wUse >> 8;
    if (major > 2 || (major == 2 && minor > 2))
        wUse = kHighestVersion;
    pData->wVersion = wUse;
    pData->wHighVersion = kHighestVersion;
    ++s_iStartups;
    return 0;
}

int Cleanup()
{
    if (s_iStartups == 0)
        return Fail(WSANOTINITIALISED);
    --s_iStartups;
    return 0;
}

int StartupCount() { return s_iStartups; }

// ---- sockets ----------------------------------------------------------------

SOCKET Socket(int iFamily, int iType, int iProtocol)
{
    if (iFamily != AF_INET)
        return Fail(WSAEAFNOSUPPORT), INVALID_SOCKET;
    int fd = ::socket(iFamily, iType | SOCK_CLOEXEC, iProtocol);
    if (fd < 0)
        return Fail(ErrorFromErrno(errno)), INVALID_SOCKET;
    SOCKET s = NewHandle();
    auto e = std::make_unique<SockEntry>();
    e->fd = fd;
    Sockets()[s] = std::move(e);
    t_iLastError = 0;
    return s;
}

int IoctlSocket(SOCKET s, long lCmd, unsigned long* pulArg)
{
    SockEntry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK);
    if (!pulArg)
        return Fail(WSAEFAULT);
    if (lCmd == static_cast<long>(FIONBIO)) {
        int fl = ::fcntl(e->fd, F_GETFL);
        if (fl < 0 || ::fcntl(e->fd, F_SETFL, *pulArg ? (fl | O_NONBLOCK) : (fl & ~O_NONBLOCK)) < 0)
            return Fail(ErrorFromErrno(errno));
    } else if (lCmd == static_cast<long>(FIONREAD)) {
        int n = 0;
        if (::ioctl(e->fd, FIONREAD, &n) < 0)
            return Fail(ErrorFromErrno(errno));
        *pulArg = static_cast<unsigned long>(n);
    } else {
        return Fail(WSAEINVAL);
    }
    t_iLastError = 0;
    return 0;
}

int Connect(SOCKET s, const sockaddr* pAddr, int iLen)
{
    SockEntry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK);
    if (!pAddr || iLen < static_cast<int>(sizeof(sockaddr_in)))
        return Fail(WSAEFAULT);
    if (e->bConnected)
        return Fail(WSAEISCONN);
    if (e->bConnecting)
        return Fail(WSAEALREADY);
    const auto& sin = *reinterpret_cast<const sockaddr_in*>(pAddr);
    if (sin.sin_family != AF_INET)
        return Fail(WSAEAFNOSUPPORT);
    if (TheConnectHook()) {
        int iInjected = TheConnectHook()(sin);
        if (iInjected) {
            e->bConnecting = true;
            e->iInjectedError = iInjected;
            Update(s, *e);
            return Fail(WSAEWOULDBLOCK);
        }
    }
    if (::connect(e->fd, pAddr, sizeof(sockaddr_in)) != 0 && errno != EINPROGRESS) {
        int iErr = ErrorFromErrno(errno);
        Update(s, *e);
        return Fail(iErr);
    }
    // Even a connect that is complete at once (possible on loopback) is
    // reported through FD_CONNECT, as the non-blocking platform call does.
    e->bConnecting = true;
    Update(s, *e);
    return Fail(WSAEWOULDBLOCK);
}

int Bind(SOCKET s, const sockaddr* pAddr, int iLen)
{
    SockEntry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK);
    if (!pAddr || iLen < static_cast<int>(sizeof(sockaddr_in)))
        return Fail(WSAEFAULT);
    int one = 1;
    ::setsockopt(e->fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(e->fd, pAddr, sizeof(sockaddr_in)) != 0)
        return Fail(ErrorFromErrno(errno));
    t_iLastError = 0;
    return 0;
}

int Listen(SOCKET s, int iBacklog)
{
    SockEntry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK);
    if (::listen(e->fd, iBacklog) != 0)
        return Fail(ErrorFromErrno(errno));
    e->bListening = true;
    e->bReadArmed = true;
    Update(s, *e);
    t_iLastError = 0;
    return 0;
}

SOCKET Accept(SOCKET s, sockaddr* pAddr, int* piLen)
{
    SockEntry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK), INVALID_SOCKET;
    if (!e->bListening)
        return Fail(WSAEINVAL), INVALID_SOCKET;
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int fd =
        ::accept4(e->fd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    int iErrno = errno;
    e->bReadArmed = true; // the next waiting connection is reported again
    Update(s, *e);
    if (fd < 0)
        return Fail(ErrorFromErrno(iErrno)), INVALID_SOCKET;
    if (pAddr && piLen) {
        int n = std::min<int>(*piLen, sizeof peer);
        std::memcpy(pAddr, &peer, static_cast<std::size_t>(n));
        *piLen = n;
    }
    SOCKET sNew = NewHandle();
    auto pNew = std::make_unique<SockEntry>();
    pNew->fd = fd;
    pNew->bConnected = true;
    Sockets()[sNew] = std::move(pNew);
    t_iLastError = 0;
    return sNew;
}

int Send(SOCKET s, const char* pBuf, int iLen, int iFlags)
{
    SockEntry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK);
    if (iLen < 0 || (iLen > 0 && !pBuf))
        return Fail(WSAEFAULT);
    // MSG_NOSIGNAL: a peer that has gone away gives an error, never SIGPIPE.
    ssize_t n = ::send(e->fd, pBuf, static_cast<std::size_t>(iLen),
                       ToNative(iFlags) | MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
        int iErr = ErrorFromErrno(errno);
        if (iErr == WSAEWOULDBLOCK) {
            e->bWriteArmed = true;
            Update(s, *e);
        }
        return Fail(iErr);
    }
    t_iLastError = 0;
    return static_cast<int>(n);
}

int Recv(SOCKET s, char* pBuf, int iLen, int iFlags)
{
    SockEntry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK);
    if (iLen < 0 || (iLen > 0 && !pBuf))
        return Fail(WSAEFAULT);
    ssize_t n =
        ::recv(e->fd, pBuf, static_cast<std::size_t>(iLen), ToNative(iFlags) | MSG_DONTWAIT);
    int iErrno = errno;
    if (!e->bCloseReported) {
        e->bReadArmed = true; // more data is reported again
        Update(s, *e);
    }
    if (n < 0)
        return Fail(ErrorFromErrno(iErrno));
    t_iLastError = 0;
    return static_cast<int>(n);
}

namespace {
int AddressCall(SOCKET s, sockaddr* pAddr, int* piLen, int (*call)(int, sockaddr*, socklen_t*))
{
    SockEntry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK);
    if (!pAddr || !piLen || *piLen < static_cast<int>(sizeof(sockaddr_in)))
        return Fail(WSAEFAULT);
    socklen_t len = static_cast<socklen_t>(*piLen);
    if (call(e->fd, pAddr, &len) != 0)
        return Fail(ErrorFromErrno(errno));
    *piLen = static_cast<int>(len);
    t_iLastError = 0;
    return 0;
}
} // namespace

int GetPeerName(SOCKET s, sockaddr* pAddr, int* piLen)
{
    return AddressCall(s, pAddr, piLen,
                       [](int fd, sockaddr* a, socklen_t* l) { return ::getpeername(fd, a, l); });
}

int GetSockName(SOCKET s, sockaddr* pAddr, int* piLen)
{
    return AddressCall(s, pAddr, piLen,
                       [](int fd, sockaddr* a, socklen_t* l) { return ::getsockname(fd, a, l); });
}

int GetSockOpt(SOCKET s, int iLevel, int iName, char* pVal, int* piLen)
{
    SockEntry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK);
    if (!pVal || !piLen || *piLen < 0)
        return Fail(WSAEFAULT);
    socklen_t len = static_cast<socklen_t>(*piLen);
    if (::getsockopt(e->fd, iLevel, iName, pVal, &len) != 0)
        return Fail(ErrorFromErrno(errno));
    *piLen = static_cast<int>(len);
    t_iLastError = 0;
    return 0;
}

int SetSockOpt(SOCKET s, int iLevel, int iName, const char* pVal, int iLen)
{
    SockEntry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK);
    if (iLen < 0 || (iLen > 0 && !pVal))
        return Fail(WSAEFAULT);
    if (::setsockopt(e->fd, iLevel, iName, pVal, static_cast<socklen_t>(iLen)) != 0)
        return Fail(ErrorFromErrno(errno));
    t_iLastError = 0;
    return 0;
}

int CloseSocket(SOCKET s)
{
    auto it = Sockets().find(s);
    if (it == Sockets().end())
        return Fail(WSAENOTSOCK);
    std::unique_ptr<SockEntry> e = std::move(it->second);
    Sockets().erase(it);
    // The notifiers go before the descriptor they watch.
    e->pRead.reset();
    e->pWrite.reset();
    if (::close(e->fd) != 0 && errno != EINTR)
        return Fail(ErrorFromErrno(errno));
    t_iLastError = 0;
    return 0;
}

int AsyncSelect(SOCKET s, fw::Window* pWnd, unsigned uMsg, long lEvents)
{
    SockEntry* e = Find(s);
    if (!e)
        return Fail(WSAENOTSOCK);
    if (lEvents && !pWnd)
        return Fail(WSAEINVAL);
    // A socket that reports asynchronously never blocks.
    int fl = ::fcntl(e->fd, F_GETFL);
    if (lEvents && fl >= 0 && !(fl & O_NONBLOCK))
        ::fcntl(e->fd, F_SETFL, fl | O_NONBLOCK);
    e->pWnd = pWnd;
    e->uMsg = uMsg;
    e->lEvents = lEvents;
    Update(s, *e);
    t_iLastError = 0;
    return 0;
}

// ---- lookups ----------------------------------------------------------------

HANDLE AsyncGetHostByName(fw::Window* pWnd, unsigned uMsg, const char* pszName, char* pBuf,
                          int iBufLen)
{
    if (!pWnd || !pszName || !pBuf || iBufLen <= 0) {
        Fail(!pWnd ? WSAEINVAL : WSAEFAULT);
        return 0;
    }
    {
        std::lock_guard<std::mutex> lock(DeliveryLock());
        if (!s_pDispatcher) {
            MT_ASSERT(QCoreApplication::instance() != nullptr);
            s_pDispatcher = new QObject; // lives until the process ends
        }
    }
    HANDLE h = NewHandle();
    Lookups()[h] = LookupTask{pWnd, uMsg, pBuf, iBufLen, pszName};
    ResolveHook hook = TheResolveHook();
    std::string name = pszName;
    ++s_iInFlight;
    try {
        std::thread([h, name, hook] {
            std::vector<std::uint32_t> addrs;
            int iError = Resolve(name, hook, addrs);
            std::lock_guard<std::mutex> lock(DeliveryLock());
            if (s_pDispatcher && QCoreApplication::instance())
                QMetaObject::invokeMethod(
                    s_pDispatcher, [h, iError, addrs] { Complete(h, iError, addrs); },
                    Qt::QueuedConnection);
        }).detach();
    } catch (const std::system_error&) {
        --s_iInFlight;
        Lookups().erase(h);
        Fail(WSAENOBUFS);
        return 0;
    }
    t_iLastError = 0;
    return h;
}

int CancelAsyncRequest(HANDLE hTask)
{
    if (Lookups().erase(hTask))
        return t_iLastError = 0, 0;
    // A handle that was issued once has completed (or was cancelled before).
    bool bIssued = hTask >= 0x100 && hTask < s_nextHandle;
    return Fail(bIssued ? WSAEALREADY : WSAEINVAL);
}

int PendingLookups() { return static_cast<int>(Lookups().size()); }

int LookupsInFlight() { return s_iInFlight; }

void SetConnectHook(ConnectHook hook) { TheConnectHook() = std::move(hook); }

void SetResolveHook(ResolveHook hook)
{
    // Read by AsyncGetHostByName on the UI thread, which copies it for the
    // worker, so no lock is needed.
    TheResolveHook() = std::move(hook);
}

} // namespace wsa
