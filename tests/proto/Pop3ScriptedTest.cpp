// CPOP3 against scripted servers: exact transcripts, every reply split at
// every byte or joined two per send, refusals, closes and aborts in every
// state, the age rule, unique ids, the size cap, long lines, and local
// failures that must leave the mailbox as it was.
#include "ClientHarness.h"
#include "ScriptedServer.h"
#include "TestUtil.h"

#include "framework/Files.h"
#include "net/Wsa.h"
#include "proto/CPOP3.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

// Every fsync of this test program passes here: the paths synced are
// logged, and a test can make the sync of files fail.
namespace {
std::mutex g_syncMutex;
std::vector<std::string> g_synced;
std::atomic<bool> g_bFailFileSync{false};

std::vector<std::string> SyncedPaths()
{
    std::lock_guard<std::mutex> lock(g_syncMutex);
    return g_synced;
}
} // namespace

extern "C" int fsync(int fd)
{
    char link[64], path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = ::readlink(link, path, sizeof path);
    struct stat st {};
    bool bFile = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    {
        std::lock_guard<std::mutex> lock(g_syncMutex);
        g_synced.emplace_back(path, n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    if (bFile && g_bFailFileSync) {
        errno = EIO;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

using prototest::Note;
using prototest::Pop3Recorder;
using prototest::PumpUntil;
using Split = ScriptedServer::Split;

namespace {

const char kGreeting[] = "+OK POP3 server ready\r\n";

// The login part every transcript starts with, and the UIDL that follows a
// STAT with messages: by default a server without UIDL.  An empty uidl
// leaves the server's answer to the test.
void Login(ScriptedServer& s, int iCount, const std::string& uidl = "-ERR no UIDL\r\n")
{
    s.Say(kGreeting)
        .Expect("USER joe\r\n")
        .Say("+OK\r\n")
        .Expect("PASS pw\r\n")
        .Say("+OK logged in\r\n")
        .Expect("STAT\r\n")
        .Say("+OK " + std::to_string(iCount) + " 1234\r\n");
    if (iCount > 0)
        s.Expect("UIDL\r\n");
    if (iCount > 0 && !uidl.empty())
        s.Say(uidl);
}

// A RETR exchange: the wire form is given (already dot-stuffed).
void Retr(ScriptedServer& s, int n, const std::string& wire)
{
    s.Expect("RETR " + std::to_string(n) + "\r\n").Say("+OK message follows\r\n" + wire + ".\r\n");
}

class Pop3Scripted : public ::testing::Test {
protected:
    void SetUp() override
    {
        prototest::EnsureWinsock();
        g_bFailFileSync = false;
        std::lock_guard<std::mutex> lock(g_syncMutex);
        g_synced.clear();
    }
    void TearDown() override { g_bFailFileSync = false; }

    // Starts the client against the server; returns when it has ended.
    void RunClient(ScriptedServer& server, bool bDelete = false, std::int64_t tCutOff = 0,
                   const char* pszUser = "joe", const char* pszPass = "pw")
    {
        ASSERT_TRUE(server.Start());
        if (!client) // a test may set one up beforehand
            client = std::make_unique<CPOP3>(&rec, Pop3Recorder::kMsg, 0, dir.Path().c_str());
        ASSERT_TRUE(client->RetrieveMail("127.0.0.1", server.Port(), pszUser, pszPass, "unused",
                                         bDelete, tCutOff));
        ASSERT_TRUE(PumpUntil([&] { return rec.bEnded; })) << server.Report();
    }

    // No file is left in the temporary directory.
    void ExpectNoFilesLeft() { EXPECT_TRUE(fw::ListDirectory(dir.Path()).empty()); }

    testutil::TempDir dir;
    Pop3Recorder rec;
    std::unique_ptr<CPOP3> client;
};

} // namespace

// gtest looks for PrintTo beside the type it prints.
inline void PrintTo(ScriptedServer::Split s, std::ostream* os)
{
    *os << (s == Split::Whole ? "Whole" : s == Split::Bytes ? "Bytes" : "Pairs");
}

namespace {

class Pop3Split : public Pop3Scripted, public ::testing::WithParamInterface<Split> {};

TEST_P(Pop3Split, RetrievesEveryMessageByteForByte)
{
    ScriptedServer server(GetParam());
    Login(server, 2,
          "+OK unique-id listing follows\r\n1 whqtswO00WBw418f9t5JxYwZ\r\n2 Q:0~\r\n.\r\n");
    Retr(server, 1, "Subject: one\r\n\r\nHello\r\n");
    Retr(server, 2, "Subject: two\r\n\r\n..dot\r\nlast\r\n");
    server.Expect("QUIT\r\n").Say("+OK bye\r\n").ExpectClose();
    RunClient(server);

    EXPECT_TRUE(server.Finish()) << server.Report();
    auto msgs = rec.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].iMessage, 1);
    EXPECT_EQ(msgs[0].content, "Subject: one\r\n\r\nHello\r\n");
    EXPECT_EQ(msgs[1].iMessage, 2);
    EXPECT_EQ(msgs[1].content, "Subject: two\r\n\r\n.dot\r\nlast\r\n");
    EXPECT_EQ(fw::BaseName(msgs[0].file).substr(0, 3), "PWZ");
    EXPECT_EQ(fw::DirName(msgs[0].file), dir.Path());
    EXPECT_NE(msgs[0].file, msgs[1].file);
    EXPECT_EQ(msgs[0].uid, "whqtswO00WBw418f9t5JxYwZ");
    EXPECT_EQ(msgs[1].uid, "Q:0~");

    // The order of notifications: count, lines of 1, message 1, lines of 2,
    // message 2, the end.
    ASSERT_GE(rec.notes.size(), 2u);
    EXPECT_EQ(rec.notes.front().wParam, CPOP3::NOTIFY_COUNT);
    EXPECT_EQ(rec.notes.front().lParam, 2);
    std::vector<std::pair<fw::WPARAM, fw::LPARAM>> seq;
    for (const auto& n : rec.notes)
        seq.push_back({n.wParam, n.wParam == CPOP3::NOTIFY_MESSAGE && n.lParam ? n.iMessage * 100
                                                                               : n.lParam});
    const fw::WPARAM C = CPOP3::NOTIFY_COUNT, L = CPOP3::NOTIFY_LINE, M = CPOP3::NOTIFY_MESSAGE,
                     D = CPOP3::NOTIFY_DONE;
    std::vector<std::pair<fw::WPARAM, fw::LPARAM>> want = {
        {C, 2}, {L, 0}, {L, 0}, {L, 0}, {M, 100}, {L, 1}, {L, 1}, {L, 1}, {L, 1}, {M, 200}, {D, 0}};
    EXPECT_EQ(seq, want);
    EXPECT_EQ(rec.iEnds, 1);
    EXPECT_EQ(client->m_iLastError, 0);
    EXPECT_TRUE(client->IsIdle());
    ExpectNoFilesLeft();
}

TEST_P(Pop3Split, LoneCrAndLfStayInsideTheLine)
{
    ScriptedServer server(GetParam());
    Login(server, 1);
    Retr(server, 1, "A\rB\nC\r\n\r\r\n\n\r\nend\r\n");
    server.Expect("QUIT\r\n").Say("+OK\r\n").ExpectClose();
    RunClient(server);
    EXPECT_TRUE(server.Finish()) << server.Report();
    auto msgs = rec.Messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].content, "A\rB\nC\r\n\r\r\n\n\r\nend\r\n");
    // Three lines: "A\rB\nC", "\r" and "\n"... and "end".
    EXPECT_EQ(rec.LineNotes(), 4);
}

TEST_P(Pop3Split, DotLinesAreUnstuffed)
{
    ScriptedServer server(GetParam());
    Login(server, 1);
    // "..": a single dot.  ". ": data, stored as a blank.  "...x": "..x".
    // ".text" (a server that did not stuff): "text".  "x." stays.
    Retr(server, 1, "..\r\n. \r\n...x\r\n.text\r\nx.\r\n..\r\n");
    server.Expect("QUIT\r\n").Say("+OK\r\n").ExpectClose();
    RunClient(server);
    EXPECT_TRUE(server.Finish()) << server.Report();
    auto msgs = rec.Messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].content, ".\r\n \r\n..x\r\ntext\r\nx.\r\n.\r\n");
    EXPECT_EQ(rec.LineNotes(), 6);
}

