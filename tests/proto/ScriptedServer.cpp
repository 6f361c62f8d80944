#include "ScriptedServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string Printable(const std::string& s)
{
    std::string out;
    for (unsigned char c : s) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02X", c);
        out += c == '\r'               ? std::string("\\r")
               : c == '\n'             ? std::string("\\n")
               : c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c))
                                       : std::string(buf);
    }
    return out;
}

long long NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

ScriptedServer::~ScriptedServer()
{
    m_bStop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
}

bool ScriptedServer::Start()
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (m_iReceiveBuffer > 0)
        ::setsockopt(m_listenFd, SOL_SOCKET, SO_RCVBUF, &m_iReceiveBuffer, sizeof m_iReceiveBuffer);
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(m_listenFd, 1) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return false;
    m_port = ntohs(a.sin_port);
    m_thread = std::thread([this] { Main(); });
    return true;
}

void ScriptedServer::Fail(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failures.push_back(text);
}

// Waits until fd is ready for the events; false at the deadline, on stop
// or on an error.
bool ScriptedServer::Poll(int fd, short events, long long endMs)
{
    for (;;) {
        int left = static_cast<int>(endMs - NowMs());
        if (left <= 0 || m_bStop)
            return false;
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, std::min(left, 100));
        if (r > 0)
            return true;
        if (r < 0 && errno != EINTR)
            return false;
    }
}

// One recv; what came is added to what the client sent.
long ScriptedServer::Receive(int fd, char* buf, std::size_t n)
{
    ssize_t k = ::recv(fd, buf, n, 0);
    if (k > 0) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.append(buf, static_cast<std::size_t>(k));
    }
    return k;
}

bool ScriptedServer::SendChunk(int fd, const char* p, std::size_t n)
{
    while (n > 0) {
        ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0) {
            Fail(std::string("send failed: ") + std::strerror(errno));
            return false;
        }
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    // Bytes: wait until the client's side has acknowledged the byte, so the
    // next one travels in a segment of its own.
    long long end = NowMs() + m_stepTimeoutMs;
    for (int unacked = 1; m_split == Split::Bytes && unacked > 0 && NowMs() < end && !m_bStop;) {
        if (::ioctl(fd, SIOCOUTQ, &unacked) != 0)
            break;
        if (unacked > 0)
            ::usleep(50);
    }
    return true;
}

bool ScriptedServer::SendText(int fd, const std::string& text)
{
    if (m_split == Split::Whole)
        return SendChunk(fd, text.data(), text.size());
    // A byte, or two lines, at a time.
    for (std::size_t pos = 0, end = 0; pos < text.size(); pos = end) {
        end = pos + 1;
        for (int lines = 0; m_split == Split::Pairs && lines < 2 && end <= text.size(); ++lines) {
            std::size_t lf = text.find('\n', lines ? end : pos);
            end = lf == std::string::npos ? text.size() : lf + 1;
        }
        if (!SendChunk(fd, text.data() + pos, end - pos))
            return false;
    }
    return true;
}

bool ScriptedServer::ReadExactly(int fd, std::size_t n, std::string& out)
{
    out.clear();
    long long end = NowMs() + m_stepTimeoutMs;
    char buf[4096];
    while (out.size() < n) {
        if (!Poll(fd, POLLIN, end))
            return false;
        long k = Receive(fd, buf, std::min(n - out.size(), sizeof buf));
        if (k <= 0)
            return false;
        out.append(buf, static_cast<std::size_t>(k));
    }
    return true;
}

bool ScriptedServer::WaitForClose(int fd, const char* pszWhat)
{
    long long end = NowMs() + m_stepTimeoutMs;
    std::string extra;
    char buf[4096];
    for (long k = 1; k > 0;) {
        if (!Poll(fd, POLLIN, end)) {
            Fail(std::string(pszWhat) + ": the client did not close the connection");
            return false;
        }
        if ((k = Receive(fd, buf, sizeof buf)) > 0)
            extra.append(buf, static_cast<std::size_t>(k));
    }
    if (!extra.empty())
        Fail(std::string(pszWhat) + ": the client sent \"" + Printable(extra) +
             "\" before closing");
    return extra.empty();
}

