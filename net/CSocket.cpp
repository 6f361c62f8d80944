#include "net/CSocket.h"

#include "util/Assert.h"

#include <sys/ioctl.h>
#include <sys/socket.h>

using namespace wsa;

CStreamSocket::CStreamSocket() = default;

CStreamSocket::CStreamSocket(SOCKET s, CStreamCallback* pCallback, std::uint32_t dwCallbackData)
    : m_s(s), m_pCallback(pCallback), m_dwCallbackData(dwCallbackData)
{
    MT_ASSERT(s != INVALID_SOCKET);
    RegisterWinsockEventCallback(this, m_s, WINSOCK_KIND_SOCKET);
    if (AsyncSelect(m_s, GetWinsockEventWindow(), WM_WINSOCK_SELECT,
                    FD_READ | FD_WRITE | FD_CLOSE) != 0)
        m_iLastError = GetLastError();
    m_iState = CONNECTED;
}

CStreamSocket::~CStreamSocket()
{
    if (m_pbDestroyed)
        *m_pbDestroyed = true;
    if (m_s != INVALID_SOCKET)
        Close();
}

int CStreamSocket::CreateSocket()
{
    MT_ASSERT(m_s == INVALID_SOCKET && m_iState == IDLE);
    SOCKET s = Socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return m_iLastError = GetLastError();
    unsigned long ulOn = 1;
    if (wsa::IoctlSocket(s, FIONBIO, &ulOn) != 0) {
        m_iLastError = GetLastError();
        CloseSocket(s);
        return m_iLastError;
    }
    m_s = s;
    RegisterWinsockEventCallback(this, m_s, WINSOCK_KIND_SOCKET);
    return m_iLastError = 0;
}

