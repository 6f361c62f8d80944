// connect: the user's quick "can I reach my server" check, through the same
// lookup and connection sequence the mail and news sessions use.  With
// --tls (implicit) or --starttls (after the protocol's own command) it also
// sets up the secure connection and shows what the server presented, or
// why the handshake failed.

#include "app/Tool.h"

#include "framework/Window.h"
#include "net/CConnMgr.h"
#include "net/CSocket.h"
#include "net/CWinsock.h"
#include "net/WinsockError.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>

namespace {

class ConnectWaiter : public CConnMgrCallback {
public:
    void ConnMgrCallback(std::uint32_t, int iResult) override
    {
        m_iResult = iResult;
        m_bDone = true;
    }
    bool m_bDone = false;
    int m_iResult = INVALID_RESULT;
};

// Drives the plain part of a STARTTLS exchange and waits for the handshake.
class TlsProbe : public CStreamCallback {
public:
    TlsProbe(CStreamSocket& socket, std::string protocol, TlsOptions options)
        : m_socket(socket), m_protocol(std::move(protocol)), m_options(std::move(options))
    {
    }
    // Implicit: start at once.  STARTTLS: wait for the greeting first.
    void Begin(bool bImplicit)
    {
        if (bImplicit)
            StartTls();
        else
            m_iStep = GREETING;
    }
    void StreamCallback(std::uint32_t, int iEvent, int iError, const char*) override
    {
        if (m_bDone)
            return;
        if (iEvent == CONNECT) {
            Finish(iError, "");
            return;
        }
        if (iEvent == CLOSE || iError) {
            Finish(iError ? iError : TLS_E_CLOSED, "the server closed the connection");
            return;
        }
        if (iEvent != READ || m_iStep == HANDSHAKE)
            return;
        char buf[1024];
        int n = sizeof buf;
        if (m_socket.Receive(buf, n) != 0 || n <= 0)
            return;
        m_line.append(buf, static_cast<std::size_t>(n));
        std::size_t eol;
        while (!m_bDone && m_iStep != HANDSHAKE && (eol = m_line.find('\n')) != std::string::npos) {
            std::string line = m_line.substr(0, eol);
            m_line.erase(0, eol + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            OnLine(line);
        }
        if (m_line.size() > 4096)
            Finish(TLS_E_NOT_OFFERED, "the server sent a line that is too long");
    }
    bool m_bDone = false;
    int m_iError = 0;
    std::string m_strWhy; // the server's refusal, when it refused

private:
    enum Step { START, GREETING, EHLO, COMMAND, HANDSHAKE };
    void Send(const std::string& text)
    {
        m_pending = text;
        int e = m_socket.Send(m_pending.data(), static_cast<int>(m_pending.size()));
        if (e != 0 && e != wsa::WSAEWOULDBLOCK)
            Finish(e, "");
    }
    void OnLine(const std::string& line)
    {
        bool bOk = !line.empty() && (line[0] == '+' || line[0] == '2');
        switch (m_iStep) {
        case GREETING:
            if (!bOk)
                return Finish(TLS_E_NOT_OFFERED, line);
            if (m_protocol == "smtp") {
                m_iStep = EHLO;
                Send("EHLO localhost\r\n");
            } else {
                m_iStep = COMMAND;
                Send(m_protocol == "pop3" ? "STLS\r\n" : "STARTTLS\r\n");
            }
            break;
        case EHLO:
            if (!bOk)
                return Finish(TLS_E_NOT_OFFERED, line);
            if (line.size() > 3 && line[3] == '-')
                return; // more lines of the reply follow
            m_iStep = COMMAND;
            Send("STARTTLS\r\n");
            break;
        case COMMAND:
            if ((m_protocol == "pop3" && !bOk) ||
                (m_protocol == "nntp" && line.compare(0, 3, "382") != 0) ||
                (m_protocol == "smtp" && line.compare(0, 3, "220") != 0))
                return Finish(TLS_E_NOT_OFFERED, line);
            m_line.clear();
            StartTls();
            break;
        default:
            break;
        }
    }
    void StartTls()
    {
        m_iStep = HANDSHAKE;
        int e = m_socket.StartTls(m_options);
        if (e != wsa::WSAEWOULDBLOCK)
            Finish(e, "");
    }
    void Finish(int iError, const std::string& why)
    {
        m_bDone = true;
        m_iError = iError;
        m_strWhy = why;
    }

    CStreamSocket& m_socket;
    std::string m_protocol;
    TlsOptions m_options;
    int m_iStep = START;
    std::string m_line, m_pending;
};

bool ParsePort(const std::string& text, std::uint16_t& wPort)
{
    if (text.empty() || text.size() > 5)
        return false;
    unsigned long n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + static_cast<unsigned long>(c - '0');
    }
    if (n == 0 || n > 65535)
        return false;
    wPort = static_cast<std::uint16_t>(n);
    return true;
}

int Connect(ToolContext&, const std::vector<std::string>& argsIn)
{
    // Options may stand anywhere: --tls [PROTO], --starttls PROTO, --pin FP.
    std::vector<std::string> args;
    std::string mode, protocol, pin;
    for (std::size_t i = 0; i < argsIn.size(); ++i) {
        const std::string& a = argsIn[i];
        if (a == "--tls" || a == "--starttls") {
            if (!mode.empty())
                return ToolFail("give --tls or --starttls once");
            mode = a.substr(2);
            if (i + 1 < argsIn.size() && argsIn[i + 1].compare(0, 2, "--") != 0 &&
                (argsIn[i + 1] == "pop3" || argsIn[i + 1] == "nntp" || argsIn[i + 1] == "smtp"))
                protocol = argsIn[++i];
        } else if (a == "--pin") {
            if (i + 1 >= argsIn.size())
                return ToolFail("--pin needs a SHA-256 fingerprint");
            pin = argsIn[++i];
        } else {
            args.push_back(a);
        }
    }
    if (args.size() != 2)
        return ToolFail("usage: connect HOST PORT [--tls [pop3|nntp|smtp] | --starttls "
                        "pop3|nntp|smtp] [--pin FINGERPRINT]");
    if (mode == "starttls" && protocol.empty())
        return ToolFail("--starttls needs the protocol: pop3, nntp or smtp");
    if (!pin.empty() && NormalizeFingerprint(pin).empty())
        return ToolFail("--pin takes a SHA-256 fingerprint (64 hex digits, colons allowed)");
    const std::string& host = args[0];
    std::uint16_t wPort = 0;
    if (!ParsePort(args[1], wPort))
        return ToolFail("the port must be a number from 1 to 65535, not \"" + args[1] + "\"");
    if (host.empty() || host.find('\0') != std::string::npos)
        return ToolFail("the host name is empty");

    CWinsock winsock;
    CreateWinsockEventWindow();
    std::string caption = "Cannot connect to " + host + " port " + std::to_string(wPort);
    if (winsock.m_iLastError != 0) {
        std::fprintf(
            stderr, "%s\n",
            ForTerminal(WinsockErrorMessage(caption.c_str(), winsock.m_iLastError)).c_str());
        return 1;
    }
    ConnectWaiter waiter;
    CStreamSocket socket;
    CConnMgr connMgr(&waiter);
    TlsProbe probe(socket, protocol, TlsOptions{host, pin});
    connMgr.Connect(host.c_str(), wPort, &socket, mode.empty() ? nullptr : &probe, 0);
    // The platform's own connect time-out is the only limit, as in a session.
    while (!waiter.m_bDone)
        fw::MessageLoop::TakeOneMessage();

    if (waiter.m_iResult != CConnMgrCallback::CONNECTED) {
        std::fprintf(
            stderr, "%s\n",
            ForTerminal(WinsockErrorMessage(caption.c_str(), connMgr.m_iLastError)).c_str());
        return 1;
    }
    sockaddr_in peer{};
    socket.GetPeerName(&peer);
    CSockAddr addr(peer);
    std::printf("connected to %s:%u\n", addr.AddressText().c_str(),
                static_cast<unsigned>(addr.Port()));
    if (mode.empty()) {
        socket.Close();
        return 0;
    }
    probe.Begin(mode == "tls");
    // Bounded by the server: every step waits for its answer or its close.
    while (!probe.m_bDone)
        fw::MessageLoop::TakeOneMessage();
    if (probe.m_iError != 0) {
        std::string text =
            "The secure connection to " + host + " port " + std::to_string(wPort) + " failed";
        if (probe.m_iError == TLS_E_NOT_OFFERED && !probe.m_strWhy.empty())
            text += ": the server answered \"" + probe.m_strWhy + "\"";
        std::fprintf(stderr, "%s:\n%s.\n", ForTerminal(text).c_str(),
                     ForTerminal(WinsockErrorString(probe.m_iError)).c_str());
        socket.Close();
        return 1;
    }
    TlsInfo info = socket.Tls()->Info();
    std::printf("protocol: %s\ncipher: %s\nsubject: %s\nissuer: %s\nexpires: %s\n"
                "fingerprint: SHA256 %s\n",
                info.strProtocol.c_str(), info.strCipher.c_str(), info.strSubject.c_str(),
                info.strIssuer.c_str(), info.strNotAfter.c_str(), info.strFingerprint.c_str());
    socket.Close();
    return 0;
}

} // namespace

MT_TOOL_COMMAND("connect", "HOST PORT [--tls|--starttls pop3|nntp|smtp] [--pin FP]",
                "look up HOST and connect to PORT as the sessions do; report the outcome (with "
                "TLS: protocol, cipher and the server's certificate, or why it was refused)",
                Connect);