INSTANTIATE_TEST_SUITE_P(Wire, Pop3Split,
                         ::testing::Values(Split::Whole, Split::Bytes, Split::Pairs),
                         [](const auto& info) {
                             return info.param == Split::Whole   ? std::string("Whole")
                                    : info.param == Split::Bytes ? std::string("Bytes")
                                                                 : std::string("Pairs");
                         });

TEST_F(Pop3Scripted, EmptyMailbox)
{
    ScriptedServer server;
    Login(server, 0);
    server.Expect("QUIT\r\n").Say("+OK\r\n").ExpectClose();
    RunClient(server);
    EXPECT_TRUE(server.Finish()) << server.Report();
    ASSERT_EQ(rec.notes.size(), 2u);
    EXPECT_EQ(rec.notes[0].wParam, CPOP3::NOTIFY_COUNT);
    EXPECT_EQ(rec.notes[0].lParam, 0);
    EXPECT_EQ(rec.notes[1].wParam, CPOP3::NOTIFY_DONE);
    EXPECT_EQ(rec.notes[1].lParam, 0);
    ExpectNoFilesLeft();
}

TEST_F(Pop3Scripted, UserRefusedStillQuits)
{
    ScriptedServer server(Split::Bytes);
    server.Say(kGreeting).Expect("USER joe\r\n").Say("-ERR no such user\r\n");
    server.Expect("QUIT\r\n").Say("+OK\r\n").ExpectClose();
    RunClient(server);
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_FAILED);
    EXPECT_EQ(rec.end.lParam, CPOP3::DETAIL_USER);
    EXPECT_EQ(rec.CountNotes(), 0);
    EXPECT_EQ(client->Detail(), CPOP3::DETAIL_USER);
}

TEST_F(Pop3Scripted, PasswordRefusedStillQuits)
{
    ScriptedServer server;
    server.Say(kGreeting).Expect("USER joe\r\n").Say("+OK\r\n").Expect("PASS pw\r\n");
    server.Say("-ERR [AUTH] Authentication failed.\r\n");
    server.Expect("QUIT\r\n").Say("+OK\r\n").ExpectClose();
    RunClient(server);
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_FAILED);
    EXPECT_EQ(rec.end.lParam, CPOP3::DETAIL_PASSWORD);
    // The refusal stays readable, not the QUIT reply that came after it.
    EXPECT_STREQ(client->ReplyLine(), "-ERR [AUTH] Authentication failed.");
}

