// A blocking NNTP exchange of the tests' own, independent of the client
// under test: the reference for what the server says.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace rawnntp {

class Connection {
public:
    explicit Connection(unsigned short port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval tv{30, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
        Line(); // the greeting
    }
    ~Connection()
    {
        if (m_fd >= 0) {
            Command("QUIT");
            ::close(m_fd);
        }
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // One status line, without CR LF ("" when the connection is gone).
    std::string Line()
    {
        std::string line;
        for (;;) {
            std::size_t crlf = m_buf.find("\r\n");
            if (crlf != std::string::npos) {
                line = m_buf.substr(0, crlf);
                m_buf.erase(0, crlf + 2);
                return line;
            }
            char tmp[8192];
            ssize_t k = m_fd >= 0 ? ::recv(m_fd, tmp, sizeof tmp, 0) : -1;
            if (k <= 0)
                return line;
            m_buf.append(tmp, static_cast<std::size_t>(k));
        }
    }
    std::string Command(const std::string& text)
    {
        std::string wire = text + "\r\n";
        if (m_fd < 0 || ::send(m_fd, wire.data(), wire.size(), MSG_NOSIGNAL) < 0)
            return "";
        return Line();
    }
    // The data of a multi-line reply, dot-unstuffed, lines ending CR LF.
    std::string Data()
    {
        std::string out;
        for (std::string l = Line(); l != "."; l = Line()) {
            if (l.empty() && m_fd < 0)
                break;
            out += (l.size() > 0 && l[0] == '.' ? l.substr(1) : l) + "\r\n";
        }
        return out;
    }

private:
    int m_fd = -1;
    std::string m_buf;
};

} // namespace rawnntp
