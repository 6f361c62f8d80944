#include "proto/CProtoClient.h"

#include "core/PasswordCommand.h"
#include "core/Services.h"
#include "net/CWinsock.h"
#include "util/Assert.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

CProtoClient::CProtoClient(const char* pszName, int iMaxReply, int iCommandSize,
                           const EventCodes& events, fw::Window* pNotifyWnd, unsigned uNotifyMsg)
    : m_pszName(pszName), m_events(events), m_pNotifyWnd(pNotifyWnd), m_uNotifyMsg(uNotifyMsg),
      m_connMgr(this, 0), m_rx(iMaxReply), m_command(static_cast<std::size_t>(iCommandSize)),
      m_pState(&CProtoClient::Idle)
{
}

CProtoClient::~CProtoClient()
{
    m_connMgr.Cancel(false);
    m_socket.Close();
}

void CProtoClient::Run(int iEvent)
{
    while ((this->*m_pState)(iEvent))
        iEvent = 0;
}

bool CProtoClient::Idle(int) { return false; }

void CProtoClient::BeginSession(const char* pszServer, std::uint16_t wPort)
{
    MT_ASSERT(pszServer != nullptr);
    m_strServer = pszServer;
    m_wPort = m_security.EffectivePort(wPort);
    m_iTlsPhase = TLS_NONE;
    m_iTlsError = 0;
    m_bEncrypted = false;
    m_iLastError = 0;
    m_strLocalError.clear();
    m_rx.Clear();
    m_bNotify = true;
}

void CProtoClient::StartConnect()
{
    m_connMgr.Connect(m_strServer.c_str(), m_wPort, &m_socket, this, 0);
}

void CProtoClient::CancelConnect() { m_connMgr.Cancel(false); }

bool CProtoClient::SendCommand(const char* pszFormat, ...)
{
    std::va_list args;
    va_start(args, pszFormat);
    int n = std::vsnprintf(m_command.data(), m_command.size(), pszFormat, args);
    va_end(args);
    if (n < 0 || n >= static_cast<int>(m_command.size())) {
        m_strLocalError = "The command is too long to send.";
        return false;
    }
    // A user name or password with a line break of its own would smuggle a
    // second command to the server.
    int iBody = n >= 2 ? n - 2 : n;
    if (std::memchr(m_command.data(), '\r', static_cast<std::size_t>(iBody)) ||
        std::memchr(m_command.data(), '\n', static_cast<std::size_t>(iBody)) ||
        static_cast<int>(std::strlen(m_command.data())) != n) {
        m_strLocalError = "A command argument holds a line break.";
        return false;
    }
    return SendBytes(m_command.data(), n) == 0;
}

int CProtoClient::SendBytes(const char* pBuffer, int iLength)
{
    int iResult = m_socket.Send(pBuffer, iLength, 0);
    if (iResult == 0 || iResult == wsa::WSAEWOULDBLOCK) {
        AckQuickly();
        return 0;
    }
    m_iLastError = iResult;
    return iResult;
}

void CProtoClient::Notify(fw::WPARAM wParam, fw::LPARAM lParam)
{
    if (m_pNotifyWnd)
        m_pNotifyWnd->Post(m_uNotifyMsg, wParam, lParam);
}

void CProtoClient::CloseSession()
{
    m_connMgr.Cancel(false);
    m_socket.Close();
    m_rx.Clear();
    m_strServer.clear();
    m_strServer.shrink_to_fit();
    SetState(&CProtoClient::Idle);
}

void CProtoClient::ConnMgrCallback(std::uint32_t, int iResult)
{
    switch (iResult) {
    case CConnMgrCallback::CONNECTED: {
        // Commands are small writes of their own; none waits for the last.
        int iOne = 1;
        m_socket.SetSockOpt(IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&iOne),
                            sizeof iOne);
        AckQuickly();
        if (m_security.iMode == ServerSecurity::TLS) {
            // Implicit TLS: the session sees the connection only when the
            // handshake has passed.
            m_iTlsPhase = TLS_IMPLICIT;
            int e = m_socket.StartTls(TlsSettings());
            if (e != wsa::WSAEWOULDBLOCK) {
                m_iTlsPhase = TLS_NONE;
                m_iLastError = e;
                Run(m_events.iConnectFailed);
            }
            break;
        }
        Run(m_events.iConnected);
        break;
    }
    case CConnMgrCallback::FAILED:
        m_iLastError = m_connMgr.m_iLastError;
        Run(m_events.iConnectFailed);
        break;
    case CConnMgrCallback::CANCELLED:
        break; // we cancelled it ourselves
    default:
        MT_ASSERT(iResult != CConnMgrCallback::INVALID_RESULT && "connection manager result");
    }
}

