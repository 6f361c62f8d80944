// CPOP3 against scripted servers: exact transcripts, every reply split at every
// byte or joined two per send, and local failures that leave the mailbox be.
#include "ClientHarness.h"
#include "RecordingMessageBox.h"
#include "ScriptedServer.h"
#include "TestUtil.h"

#include "framework/Files.h"
#include "net/CTls.h"
#include "net/Wsa.h"
#include "proto/CPOP3.h"
#include "proto/Sasl.h"

#include <gtest/gtest.h>

#include <algorithm>
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

using prototest::Pop3Recorder;
using prototest::PumpUntil;
using Split = ScriptedServer::Split;

namespace {

const char kGreeting[] = "+OK POP3 server ready\r\n";

// The session every transcript follows, as steps (true: the server says
// it): greeting, login (a positive reply in any case), STAT with iCount
// messages, UIDL refused, each message "x" retrieved (and deleted), QUIT.
using Step = std::pair<bool, std::string>;
std::vector<Step> Session(int iCount, bool bDelete = false)
{
    std::vector<Step> v = {{true, kGreeting},
                           {false, "USER joe\r\n"},
                           {true, "+ok\r\n"},
                           {false, "PASS pw\r\n"},
                           {true, "+OK in\r\n"},
                           {false, "STAT\r\n"},
                           {true, "+OK " + std::to_string(iCount) + " 1234\r\n"}};
    if (iCount > 0)
        v.insert(v.end(), {{false, "UIDL\r\n"}, {true, "-ERR no UIDL\r\n"}});
    for (int n = 1; n <= iCount; ++n) {
        std::string k = std::to_string(n);
        v.insert(v.end(), {{false, "RETR " + k + "\r\n"}, {true, "+OK\r\nx\r\n.\r\n"}});
        if (bDelete)
            v.insert(v.end(), {{false, "DELE " + k + "\r\n"}, {true, "+OK\r\n"}});
    }
    v.insert(v.end(), {{false, "QUIT\r\n"}, {true, "+OK bye\r\n"}});
    return v;
}
// The steps of Session after which the server waits for USER, PASS, ...
enum { kAtUser = 2, kAtPass = 4, kAtStat = 6, kAtUidl = 8, kAtRetr = 10 };

// The first n steps of a session.
void Play(ScriptedServer& s, const std::vector<Step>& steps, std::size_t n = 1000)
{
    for (std::size_t i = 0; i < steps.size() && i < n; ++i)
        steps[i].first ? s.Say(steps[i].second) : s.Expect(steps[i].second);
}

// Login and STAT, and the server's answer to the UIDL that follows a STAT
// with messages (none when empty).
void Login(ScriptedServer& s, int iCount, const std::string& uidl = "-ERR no UIDL\r\n")
{
    Play(s, Session(iCount), iCount > 0 ? kAtUidl : kAtUidl - 1);
    if (iCount > 0 && !uidl.empty())
        s.Say(uidl);
}

// A RETR exchange: the wire form is given (already dot-stuffed).
void Retr(ScriptedServer& s, int n, const std::string& wire)
{
    s.Expect("RETR " + std::to_string(n) + "\r\n").Say("+OK message follows\r\n" + wire + ".\r\n");
}
void Dele(ScriptedServer& s, int n)
{
    s.Expect("DELE " + std::to_string(n) + "\r\n").Say("+OK\r\n");
}
void Quit(ScriptedServer& s) { s.Expect("QUIT\r\n").Say("+OK bye\r\n").ExpectClose(); }

using Notes = std::vector<std::pair<fw::WPARAM, fw::LPARAM>>;
constexpr fw::WPARAM C = CPOP3::NOTIFY_COUNT, L = CPOP3::NOTIFY_LINE, M = CPOP3::NOTIFY_MESSAGE,
                     D = CPOP3::NOTIFY_DONE, F = CPOP3::NOTIFY_FAILED;

class Pop3Scripted : public ::testing::Test {
protected:
    void SetUp() override
    {
        prototest::EnsureWinsock();
        fw::SetMessageBoxService(&boxes);
        g_bFailFileSync = false;
        std::lock_guard<std::mutex> lock(g_syncMutex);
        g_synced.clear();
    }
    void TearDown() override
    {
        g_bFailFileSync = false;
        fw::SetMessageBoxService(nullptr);
    }