TEST_F(Pop3Scripted, PositiveReplyIgnoresCaseAndNeedsOk)
{
    ScriptedServer server;
    server.Say(kGreeting).Expect("USER joe\r\n").Say("+ok\r\n").Expect("PASS pw\r\n");
    server.Say("+O\r\n"); // too short to be positive
    server.Expect("QUIT\r\n").Say("+OK\r\n").ExpectClose();
    RunClient(server);
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_FAILED);
    EXPECT_EQ(rec.end.lParam, CPOP3::DETAIL_PASSWORD);
}

TEST_F(Pop3Scripted, StatRefusedQuits)
{
    ScriptedServer server;
    server.Say(kGreeting).Expect("USER joe\r\n").Say("+OK\r\n").Expect("PASS pw\r\n");
    server.Say("+OK\r\n").Expect("STAT\r\n").Say("-ERR mailbox locked\r\n");
    server.Expect("QUIT\r\n").Say("+OK\r\n").ExpectClose();
    RunClient(server);
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_FAILED);
    EXPECT_EQ(rec.end.lParam, 0);
    EXPECT_STREQ(client->ReplyLine(), "-ERR mailbox locked");
}

TEST_F(Pop3Scripted, StatWithoutCountEndsWithoutQuit)
{
    for (const char* reply : {"+OK\r\n", "+OK none\r\n", "+OK -1 0\r\n", "+OK 99999999999 0\r\n"}) {
        SCOPED_TRACE(reply);
        ScriptedServer server;
        server.Say(kGreeting).Expect("USER joe\r\n").Say("+OK\r\n").Expect("PASS pw\r\n");
        server.Say("+OK\r\n").Expect("STAT\r\n").Say(reply).ExpectClose();
        rec.bEnded = false;
        RunClient(server);
        EXPECT_TRUE(server.Finish()) << server.Report();
        EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_FAILED);
        EXPECT_EQ(rec.CountNotes(), 0);
    }
}

TEST_F(Pop3Scripted, RetrRefusedRemovesTheEmptyFile)
{
    ScriptedServer server;
    Login(server, 2);
    Retr(server, 1, "one\r\n");
    server.Expect("RETR 2\r\n").Say("-ERR no such message\r\n");
    server.Expect("QUIT\r\n").Say("+OK\r\n").ExpectClose();
    RunClient(server);
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_EQ(rec.Messages().size(), 1u);
    EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_FAILED);
    EXPECT_STREQ(client->ReplyLine(), "-ERR no such message");
    ExpectNoFilesLeft();
}

TEST_F(Pop3Scripted, DeleteWithoutCutOffDeletesEachAfterStoring)
{
    ScriptedServer server(Split::Pairs);
    Login(server, 2);
    Retr(server, 1, "Date: Mon, 01 Jan 2024 10:00:00 +0000\r\n\r\none\r\n");
    server.Expect("DELE 1\r\n").Say("+OK deleted\r\n");
    Retr(server, 2, "no date at all\r\n");
    server.Expect("DELE 2\r\n").Say("+OK deleted\r\n");
    server.Expect("QUIT\r\n").Say("+OK\r\n").ExpectClose();
    RunClient(server, true, 0);
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_EQ(rec.Messages().size(), 2u);
    EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_DONE);
    EXPECT_EQ(rec.end.lParam, 0);
}

TEST_F(Pop3Scripted, DeleRefusedQuitsAfterTheMessageWasStored)
{
    ScriptedServer server;
    Login(server, 2);
    Retr(server, 1, "one\r\n");
    server.Expect("DELE 1\r\n").Say("-ERR cannot\r\n");
    server.Expect("QUIT\r\n").Say("+OK\r\n").ExpectClose();
    RunClient(server, true, 0);
    EXPECT_TRUE(server.Finish()) << server.Report();
    ASSERT_EQ(rec.Messages().size(), 1u);
    EXPECT_EQ(rec.Messages()[0].content, "one\r\n");
    EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_FAILED);
    ExpectNoFilesLeft();
}

TEST_F(Pop3Scripted, AgeCutOffDeletesOnlyOlderMessagesWithADate)
{
    // Cut-off 2024-01-01 12:00 UTC.
    const std::int64_t tCut = 1704110400;
    ScriptedServer server(Split::Bytes);
    Login(server, 8);
    // 1: older (11:00 UTC, given as +0200 local 13:00) -> deleted
    Retr(server, 1, "Date: Mon, 01 Jan 2024 13:00:00 +0200\r\n\r\nold\r\n");
    server.Expect("DELE 1\r\n").Say("+OK\r\n");
    // 2: newer (13:00 UTC) -> kept
    Retr(server, 2, "DATE: Mon, 01 Jan 2024 08:00:00 -0500\r\n\r\nnew\r\n");
    // 3: no Date line -> kept (the previous message's date does not carry over)
    Retr(server, 3, "Subject: none\r\n\r\nno date\r\n");
    // 4: a date that cannot be read -> kept
    Retr(server, 4, "Date: sometime last week\r\n\r\nbad\r\n");
    // 5: a date quoted in the body is not the message's -> kept
    Retr(server, 5,
         "Date: Mon, 01 Jan 2024 13:00:00 +0000\r\n\r\ndate: Sun, 31 Dec 2023 10:00:00 +0000\r\n");
    // 6: exactly at the cut-off -> kept (the cut-off must be later)
    Retr(server, 6, "Date: Mon, 01 Jan 2024 12:00:00 +0000\r\n\r\nedge\r\n");
    // 7: no blank after the colon, below other fields -> older, deleted
    Retr(server, 7, "To: x\r\nDate:Sun, 31 Dec 2023 10:00:00 +0000\r\n\r\nseven\r\n");
    server.Expect("DELE 7\r\n").Say("+OK\r\n");
    // 8: no header block at all, only a body that quotes a date -> kept
    Retr(server, 8, "\r\nDate: Sun, 31 Dec 2023 10:00:00 +0000\r\n");
    server.Expect("QUIT\r\n").Say("+OK\r\n").ExpectClose();
    RunClient(server, true, tCut);
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_EQ(rec.Messages().size(), 8u);
    EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_DONE);
}

