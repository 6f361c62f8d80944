// Headless Autorun runs that cannot finish normally must still end, and say why.
#include "TestUtil.h"
#include "framework/Files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>

using testutil::BinPath;
using testutil::RunProgram;
using testutil::RunTool;
using testutil::TempDir;

namespace {

// Points the settings at a POP3 server on loopback, for Autorun with mail only.
void ConfigureMailRun(const std::string& home, int iPort)
{
    for (std::vector<std::string> args :
         {std::vector<std::string>{"config", "Servers", "POP3Server", "127.0.0.1"},
          {"config", "Servers", "POP3Port", std::to_string(iPort)},
          {"config", "Servers", "POP3Name", "me"},
          {"config", "Servers", "NNTPServer", ""},
          {"config", "Servers", "POP3Security", "none"},
          {"config", "Autorun", "AutoEmail", "1"}})
        ASSERT_EQ(RunTool(home, args).iExit, 0);
    ASSERT_EQ(RunTool(home, {"password", "pop3"}, "pw\n").iExit, 0);
}

// A one-message POP3 mailbox, served to one client.
class OneMessagePop3 {
public:
    OneMessagePop3() : m_thread([this] { Serve(); }) {}
    ~OneMessagePop3()
    {
        m_listener.Close();
        m_thread.join();
    }
    int Port() const { return m_listener.Port(); }

private:
    static void Say(int fd, const std::string& text)
    {
        (void)!::write(fd, text.data(), text.size());
    }
    void Serve()
    {
        int fd = m_listener.Accept();
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
            else
                Say(fd, line.rfind("QUIT", 0) == 0 ? "+OK bye\r\n" : "+OK\r\n");
        }
    }
    testutil::LoopbackListener m_listener;
    std::thread m_thread;
};

} // namespace

TEST(HeadlessRun, APacketThatCannotBeWrittenEndsTheRunWithAFailure)
{
    OneMessagePop3 server;
    TempDir home;
    ConfigureMailRun(home.Path(), server.Port());
    // The QWK directory lies below a plain file: no archive can be made there.
    testutil::WriteFile(home.File("blocker"), "not a directory\n");
    ASSERT_EQ(RunTool(home.Path(), {"config", "Email", "ClearMailbox", "0"}).iExit, 0);
    ASSERT_EQ(
        RunTool(home.Path(), {"config", "Directories", "Qwk", home.File("blocker") + "/qwk"}).iExit,
        0);

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

TEST(HeadlessRun, EndsWhenTheServerStopsAnswering)
{
    testutil::LoopbackListener silent; // accepts the connection, never says a word
    TempDir home;
    ConfigureMailRun(home.Path(), silent.Port());
    auto r = RunProgram({BinPath("mailtolvan"), "--headless", "/a"},
                        {"MAILTOLVAN_HOME=" + home.Path(), "MAILTOLVAN_IDLE_TIMEOUT=1"}, "", 60000);
    EXPECT_NE(r.iExit, 0);
    EXPECT_NE(r.err.find("No answer from the server for 1 seconds"), std::string::npos) << r.err;
    EXPECT_FALSE(testutil::Exists(home.File("$WORK")));
}
