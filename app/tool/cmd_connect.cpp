// connect: the user's quick "can I reach my server" check, through the same
// lookup and connection sequence the mail and news sessions use.

#include "app/Tool.h"

#include "framework/Window.h"
#include "net/CConnMgr.h"
#include "net/CSocket.h"
#include "net/CWinsock.h"
#include "net/WinsockError.h"

#include <cstdio>
#include <string>

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

int Connect(ToolContext&, const std::vector<std::string>& args)
{
    if (args.size() != 2)
        return ToolFail("usage: connect HOST PORT");
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
    connMgr.Connect(host.c_str(), wPort, &socket, nullptr, 0);
    // The platform's own connect time-out is the only limit, as in a session.
    while (!waiter.m_bDone)
        fw::MessageLoop::TakeOneMessage();

    if (waiter.m_iResult == CConnMgrCallback::CONNECTED) {
        sockaddr_in peer{};
        socket.GetPeerName(&peer);
        CSockAddr addr(peer);
        std::printf("connected to %s:%u\n", addr.AddressText().c_str(),
                    static_cast<unsigned>(addr.Port()));
        socket.Close();
        return 0;
    }
    std::fprintf(stderr, "%s\n",
                 ForTerminal(WinsockErrorMessage(caption.c_str(), connMgr.m_iLastError)).c_str());
    return 1;
}

} // namespace

MT_TOOL_COMMAND("connect", "HOST PORT",
                "look up HOST and connect to PORT as the sessions do; report the outcome", Connect);
