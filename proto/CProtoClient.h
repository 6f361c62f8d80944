// What every protocol client shares: the connection through a CConnMgr, the
// receive buffer and its CR LF line splitting, the event-driven state
// machine, commands, notifications posted to the owner's window, and the end
// of a session.
//
// A client is a state machine whose current state is a member operation
// taking the event code.  Running the machine calls the current state; while
// the state returns true (it changed the state and wants the new one run) the
// new state is called with event 0.  Each client keeps its own event numbers
// (they are part of its contract), so it names them at construction: which
// code means connected, closed by the server, connection failed and abort.
// Lines are handed to the client's OnReplyLine; the reading and the sending
// clients dispatch them differently.
//
// Everything runs on the user-interface thread, driven by socket and lookup
// notifications.  Notifications to the owner are posted messages, never
// lost; a state finishes its changes before it posts.
#pragma once

#include "framework/Window.h"
#include "net/CConnMgr.h"
#include "net/CSocket.h"
#include "proto/ReplyBuffer.h"
#include "proto/ServerSecurity.h"

#include <cstdint>
#include <string>
#include <vector>

class CProtoClient : public CConnMgrCallback, public CStreamCallback {
public:
    struct EventCodes {
        int iConnected;
        int iClosed;
        int iConnectFailed;
        int iAbort;
    };

    // pszName ("CPOP3" ...) appears in the fatal texts.  iMaxReply is the
    // receive buffer's size, iCommandSize the command buffer's.
    CProtoClient(const char* pszName, int iMaxReply, int iCommandSize, const EventCodes& events,
                 fw::Window* pNotifyWnd, unsigned uNotifyMsg);
    ~CProtoClient() override;
    CProtoClient(const CProtoClient&) = delete;
    CProtoClient& operator=(const CProtoClient&) = delete;

    void ConnMgrCallback(std::uint32_t dwCallbackData, int iResult) override;
    void StreamCallback(std::uint32_t dwCallbackData, int iEvent, int iError,
                        const char* pBuffer) override;

    // No session running (the idle state ignores every event).
    bool IsIdle() const { return m_pState == static_cast<State>(&CProtoClient::Idle); }

    // How the next sessions secure the connection and log in (kept across
    // sessions; a client that was never given one stays plain).
    void SetSecurity(const ServerSecurity& security) { m_security = security; }
    const ServerSecurity& Security() const { return m_security; }
    // The connection of the session under way (or the last one) is
    // encrypted.
    bool Encrypted() const { return m_bEncrypted; }
    const CStreamSocket& Socket() const { return m_socket; }

    // The last platform error (receive, send, lookup, connect or the secure
    // layer's); 0 = none.
    int m_iLastError = 0;

protected:
    using State = bool (CProtoClient::*)(int iEvent);

    template <class T>
    void SetState(bool (T::*pState)(int))
    {
        m_pState = static_cast<State>(pState);
    }
    template <class T>
    bool InState(bool (T::*pState)(int)) const
    {
        return m_pState == static_cast<State>(pState);
    }
    // Runs the machine with one event.
    void Run(int iEvent);
    bool Idle(int iEvent);

    // Starts a session: keeps copies of the server and port, clears the
    // error, the buffer and the notify flag (set).
    void BeginSession(const char* pszServer, std::uint16_t wPort);
    // Asks the connection manager to connect; the outcome comes back as the
    // connected or connection-failed event (possibly before this returns).
    void StartConnect();
    // Gives up a connection attempt under way; no event follows.
    void CancelConnect();
    // After the server agreed to STARTTLS: starts the handshake.  Anything
    // the server sent after its agreement is dropped unread.  The outcome
    // runs the machine with iEvent, with m_iTlsError 0 or the reason (also
    // in m_iLastError).  False when the handshake could not even start.
    bool BeginStartTls(int iEvent);
    // Whether to ask for STARTTLS after the greeting, given whether the
    // server offers it: true for starttls and for auto when offered.
    bool WantStartTls(bool bOffered) const;
    // A password is about to go out: with auto on a plain connection the
    // user hears of it once per run and server.
    void NoteClearPassword(const char* pszWhat);
    // The password for the login: the one given, or the first line of the
    // password command.  False with m_strLocalError set when the command
    // failed.
    bool ResolvePassword(std::string& password);
    // Formats a command into the command buffer and sends it.  False when
    // the socket refused it (the error is in m_iLastError) or the command
    // does not fit or holds a line break of its own (m_strLocalError says
    // which); the session then ends as failed.
    bool SendCommand(const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));
    // Sends bytes that stay valid until their WRITE event.  0 or 10035 count
    // as sent; any other result is kept in m_iLastError and returned.
    int SendBytes(const char* pBuffer, int iLength);
    // Posts a notification to the owner.
    void Notify(fw::WPARAM wParam, fw::LPARAM lParam);
    // The shared part of the end step: closes the socket (after cancelling a
    // connection attempt) and frees the session's copies.  The client then
    // reports and enters Idle.
    void CloseSession();

    // One complete line (without CR LF).  pLine is valid only during the call.
    virtual void OnReplyLine(const char* pLine, int iLen) = 0;
    // The start of a line that does not fit in the receive buffer (the rest
    // follows as further pieces and a last OnReplyLine).  A client that is
    // receiving message data takes it and returns true; otherwise the line
    // is a reply line that is too long, and OnOverlongLine follows.
    virtual bool OnLinePiece(const char* pPiece, int iLen) { return false; }
    // A reply line did not fit in the receive buffer: drop the connection
    // and end the session as failed.
    virtual void OnOverlongLine() = 0;
    // A finished queued buffer (sending clients watch their command buffer).
    virtual void OnWriteDone(const char* pBuffer, int iError) {}

    // The events every connected state treats alike: the server's close and
    // the owner's abort.  When iEvent is one of them, stores the matching
    // status, makes pEnd the current state and returns true.
    template <class T>
    bool EndOnCloseOrAbort(int iEvent, int* piStatus, int iClosedStatus, int iAbortStatus,
                           bool (T::*pEnd)(int))
    {
        if (iEvent != m_events.iClosed && iEvent != m_events.iAbort)
            return false;
        *piStatus = iEvent == m_events.iClosed ? iClosedStatus : iAbortStatus;
        SetState(pEnd);
        return true;
    }

    const char* m_pszName;
    EventCodes m_events;
    fw::Window* m_pNotifyWnd;
    unsigned m_uNotifyMsg;
    CStreamSocket m_socket; // before the manager: it must outlive it
    CConnMgr m_connMgr;
    CReplyBuffer m_rx;
    std::vector<char> m_command;
    std::string m_strServer;
    std::uint16_t m_wPort = 0;
    bool m_bNotify = true;
    // Why the session failed when the reason is ours rather than the
    // server's or the network's ("" otherwise).
    std::string m_strLocalError;
    ServerSecurity m_security;
    int m_iTlsError = 0;

private:
    // A lock-step client waits for each reply before it sends again; the
    // kernel's delayed acknowledgement would then meet the server's Nagle
    // algorithm (a status line and its data written separately) and hold
    // every reply for tens of milliseconds.  Quick acknowledgement is not
    // permanent, so it is asked for again after every send and receive.
    void AckQuickly();
    void ReceiveAndDispatch();
    bool DispatchLines();

    TlsOptions TlsSettings() const;

    State m_pState;
    bool m_bRunning = false;
    enum { TLS_NONE, TLS_IMPLICIT, TLS_STARTTLS } m_iTlsPhase = TLS_NONE;
    int m_iTlsEvent = 0;
    bool m_bEncrypted = false;
};
