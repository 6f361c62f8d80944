// A headless Autorun whose packet cannot be written: the run must still end.
#include "TestUtil.h"
#include "framework/Files.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

using testutil::BinPath;
using testutil::RunProgram;
using testutil::TempDir;

namespace {

// A one-message POP3 mailbox on loopback, served to one client.
class OneMessagePop3 {
public:
    OneMessagePop3()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(m_fd, 4) != 0)
            return;
        socklen_t len = sizeof addr;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len);
        m_iPort = ntohs(addr.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~OneMessagePop3()
    {
        ::shutdown(m_fd, SHUT_RDWR);
        ::close(m_fd);
        if (m_thread.joinable())
            m_thread.join();
    }
    int Port() const { return m_iPort; }

private:
    static void Say(int fd, const std::string& text)
    {
        (void)!::write(fd, text.data(), text.size());
    }
    void Serve()
    {
        int fd = ::accept(m_fd, nullptr, nullptr);
        if (fd < 0)
            return;
        const std::string message = "From: Ann <ann@example.org>\r\nTo: me@example.org\r\n"
                                    "Subject: Kept or reported\r\nMessage-ID: <1@example.org>\r\n"
                                    "Date: Sun, 6 Dec 2026 10:00:00 +0000\r\n\r\nHello\r\n";
        Say(fd, "+OK ready\r\n");
        std::string buffer;
        char chunk[512];
        for (;;) {
            std::size_t eol;
            while ((eol = buffer.find("\r\n")) == std::string::npos) {
                ssize_t n = ::read(fd, chunk, sizeof chunk);
                if (n <= 0) {
                    ::close(fd);
                    return;
                }
                buffer.append(chunk, static_cast<std::size_t>(n));
            }
            std::string line = buffer.substr(0, eol);
            buffer.erase(0, eol + 2);
            if (line.rfind("STAT", 0) == 0)
                Say(fd, "+OK 1 " + std::to_string(message.size()) + "\r\n");
            else if (line.rfind("UIDL", 0) == 0 || line.rfind("LIST", 0) == 0)
                Say(fd, "-ERR no unique ids\r\n"); // a one-line "+OK" would promise a listing
            else if (line.rfind("RETR", 0) == 0)
                Say(fd, "+OK\r\n" + message + ".\r\n");
            else if (line.rfind("QUIT", 0) == 0) {
                Say(fd, "+OK bye\r\n");
                ::close(fd);
                return;
            } else
                Say(fd, "+OK\r\n");
        }
    }
    int m_fd = -1;
    int m_iPort = 0;
    std::thread m_thread;
};

} // namespace

TEST(HeadlessSave, APacketThatCannotBeWrittenEndsTheRunWithAFailure)
{
    OneMessagePop3 server;
    ASSERT_NE(server.Port(), 0);
    TempDir home;
    // The QWK directory lies below a plain file: no archive can be made there.
    testutil::WriteFile(home.File("blocker"), "not a directory\n");
    auto tool = [&](std::vector<std::string> args, const std::string& input = std::string()) {
        args.insert(args.begin(), BinPath("mailtolvan-tool"));
        return RunProgram(args, {"MAILTOLVAN_HOME=" + home.Path()}, input).iExit;
    };
    for (std::vector<std::string> args :
         {std::vector<std::string>{"config", "Servers", "POP3Server", "127.0.0.1"},
          {"config", "Servers", "POP3Port", std::to_string(server.Port())},
          {"config", "Servers", "POP3Name", "me"},
          {"config", "Servers", "NNTPServer", ""},
          {"config", "Email", "ClearMailbox", "0"},
          {"config", "Autorun", "AutoEmail", "1"},
          {"config", "Directories", "Qwk", home.File("blocker") + "/qwk"}})
        ASSERT_EQ(tool(args), 0);
    ASSERT_EQ(tool({"password", "pop3"}, "pw\n"), 0);

    auto r = RunProgram({BinPath("mailtolvan"), "--headless", "/a"},
                        {"MAILTOLVAN_HOME=" + home.Path()}, "", 30000);
    EXPECT_NE(r.err.find("There was an error creating TOLVAN.ZIP!"), std::string::npos) << r.err;
    EXPECT_NE(r.iExit, 0) << r.err;
    EXPECT_NE(r.err.find("could not be saved"), std::string::npos) << r.err;
    bool bRescued = false;
    for (const std::string& name : fw::ListDirectory(home.Path()))
        bRescued |= name.rfind("Tolvan-unsaved-", 0) == 0;
    EXPECT_TRUE(bRescued) << "the mail is saved in the program's directory instead:\n" << r.err;
}
