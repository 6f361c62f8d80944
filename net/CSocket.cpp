#include "net/CSocket.h"

#include "util/Assert.h"

#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <climits>

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
        int n = SendSome(p, iLeft, iFlags);
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
    if (m_pTls && FlushTls() == WSAEWOULDBLOCK) {
        m_iLastError = WSAEWOULDBLOCK;
        m_pbDestroyed = pbOuter;
        return;
    }
    while (m_pbdHead) {
        BufferDescriptor* pbd = m_pbdHead;
        int iError = 0;
        while (pbd->m_iRemaining > 0) {
            int n = SendSome(pbd->m_pNextByte, pbd->m_iRemaining, 0);
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
    int iEvent = SelectEvent(lParam);
    int iError = SelectError(lParam);
    if (m_pTls && m_pTls->Handshaking() && m_iState == CONNECTED) {
        if (!m_bTlsFailed)
            TlsHandshakeEvent(iEvent, iError);
        return;
    }
    if (!m_pCallback)
        return;
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
    if (m_pTls)
        return TlsReceive(pBuffer, iLength);
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
    if (m_pTls) {
        // The closing alert, when the network takes it at once.
        if (!m_pTls->Handshaking() && m_iTlsOutDone == m_tlsOut.size()) {
            m_pTls->Shutdown();
            (void)FlushTls();
        }
        m_pTls.reset();
    }
    m_tlsOut.clear();
    m_iTlsOutDone = 0;
    m_bTlsFailed = false;
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

// ---------------------------------------------------------------- TLS

int CStreamSocket::StartTls(const TlsOptions& options)
{
    MT_ASSERT(m_iState == CONNECTED && !m_pTls);
    int iError = 0;
    m_pTls = CTlsSession::Create(options, iError);
    if (!m_pTls)
        return m_iLastError = iError;
    m_bTlsFailed = false;
    // The first flight (the client's hello) goes out now; the server's
    // answer arrives as FD_READ.
    if (m_pTls->Handshake(iError) == CTlsSession::FAILED) {
        m_pTls.reset();
        return m_iLastError = iError;
    }
    int e = FlushTls();
    if (e != 0 && e != WSAEWOULDBLOCK) {
        m_bTlsFailed = true;
        return m_iLastError = e;
    }
    return m_iLastError = WSAEWOULDBLOCK;
}

int CStreamSocket::FlushTls()
{
    m_pTls->TakeOutput(m_tlsOut);
    while (m_iTlsOutDone < m_tlsOut.size()) {
        std::size_t left = m_tlsOut.size() - m_iTlsOutDone;
        int n = wsa::Send(m_s, m_tlsOut.data() + m_iTlsOutDone,
                          static_cast<int>(std::min<std::size_t>(left, INT_MAX)), 0);
        if (n == SOCKET_ERROR)
            return GetLastError();
        m_iTlsOutDone += static_cast<std::size_t>(n);
    }
    m_tlsOut.clear();
    m_iTlsOutDone = 0;
    return 0;
}

int CStreamSocket::SendSome(const char* p, int iLength, int iFlags)
{
    if (!m_pTls)
        return wsa::Send(m_s, p, iLength, iFlags);
    // One record at a time, and only when the last one has gone out: the
    // caller's buffer then stays queued as long as the network is busy, as
    // on a plain socket.
    int e = FlushTls();
    if (e != 0) {
        SetLastError(e);
        return SOCKET_ERROR;
    }
    int iError = 0;
    int n = m_pTls->Write(p, std::min(iLength, 16384), iError);
    if (n < 0) {
        SetLastError(iError);
        return SOCKET_ERROR;
    }
    e = FlushTls();
    if (e != 0 && e != WSAEWOULDBLOCK) {
        SetLastError(e);
        return SOCKET_ERROR;
    }
    return n;
}

int CStreamSocket::TlsReceive(char* pBuffer, int& iLength)
{
    if (m_pTls->Handshaking()) {
        iLength = 0;
        return m_iLastError = m_bTlsFailed ? static_cast<int>(TLS_E_HANDSHAKE)
                                           : static_cast<int>(WSAEWOULDBLOCK);
    }
    for (;;) {
        int iError = 0;
        bool bClosed = false;
        int n = m_pTls->Read(pBuffer, iLength, iError, bClosed);
        (void)FlushTls(); // a key update may want an answer
        if (n > 0) {
            iLength = n;
            // Decrypted text may wait inside with nothing more to come from
            // the network: ask for another read.
            if (m_pTls->HasBufferedInput())
                PostReadAgain();
            return m_iLastError = 0;
        }
        if (n < 0 || bClosed) {
            iLength = 0;
            return m_iLastError = iError; // 0: the server ended the session
        }
        char raw[16384];
        int r = wsa::Recv(m_s, raw, sizeof raw, 0);
        if (r > 0) {
            m_pTls->Feed(raw, r);
            continue;
        }
        iLength = 0;
        return m_iLastError = (r == 0 ? 0 : GetLastError());
    }
}

void CStreamSocket::PostReadAgain()
{
    if (fw::Window* pWnd = GetWinsockEventWindow())
        pWnd->Post(WM_WINSOCK_SELECT, m_s, MakeSelectReply(FD_READ, 0));
}

void CStreamSocket::TlsHandshakeEvent(int iEvent, int iError)
{
    if (iError != 0) {
        FinishHandshake(iError);
        return;
    }
    bool bClosed = false;
    char raw[16384];
    switch (iEvent) {
    case FD_READ: {
        int r = wsa::Recv(m_s, raw, sizeof raw, 0);
        if (r > 0)
            m_pTls->Feed(raw, r);
        else if (r == 0)
            bClosed = true;
        else if (GetLastError() != WSAEWOULDBLOCK) {
            FinishHandshake(GetLastError());
            return;
        }
        break;
    }
    case FD_WRITE: {
        int e = FlushTls();
        if (e == WSAEWOULDBLOCK)
            return;
        if (e != 0) {
            FinishHandshake(e);
            return;
        }
        break;
    }
    case FD_CLOSE:
        for (int r; (r = wsa::Recv(m_s, raw, sizeof raw, 0)) > 0;)
            m_pTls->Feed(raw, r);
        bClosed = true;
        break;
    default:
        return;
    }
    int iTlsError = 0;
    CTlsSession::Progress progress = m_pTls->Handshake(iTlsError);
    int e = FlushTls();
    if (progress == CTlsSession::FAILED) {
        FinishHandshake(iTlsError);
    } else if (e != 0 && e != WSAEWOULDBLOCK) {
        FinishHandshake(e);
    } else if (progress == CTlsSession::DONE) {
        FinishHandshake(0);
    } else if (bClosed) {
        SetTlsFailureDetail(TLS_E_CLOSED, "the server closed the connection before the "
                                          "secure connection was set up");
        FinishHandshake(TLS_E_CLOSED);
    }
}

void CStreamSocket::FinishHandshake(int iError)
{
    if (iError == WSAECONNRESET || iError == WSAECONNABORTED) {
        SetTlsFailureDetail(TLS_E_CLOSED, "the server reset the connection before the secure "
                                          "connection was set up");
        iError = TLS_E_CLOSED;
    }
    m_iLastError = iError;
    if (iError != 0)
        m_bTlsFailed = true;
    else if (m_pTls->HasBufferedInput())
        PostReadAgain(); // the server's first words came with the handshake
    if (m_pCallback)
        m_pCallback->StreamCallback(m_dwCallbackData, CStreamCallback::CONNECT, iError, nullptr);
}