TEST_F(Pop3Scripted, NoDeleteFlagNeverDeletes)
{
    ScriptedServer server;
    Login(server, 1);
    Retr(server, 1, "Date: Thu, 01 Jan 1970 00:00:01 +0000\r\n\r\nx\r\n");
    server.Expect("QUIT\r\n").Say("+OK\r\n").ExpectClose();
    RunClient(server, false, 1704110400);
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_DONE);
}

TEST_F(Pop3Scripted, OverlongReplyLineDropsTheConnection)
{
    // A reply line of 4098 characters still fits (with its CR LF, the buffer).
    ScriptedServer ok;
    Login(ok, 1);
    ok.Expect("RETR 1\r\n").Say("+OK " + std::string(4094, 'a') + "\r\nbody\r\n.\r\n");
    ok.Expect("QUIT\r\n").Say("+OK\r\n").ExpectClose();
    RunClient(ok);
    EXPECT_TRUE(ok.Finish()) << ok.Report();
    ASSERT_EQ(rec.Messages().size(), 1u);
    EXPECT_EQ(rec.Messages()[0].content, "body\r\n");

    Pop3Recorder rec2;
    ScriptedServer bad;
    Login(bad, 1);
    bad.Expect("RETR 1\r\n").Say("+OK " + std::string(4095, 'b') + "\r\nbody\r\n.\r\n");
    bad.ExpectClose();
    ASSERT_TRUE(bad.Start());
    CPOP3 c2(&rec2, Pop3Recorder::kMsg, 0, dir.Path().c_str());
    ASSERT_TRUE(c2.RetrieveMail("127.0.0.1", bad.Port(), "joe", "pw", "", true, 0));
    ASSERT_TRUE(PumpUntil([&] { return rec2.bEnded; }));
    EXPECT_TRUE(bad.Finish()) << bad.Report();
    EXPECT_EQ(rec2.end.wParam, CPOP3::NOTIFY_FAILED);
    EXPECT_EQ(rec2.end.lParam, 0);
    EXPECT_NE(std::string(c2.ReplyLine()).find("longer than 4098"), std::string::npos);
    EXPECT_TRUE(rec2.Messages().empty());
    ExpectNoFilesLeft();
}

TEST_F(Pop3Scripted, LongDataLinesAreStoredWhole)
{
    // Lines longer than the reply buffer, and at its edges: a stuffed dot
    // before a long line, a CR that fills the buffer, a rest that is a lone
    // dot (data, not the end), a lone CR at a piece's end.
    const std::string lines[] = {std::string(6000, 'x'),        std::string(100000, 'y'),
                                 ".." + std::string(5000, 'd'), std::string(4099, 'c'),
                                 std::string(4100, 'a') + ".",  std::string(4099, 'e') + "\rz"};
    std::string wire, want;
    for (const auto& l : lines) {
        wire += l + "\r\n";
        want += (l[0] == '.' ? l.substr(1) : l) + "\r\n";
    }
    for (Split split : {Split::Whole, Split::Pairs}) {
        ScriptedServer server(split);
        Login(server, 2);
        Retr(server, 1, wire);
        server.Expect("DELE 1\r\n").Say("+OK\r\n");
        Retr(server, 2, "short\r\n");
        server.Expect("DELE 2\r\n").Say("+OK\r\n");
        server.Expect("QUIT\r\n").Say("+OK\r\n").ExpectClose();
        rec.notes.clear();
        rec.bEnded = false;
        RunClient(server, true);
        EXPECT_TRUE(server.Finish()) << server.Report();
        EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_DONE);
        auto msgs = rec.Messages();
        ASSERT_EQ(msgs.size(), 2u);
        EXPECT_TRUE(msgs[0].content == want) << "message 1 differs";
        EXPECT_EQ(msgs[1].content, "short\r\n");
        EXPECT_EQ(rec.LineNotes(), 7); // one per line, not per piece
    }
}

TEST_F(Pop3Scripted, DeliveredMessagesAreNotFetchedAgain)
{
    // 1 and 4 were delivered by an earlier run; 2 and 3 share an id, which
    // then identifies neither; 5's id is not one; 0 and 7 are no messages.
    const std::string uidl = "+OK\r\n1 one\r\n2 same\r\n3 same\r\n4 four\r\n5 bad\x7Fid\r\n"
                             "0 zero\r\n7 seven\r\nx y\r\n6 six\r\n.\r\n";
    for (std::int64_t tCut : {std::int64_t(0), std::int64_t(1704110400)}) {
        SCOPED_TRACE(tCut);
        ScriptedServer server(Split::Pairs);
        Login(server, 6, uidl);
        for (int n = 1; n <= 6; ++n) {
            if (n != 1 && n != 4)
                Retr(server, n, "m" + std::to_string(n) + "\r\n");
            // Without a cut-off every message goes, the delivered ones too;
            // with one, none has a date, so all stay.
            if (!tCut)
                server.Expect("DELE " + std::to_string(n) + "\r\n").Say("+OK\r\n");
        }
        server.Expect("QUIT\r\n").Say("+OK\r\n").ExpectClose();
        std::vector<std::string> asked;
        rec.notes.clear();
        rec.bEnded = false;
        client = std::make_unique<CPOP3>(&rec, Pop3Recorder::kMsg, 0, dir.Path().c_str());
        client->SetDeliveredCheck([&](const std::string& uid) {
            asked.push_back(uid);
            return uid == "one" || uid == "four" || uid == "same";
        });
        RunClient(server, true, tCut);
        EXPECT_TRUE(server.Finish()) << server.Report();
        EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_DONE);
        EXPECT_EQ(asked, (std::vector<std::string>{"one", "four", "six"}));
        EXPECT_EQ(client->SkippedCount(), 2);
        std::vector<std::pair<int, std::string>> got;
        for (const auto& m : rec.Messages())
            got.push_back({m.iMessage, m.uid});
        EXPECT_EQ(
            got, (std::vector<std::pair<int, std::string>>{{2, ""}, {3, ""}, {5, ""}, {6, "six"}}));
    }
}

