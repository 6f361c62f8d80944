#include "proto/CMessageSender.h"

#include "net/CTls.h"
#include "proto/Sasl.h"
#include "proto/SendHeaders.h"

#include <cctype>
#include <sstream>
#include <strings.h>

#include <ctime>

CMessageSender::CMessageSender(const char* pszName, fw::Window* pNotifyWnd, unsigned uNotifyMsg)
    : CSendingClient(pszName, pNotifyWnd, uNotifyMsg)
{
}

std::string CMessageSender::HostName() const
{
    std::string host = LocalHostName();
    return host.empty() ? std::string("localhost") : host;
}

std::int64_t CMessageSender::Now() const { return static_cast<std::int64_t>(std::time(nullptr)); }

std::string CMessageSender::NewId(std::int64_t tNow, const std::string& host) const
{
    return NewMessageId(tNow, host);
}

bool CMessageSender::Start(const char* pszServer, std::uint16_t wPort, std::FILE* pStream,
                           std::vector<Command> commands, std::vector<std::string> headers)
{
    if (!IsIdle())
        return false;
    BeginSession(pszServer, wPort);
    m_pStream = pStream;
    m_commands = std::move(commands);
    m_headers = std::move(headers);
    m_iNext = 0;
    m_iStatus = STATUS_ABORTED;
    m_strFailure.clear();
    m_strLastReply.clear();
    m_replyLines.clear();
    m_strSecret.clear();
    SetState(&CMessageSender::Connect);
    Run(EV_ENTER);
    return true;
}

void CMessageSender::Abort(bool bNotify)
{
    if (IsIdle())
        return;
    m_bNotify = bNotify;
    Run(EV_ABORT);
}

void CMessageSender::OnInvalidReply()
{
    // A server that does not speak the protocol: the session ends as
    // failed (the program goes on with the next message).
    m_strFailure = "The server sent a reply that is not a reply: " + m_strLastReply;
    m_iStatus = STATUS_FAILED;
    SetState(&CMessageSender::End);
    Run(EV_ENTER);
}

void CMessageSender::OnOverlongLine()
{
    m_strFailure =
        "The server sent a line longer than " + std::to_string(MAX_REPLY_SIZE - 2) + " characters.";
    m_iStatus = STATUS_FAILED;
    SetState(&CMessageSender::End);
    Run(EV_ENTER);
}

bool CMessageSender::CommonEvent(int iEvent)
{
    if (iEvent != EV_CLOSED && iEvent != EV_ABORT)
        return false;
    if (iEvent == EV_CLOSED) {
        m_iStatus = STATUS_FAILED;
        if (m_strFailure.empty() && m_iLastError == 0)
            m_strFailure = "The server closed the connection.";
    } else {
        m_iStatus = STATUS_ABORTED;
    }
    SetState(&CMessageSender::End);
    return true;
}

bool CMessageSender::Refused() { return GiveUp(m_strLastReply); }

bool CMessageSender::GiveUp(const std::string& why)
{
    m_strFailure = why;
    m_iStatus = STATUS_FAILED;
    SetState(&CMessageSender::Quit);
    return true;
}

bool CMessageSender::Failed(const std::string& why)
{
    if (!why.empty())
        m_strFailure = why;
    else if (!m_strLocalError.empty())
        m_strFailure = m_strLocalError;
    m_iStatus = STATUS_FAILED;
    SetState(&CMessageSender::End);
    return true;
}

bool CMessageSender::Connect(int)
{
    if (!m_strStartFailure.empty()) {
        std::string why;
        why.swap(m_strStartFailure);
        return Failed(why);
    }
    SetState(&CMessageSender::AwaitConnection);
    StartConnect();
    return false;
}

bool CMessageSender::AwaitConnection(int iEvent)
{
    switch (iEvent) {
    case EV_CONNECTED:
        SetState(&CMessageSender::AwaitGreeting);
        return false;
    case EV_CONNECT_FAILED:
        return Failed(std::string());
    case EV_ABORT:
        CancelConnect();
        m_iStatus = STATUS_ABORTED;
        SetState(&CMessageSender::End);
        return true;
    }
    return false;
}

