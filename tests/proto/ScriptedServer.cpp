#include "ScriptedServer.h"

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
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c < 0x20 || c >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else
            out += static_cast<char>(c);
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

ScriptedServer::ScriptedServer(Split split) : m_split(split) {}

ScriptedServer::~ScriptedServer()
{
    m_bStop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
}

ScriptedServer& ScriptedServer::Say(const std::string& text)
{
    m_steps.push_back({Step::SAY, text, {}});
    return *this;
}
ScriptedServer& ScriptedServer::Expect(const std::string& text)
{
    m_steps.push_back({Step::EXPECT, text, {}});
    return *this;
}
ScriptedServer& ScriptedServer::Close()
{
    m_steps.push_back({Step::CLOSE, {}, {}});
    return *this;
}
ScriptedServer& ScriptedServer::ExpectClose()
{
    m_steps.push_back({Step::EXPECT_CLOSE, {}, {}});
    return *this;
}
ScriptedServer& ScriptedServer::Hold()
{
    m_steps.push_back({Step::HOLD, {}, {}});
    return *this;
}
ScriptedServer& ScriptedServer::ExpectReconnect()
{
    m_steps.push_back({Step::RECONNECT, {}, {}});
    return *this;
}
ScriptedServer& ScriptedServer::WaitFor(std::function<bool()> condition)
{
    m_steps.push_back({Step::WAIT, {}, {}, 0, std::move(condition)});
    return *this;
}

ScriptedServer& ScriptedServer::Do(std::function<void()> fn)
{
    m_steps.push_back({Step::DO, {}, std::move(fn)});
    return *this;
}
ScriptedServer& ScriptedServer::Flood(const std::string& text, long long iMaxBytes)
{
    m_steps.push_back({Step::FLOOD, text, {}, iMaxBytes});
    return *this;
}

bool ScriptedServer::Start()
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
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

bool ScriptedServer::SendChunk(int fd, const char* p, std::size_t n)
{
    while (n > 0) {
        ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k < 0) {
            if (errno == EINTR)
                continue;
            Fail(std::string("send failed: ") + std::strerror(errno));
            return false;
        }
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    if (m_split == Split::Bytes) {
        // Wait until the client's side has acknowledged the byte, so the
        // next one travels in a segment of its own.
        long long end = NowMs() + m_stepTimeoutMs;
        for (;;) {
            int unacked = 0;
            if (::ioctl(fd, SIOCOUTQ, &unacked) != 0 || unacked == 0)
                break;
            if (NowMs() > end || m_bStop)
                break;
            ::usleep(50);
        }
    }
    return true;
}

bool ScriptedServer::SendText(int fd, const std::string& text)
{
    switch (m_split) {
    case Split::Whole:
        return SendChunk(fd, text.data(), text.size());
    case Split::Bytes:
        for (char c : text)
            if (!SendChunk(fd, &c, 1))
                return false;
        return true;
    case Split::Pairs: {
        std::size_t pos = 0;
        while (pos < text.size()) {
            std::size_t end = pos;
            for (int lines = 0; lines < 2 && end < text.size(); ++lines) {
                std::size_t lf = text.find('\n', end);
                end = lf == std::string::npos ? text.size() : lf + 1;
            }
            if (!SendChunk(fd, text.data() + pos, end - pos))
                return false;
            pos = end;
        }
        return true;
    }
    }
    return false;
}

bool ScriptedServer::ReadExactly(int fd, std::size_t n, std::string& out)
{
    out.clear();
    long long end = NowMs() + m_stepTimeoutMs;
    while (out.size() < n) {
        pollfd p{fd, POLLIN, 0};
        int left = static_cast<int>(end - NowMs());
        if (left <= 0 || m_bStop)
            return false;
        int r = ::poll(&p, 1, left < 100 ? left : 100);
        if (r < 0 && errno != EINTR)
            return false;
        if (r <= 0)
            continue;
        char buf[4096];
        std::size_t want = n - out.size() < sizeof buf ? n - out.size() : sizeof buf;
        ssize_t k = ::recv(fd, buf, want, 0);
        if (k <= 0)
            return false;
        out.append(buf, static_cast<std::size_t>(k));
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.append(buf, static_cast<std::size_t>(k));
    }
    return true;
}

bool ScriptedServer::WaitForClose(int fd, const char* pszWhat)
{
    long long end = NowMs() + m_stepTimeoutMs;
    std::string extra;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        int left = static_cast<int>(end - NowMs());
        if (left <= 0 || m_bStop) {
            Fail(std::string(pszWhat) + ": the client did not close the connection");
            return false;
        }
        int r = ::poll(&p, 1, left < 100 ? left : 100);
        if (r <= 0)
            continue;
        char buf[4096];
        ssize_t k = ::recv(fd, buf, sizeof buf, 0);
        if (k <= 0)
            break;
        extra.append(buf, static_cast<std::size_t>(k));
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.append(buf, static_cast<std::size_t>(k));
    }
    if (!extra.empty()) {
        Fail(std::string(pszWhat) + ": the client sent \"" + Printable(extra) +
             "\" before closing");
        return false;
    }
    return true;
}

bool ScriptedServer::FloodUntilClosed(int fd, const Step& s)
{
    long long iSent = 0;
    std::size_t off = 0; // where in the text the stream goes on
    long long end = NowMs() + m_stepTimeoutMs;
    while (iSent <= s.iMaxBytes && NowMs() < end && !m_bStop) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
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
    int fd = -1;
    long long end = NowMs() + m_stepTimeoutMs;
    while (fd < 0) {
        pollfd p{m_listenFd, POLLIN, 0};
        int left = static_cast<int>(end - NowMs());
        if (left <= 0 || m_bStop) {
            Fail("no client connected");
            return -1;
        }
        if (::poll(&p, 1, left < 100 ? left : 100) > 0)
            fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

void ScriptedServer::Main()
{
    int fd = AcceptClient();
    if (fd < 0) {
        m_bDone = true;
        return;
    }
    m_bAccepted = true;

    bool ok = true;
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
            if (!ReadExactly(fd, s.text.size(), got)) {
                Fail("step " + std::to_string(i + 1) + ": expected \"" + Printable(s.text) +
                     "\", got only \"" + Printable(got) + "\"");
                ok = false;
            } else if (got != s.text) {
                Fail("step " + std::to_string(i + 1) + ": expected \"" + Printable(s.text) +
                     "\", got \"" + Printable(got) + "\"");
                ok = false;
            }
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
    out += "\n  client sent: \"" + Printable(m_received) + "\"";
    return out;
}

std::string ScriptedServer::Received() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}