TEST_F(Pop3Scripted, MessagesOverTheSizeCapStayOnTheServer)
{
    ScriptedServer server(Split::Pairs);
    Login(server, 4);
    server.Expect("LIST\r\n")
        .Say("+OK 4 messages\r\n1 40\r\n2 101\r\n3 100\r\n4 9999999999\r\n.\r\n");
    Retr(server, 1, "one\r\n");
    server.Expect("DELE 1\r\n").Say("+OK\r\n");
    Retr(server, 3, "three\r\n");
    server.Expect("DELE 3\r\n").Say("+OK\r\n");
    server.Expect("QUIT\r\n").Say("+OK\r\n").ExpectClose();
    client = std::make_unique<CPOP3>(&rec, Pop3Recorder::kMsg, 0, dir.Path().c_str());
    client->SetMaxMessageSize(100);
    RunClient(server, true);
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_DONE);
    EXPECT_EQ(rec.Messages().size(), 2u);
    EXPECT_EQ(client->OversizedMessages(), (std::vector<int>{2, 4}));
    std::vector<fw::LPARAM> skipped;
    for (const auto& n : rec.notes)
        if (n.wParam == CPOP3::NOTIFY_SKIPPED)
            skipped.push_back(n.lParam);
    EXPECT_EQ(skipped, (std::vector<fw::LPARAM>{2, 4}));
    EXPECT_EQ(prototest::CommittedDeletions(server.Received()), (std::set<int>{1, 3}));
}

TEST_F(Pop3Scripted, AServerThatNeverStopsIsCutOffPastTheCap)
{
    // No sizes from LIST; the message is one endless line.
    ScriptedServer server;
    Login(server, 1);
    server.Expect("LIST\r\n").Say("-ERR no sizes\r\n");
    server.Expect("RETR 1\r\n").Say("+OK\r\n").Flood(std::string(1000, 'z'));
    client = std::make_unique<CPOP3>(&rec, Pop3Recorder::kMsg, 0, dir.Path().c_str());
    client->SetMaxMessageSize(10000);
    RunClient(server, true);
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_FAILED);
    EXPECT_NE(std::string(client->ReplyLine()).find("larger than"), std::string::npos)
        << client->ReplyLine();
    EXPECT_TRUE(rec.Messages().empty());
    ExpectNoFilesLeft();
}

TEST_F(Pop3Scripted, ArgumentsWithLineBreaksAreNotSent)
{
    ScriptedServer server;
    server.Say(kGreeting).ExpectClose();
    RunClient(server, false, 0, "joe\r\nDELE 1");
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_FAILED);
    EXPECT_NE(std::string(client->ReplyLine()).find("line break"), std::string::npos);

    Pop3Recorder rec2;
    ScriptedServer s2;
    s2.Say(kGreeting).Expect("USER joe\r\n").Say("+OK\r\n").ExpectClose();
    ASSERT_TRUE(s2.Start());
    CPOP3 c2(&rec2, Pop3Recorder::kMsg, 0, dir.Path().c_str());
    ASSERT_TRUE(c2.RetrieveMail("127.0.0.1", s2.Port(), "joe", "pw\nQUIT", "", false, 0));
    ASSERT_TRUE(PumpUntil([&] { return rec2.bEnded; }));
    EXPECT_TRUE(s2.Finish()) << s2.Report();
    EXPECT_EQ(rec2.end.wParam, CPOP3::NOTIFY_FAILED);
}

TEST_F(Pop3Scripted, TooLongUserNameIsNotSent)
{
    ScriptedServer server;
    server.Say(kGreeting).ExpectClose();
    std::string user(2000, 'u');
    RunClient(server, false, 0, user.c_str());
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_FAILED);
}

TEST_F(Pop3Scripted, MissingDirectoryFailsWithoutCommittingDeletions)
{
    ScriptedServer server;
    Login(server, 1);
    server.Expect("RSET\r\n").Say("+OK\r\n").Expect("QUIT\r\n").Say("+OK\r\n").ExpectClose();
    ASSERT_TRUE(server.Start());
    std::string missing = dir.Path() + "/missing";
    CPOP3 c(&rec, Pop3Recorder::kMsg, 0, missing.c_str());
    ASSERT_TRUE(c.RetrieveMail("127.0.0.1", server.Port(), "joe", "pw", "", true, 0));
    ASSERT_TRUE(PumpUntil([&] { return rec.bEnded; }));
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_FAILED);
    EXPECT_NE(std::string(c.ReplyLine()).find("temporary file"), std::string::npos);
}