bool CMessageSender::SendNextCommand()
{
    const Command& c = m_commands[m_iNext++];
    m_iExpected = c.iClass;
    if (!SendCommand("%s", c.text.c_str()))
        return Failed(std::string());
    SetState(&CMessageSender::AwaitCommand);
    return false;
}

bool CMessageSender::AwaitGreeting(int iEvent)
{
    if (CommonEvent(iEvent))
        return true;
    if (iEvent < EV_CLASS1 || iEvent > EV_CLASS5)
        return false;
    if (iEvent != EV_CLASS2) {
        m_strFailure = m_strLastReply;
        m_iStatus = STATUS_FAILED;
        SetState(&CMessageSender::End);
        return true;
    }
    if (m_bExtended)
        return SendEhlo();
    if (m_bAskStartTls && !Encrypted() &&
        (m_security.iMode == ServerSecurity::AUTO ||
         m_security.iMode == ServerSecurity::STARTTLS)) {
        return SendStartTls();
    }
    return BeginChain();
}

bool CMessageSender::BeginChain()
{
    if (m_iNext < m_commands.size())
        return SendNextCommand();
    SetState(&CMessageSender::SendHeaders);
    return true;
}

bool CMessageSender::SendEhlo()
{
    if (!SendCommand("EHLO %s\r\n", m_strHelloHost.c_str()))
        return Failed(std::string());
    SetState(&CMessageSender::AwaitEhlo);
    return false;
}

bool CMessageSender::AwaitEhlo(int iEvent)
{
    if (CommonEvent(iEvent))
        return true;
    if (iEvent < EV_CLASS1 || iEvent > EV_CLASS5)
        return false;
    if (iEvent != EV_CLASS2) {
        // A server of the old kind: HELO, without any extension.
        if (!SendCommand("HELO %s\r\n", m_strHelloHost.c_str()))
            return Failed(std::string());
        SetState(&CMessageSender::AwaitHelo);
        return false;
    }
    m_bOfferedTls = m_bOfferedPlain = m_bOfferedLogin = m_bOfferedXOAuth2 = false;
    for (std::size_t i = 0; i < m_replyLines.size(); ++i) {
        const std::string& line = m_replyLines[i];
        if (i == 0 || line.size() < 4)
            continue; // the first line greets
        std::istringstream words(line.substr(4));
        std::string word;
        words >> word;
        for (char& ch : word)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        if (word == "STARTTLS") {
            m_bOfferedTls = true;
        } else if (word == "AUTH" || word.compare(0, 5, "AUTH=") == 0) {
            std::string rest = word.size() > 5 ? word.substr(5) + " " : std::string();
            std::string mech;
            std::istringstream mechs(
                rest + line.substr(4 + std::min<std::size_t>(line.size() - 4, word.size())));
            while (mechs >> mech) {
                if (strcasecmp(mech.c_str(), "PLAIN") == 0)
                    m_bOfferedPlain = true;
                else if (strcasecmp(mech.c_str(), "LOGIN") == 0)
                    m_bOfferedLogin = true;
                else if (strcasecmp(mech.c_str(), "XOAUTH2") == 0)
                    m_bOfferedXOAuth2 = true;
            }
        }
    }
    if (!Encrypted() && m_security.iMode != ServerSecurity::NONE &&
        m_security.iMode != ServerSecurity::TLS && WantStartTls(m_bOfferedTls)) {
        if (!m_bOfferedTls) {
            m_iLastError = TLS_E_NOT_OFFERED;
            m_strFailure = "The server does not offer encryption (STARTTLS).";
            m_iStatus = STATUS_FAILED;
            SetState(&CMessageSender::Quit);
            return true;
        }
        return SendStartTls();
    }
    return StartAuth();
}

