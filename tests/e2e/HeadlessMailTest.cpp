// mailtolvan --headless /a against a real POP3 server: a mailbox becomes a
// QWK packet, as a cron job would run it.
#include "PeerState.h"
#include "TestUtil.h"

#include "framework/Process.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <ctime>
#include <map>

using testpeers::PeerState;
using testutil::BinPath;
using testutil::RunProgram;
using testutil::TempDir;

namespace {

// A message with a base64 attachment whose bytes are every byte value.
std::string AttachmentBytes()
{
    std::string bytes;
    for (int i = 0; i < 512; ++i)
        bytes += static_cast<char>(i & 0xFF);
    return bytes;
}

// base64 in lines of 76 characters, as mail programs write it.
std::string Base64(const std::string& in)
{
    std::string text =
        QByteArray(in.data(), static_cast<qsizetype>(in.size())).toBase64().toStdString();
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 76)
        out += text.substr(i, 76) + "\n";
    return out;
}

std::string PlainMessage(int n)
{
    return "From: Sender " + std::to_string(n) + " <sender" + std::to_string(n) +
           "@example.org>\nTo: s@peers.test\nSubject: Plain message " + std::to_string(n) +
           "\nMessage-ID: <plain." + std::to_string(n) +
           "@example.org>\nDate: Sun, 6 Dec 2026 10:0" + std::to_string(n) +
           ":00 +0000\n\nLine one of message " + std::to_string(n) + "\n.leading dot\n";
}

std::string AttachmentMessage()
{
    return "From: Ann <ann@example.org>\nTo: s@peers.test\nSubject: With a file\n"
           "Message-ID: <file.1@example.org>\nDate: Sun, 6 Dec 2026 11:00:00 +0000\n"
           "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"XX\"\n\n"
           "--XX\nContent-Type: text/plain\n\nSee the file.\n"
           "--XX\nContent-Type: application/octet-stream\nContent-Transfer-Encoding: base64\n"
           "Content-Disposition: attachment; filename=\"bytes.bin\"\n\n" +
           Base64(AttachmentBytes()) + "--XX--\n";
}

class HeadlessMail : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(peers.Ok()) << peers.Error();
        // ctest runs tests side by side: each test has a mailbox of its own
        // (the news test has the last).
        static const std::map<std::string, std::size_t> kMailbox = {
            {"AMailboxBecomesAQwkPacketAndIsEmptied", 0},
            {"FailedOrKeepingRunsLeaveEveryMessageOnTheServer", 1},
            {"UnreachableNewsServerIsReportedAndMailStillArrives", 2},
            {"UserAtHostAndTheAgeLimit", 3},
        };
        auto users = peers.GetList("POP3_SCRATCH_USERS");
        ASSERT_EQ(users.size(), 5u);
        user =
            users.at(kMailbox.at(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        ASSERT_TRUE(testpeers::EmptyMaildir(peers, user));
        Tool({"config", "Servers", "POP3Server", peers.Get("PEERS_HOST")});
        Tool({"config", "Servers", "POP3Port", peers.Get("POP3_PORT")});
        Tool({"config", "Servers", "POP3Name", user});
        Tool({"config", "Servers", "NNTPServer", ""});
        Tool({"config", "Autorun", "AutoEmail", "1"});
        Tool({"config", "Directories", "Qwk", home.Path()});
        Tool({"password", "pop3"}, peers.Get("POP3_SCRATCH_PASS") + "\n");
    }
    testutil::RunResult Run()
    {
        return RunProgram({BinPath("mailtolvan"), "--headless", "/a"},
                          {"MAILTOLVAN_HOME=" + home.Path()}, "", 120000);
    }
    void Tool(std::vector<std::string> args, const std::string& input = "")
    {
        auto r = testutil::RunTool(home.Path(), args, input);
        ASSERT_EQ(r.iExit, 0) << r.err;
    }
    std::string Unzip(const std::string& member)
    {
        std::string out;
        int code = -1;
        EXPECT_TRUE(
            fw::RunAndCapture({"unzip", "-p", "-C", home.File("Tolvan.Qwk"), member}, out, code));
        return out;
    }
    void Seed()
    {
        ASSERT_TRUE(testpeers::DeliverToMaildir(peers, user, 1, PlainMessage(1)));
        ASSERT_TRUE(testpeers::DeliverToMaildir(peers, user, 2, AttachmentMessage()));
        ASSERT_TRUE(testpeers::DeliverToMaildir(peers, user, 3, PlainMessage(3)));
    }

    PeerState peers;
    TempDir home;
    std::string user;
};

} // namespace