TEST_F(Pop3Scripted, EachMessageIsOnTheDiskBeforeItsDele)
{
    ScriptedServer server;
    Login(server, 1);
    Retr(server, 1, "x\r\n");
    std::vector<std::string> syncedAtDele;
    server.Expect("DELE 1\r\n").Do([&] { syncedAtDele = SyncedPaths(); }).Say("+OK\r\n");
    server.Expect("QUIT\r\n").Say("+OK\r\n").ExpectClose();
    RunClient(server, true);
    EXPECT_TRUE(server.Finish()) << server.Report();
    ASSERT_EQ(rec.Messages().size(), 1u);
    // The file's data, then its name in the directory.
    std::string real = std::filesystem::canonical(dir.Path()).string();
    EXPECT_EQ(syncedAtDele,
              (std::vector<std::string>{real + "/" + fw::BaseName(rec.Messages()[0].file), real}));
}

// A message file that fails after an earlier message's DELE was accepted:
// the session must end without committing that deletion.
struct LocalFault {
    const char* pszName;
    void (*inject)(const std::string& dir);
    const char* pszWant;       // in the reason
    bool bRsetRefused = false; // then the client must not QUIT either
};

void PrintTo(const LocalFault& c, std::ostream* os) { *os << c.pszName; }

class Pop3LocalFailure : public Pop3Scripted, public ::testing::WithParamInterface<LocalFault> {};

TEST_P(Pop3LocalFailure, CommitsNoDeletion)
{
    const LocalFault& c = GetParam();
    ScriptedServer server;
    Login(server, 3);
    Retr(server, 1, "one\r\n");
    server.Expect("DELE 1\r\n").Say("+OK\r\n").Expect("RETR 2\r\n");
    server.Do([&] { c.inject(dir.Path()); }).Say("+OK\r\ntwo\r\n.\r\n");
    server.Expect("RSET\r\n");
    if (c.bRsetRefused)
        server.Say("-ERR no\r\n");
    else
        server.Say("+OK\r\n").Expect("QUIT\r\n").Say("+OK\r\n");
    server.ExpectClose();
    RunClient(server, true);
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_TRUE(prototest::CommittedDeletions(server.Received()).empty());
    EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_FAILED);
    EXPECT_NE(std::string(client->ReplyLine()).find(c.pszWant), std::string::npos)
        << client->ReplyLine();
    EXPECT_EQ(rec.Messages().size(), 1u);
    ExpectNoFilesLeft();
}

// Removes the file being written: every file that was never synced.
void RemoveUnsynced(const std::string& dir)
{
    auto synced = SyncedPaths();
    std::string real = std::filesystem::canonical(dir).string();
    for (const auto& name : fw::ListDirectory(dir))
        if (std::find(synced.begin(), synced.end(), real + "/" + name) == synced.end())
            ::unlink((dir + "/" + name).c_str());
}

const LocalFault kLocalFaults[] = {
    {"SyncFails", [](const std::string&) { g_bFailFileSync = true; }, "Input/output error"},
    {"FileVanishes", RemoveUnsynced, "No such file"},
    {"SyncFailsAndRsetRefused", [](const std::string&) { g_bFailFileSync = true; },
     "Input/output error", true},
};

INSTANTIATE_TEST_SUITE_P(Faults, Pop3LocalFailure, ::testing::ValuesIn(kLocalFaults),
                         [](const auto& info) { return std::string(info.param.pszName); });

TEST_F(Pop3Scripted, ConnectionRefused)
{
    // A port that was just free: nothing listens there.
    unsigned short port;
    {
        ScriptedServer probe;
        ASSERT_TRUE(probe.Start());
        port = probe.Port();
        probe.SetStepTimeout(1);
    }
    client = std::make_unique<CPOP3>(&rec, Pop3Recorder::kMsg, 0, dir.Path().c_str());
    ASSERT_TRUE(client->RetrieveMail("127.0.0.1", port, "joe", "pw", "", false, 0));
    ASSERT_TRUE(PumpUntil([&] { return rec.bEnded; }));
    EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_FAILED);
    EXPECT_EQ(rec.end.lParam, 0);
    EXPECT_EQ(client->m_iLastError, wsa::WSAECONNREFUSED);
}

TEST_F(Pop3Scripted, SecondStartWhileRunningIsRefused)
{
    ScriptedServer server;
    server.Say(kGreeting).Expect("USER joe\r\n").Hold();
    ASSERT_TRUE(server.Start());
    CPOP3 c(&rec, Pop3Recorder::kMsg, 0, dir.Path().c_str());
    ASSERT_TRUE(c.RetrieveMail("127.0.0.1", server.Port(), "joe", "pw", "", false, 0));
    EXPECT_FALSE(c.RetrieveMail("127.0.0.1", server.Port(), "joe", "pw", "", false, 0));
    ASSERT_TRUE(PumpUntil([&] { return server.StepsDone() >= 2; }));
    c.Abort(true);
    ASSERT_TRUE(PumpUntil([&] { return rec.bEnded; }));
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_ABORTED);
    // Idle again: a new session may start (and is refused by nobody).
    EXPECT_TRUE(c.IsIdle());
}

// ---- the server closing in every state

struct CloseCase {
    const char* pszName;
    int iMessages; // in the mailbox
    bool bDelete;
    unsigned iWantStatus;
    int iWantStored;
    // Builds the transcript up to the server's close.
    void (*build)(ScriptedServer&);
};