bool CMessageSender::AwaitHelo(int iEvent)
{
    if (CommonEvent(iEvent))
        return true;
    if (iEvent < EV_CLASS1 || iEvent > EV_CLASS5)
        return false;
    if (iEvent != EV_CLASS2)
        return Refused();
    if (!Encrypted() && m_security.iMode == ServerSecurity::STARTTLS) {
        m_iLastError = TLS_E_NOT_OFFERED;
        m_strFailure = "The server does not offer encryption (STARTTLS).";
        m_iStatus = STATUS_FAILED;
        SetState(&CMessageSender::Quit);
        return true;
    }
    m_bOfferedPlain = m_bOfferedLogin = m_bOfferedXOAuth2 = false;
    return StartAuth();
}

bool CMessageSender::SendStartTls()
{
    if (!SendCommand("STARTTLS\r\n"))
        return Failed(std::string());
    SetState(&CMessageSender::AwaitStartTls);
    return false;
}

bool CMessageSender::AwaitStartTls(int iEvent)
{
    if (CommonEvent(iEvent))
        return true;
    if (iEvent < EV_CLASS1 || iEvent > EV_CLASS5)
        return false;
    // SMTP goes ahead with 220, NNTP with 382.
    if (iEvent != (m_bExtended ? EV_CLASS2 : EV_CLASS3)) {
        if (m_bExtended)
            return Refused(); // offered in the EHLO reply, then refused
        if (m_security.iMode == ServerSecurity::STARTTLS) {
            m_iLastError = TLS_E_NOT_OFFERED;
            return GiveUp("The news server does not offer encryption (STARTTLS): " +
                          m_strLastReply);
        }
        return BeginChain(); // auto: the server offers no encryption
    }
    if (!BeginStartTls(EV_TLS))
        return Failed(std::string());
    SetState(&CMessageSender::AwaitTls);
    return false;
}

bool CMessageSender::AwaitTls(int iEvent)
{
    if (CommonEvent(iEvent))
        return true;
    if (iEvent != EV_TLS)
        return false;
    if (m_iTlsError)
        return Failed(std::string()); // the reason is in m_iLastError
    if (!m_bExtended)
        return BeginChain();
    // What the server offers may differ once the connection is private.
    return SendEhlo();
}

bool CMessageSender::SendSecret(const std::string& line)
{
    m_strSecret = line;
    return SendBytes(m_strSecret.data(), static_cast<int>(m_strSecret.size())) == 0;
}

bool CMessageSender::StartAuth()
{
    if (m_strAuthUser.empty())
        return BeginChain();
    m_iAuthStep = 0;
    if (m_security.bOAuth2) {
        if (!m_bOfferedXOAuth2)
            return GiveUp("The server does not offer a login with an OAuth2 token (XOAUTH2).");
        m_iAuthKind = AUTH_XOAUTH2;
    } else if (m_bOfferedPlain) {
        m_iAuthKind = AUTH_PLAIN;
    } else if (m_bOfferedLogin) {
        m_iAuthKind = AUTH_LOGIN;
    } else {
        return GiveUp("The server offers no login (AUTH PLAIN or LOGIN) for the user name "
                      "given.");
    }
    NoteClearPassword("SMTP");
    bool bSent = false;
    switch (m_iAuthKind) {
    case AUTH_XOAUTH2:
        bSent =
            SendSecret("AUTH XOAUTH2 " + SaslXOAuth2(m_strAuthUser, m_strAuthPassword) + "\r\n");
        break;
    case AUTH_PLAIN:
        bSent = SendSecret("AUTH PLAIN " + SaslPlain(m_strAuthUser, m_strAuthPassword) + "\r\n");
        break;
    case AUTH_LOGIN:
        bSent = SendSecret("AUTH LOGIN\r\n");
        break;
    }
    if (!bSent)
        return Failed(std::string());
    SetState(&CMessageSender::AwaitAuth);
    return false;
}