void CProtoClient::StreamCallback(std::uint32_t, int iEvent, int iError, const char* pBuffer)
{
    if (iError)
        m_iLastError = iError;
    switch (iEvent) {
    case CStreamCallback::READ:
        if (iError) {
            // The read failed in the network: the connection is gone.
            Run(m_events.iClosed);
            return;
        }
        ReceiveAndDispatch();
        break;
    case CStreamCallback::CLOSE: {
        // Whatever the server sent before closing is still to be read.  A
        // client may drop this connection itself while reading it (and open
        // another on the same socket object); the close then is no news.
        wsa::SOCKET s = m_socket.m_s;
        while (!IsIdle() && m_socket.m_iState == CStreamSocket::CONNECTED) {
            int iRoom = 0;
            char* p = m_rx.FreeSpace(&iRoom);
            int iCount = iRoom;
            if (m_socket.Receive(p, iCount, 0) != 0 || iCount <= 0)
                break;
            m_rx.Commit(iCount);
            if (!DispatchLines())
                break;
        }
        if (!IsIdle() && m_socket.m_s == s)
            Run(m_events.iClosed);
        break;
    }
    case CStreamCallback::WRITE:
        OnWriteDone(pBuffer, iError);
        break;
    case CStreamCallback::CONNECT: {
        // The end of a TLS handshake.
        int iPhase = m_iTlsPhase;
        m_iTlsPhase = TLS_NONE;
        m_iTlsError = iError;
        m_bEncrypted = iError == 0 && m_socket.Encrypted();
        if (iPhase == TLS_IMPLICIT)
            Run(iError ? m_events.iConnectFailed : m_events.iConnected);
        else if (iPhase == TLS_STARTTLS)
            Run(m_iTlsEvent);
        break;
    }
    default: {
        std::string text =
            std::string("Unexpected socket event in ") + m_pszName + "::StreamCallback";
        WinsockFatalError(text.c_str());
    }
    }
}

void CProtoClient::AckQuickly()
{
    if (m_socket.m_iState != CStreamSocket::CONNECTED)
        return;
    int iOne = 1;
    int iKeep = m_socket.m_iLastError;
    m_socket.SetSockOpt(IPPROTO_TCP, TCP_QUICKACK, reinterpret_cast<const char*>(&iOne),
                        sizeof iOne);
    m_socket.m_iLastError = iKeep;
}

void CProtoClient::ReceiveAndDispatch()
{
    if (IsIdle())
        return;
    int iRoom = 0;
    char* p = m_rx.FreeSpace(&iRoom);
    MT_ASSERT(iRoom > 0);
    int iCount = iRoom;
    int iResult = m_socket.Receive(p, iCount, 0);
    if (iResult != 0 && iResult != wsa::WSAEWOULDBLOCK) {
        // A broken connection ends the session as closed, with the error
        // kept for the owner; it is no reason to stop the program.
        m_iLastError = iResult;
        Run(m_events.iClosed);
        return;
    }
    m_rx.Commit(iCount);
    AckQuickly();
    DispatchLines();
}

// Hands every complete line (or piece of an overlong one) to the client;
// false when the session ended.
bool CProtoClient::DispatchLines()
{
    const char* pLine = nullptr;
    int iLen = 0;
    while (!IsIdle()) {
        if (m_rx.NextLine(&pLine, &iLen)) {
            OnReplyLine(pLine, iLen);
        } else if (!m_rx.Overlong()) {
            return true;
        } else {
            m_rx.TakePiece(&pLine, &iLen);
            if (!OnLinePiece(pLine, iLen)) {
                OnOverlongLine();
                return false;
            }
        }
    }
    return false;
}

TlsOptions CProtoClient::TlsSettings() const
{
    TlsOptions options;
    options.strHost = m_strServer;
    options.strPin = m_security.strPin;
    return options;
}

bool CProtoClient::BeginStartTls(int iEvent)
{
    // Whatever followed the server's agreement in the clear was not
    // protected; it must not be taken as the server's words.
    m_rx.Clear();
    m_iTlsEvent = iEvent;
    m_iTlsPhase = TLS_STARTTLS;
    m_iTlsError = 0;
    int e = m_socket.StartTls(TlsSettings());
    if (e != wsa::WSAEWOULDBLOCK) {
        m_iTlsPhase = TLS_NONE;
        m_iLastError = m_iTlsError = e;
        return false;
    }
    return true;
}

bool CProtoClient::WantStartTls(bool bOffered) const
{
    return m_security.iMode == ServerSecurity::STARTTLS ||
           (m_security.iMode == ServerSecurity::AUTO && bOffered);
}

void CProtoClient::NoteClearPassword(const char* pszWhat)
{
    if (m_security.iMode != ServerSecurity::AUTO || m_bEncrypted)
        return;
    static std::set<std::string> s_told;
    std::string key = std::string(m_pszName) + " " + m_strServer;
    if (!s_told.insert(key).second)
        return;
    Warning(std::string("The ") + pszWhat + " server " + m_strServer +
            " offers no encryption: the password goes over the network in clear text.  Set "
            "the security of this server to \"none\" to accept that, or to \"tls\" or "
            "\"starttls\" to refuse it.");
}

bool CProtoClient::ResolvePassword(std::string& password)
{
    if (m_security.strPasswordCommand.empty())
        return true;
    std::string why;
    if (!RunPasswordCommand(m_security.strPasswordCommand, password, why)) {
        m_strLocalError = "The password command failed: " + why;
        return false;
    }
    return true;
}