// Names for ctest's list instead of raw bytes.
void PrintTo(const CloseCase& c, std::ostream* os) { *os << c.pszName; }

class Pop3ServerCloses : public Pop3Scripted, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(Pop3ServerCloses, EndsTheSession)
{
    const CloseCase& c = GetParam();
    ScriptedServer server;
    c.build(server);
    server.Close();
    RunClient(server, c.bDelete, 0);
    EXPECT_TRUE(server.Finish()) << server.Report();
    EXPECT_EQ(rec.end.wParam, c.iWantStatus);
    EXPECT_EQ(static_cast<int>(rec.Messages().size()), c.iWantStored);
    EXPECT_EQ(rec.iEnds, 1);
    EXPECT_TRUE(client->IsIdle());
    ExpectNoFilesLeft();
}

const CloseCase kCloseCases[] = {
    {"BeforeGreeting", 0, false, CPOP3::NOTIFY_FAILED, 0, [](ScriptedServer&) {}},
    {"AfterUser", 0, false, CPOP3::NOTIFY_FAILED, 0,
     [](ScriptedServer& s) { s.Say(kGreeting).Expect("USER joe\r\n"); }},
    {"AfterPass", 0, false, CPOP3::NOTIFY_FAILED, 0,
     [](ScriptedServer& s) {
         s.Say(kGreeting).Expect("USER joe\r\n").Say("+OK\r\n").Expect("PASS pw\r\n");
     }},
    {"AfterStat", 0, false, CPOP3::NOTIFY_FAILED, 0,
     [](ScriptedServer& s) {
         s.Say(kGreeting)
             .Expect("USER joe\r\n")
             .Say("+OK\r\n")
             .Expect("PASS pw\r\n")
             .Say("+OK\r\n");
         s.Expect("STAT\r\n");
     }},
    {"InsideTheUidlListing", 1, false, CPOP3::NOTIFY_FAILED, 0,
     [](ScriptedServer& s) { Login(s, 1, "+OK\r\n1 a\r\n"); }},
    {"AfterRetr", 1, false, CPOP3::NOTIFY_FAILED, 0,
     [](ScriptedServer& s) {
         Login(s, 1);
         s.Expect("RETR 1\r\n");
     }},
    {"InsideTheBody", 1, false, CPOP3::NOTIFY_FAILED, 0,
     [](ScriptedServer& s) {
         Login(s, 1);
         s.Expect("RETR 1\r\n").Say("+OK\r\nline one\r\nline two\r\n");
     }},
    {"AfterDele", 2, true, CPOP3::NOTIFY_FAILED, 1,
     [](ScriptedServer& s) {
         Login(s, 2);
         Retr(s, 1, "x\r\n");
         s.Expect("DELE 1\r\n");
     }},
    {"AtQuitAfterSuccess", 1, false, CPOP3::NOTIFY_DONE, 1,
     [](ScriptedServer& s) {
         Login(s, 1);
         Retr(s, 1, "x\r\n");
         s.Expect("QUIT\r\n");
     }},
    {"AtQuitAfterRefusal", 0, false, CPOP3::NOTIFY_FAILED, 0,
     [](ScriptedServer& s) {
         s.Say(kGreeting).Expect("USER joe\r\n").Say("-ERR\r\n").Expect("QUIT\r\n");
     }},
};