bool ScriptedServer::FloodUntilClosed(int fd, const Step& s)
{
    long long iSent = 0, end = NowMs() + m_stepTimeoutMs;
    std::size_t off = 0; // where in the text the stream goes on
    while (iSent <= s.iMaxBytes && Poll(fd, POLLOUT, end)) {
        ssize_t k = ::send(fd, s.text.data() + off, s.text.size() - off, MSG_NOSIGNAL);
        if (k < 0 && (errno == EPIPE || errno == ECONNRESET))
            return true; // the client hung up: the end wanted
        if (k < 0 && errno != EAGAIN && errno != EINTR) {
            Fail(std::string("flood: send failed: ") + std::strerror(errno));
            return false;
        }
        if (k > 0) {
            iSent += k;
            off = (off + static_cast<std::size_t>(k)) % s.text.size();
        }
    }
    Fail("flood: the client took " + std::to_string(iSent) + " bytes without closing");
    return false;
}

int ScriptedServer::AcceptClient()
{
    int fd = Poll(m_listenFd, POLLIN, NowMs() + m_stepTimeoutMs)
                 ? ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC)
                 : -1;
    if (fd < 0) {
        Fail("no client connected");
        return -1;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

void ScriptedServer::Main()
{
    int fd = AcceptClient();
    m_bAccepted = fd >= 0;
    bool ok = fd >= 0;
    std::size_t i = 0;
    while (ok && i < m_steps.size()) {
        const Step& s = m_steps[i];
        switch (s.kind) {
        case Step::SAY: {
            // A run of Say steps is one stream of lines.
            std::string text;
            std::size_t j = i;
            while (j < m_steps.size() && m_steps[j].kind == Step::SAY)
                text += m_steps[j++].text;
            ok = SendText(fd, text);
            m_stepsDone += static_cast<int>(j - i);
            i = j;
            continue;
        }
        case Step::EXPECT: {
            std::string got;
            bool bRead = ReadExactly(fd, s.text.size(), got);
            ok = bRead && got == s.text;
            if (!ok)
                Fail("step " + std::to_string(i + 1) + ": expected \"" + Printable(s.text) +
                     (bRead ? "\", got \"" : "\", got only \"") + Printable(got) + "\"");
            break;
        }
        case Step::CLOSE:
            ::close(fd);
            fd = -1;
            break;
        case Step::EXPECT_CLOSE:
        case Step::HOLD:
            ok = WaitForClose(fd, s.kind == Step::HOLD ? "hold" : "end");
            break;
        case Step::DO:
            s.fn();
            break;
        case Step::FLOOD:
            ok = FloodUntilClosed(fd, s);
            if (ok) {
                ::close(fd);
                fd = -1;
            }
            break;
        case Step::RECONNECT:
            ok = WaitForClose(fd, "reconnect");
            ::close(fd);
            fd = ok ? AcceptClient() : -1;
            ok = fd >= 0;
            break;
        case Step::WAIT: {
            long long end = NowMs() + m_stepTimeoutMs;
            while (!s.condition() && NowMs() < end && !m_bStop)
                ::usleep(200);
            ok = s.condition();
            if (!ok)
                Fail("step " + std::to_string(i + 1) + ": the test's condition never held");
            break;
        }
        }
        if (ok)
            ++m_stepsDone;
        ++i;
        if (ok && fd < 0 && i < m_steps.size()) {
            Fail("the script goes on after the server closed");
            ok = false;
        }
    }
    if (fd >= 0)
        ::close(fd);
    m_bDone = true;
}

bool ScriptedServer::Finish(int iTimeoutMs)
{
    long long end = NowMs() + iTimeoutMs;
    while (!m_bDone && NowMs() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!m_bDone) {
        Fail("the script did not finish in time (at step " + std::to_string(m_stepsDone + 1) + ")");
        m_bStop = true;
    }
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failures.empty() && m_stepsDone == static_cast<int>(m_steps.size());
}

std::string ScriptedServer::Report() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string out = "steps done " + std::to_string(m_stepsDone.load()) + " of " +
                      std::to_string(m_steps.size());
    for (const auto& f : m_failures)
        out += "\n  " + f;
    return out + "\n  client sent: \"" + Printable(m_received) + "\"";
}

std::string ScriptedServer::Received() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}
