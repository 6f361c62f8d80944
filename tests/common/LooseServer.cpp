#include "LooseServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

LooseServer::LooseServer(Kind kind, int iMailbox) : m_kind(kind), m_iMailbox(iMailbox)
{
    m_thread = std::thread([this] {
        for (int fd; (fd = m_listener.Accept()) >= 0; ::close(fd))
            Session(fd);
    });
}

LooseServer::~LooseServer()
{
    m_bStop = true;
    Release();
    m_listener.Close();
    m_thread.join();
}

void LooseServer::Release()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_iReleases;
    m_cv.notify_all();
}

std::vector<std::string> LooseServer::Messages()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

void LooseServer::Session(int fd)
{
    std::string in;
    auto say = [fd](const std::string& s) { ::send(fd, s.data(), s.size(), MSG_NOSIGNAL); };
    // The next line (without CR LF); false when the client went away.
    auto line = [&](std::string& out) {
        for (;;) {
            std::size_t eol = in.find("\r\n");
            if (eol != std::string::npos) {
                out = in.substr(0, eol);
                in.erase(0, eol + 2);
                return true;
            }
            pollfd p{fd, POLLIN, 0};
            if (m_bStop || ::poll(&p, 1, 50) < 0)
                return false;
            if (!(p.revents & (POLLIN | POLLHUP)))
                continue;
            char buf[4096];
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            in.append(buf, static_cast<std::size_t>(n));
        }
    };
    const char* const greeting[] = {"220 loose.test ESMTP\r\n", "200 loose.test news\r\n",
                                    "+OK ready\r\n"};
    const char* const bye[] = {"221 bye\r\n", "205 bye\r\n", "+OK bye\r\n"};
    say(greeting[m_kind]);
    std::string l;
    while (line(l)) {
        std::string cmd = l.substr(0, 4);
        bool bData = (m_kind == SMTP && cmd == "DATA") || (m_kind == NNTP && cmd == "POST");
        if (cmd == "QUIT") {
            say(bye[m_kind]);
            return;
        }
        if (m_kind == POP3) {
            std::string n = l.substr(l.find(' ') + 1);
            if (cmd == "STAT")
                say("+OK " + std::to_string(m_iMailbox) + " 200\r\n");
            else if (cmd == "UIDL" || cmd == "LIST")
                say("-ERR not here\r\n");
            else if (cmd == "RETR")
                say("+OK\r\nFrom: Ann <ann@example.org>\r\nSubject: Night mail " + n +
                    "\r\nMessage-ID: <" + n + "@example.org>\r\n\r\nHello\r\n.\r\n");
            else
                say("+OK\r\n");
            continue;
        }
        if (cmd == "RCPT" && l.find("reject") != std::string::npos) {
            say("550 5.1.1 " + l.substr(8) + ": recipient refused\r\n");
            continue;
        }
        if (!bData) {
            say("250 ok\r\n");
            continue;
        }
        say(m_kind == SMTP ? "354 go ahead\r\n" : "340 send it\r\n");
        std::string msg;
        while (line(l) && l != ".")
            msg += (l.rfind("..", 0) == 0 ? l.substr(1) : l) + "\n";
        if (l != ".")
            return;
        if (bHold) {
            std::unique_lock<std::mutex> lock(m_mutex);
            int iSeen = m_iReleases;
            ++m_iHeld;
            m_cv.wait(lock, [&] { return m_iReleases != iSeen || m_bStop; });
            char c;
            if (::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0)
                return; // the client gave up: the message is not taken
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_messages.push_back(msg);
        }
        say(m_kind == SMTP ? "250 queued\r\n" : "240 article posted\r\n");
    }
}
