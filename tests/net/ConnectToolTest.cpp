// mailtolvan-tool connect against loopback ports.

#include "NetTestUtil.h"

#include "net/WinsockError.h"

#include "TestUtil.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace nettest;

namespace {

// A plain listening socket: the kernel completes connections on its own, so
// the test needs no event loop while the tool runs.
class PlainListener {
public:
    PlainListener()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = CSockAddr(0, Loopback(1)).Sin();
        EXPECT_EQ(0, ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a));
        EXPECT_EQ(0, ::listen(m_fd, 4));
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_wPort = ntohs(a.sin_port);
    }
    ~PlainListener() { ::close(m_fd); }
    std::uint16_t Port() const { return m_wPort; }

private:
    int m_fd = -1;
    std::uint16_t m_wPort = 0;
};

std::string Tool() { return testutil::BinPath("mailtolvan-tool"); }

std::string Terminal(std::string text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    return out;
}

std::vector<std::string> Env(const testutil::TempDir& home)
{
    return {"MAILTOLVAN_HOME=" + home.Path()};
}

TEST(ConnectTool, ListeningPortConnects)
{
    testutil::TempDir home;
    PlainListener listener;
    std::string port = std::to_string(listener.Port());
    auto r = testutil::RunProgram({Tool(), "connect", "127.0.0.1", port}, Env(home));
    EXPECT_EQ(0, r.iExit) << r.err;
    EXPECT_EQ("connected to 127.0.0.1:" + port + "\n", r.out);
    r = testutil::RunProgram({Tool(), "connect", "localhost", port}, Env(home));
    EXPECT_EQ(0, r.iExit) << r.err;
    EXPECT_EQ("connected to 127.0.0.1:" + port + "\n", r.out);
}

TEST(ConnectTool, ClosedPortReportsTheRefusedText)
{
    testutil::TempDir home;
    CreateWinsockEventWindow();
    std::uint16_t wPort = ClosedPort();
    auto r =
        testutil::RunProgram({Tool(), "connect", "127.0.0.1", std::to_string(wPort)}, Env(home));
    EXPECT_EQ(1, r.iExit);
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(std::string::npos, r.err.find(Terminal(WinsockErrorString(10061)) + ".")) << r.err;
}

TEST(ConnectTool, UnknownHostReportsThe11001Text)
{
    testutil::TempDir home;
    std::string name = std::string(70, 'x') + ".invalid";
    auto r = testutil::RunProgram({Tool(), "connect", name, "110"}, Env(home));
    EXPECT_EQ(1, r.iExit);
    EXPECT_NE(std::string::npos, r.err.find(Terminal(WinsockErrorString(11001)) + ".")) << r.err;
}

TEST(ConnectTool, BadArgumentsAreRefused)
{
    testutil::TempDir home;
    for (const char* port : {"0", "65536", "12x", "", "-5"}) {
        auto r = testutil::RunProgram({Tool(), "connect", "127.0.0.1", port}, Env(home));
        EXPECT_EQ(1, r.iExit) << port;
        EXPECT_NE(std::string::npos, r.err.find("port")) << r.err;
    }
    auto r = testutil::RunProgram({Tool(), "connect", "127.0.0.1"}, Env(home));
    EXPECT_EQ(1, r.iExit);
    EXPECT_NE(std::string::npos, r.err.find("usage: connect HOST PORT"));
}

} // namespace