INSTANTIATE_TEST_SUITE_P(States, Pop3ServerCloses, ::testing::ValuesIn(kCloseCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

// ---- abort in every state, with and without the final notification

struct AbortCase {
    const char* pszName;
    bool bDelete;
    int iStepsBeforeAbort; // server steps done when the client is aborted
    int iWantStored;
    void (*build)(ScriptedServer&);
    int iWantLines = 0; // line notifications to wait for before the abort
};

void PrintTo(const AbortCase& c, std::ostream* os) { *os << c.pszName; }

class Pop3Abort : public Pop3Scripted,
                  public ::testing::WithParamInterface<std::tuple<AbortCase, bool>> {};

TEST_P(Pop3Abort, EndsWithAbortedStatusAndSendsNothingMore)
{
    const AbortCase& c = std::get<0>(GetParam());
    bool bNotify = std::get<1>(GetParam());
    ScriptedServer server;
    c.build(server);
    server.Hold();
    ASSERT_TRUE(server.Start());
    client = std::make_unique<CPOP3>(&rec, Pop3Recorder::kMsg, 0, dir.Path().c_str());
    ASSERT_TRUE(client->RetrieveMail("127.0.0.1", server.Port(), "joe", "pw", "", c.bDelete, 0));
    ASSERT_TRUE(PumpUntil([&] {
        return server.Connected() && server.StepsDone() >= c.iStepsBeforeAbort;
    })) << server.Report();
    // Let the client take in what the server said last.
    ASSERT_TRUE(PumpUntil([&] {
        return static_cast<int>(rec.Messages().size()) >= c.iWantStored &&
               rec.LineNotes() >= c.iWantLines;
    }));
    client->Abort(bNotify);
    EXPECT_TRUE(client->IsIdle());
    EXPECT_TRUE(server.Finish()) << server.Report();
    fw::MessageLoop::DispatchPending();
    if (bNotify) {
        ASSERT_TRUE(PumpUntil([&] { return rec.bEnded; }));
        EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_ABORTED);
        EXPECT_EQ(rec.end.lParam, 0);
        EXPECT_EQ(rec.iEnds, 1);
    } else {
        EXPECT_FALSE(rec.bEnded);
    }
    EXPECT_EQ(static_cast<int>(rec.Messages().size()), c.iWantStored);
    EXPECT_EQ(client->m_iLastError, 0);
    // A second abort does nothing.
    client->Abort(true);
    fw::MessageLoop::DispatchPending();
    EXPECT_LE(rec.iEnds, 1);
    ExpectNoFilesLeft();
}

const AbortCase kAbortCases[] = {
    {"AwaitGreeting", false, 0, 0, [](ScriptedServer&) {}},
    {"AwaitUser", false, 2, 0, [](ScriptedServer& s) { s.Say(kGreeting).Expect("USER joe\r\n"); }},
    {"AwaitPass", false, 4, 0,
     [](ScriptedServer& s) {
         s.Say(kGreeting).Expect("USER joe\r\n").Say("+OK\r\n").Expect("PASS pw\r\n");
     }},
    {"AwaitStat", false, 6, 0,
     [](ScriptedServer& s) {
         s.Say(kGreeting)
             .Expect("USER joe\r\n")
             .Say("+OK\r\n")
             .Expect("PASS pw\r\n")
             .Say("+OK\r\n");
         s.Expect("STAT\r\n");
     }},
    {"AwaitUidl", false, 8, 0, [](ScriptedServer& s) { Login(s, 1, ""); }},
    {"AwaitRetr", false, 10, 0,
     [](ScriptedServer& s) {
         Login(s, 1);
         s.Expect("RETR 1\r\n");
     }},
    {"ReceiveMessage", false, 11, 0,
     [](ScriptedServer& s) {
         Login(s, 1);
         s.Expect("RETR 1\r\n").Say("+OK\r\nfirst line\r\n");
     },
     1},
    {"AwaitDele", true, 12, 1,
     [](ScriptedServer& s) {
         Login(s, 2);
         Retr(s, 1, "x\r\n");
         s.Expect("DELE 1\r\n");
     }},
    {"AwaitQuit", false, 12, 1,
     [](ScriptedServer& s) {
         Login(s, 1);
         Retr(s, 1, "x\r\n");
         s.Expect("QUIT\r\n");
     }},
};

INSTANTIATE_TEST_SUITE_P(States, Pop3Abort,
                         ::testing::Combine(::testing::ValuesIn(kAbortCases), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).pszName) +
                                    (std::get<1>(info.param) ? "_Notify" : "_Silent");
                         });

TEST_F(Pop3Scripted, AbortDuringTheLookupGivesNoPlatformError)
{
    // A lookup that does not finish until the test lets it.  The worker may
    // outlive the test's stack frame, so what it touches is static.
    static std::atomic<bool> release{false};
    static std::atomic<int> started{0}, finished{0};
    wsa::SetResolveHook([](const std::string&, std::vector<std::uint32_t>& addrs) {
        ++started;
        for (int i = 0; i < 10000 && !release; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        addrs.push_back(0x7F000001);
        ++finished;
        return 0;
    });
    for (bool bNotify : {true, false}) {
        Pop3Recorder r;
        CPOP3 c(&r, Pop3Recorder::kMsg, 0, dir.Path().c_str());
        release = false;
        ASSERT_TRUE(c.RetrieveMail("pop.example.test", 110, "joe", "pw", "", false, 0));
        EXPECT_FALSE(c.IsIdle());
        c.Abort(bNotify);
        EXPECT_TRUE(c.IsIdle());
        release = true;
        PumpUntil([&] { return wsa::PendingLookups() == 0 && finished == started; }, 5000);
        fw::MessageLoop::DispatchPending();
        EXPECT_EQ(r.bEnded, bNotify);
        if (bNotify) {
            EXPECT_EQ(r.end.wParam, CPOP3::NOTIFY_ABORTED);
        }
        EXPECT_EQ(c.m_iLastError, 0);
    }
    wsa::SetResolveHook({});
}

TEST_F(Pop3Scripted, LookupFailureIsReported)
{
    wsa::SetResolveHook([](const std::string&, std::vector<std::uint32_t>&) {
        return static_cast<int>(wsa::WSAHOST_NOT_FOUND);
    });
    CPOP3 c(&rec, Pop3Recorder::kMsg, 0, dir.Path().c_str());
    ASSERT_TRUE(c.RetrieveMail("nowhere.example.test", 110, "joe", "pw", "", false, 0));
    ASSERT_TRUE(PumpUntil([&] { return rec.bEnded; }));
    wsa::SetResolveHook({});
    EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_FAILED);
    EXPECT_EQ(c.m_iLastError, wsa::WSAHOST_NOT_FOUND);
}

TEST_F(Pop3Scripted, ClientCanRunAgainAfterASession)
{
    client = std::make_unique<CPOP3>(&rec, Pop3Recorder::kMsg, 0, dir.Path().c_str());
    for (int round = 0; round < 2; ++round) {
        ScriptedServer server(round ? Split::Pairs : Split::Whole);
        Login(server, 1);
        Retr(server, 1, "round " + std::to_string(round) + "\r\n");
        server.Expect("QUIT\r\n").Say("+OK\r\n").ExpectClose();
        ASSERT_TRUE(server.Start());
        rec.bEnded = false;
        ASSERT_TRUE(client->RetrieveMail("127.0.0.1", server.Port(), "joe", "pw", "", false, 0));
        ASSERT_TRUE(PumpUntil([&] { return rec.bEnded; }));
        EXPECT_TRUE(server.Finish()) << server.Report();
        EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_DONE);
        EXPECT_EQ(rec.Messages().back().content, "round " + std::to_string(round) + "\r\n");
    }
}

} // namespace