    // Runs the client against the server until it has ended: once, with
    // the script gone as written, idle and no file left behind.  Every run
    // of a test uses the same client (a test may set it up beforehand).
    void RunClient(ScriptedServer& server, bool bDelete = false, std::int64_t tCutOff = 0,
                   const char* pszUser = "joe", const char* pszPass = "pw")
    {
        ASSERT_TRUE(server.Start());
        if (!client)
            client = std::make_unique<CPOP3>(&rec, Pop3Recorder::kMsg, 0, dir.Path().c_str());
        rec.notes.clear();
        rec.bEnded = false;
        rec.iEnds = 0;
        ASSERT_TRUE(client->RetrieveMail(host.c_str(), server.Port(), pszUser, pszPass, "unused",
                                         bDelete, tCutOff));
        ASSERT_TRUE(PumpUntil([&] { return rec.bEnded; })) << server.Report();
        EXPECT_TRUE(server.Finish()) << server.Report();
        EXPECT_EQ(rec.iEnds, 1);
        EXPECT_TRUE(client->IsIdle());
        ExpectNoFilesLeft();
    }
    void ExpectNoFilesLeft() { EXPECT_TRUE(fw::ListDirectory(dir.Path()).empty()); }
    // The notifications; a stored message as its number * 100.
    Notes Seq() const
    {
        Notes out;
        for (const auto& n : rec.notes)
            out.push_back({n.wParam, n.wParam == M && n.lParam ? n.iMessage * 100 : n.lParam});
        return out;
    }
    // The contents of the stored messages, "|" between them.
    std::string Stored() const
    {
        std::string out;
        for (const auto& m : rec.Messages())
            out += (out.empty() ? "" : "|") + m.content;
        return out;
    }

    testutil::TempDir dir;
    Pop3Recorder rec;
    std::unique_ptr<CPOP3> client;
    std::string host = "127.0.0.1";
    RecordingMessageBox boxes;
};

} // namespace