bool CMessageSender::AwaitAuth(int iEvent)
{
    if (CommonEvent(iEvent))
        return true;
    if (iEvent < EV_CLASS1 || iEvent > EV_CLASS5)
        return false;
    if (iEvent == EV_CLASS2) {
        m_strSecret.assign(m_strSecret.size(), '\0');
        return BeginChain();
    }
    if (iEvent != EV_CLASS3 || ++m_iAuthStep > 2)
        return Refused();
    std::string answer;
    if (m_iAuthKind == AUTH_LOGIN)
        answer = Base64Of(m_iAuthStep == 1 ? m_strAuthUser : m_strAuthPassword);
    // XOAUTH2 and PLAIN: a challenge here carries the reason of a refusal;
    // an empty answer lets the server say it.
    if (!SendSecret(answer + "\r\n"))
        return Failed(std::string());
    return false;
}

bool CMessageSender::AwaitCommand(int iEvent)
{
    if (CommonEvent(iEvent))
        return true;
    if (iEvent < EV_CLASS1 || iEvent > EV_CLASS5)
        return false;
    if (iEvent != EV_CLASS1 + m_iExpected - 1)
        return Refused();
    if (m_iNext < m_commands.size())
        return SendNextCommand();
    m_iNext = 0;
    SetState(&CMessageSender::SendHeaders);
    return true;
}

bool CMessageSender::SendHeaders(int iEvent)
{
    if (CommonEvent(iEvent))
        return true;
    if (iEvent >= EV_CLASS1 && iEvent <= EV_CLASS5)
        return Refused(); // nothing is expected while the message goes out
    if (iEvent != EV_ENTER && iEvent != EV_BUFFER_SENT)
        return false;
    while (!CommandBusy()) {
        if (m_iNext >= m_headers.size()) {
            BeginBody(m_pStream);
            SetState(&CMessageSender::SendBody);
            return true;
        }
        const std::string& line = m_headers[m_iNext++];
        if (line.size() > static_cast<std::size_t>(COMMAND_SIZE) || !SendLine(line))
            return Failed(line.size() > static_cast<std::size_t>(COMMAND_SIZE)
                              ? "A header line is too long to send."
                              : std::string());
    }
    return false; // the buffer-sent event brings us back
}

bool CMessageSender::SendBody(int iEvent)
{
    if (CommonEvent(iEvent))
        return true;
    if (iEvent >= EV_CLASS1 && iEvent <= EV_CLASS5)
        return Refused();
    if (iEvent != EV_ENTER && iEvent != EV_BUFFER_SENT)
        return false;
    while (!CommandBusy()) {
        switch (SendNextBodyLine()) {
        case BODY_LINE_SENT:
            Notify(0, PROGRESS_LINE);
            continue;
        case BODY_END_SENT:
            SetState(&CMessageSender::AwaitEnd);
            return false;
        case BODY_TOO_LONG:
            // Ending without the final dot: the server drops the message.
            return Failed("A message line is longer than 998 characters.");
        case BODY_READ_ERROR:
            return Failed("The message cannot be read.");
        case BODY_SEND_FAILED:
            return Failed(std::string());
        }
    }
    return false;
}

bool CMessageSender::AwaitEnd(int iEvent)
{
    if (CommonEvent(iEvent))
        return true;
    if (iEvent < EV_CLASS1 || iEvent > EV_CLASS5)
        return false;
    if (iEvent != EV_CLASS2)
        return Refused();
    m_iStatus = STATUS_SENT;
    SetState(&CMessageSender::Quit);
    return true;
}

bool CMessageSender::Quit(int)
{
    if (!SendCommand("QUIT\r\n")) {
        SetState(&CMessageSender::End);
        return true;
    }
    SetState(&CMessageSender::AwaitQuit);
    return false;
}

bool CMessageSender::AwaitQuit(int iEvent)
{
    if (iEvent == EV_CLOSED || (iEvent >= EV_CLASS1 && iEvent <= EV_CLASS5)) {
        SetState(&CMessageSender::End);
        return true;
    }
    if (iEvent == EV_ABORT) {
        // The message was taken or refused already; an abort now changes
        // nothing of that.
        SetState(&CMessageSender::End);
        return true;
    }
    return false;
}

bool CMessageSender::End(int)
{
    CloseSession();
    m_pStream = nullptr;
    m_commands.clear();
    m_headers.clear();
    if (m_bNotify)
        NotifyDone();
    return false;
}