TEST_F(HeadlessMail, AMailboxBecomesAQwkPacketAndIsEmptied)
{
    Seed();
    auto r = Run();
    ASSERT_EQ(r.iExit, 0) << r.err;
    ASSERT_TRUE(testutil::Exists(home.File("Tolvan.Qwk"))) << r.err;
    EXPECT_EQ(testpeers::CountMaildir(peers, user), 0) << "ClearMailbox is on by default";
    EXPECT_FALSE(testutil::Exists(home.File("$WORK")));

    std::string control = Unzip("CONTROL.DAT");
    EXPECT_NE(control.find("\r\n00000,Tolvan\r\n"), std::string::npos) << control;
    EXPECT_NE(control.find("\r\n0\r\nemail\r\n"), std::string::npos) << "conference 0 is the mail";
    std::string messages = Unzip("MESSAGES.DAT");
    ASSERT_GE(messages.size(), 128u * 4);
    EXPECT_EQ(messages.size() % 128, 0u);
    for (const char* subject : {"Plain message 1", "With a file", "Plain message 3"})
        EXPECT_NE(messages.find(subject), std::string::npos) << subject;
    EXPECT_NE(messages.find(".leading dot"), std::string::npos);
    EXPECT_EQ(messages.find("..leading dot"), std::string::npos) << "dot-unstuffed";

    // The attachment travels as the packet file that ATTACHED.LST names
    // ("conference,number,file,name"), its bytes intact.
    std::string attached = Unzip("ATTACHED.LST");
    EXPECT_NE(attached.find("bytes.bin"), std::string::npos) << attached;
    std::string file = attached.substr(0, attached.find('\r'));
    for (int i = 0; i < 2; ++i)
        file.erase(0, file.find(',') + 1);
    EXPECT_EQ(Unzip(file.substr(0, file.find(','))), AttachmentBytes()) << attached;
}

TEST_F(HeadlessMail, FailedOrKeepingRunsLeaveEveryMessageOnTheServer)
{
    // In this order: each row's settings stay for the next.  An empty
    // password or key stores nothing.
    const struct {
        const char* name;
        std::string password;
        const char *section, *key;
        bool bOk;
        const char* said;
    } rows[] = {
        {"a wrong password", "wrong", "", "", false, "POP3 Connect Error"},
        {"no saved password: ends instead of waiting forever", "", "Servers", "POP3SavePassword",
         false, "Aborting email retrieval."},
        {"ClearMailbox off", peers.Get("POP3_SCRATCH_PASS"), "Email", "ClearMailbox", true, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(testpeers::EmptyMaildir(peers, user));
        Seed();
        if (!row.password.empty())
            Tool({"password", "pop3"}, row.password + "\n");
        if (*row.key)
            Tool({"config", row.section, row.key, "0"});
        auto r = Run();
        EXPECT_EQ(r.iExit == 0, row.bOk) << r.err;
        EXPECT_NE(r.err.find(row.said), std::string::npos) << r.err;
        EXPECT_EQ(testutil::Exists(home.File("Tolvan.Qwk")), row.bOk) << r.err;
        EXPECT_EQ(testpeers::CountMaildir(peers, user), 3) << "nothing is lost";
    }
}

TEST_F(HeadlessMail, UnreachableNewsServerIsReportedAndMailStillArrives)
{
    Seed();
    int iClosed = testutil::LoopbackListener().Port(); // nothing listens there now
    Tool({"config", "Servers", "NNTPServer", "127.0.0.1"});
    Tool({"config", "Servers", "NNTPPort", std::to_string(iClosed)});
    Tool({"config", "Autorun", "AutoNews", "1"});
    auto r = Run();
    EXPECT_NE(r.iExit, 0) << "the news step could not run";
    EXPECT_NE(r.err.find("NNTP Winsock Connect Error"), std::string::npos) << r.err;
    EXPECT_TRUE(testutil::Exists(home.File("Tolvan.Qwk"))) << r.err;
}

TEST_F(HeadlessMail, UserAtHostAndTheAgeLimit)
{
    // "user@host" in POP3Server wins over POP3Name; with ClearAfterDays 7
    // only mail older than a week leaves the server.
    Tool({"config", "Servers", "POP3Server", user + "@" + peers.Get("PEERS_HOST")});
    Tool({"config", "Servers", "POP3Name", "nobody"});
    Tool({"config", "Email", "ClearAfterDays", "7"});
    std::string old = PlainMessage(1);
    old.replace(old.find("Date: Sun, 6 Dec 2026"), 21, "Date: Mon, 6 Jan 2020");
    ASSERT_TRUE(testpeers::DeliverToMaildir(peers, user, 1, old));
    std::string recent = PlainMessage(2);
    // Dated now, so it is younger than the limit whenever the test runs.
    std::time_t now = std::time(nullptr);
    char date[64];
    std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S +0000", std::gmtime(&now));
    std::size_t at = recent.find("Date: ") + 6;
    recent.replace(at, recent.find('\n', at) - at, date);
    ASSERT_TRUE(testpeers::DeliverToMaildir(peers, user, 2, recent));

    auto r = Run();
    ASSERT_EQ(r.iExit, 0) << r.err;
    std::string messages = Unzip("MESSAGES.DAT");
    EXPECT_NE(messages.find("Plain message 1"), std::string::npos);
    EXPECT_NE(messages.find("Plain message 2"), std::string::npos);
    EXPECT_EQ(testpeers::CountMaildir(peers, user), 1) << "only the old message was deleted";
}