namespace {

class Pop3Split : public Pop3Scripted, public ::testing::WithParamInterface<Split> {};

TEST_P(Pop3Split, RetrievesEveryMessageByteForByte)
{
    ScriptedServer server(GetParam());
    Login(server, 2,
          "+OK unique-id listing follows\r\n1 whqtswO00WBw418f9t5JxYwZ\r\n2 Q:0~\r\n.\r\n");
    Retr(server, 1, "Subject: one\r\n\r\nHello\r\n");
    // Lone CR and LF stay inside their lines ("A\rB\nC", "\r", "\n"); ".."
    // is a dot, ". " a blank, "...x" "..x", ".text" (a server that did not
    // stuff) "text"; "x." stays.
    Retr(server, 2, "A\rB\nC\r\n\r\r\n\n\r\n..\r\n. \r\n...x\r\n.text\r\nx.\r\n..\r\nlast\r\n");
    Quit(server);
    RunClient(server);

    EXPECT_EQ(Stored(), "Subject: one\r\n\r\nHello\r\n|"
                        "A\rB\nC\r\n\r\r\n\n\r\n.\r\n \r\n..x\r\ntext\r\nx.\r\n.\r\nlast\r\n");
    auto msgs = rec.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(fw::BaseName(msgs[0].file).substr(0, 3), "PWZ");
    EXPECT_EQ(fw::DirName(msgs[0].file), dir.Path());
    EXPECT_NE(msgs[0].file, msgs[1].file);
    EXPECT_EQ(msgs[0].uid + " " + msgs[1].uid, "whqtswO00WBw418f9t5JxYwZ Q:0~");
    // The count, a line note per line (the message's 0-based index), each
    // message, the end.
    Notes want = {{C, 2}, {L, 0}, {L, 0}, {L, 0}, {M, 100}};
    want.insert(want.end(), 10, {L, 1});
    want.insert(want.end(), {{M, 200}, {D, 0}});
    EXPECT_EQ(Seq(), want);
    EXPECT_EQ(client->m_iLastError, 0);
}

INSTANTIATE_TEST_SUITE_P(Wire, Pop3Split,
                         ::testing::Values(Split::Whole, Split::Bytes, Split::Pairs),
                         [](const auto& info) { return std::string(SplitName(info.param)); });

TEST_F(Pop3Scripted, RefusalsEndTheSessionAsFailed)
{
    // How the session ends after the refusal: QUIT answered, the server
    // closing at QUIT, or no QUIT at all (nothing to quit from).
    enum End { QUIT, CLOSE_AT_QUIT, HANG_UP };
    const struct {
        const char* name;
        int iSteps; // of Session before the refusal
        const char* reply;
        fw::LPARAM detail;
        End end;
        int iMessages = 1; // more: message 1 is stored before the refusal
        bool bDelete = false;
    } rows[] = {
        {"user", kAtUser, "-ERR no such user", CPOP3::DETAIL_USER, QUIT},
        {"user, closed at QUIT", kAtUser, "-ERR", CPOP3::DETAIL_USER, CLOSE_AT_QUIT},
        {"password", kAtPass, "-ERR [AUTH] Authentication failed.", CPOP3::DETAIL_PASSWORD, QUIT},
        {"too short to be positive", kAtPass, "+O", CPOP3::DETAIL_PASSWORD, QUIT},
        {"stat", kAtStat, "-ERR mailbox locked", 0, QUIT},
        {"stat without a count", kAtStat, "+OK", 0, HANG_UP},
        {"stat with a word", kAtStat, "+OK none", 0, HANG_UP},
        {"stat with a negative count", kAtStat, "+OK -1 0", 0, HANG_UP},
        {"stat with a count too large", kAtStat, "+OK 99999999999 0", 0, HANG_UP},
        {"retr", kAtRetr + 2, "-ERR cannot", 0, QUIT, 2},
        {"dele", kAtRetr + 2, "-ERR cannot", 0, QUIT, 2, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server(Split::Bytes);
        Play(server, Session(row.iMessages, row.bDelete), row.iSteps);
        server.Say(std::string(row.reply) + "\r\n");
        if (row.end == QUIT)
            Quit(server);
        else if (row.end == CLOSE_AT_QUIT)
            server.Expect("QUIT\r\n").Close();
        else
            server.ExpectClose();
        RunClient(server, row.bDelete);
        if (row.iMessages == 1) {
            EXPECT_EQ(Seq(), (Notes{{F, row.detail}}));
        } else {
            EXPECT_EQ(Stored(), "x\r\n");
        }
        EXPECT_EQ(rec.end.wParam, F);
        EXPECT_EQ(client->Detail(), row.detail);
        // The refusal stays readable, not the QUIT reply that came after it.
        EXPECT_STREQ(client->ReplyLine(), row.reply);
    }
}

TEST_F(Pop3Scripted, AgeCutOffDeletesOnlyOlderMessagesWithADate)
{
    // Cut-off 2024-01-01 12:00 UTC.  The same client runs both sessions: it
    // can run again after a session.
    const std::int64_t tCut = 1704110400;
    const struct {
        const char* wire;
        bool bOlder;
    } msgs[] = {
        // 11:00 UTC, given as +0200 local 13:00
        {"Date: Mon, 01 Jan 2024 13:00:00 +0200\r\n\r\nold\r\n", true},
        // 13:00 UTC
        {"DATE: Mon, 01 Jan 2024 08:00:00 -0500\r\n\r\nnew\r\n", false},
        // no Date line (the previous message's date does not carry over)
        {"Subject: none\r\n\r\nno date\r\n", false},
        {"Date: sometime last week\r\n\r\nbad\r\n", false},
        // a date quoted in the body is not the message's
        {"Date: Mon, 01 Jan 2024 13:00:00 +0000\r\n\r\ndate: Sun, 31 Dec 2023 10:00:00 +0000\r\n",
         false},
        // exactly at the cut-off (the cut-off must be later)
        {"Date: Mon, 01 Jan 2024 12:00:00 +0000\r\n\r\nedge\r\n", false},
        // no blank after the colon, below other fields
        {"To: x\r\nDate:Sun, 31 Dec 2023 10:00:00 +0000\r\n\r\nseven\r\n", true},
        // no header block at all, only a body that quotes a date
        {"\r\nDate: Sun, 31 Dec 2023 10:00:00 +0000\r\n", false},
    };
    for (bool bDelete : {true, false}) {
        ScriptedServer server(bDelete ? Split::Bytes : Split::Pairs);
        Login(server, 8);
        for (int n = 1; n <= 8; ++n) {
            Retr(server, n, msgs[n - 1].wire);
            // Without the delete flag nothing is deleted, however old.
            if (bDelete && msgs[n - 1].bOlder)
                Dele(server, n);
        }
        Quit(server);
        RunClient(server, bDelete, tCut);
        EXPECT_EQ(rec.Messages().size(), 8u);
        EXPECT_EQ(rec.end.wParam, D);
    }
}

TEST_F(Pop3Scripted, OverlongReplyLineDropsTheConnection)
{
    // A reply line of 4098 characters still fits (with its CR LF, the
    // buffer); one more drops the connection before any DELE.
    for (bool bFits : {true, false}) {
        ScriptedServer server;
        Login(server, 1);
        server.Expect("RETR 1\r\n");
        server.Say("+OK " + std::string(bFits ? 4094 : 4095, 'a') + "\r\nbody\r\n.\r\n");
        if (bFits)
            Quit(server);
        else
            server.ExpectClose();
        RunClient(server, !bFits);
        EXPECT_EQ(rec.end.wParam, bFits ? D : F);
        EXPECT_EQ(Stored(), bFits ? "body\r\n" : "");
        EXPECT_EQ(std::string(client->ReplyLine()).find("longer than 4098") != std::string::npos,
                  !bFits);
    }
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
        Dele(server, 1);
        Retr(server, 2, "short\r\n");
        Dele(server, 2);
        Quit(server);
        RunClient(server, true);
        EXPECT_EQ(rec.end.wParam, D);
        EXPECT_TRUE(Stored() == want + "|short\r\n") << "the messages differ";
        EXPECT_EQ(rec.Count(L), 7); // one per line, not per piece
    }
}

TEST_F(Pop3Scripted, DeliveredMessagesAreNotFetchedAgain)
{
    // 1 and 4 were delivered by an earlier run; 2 and 3 share an id, which
    // then identifies neither; 5's id is not one; 0 and 7 are no messages.
    const std::string uidl = "+OK\r\n1 one\r\n2 same\r\n3 same\r\n4 four\r\n5 bad\x7Fid\r\n"
                             "0 zero\r\n7 seven\r\nx y\r\n6 six\r\n.\r\n";
    std::vector<std::string> asked;
    client = std::make_unique<CPOP3>(&rec, Pop3Recorder::kMsg, 0, dir.Path().c_str());
    client->SetDeliveredCheck([&](const std::string& uid) {
        asked.push_back(uid);
        return uid == "one" || uid == "four" || uid == "same";
    });
    for (std::int64_t tCut : {std::int64_t(0), std::int64_t(1704110400)}) {
        SCOPED_TRACE(tCut);
        ScriptedServer server(Split::Pairs);
        Login(server, 6, uidl);
        for (int n = 1; n <= 6; ++n) {
            // Message 2 is newer than the cut-off; the others have no date.
            if (n != 1 && n != 4)
                Retr(server, n,
                     n == 2 ? "Date: Tue, 02 Jan 2024 10:00:00 +0000\r\n\r\nm2\r\n" : "m\r\n");
            // Without a cut-off every message goes, the delivered ones and
            // the dated one too; with one, none is older, so all stay.
            if (!tCut)
                Dele(server, n);
        }
        Quit(server);
        asked.clear();
        RunClient(server, true, tCut);
        EXPECT_EQ(rec.end.wParam, D);
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
    Dele(server, 1);
    Retr(server, 3, "three\r\n");
    Dele(server, 3);
    Quit(server);
    client = std::make_unique<CPOP3>(&rec, Pop3Recorder::kMsg, 0, dir.Path().c_str());
    client->SetMaxMessageSize(100);
    RunClient(server, true);
    EXPECT_EQ(client->OversizedMessages(), (std::vector<int>{2, 4}));
    Notes want = {{C, 4},
                  {L, 0},
                  {M, 100},
                  {CPOP3::NOTIFY_SKIPPED, 2},
                  {L, 2},
                  {M, 300},
                  {CPOP3::NOTIFY_SKIPPED, 4},
                  {D, 0}};
    EXPECT_EQ(Seq(), want);
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
    EXPECT_EQ(rec.end.wParam, F);
    EXPECT_NE(std::string(client->ReplyLine()).find("larger than"), std::string::npos)
        << client->ReplyLine();
    EXPECT_TRUE(rec.Messages().empty());
}

TEST_F(Pop3Scripted, ArgumentsThatCannotBeSentAreNot)
{
    // A line break would smuggle in a command; the server sees nothing of
    // the argument, and the session fails.
    const std::string longUser(2000, 'u');
    const struct {
        const char *user, *pass;
        const char* why;
    } rows[] = {
        {"joe\r\nDELE 1", "pw", "A command argument holds a line break."},
        {"joe", "pw\nQUIT", "A command argument holds a line break."},
        {longUser.c_str(), "pw", "The command is too long to send."},
    };
    for (const auto& row : rows) {
        ScriptedServer server;
        Play(server, Session(0), std::string(row.user) == "joe" ? kAtPass - 1 : 1);
        server.ExpectClose();
        RunClient(server, false, 0, row.user, row.pass);
        EXPECT_EQ(rec.end.wParam, F);
        EXPECT_STREQ(client->ReplyLine(), row.why);
    }
}

TEST_F(Pop3Scripted, MissingDirectoryFailsWithoutCommittingDeletions)
{
    ScriptedServer server;
    Login(server, 1);
    server.Expect("RSET\r\n").Say("+OK\r\n");
    Quit(server);
    std::string missing = dir.Path() + "/missing";
    client = std::make_unique<CPOP3>(&rec, Pop3Recorder::kMsg, 0, missing.c_str());
    RunClient(server, true);
    EXPECT_EQ(rec.end.wParam, F);
    EXPECT_NE(std::string(client->ReplyLine()).find("temporary file"), std::string::npos);
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

// A message file that fails after an earlier message's DELE was accepted:
// the session must end without committing that deletion.
TEST_F(Pop3Scripted, LocalFailureCommitsNoDeletion)
{
    const struct {
        const char* name;
        void (*inject)(const std::string& dir);
        const char* pszWant;       // in the reason
        bool bRsetRefused = false; // then the client must not QUIT either
    } rows[] = {
        {"sync fails", [](const std::string&) { g_bFailFileSync = true; }, "Input/output error"},
        {"file vanishes", RemoveUnsynced, "No such file"},
        {"sync fails, RSET refused", [](const std::string&) { g_bFailFileSync = true; },
         "Input/output error", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        ScriptedServer server;
        Login(server, 3);
        Retr(server, 1, "one\r\n");
        std::vector<std::string> syncedAtDele;
        server.Expect("DELE 1\r\n").Do([&] { syncedAtDele = SyncedPaths(); }).Say("+OK\r\n");
        server.Expect("RETR 2\r\n");
        server.Do([&] { row.inject(dir.Path()); }).Say("+OK\r\ntwo\r\n.\r\n");
        server.Expect("RSET\r\n");
        if (row.bRsetRefused)
            server.Say("-ERR no\r\n").ExpectClose();
        else
            server.Say("+OK\r\n").Expect("QUIT\r\n").Say("+OK\r\n").ExpectClose();
        RunClient(server, true);
        EXPECT_TRUE(prototest::CommittedDeletions(server.Received()).empty());
        EXPECT_EQ(rec.end.wParam, F);
        EXPECT_NE(std::string(client->ReplyLine()).find(row.pszWant), std::string::npos)
            << client->ReplyLine();
        EXPECT_EQ(Stored(), "one\r\n");
        // Message 1 was on the disk before its DELE: the file's data, then
        // its name in the directory.
        std::string real = std::filesystem::canonical(dir.Path()).string();
        ASSERT_EQ(rec.Messages().size(), 1u);
        EXPECT_EQ(syncedAtDele, (std::vector<std::string>{
                                    real + "/" + fw::BaseName(rec.Messages()[0].file), real}));
    }
}

TEST_F(Pop3Scripted, EncryptionAskedOfAPlainServer)
{
    client = std::make_unique<CPOP3>(&rec, Pop3Recorder::kMsg, 0, dir.Path().c_str());
    auto steps = Session(0);
    steps.insert(steps.begin() + 1, {{false, "STLS\r\n"}, {true, "-ERR unknown command\r\n"}});
    auto warnings = [&] {
        return std::count_if(boxes.boxes.begin(), boxes.boxes.end(), [](const auto& b) {
            return b.text.find("in clear text") != std::string::npos;
        });
    };
    // Auto goes on in clear and says so once per server (a name of this
    // test's own: the program remembers the servers it warned about).
    host = "localhost";
    client->SetSecurity(ServerSecurity::For("POP3", ServerSecurity::AUTO));
    for (int i = 0; i < 2; ++i) {
        ScriptedServer server;
        Play(server, steps);
        server.ExpectClose();
        RunClient(server);
        EXPECT_EQ(Seq(), (Notes{{C, 0}, {D, 0}})); // an empty mailbox: no UIDL
    }
    EXPECT_EQ(warnings(), 1);

    // Required: stopped before the login, without a warning.
    client->SetSecurity(ServerSecurity::For("POP3", ServerSecurity::STARTTLS));
    ScriptedServer server;
    Play(server, steps, 3);
    Quit(server);
    RunClient(server);
    EXPECT_EQ(rec.end.wParam, F);
    EXPECT_EQ(client->m_iLastError, TLS_E_NOT_OFFERED);
    EXPECT_NE(std::string(client->ReplyLine()).find("does not offer encryption"),
              std::string::npos);
    EXPECT_EQ(warnings(), 1);

    // A refused token: the server's challenge is answered empty, and the
    // refusal counts as a wrong password.
    ServerSecurity s = ServerSecurity::For("POP3", ServerSecurity::NONE);
    s.bOAuth2 = true;
    client->SetSecurity(s);
    ScriptedServer oauth;
    oauth.Say(kGreeting).Expect("AUTH XOAUTH2 " + SaslXOAuth2("joe", "pw") + "\r\n");
    oauth.Say("+ eyJzdGF0dXMiOiI0MDEifQ==\r\n").Expect("\r\n").Say("-ERR denied\r\n");
    Quit(oauth);
    RunClient(oauth);
    EXPECT_EQ(Seq(), (Notes{{F, CPOP3::DETAIL_PASSWORD}}));
    EXPECT_STREQ(client->ReplyLine(), "-ERR denied");
}

TEST_F(Pop3Scripted, ConnectionRefused)
{
    unsigned short port = FreeLoopbackPort();
    client = std::make_unique<CPOP3>(&rec, Pop3Recorder::kMsg, 0, dir.Path().c_str());
    ASSERT_TRUE(client->RetrieveMail("127.0.0.1", port, "joe", "pw", "", false, 0));
    ASSERT_TRUE(PumpUntil([&] { return rec.bEnded; }));
    EXPECT_EQ(Seq(), (Notes{{F, 0}}));
    EXPECT_EQ(client->m_iLastError, wsa::WSAECONNREFUSED);
}

// ---- the server closing, and the client aborted, in every state

struct StateCase {
    const char* pszName;
    int iMessages;        // in the mailbox; with more than one, deleting
    int iSteps;           // of Session before the server stops
    const char* pszExtra; // then the server says this much more
    int iStored;
    int iLines = 0; // line notifications before the server stops
};

void PrintTo(const StateCase& c, std::ostream* os) { *os << c.pszName; }

const StateCase kStates[] = {
    {"AwaitGreeting", 0, 0, "", 0},
    {"AwaitUser", 0, kAtUser, "", 0},
    {"AwaitPass", 0, kAtPass, "", 0},
    {"AwaitStat", 0, kAtStat, "", 0},
    {"AwaitUidl", 1, kAtUidl, "", 0},
    {"InsideTheUidlListing", 1, kAtUidl, "+OK\r\n1 a\r\n", 0},
    {"AwaitRetr", 1, kAtRetr, "", 0},
    {"InsideTheBody", 1, kAtRetr, "+OK\r\nline one\r\nline two\r\n", 0, 2},
    {"AwaitDele", 2, kAtRetr + 2, "", 1},
    {"AwaitQuit", 1, kAtRetr + 2, "", 1},
};

enum class Ending { Close, AbortNotify, AbortSilent };
const char* EndingName(Ending e)
{
    return e == Ending::Close ? "Closed" : e == Ending::AbortNotify ? "Notify" : "Silent";
}
void PrintTo(Ending e, std::ostream* os) { *os << EndingName(e); }

class Pop3States : public Pop3Scripted,
                   public ::testing::WithParamInterface<std::tuple<StateCase, Ending>> {};

// Closed by the server: the session fails (done at QUIT, all being
// handled), once.  Aborted: status aborted when notifying, nothing
// otherwise; nothing more is sent.  Messages stored before stay stored.
TEST_P(Pop3States, EndsTheSession)
{
    const StateCase& c = std::get<0>(GetParam());
    Ending ending = std::get<1>(GetParam());
    ScriptedServer server;
    auto steps = Session(c.iMessages, c.iMessages > 1);
    Play(server, steps, static_cast<std::size_t>(c.iSteps));
    if (*c.pszExtra)
        server.Say(c.pszExtra);
    if (ending == Ending::Close) {
        server.Close();
        RunClient(server, c.iMessages > 1);
        bool bQuitSent = c.iSteps > 0 && steps[c.iSteps - 1].second == "QUIT\r\n";
        EXPECT_EQ(rec.end.wParam, bQuitSent ? D : F);
        EXPECT_EQ(static_cast<int>(rec.Messages().size()), c.iStored);
        return;
    }
    server.Hold();
    ASSERT_TRUE(server.Start());
    client = std::make_unique<CPOP3>(&rec, Pop3Recorder::kMsg, 0, dir.Path().c_str());
    ASSERT_TRUE(
        client->RetrieveMail("127.0.0.1", server.Port(), "joe", "pw", "", c.iMessages > 1, 0));
    EXPECT_FALSE(client->RetrieveMail("127.0.0.1", server.Port(), "joe", "pw", "", false, 0))
        << "one session at a time";
    int iDone = c.iSteps + (*c.pszExtra ? 1 : 0);
    ASSERT_TRUE(PumpUntil([&] { return server.Connected() && server.StepsDone() >= iDone; }))
        << server.Report();
    // Let the client take in what the server said last.
    ASSERT_TRUE(PumpUntil([&] {
        return static_cast<int>(rec.Messages().size()) >= c.iStored && rec.Count(L) >= c.iLines;
    }));
    bool bNotify = ending == Ending::AbortNotify;
    client->Abort(bNotify);
    EXPECT_TRUE(client->IsIdle());
    EXPECT_TRUE(server.Finish()) << server.Report();
    fw::MessageLoop::DispatchPending();
    if (bNotify) {
        ASSERT_TRUE(PumpUntil([&] { return rec.bEnded; }));
        EXPECT_EQ(rec.end.wParam, CPOP3::NOTIFY_ABORTED);
        EXPECT_EQ(rec.end.lParam, 0);
    }
    EXPECT_EQ(rec.bEnded, bNotify);
    EXPECT_EQ(static_cast<int>(rec.Messages().size()), c.iStored);
    EXPECT_EQ(client->m_iLastError, 0);
    // A second abort does nothing.
    client->Abort(true);
    fw::MessageLoop::DispatchPending();
    EXPECT_EQ(rec.iEnds, bNotify ? 1 : 0);
    ExpectNoFilesLeft();
}

INSTANTIATE_TEST_SUITE_P(States, Pop3States,
                         ::testing::Combine(::testing::ValuesIn(kStates),
                                            ::testing::Values(Ending::Close, Ending::AbortNotify,
                                                              Ending::AbortSilent)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).pszName) + "_" +
                                    EndingName(std::get<1>(info.param));
                         });

TEST_F(Pop3Scripted, LookupAborted)
{
    // A lookup that does not finish until the test lets it (one that fails
    // takes ConnectionRefused's path).  The worker may outlive the test's
    // stack frame, so what it touches is static.
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

} // namespace
