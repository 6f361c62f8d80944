// The session both sending clients run: connect, wait for the greeting,
// send a chain of commands each expecting a reply class, send the header
// lines the client composes, then the message from its stream (dot-stuffed,
// through the one command buffer), wait for the server to take it, QUIT.
//
// Status: 0 aborted, 1 the server took the message, 2 failed.  A refused
// greeting ends the session at once; any later refusal sends QUIT first, so
// the server drops the transaction.  The refusal (or our own reason) stays
// readable in FailureText() for the owner.  Progress: (wParam 0, lParam 3)
// posted after each message line.  The end is reported once through
// NotifyDone (unless aborted without notice).
#pragma once

#include "proto/CSendingClient.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class CMessageSender : public CSendingClient {
public:
    enum Status { STATUS_ABORTED = 0, STATUS_SENT = 1, STATUS_FAILED = 2 };
    static constexpr fw::LPARAM PROGRESS_LINE = 3;

    // Ends the session with status 0; NotifyDone only when bNotify.
    void Abort(bool bNotify);

    int m_iStatus = STATUS_ABORTED;
    // What to show after a failure: the server's refusal or our own reason
    // (empty when the network failed: see m_iLastError).
    const std::string& FailureText() const { return m_strFailure; }

protected:
    CMessageSender(const char* pszName, fw::Window* pNotifyWnd, unsigned uNotifyMsg);

    struct Command {
        std::string text; // with CR LF
        int iClass;       // the reply class that lets the session go on
    };
    // Starts a session; false when one is running.
    bool Start(const char* pszServer, std::uint16_t wPort, std::FILE* pStream,
               std::vector<Command> commands, std::vector<std::string> headers);
    virtual void NotifyDone() = 0;

    // SMTP's extended start: EHLO (HELO when refused), STARTTLS as the
    // security settings say, and AUTH (PLAIN, LOGIN or XOAUTH2) when a user
    // name is given, all before the command chain.
    // bOn false: the plain start of the command chain.  A non-empty
    // startFailure ends the next session as failed before it connects (a
    // password command that failed).
    void SetExtendedStart(bool bOn, const std::string& helloHost, const std::string& user,
                          const std::string& password, const std::string& startFailure)
    {
        m_bExtended = bOn;
        m_strHelloHost = helloHost;
        m_strAuthUser = user;
        m_strAuthPassword = password;
        m_strStartFailure = startFailure;
    }

    // What the header lines are made of: the local host name (HELO, Path,
    // Message-ID), the current time and a new Message-ID value.
    virtual std::string HostName() const;
    virtual std::int64_t Now() const;
    virtual std::string NewId(std::int64_t tNow, const std::string& host) const;

    void OnInvalidReply() override;
    void OnOverlongLine() override;

protected:
    // NNTP's start: after the greeting STARTTLS is asked for as the security
    // settings say (auto, starttls); a server without it says no, and auto
    // goes on in clear.  No login: posting needs none here.
    void AskStartTlsAfterGreeting() { m_bAskStartTls = true; }

private:
    bool Connect(int iEvent);
    bool AwaitConnection(int iEvent);
    bool AwaitGreeting(int iEvent);
    bool AwaitCommand(int iEvent);
    bool SendEhlo();
    bool AwaitEhlo(int iEvent);
    bool AwaitHelo(int iEvent);
    bool SendStartTls();
    bool AwaitStartTls(int iEvent);
    bool AwaitTls(int iEvent);
    bool StartAuth();
    bool AwaitAuth(int iEvent);
    // The command chain after the extended start.
    bool BeginChain();
    bool SendSecret(const std::string& line);
    bool SendHeaders(int iEvent);
    bool SendBody(int iEvent);
    bool AwaitEnd(int iEvent);
    bool Quit(int iEvent);
    bool AwaitQuit(int iEvent);
    bool End(int iEvent);

    // Closed and abort: true when the event was one of them (state End).
    bool CommonEvent(int iEvent);
    // The server's reply ends the session: QUIT, then the failure.
    bool Refused();
    // The session cannot go on with this server (why says so): QUIT first.
    bool GiveUp(const std::string& why);
    // A local or connection failure: the session ends without QUIT.
    bool Failed(const std::string& why);
    bool SendNextCommand();

    std::FILE* m_pStream = nullptr;
    std::vector<Command> m_commands;
    std::vector<std::string> m_headers;
    std::size_t m_iNext = 0;
    int m_iExpected = 2;
    std::string m_strFailure;

    bool m_bExtended = false;
    bool m_bAskStartTls = false;
    std::string m_strHelloHost, m_strAuthUser, m_strAuthPassword, m_strStartFailure;
    std::string m_strSecret; // an AUTH line: kept until it has gone out
    enum { AUTH_PLAIN, AUTH_LOGIN, AUTH_XOAUTH2 } m_iAuthKind = AUTH_PLAIN;
    int m_iAuthStep = 0;
    bool m_bOfferedTls = false;
    bool m_bOfferedPlain = false, m_bOfferedLogin = false, m_bOfferedXOAuth2 = false;
};