int CStreamSocket::Connect(const sockaddr_in& addr)
{
    if (m_s == INVALID_SOCKET && CreateSocket() != 0)
        return m_iLastError;
    if (AsyncSelect(m_s, GetWinsockEventWindow(), WM_WINSOCK_SELECT, FD_CONNECT) != 0)
        return m_iLastError = GetLastError();
    if (wsa::Connect(m_s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
        m_iState = CONNECTED;
        return m_iLastError = 0;
    }
    m_iLastError = GetLastError();
    if (m_iLastError == WSAEWOULDBLOCK)
        m_iState = CONNECTING;
    return m_iLastError; // other errors: still IDLE, socket open, the caller closes it
}

void CStreamSocket::AppendDescriptor(const char* pBuffer, const char* pNext, int iRemaining)
{
    auto* pbd = new BufferDescriptor;
    pbd->m_pBuffer = pBuffer;
    pbd->m_pNextByte = pNext;
    pbd->m_iRemaining = iRemaining;
    if (m_pbdTail)
        m_pbdTail->m_pNext = pbd;
    else
        m_pbdHead = pbd;
    m_pbdTail = pbd;
}

CStreamSocket::BufferDescriptor* CStreamSocket::RemoveHead()
{
    MT_ASSERT(m_pbdHead != nullptr);
    BufferDescriptor* pbd = m_pbdHead;
    m_pbdHead = pbd->m_pNext;
    if (!m_pbdHead)
        m_pbdTail = nullptr;
    return pbd;
}

int CStreamSocket::Send(const char* pBuffer, int iLength, int iFlags)
{
    MT_ASSERT(m_iState == CONNECTED);
    MT_ASSERT(iLength >= 0 && (pBuffer != nullptr || iLength == 0));
    if (m_pbdHead) {
        // Output keeps the order of the Send calls.
        AppendDescriptor(pBuffer, pBuffer, iLength);
        return m_iLastError = WSAEWOULDBLOCK;
    }
    const char* p = pBuffer;
    int iLeft = iLength;
    while (iLeft > 0) {
        int n = wsa::Send(m_s, p, iLeft, iFlags);
        if (n == SOCKET_ERROR) {
            m_iLastError = GetLastError();
            if (m_iLastError == WSAEWOULDBLOCK)
                AppendDescriptor(pBuffer, p, iLeft);
            return m_iLastError;
        }
        p += n;
        iLeft -= n;
    }
    return m_iLastError = 0;
}

void CStreamSocket::DrainQueue()
{
    bool bDestroyed = false;
    bool* pbOuter = m_pbDestroyed;
    m_pbDestroyed = &bDestroyed;
    while (m_pbdHead) {
        BufferDescriptor* pbd = m_pbdHead;
        int iError = 0;
        while (pbd->m_iRemaining > 0) {
            int n = wsa::Send(m_s, pbd->m_pNextByte, pbd->m_iRemaining, 0);
            if (n == SOCKET_ERROR) {
                iError = GetLastError();
                break;
            }
            pbd->m_pNextByte += n;
            pbd->m_iRemaining -= n;
        }
        if (iError == WSAEWOULDBLOCK) {
            m_iLastError = WSAEWOULDBLOCK; // the next FD_WRITE resumes here
            break;
        }
        std::unique_ptr<BufferDescriptor> pDone(RemoveHead());
        m_iLastError = iError;
        if (m_pCallback)
            m_pCallback->StreamCallback(m_dwCallbackData, CStreamCallback::WRITE, iError,
                                        pDone->m_pBuffer);
        if (bDestroyed)
            break;
    }
    if (bDestroyed) {
        if (pbOuter)
            *pbOuter = true;
        return;
    }
    m_pbDestroyed = pbOuter;
}

void CStreamSocket::EventCallback(fw::Window*, unsigned, fw::WPARAM, fw::LPARAM lParam)
{
    if (!m_pCallback)
        return;
    int iEvent = SelectEvent(lParam);
    int iError = SelectError(lParam);
    switch (iEvent) {
    case FD_CONNECT:
        MT_ASSERT(m_iState == CONNECTING);
        if (iError == 0) {
            if (AsyncSelect(m_s, GetWinsockEventWindow(), WM_WINSOCK_SELECT,
                            FD_READ | FD_WRITE | FD_CLOSE) != 0)
                m_iLastError = GetLastError();
            m_iState = CONNECTED;
        }
        // On error the state stays CONNECTING: the owner closes the socket.
        m_pCallback->StreamCallback(m_dwCallbackData, CStreamCallback::CONNECT, iError, nullptr);
        break;
    case FD_ACCEPT:
        MT_ASSERT(m_iState == LISTENING);
        m_pCallback->StreamCallback(m_dwCallbackData, CStreamCallback::ACCEPT, iError, nullptr);
        break;
    case FD_READ:
        m_pCallback->StreamCallback(m_dwCallbackData, CStreamCallback::READ, iError, nullptr);
        break;
    case FD_CLOSE:
        m_pCallback->StreamCallback(m_dwCallbackData, CStreamCallback::CLOSE, iError, nullptr);
        break;
    case FD_WRITE:
        DrainQueue();
        break;
    default:
        break; // out-of-band data is not used
    }
}

int CStreamSocket::Receive(char* pBuffer, int& iLength, int iFlags)
{
    MT_ASSERT(iLength >= 0 && (pBuffer != nullptr || iLength == 0));
    int n = wsa::Recv(m_s, pBuffer, iLength, iFlags);
    if (n > 0) {
        iLength = n;
        return m_iLastError = 0;
    }
    iLength = 0;
    return m_iLastError = (n == 0 ? 0 : GetLastError());
}

int CStreamSocket::Close()
{
    if (m_s == INVALID_SOCKET)
        return m_iLastError = 0;
    DeregisterWinsockEventCallback(m_s, WINSOCK_KIND_SOCKET);
    // Queued output is dropped without any WRITE event.
    while (m_pbdHead)
        delete RemoveHead();
    m_iLastError = CloseSocket(m_s) == 0 ? 0 : GetLastError();
    m_s = INVALID_SOCKET;
    m_iState = IDLE;
    return m_iLastError;
}

int CStreamSocket::Bind(const sockaddr_in& addr)
{
    if (m_s == INVALID_SOCKET && CreateSocket() != 0)
        return m_iLastError;
    return m_iLastError = wsa::Bind(m_s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0
                              ? 0
                              : GetLastError();
}

int CStreamSocket::Listen(const sockaddr_in& addr, int iBacklog)
{
    if (Bind(addr) != 0)
        return m_iLastError;
    if (wsa::Listen(m_s, iBacklog) != 0)
        return m_iLastError = GetLastError();
    if (AsyncSelect(m_s, GetWinsockEventWindow(), WM_WINSOCK_SELECT, FD_ACCEPT) != 0)
        return m_iLastError = GetLastError();
    m_iState = LISTENING;
    return m_iLastError = 0;
}

std::unique_ptr<CStreamSocket>
CStreamSocket::Accept(CStreamCallback* pCallback, std::uint32_t dwCallbackData, sockaddr_in* pAddr)
{
    MT_ASSERT(m_s != INVALID_SOCKET && m_iState == LISTENING);
    sockaddr_in peer{};
    int iLen = sizeof peer;
    SOCKET s = wsa::Accept(m_s, reinterpret_cast<sockaddr*>(&peer), &iLen);
    if (s == INVALID_SOCKET) {
        m_iLastError = GetLastError();
        return nullptr;
    }
    m_iLastError = 0;
    if (pAddr)
        *pAddr = peer;
    return std::make_unique<CStreamSocket>(s, pCallback, dwCallbackData);
}

int CStreamSocket::GetPeerName(sockaddr_in* pAddr)
{
    MT_ASSERT(pAddr != nullptr);
    if (m_s == INVALID_SOCKET)
        return m_iLastError = WSAENOTSOCK;
    int iLen = sizeof *pAddr;
    return m_iLastError = wsa::GetPeerName(m_s, reinterpret_cast<sockaddr*>(pAddr), &iLen) == 0
                              ? 0
                              : GetLastError();
}

int CStreamSocket::GetSockName(sockaddr_in* pAddr)
{
    MT_ASSERT(pAddr != nullptr);
    if (m_s == INVALID_SOCKET)
        return m_iLastError = WSAENOTSOCK;
    int iLen = sizeof *pAddr;
    return m_iLastError = wsa::GetSockName(m_s, reinterpret_cast<sockaddr*>(pAddr), &iLen) == 0
                              ? 0
                              : GetLastError();
}

int CStreamSocket::GetSockOpt(int iLevel, int iName, char* pVal, int* piLen)
{
    if (m_s == INVALID_SOCKET && CreateSocket() != 0)
        return m_iLastError;
    return m_iLastError =
               wsa::GetSockOpt(m_s, iLevel, iName, pVal, piLen) == 0 ? 0 : GetLastError();
}

int CStreamSocket::SetSockOpt(int iLevel, int iName, const char* pVal, int iLen)
{
    if (m_s == INVALID_SOCKET && CreateSocket() != 0)
        return m_iLastError;
    return m_iLastError = wsa::SetSockOpt(m_s, iLevel, iName, pVal, iLen) == 0 ? 0 : GetLastError();
}

int CStreamSocket::IoctlSocket(long lCmd, unsigned long* pulArg)
{
    if (m_s == INVALID_SOCKET && CreateSocket() != 0)
        return m_iLastError;
    return m_iLastError = wsa::IoctlSocket(m_s, lCmd, pulArg) == 0 ? 0 : GetLastError();
}
