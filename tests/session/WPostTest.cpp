// The posting window: rows and progress, refusals, a news reply without a
// news server, Stop and resume, and what becomes of the REP file and the
// ledger at the end (parts and later runs: the headless posting test).
#include "ClientHarness.h"
#include "LooseServer.h"
#include "RecordingMessageBox.h"
#include "RepMaker.h"
#include "TestUtil.h"

#include "compose/WSend.h"
#include "core/Services.h"
#include "core/TnIni.h"
#include "framework/MessageBox.h"
#include "packet/RepPacket.h"
#include "session/WPost.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

class RecordingPostView : public IPostView {
public:
    void SetStatus(const std::string& text) override { statuses.push_back(text); }
    void SetProgress(int iPercent) override { progress.push_back(iPercent); }
    void AddRow(const std::string& row) override { rows.push_back(row); }
    std::vector<std::string> statuses, rows;
    std::vector<int> progress;
};

testrep::Reply Mail(const std::string& to, const std::string& subject)
{
    testrep::Reply r;
    r.to = to;
    r.subject = subject;
    r.lines = {"Hello"};
    return r;
}

testrep::Reply News(const std::string& groups, const std::string& subject)
{
    testrep::Reply r;
    r.status = ' ';
    r.number = "5";
    r.subject = subject;
    r.lines = {"Newsgroups: " + groups, "", "An article"};
    return r;
}

class Post : public ::testing::Test {
protected:
    void SetUp() override
    {
        prototest::EnsureWinsock();
        fw::SetMessageBoxService(&boxes);
        ResetFailures();
        ::mkdir(work.c_str(), 0700);
        testutil::WriteFile(repPath, "the REP file");
    }
    void TearDown() override { fw::SetMessageBoxService(nullptr); }

    void Load(const std::vector<testrep::Reply>& replies)
    {
        testutil::WriteFile(work + "/T.MSG", testrep::MessageFile("TOLVAN", replies));
        RepReadOptions options;
        options.repWorkDir = work;
        rep = std::make_unique<Repfile>(work + "/T.MSG", "", options, "Tolvan");
        std::string error;
        ASSERT_TRUE(ledger.Load(error));
        MarkSentFromLedger(*rep, ledger);
    }
    SendSettings Settings(const LooseServer& server) const
    {
        SendSettings s;
        s.server = "127.0.0.1";
        s.iPort = server.Port();
        s.senderAddress = "me@host.test";
        s.senderName = "Me";
        s.workDir = work;
        s.iPostSize = iPostSize;
        return s;
    }
    std::unique_ptr<WPost> Open()
    {
        PostOwner o;
        o.autorunRunning = [this] { return bAutorun; };
        o.stepDone = [this] { ++iStepDone; };
        o.enableOpen = [this](bool b) { bOpenEnabled = b; };
        o.repfile = [this] { return rep.get(); };
        o.ledger = [this] { return &ledger; };
        o.repPath = [this] { return repPath; };
        o.dropRepfile = [this] { rep.reset(); };
        o.mailSettings = [this] { return Settings(smtp); };
        o.newsSettings = [this] {
            SendSettings s = Settings(nntp);
            if (!bNewsServer)
                s.server.clear();
            return s;
        };
        auto view = std::make_unique<RecordingPostView>();
        pView = view.get();
        return std::make_unique<WPost>(o, std::move(view));
    }
    bool WaitDone(WPost& w)
    {
        return prototest::PumpUntil([&] { return w.Finished(); }, 20000);
    }

    testutil::TempDir dir;
    std::string work = dir.File("REPWORK");
    std::string repPath = dir.File("Tolvan.Rep");
    RepLedger ledger{dir.File("sent-replies.lst")};
    std::unique_ptr<Repfile> rep;
    LooseServer smtp{LooseServer::SMTP};
    LooseServer nntp{LooseServer::NNTP};
    RecordingMessageBox boxes;
    RecordingPostView* pView = nullptr;
    bool bAutorun = true, bNewsServer = true, bOpenEnabled = false;
    int iStepDone = 0;
    int iPostSize = 0;
};

TEST_F(Post, RowsProgressAndAFinishedPacket)
{
    Load({Mail("a@x, b@x", "One"), Mail("c@x", "Two"), News("local.a,local.b", "Three")});
    auto w = Open();
    ASSERT_TRUE(WaitDone(*w));
    EXPECT_EQ(pView->rows,
              (std::vector<std::string>{"     1\ta@x\tOne", "     1\tb@x\tOne", "     2\tc@x\tTwo",
                                        "     3\tlocal.a\tThree", "     3\tlocal.b\tThree"}));
    std::vector<int> shares;
    for (int p : pView->progress)
        if (p != 0)
            shares.push_back(p);
    EXPECT_EQ(shares, (std::vector<int>{33, 66, 100}));
    EXPECT_EQ(pView->statuses.back(), "Done!");
    EXPECT_EQ(smtp.Messages().size(), 2u);
    ASSERT_EQ(nntp.Messages().size(), 1u);
    EXPECT_NE(nntp.Messages()[0].find("Newsgroups: local.a,local.b\n"), std::string::npos);
    EXPECT_EQ(rep, nullptr);
    EXPECT_FALSE(testutil::Exists(repPath));
    EXPECT_FALSE(testutil::Exists(ledger.Path())); // nothing left to remember
    EXPECT_EQ(iStepDone, 1);
    EXPECT_TRUE(bOpenEnabled);
    EXPECT_EQ(FailureCount(), 0);
}

TEST_F(Post, ARefusedRecipientAndNoNewsServerKeepTheRepFile)
{
    bNewsServer = false;
    Load({Mail("ok@x, reject@x", "Refused"), News("local.a", "Skipped"), Mail("c@x", "Fine")});
    auto w = Open();
    ASSERT_TRUE(WaitDone(*w));
    EXPECT_EQ(std::count(pView->statuses.begin(), pView->statuses.end(), "Skipping news post"), 1);
    ASSERT_EQ(smtp.Messages().size(), 1u);
    EXPECT_NE(smtp.Messages()[0].find("Subject: Fine"), std::string::npos);
    ASSERT_FALSE(boxes.boxes.empty());
    EXPECT_EQ(boxes.boxes[0].caption, "SMTP send Error");
    EXPECT_EQ(boxes.boxes[0].text, "550 5.1.1 <reject@x>: recipient refused");
    EXPECT_TRUE(testutil::Exists(repPath));
    EXPECT_EQ(FailureCount(), 1);
    EXPECT_NE(LastFailure().find("reply 1 (mail to ok@x, reject@x, \"Refused\"): the server did "
                                 "not take it: 550"),
              std::string::npos)
        << LastFailure();
    EXPECT_NE(LastFailure().find("reply 2 (news to local.a, \"Skipped\"): no news server"),
              std::string::npos);
    EXPECT_EQ(LastFailure().find("reply 3"), std::string::npos);
}

TEST_F(Post, StopAndResumeSendTheSameReplyAgainFromItsStart)
{
    Load({Mail("a@x", "First"), Mail("b@x", "Second")});
    smtp.bHold = true;
    auto w = Open();
    ASSERT_TRUE(prototest::PumpUntil([&] { return smtp.Held() == 1; }));
    w->Stop();
    EXPECT_EQ(pView->statuses.back(), "Message posting stopped!");
    smtp.bHold = false;
    smtp.Release();
    fw::MessageLoop::PumpUntil([] { return false; }, 100);
    EXPECT_TRUE(smtp.Messages().empty()); // the client had gone
    EXPECT_FALSE(w->Finished());
    EXPECT_NE(rep, nullptr);
    w->SendCurrent();
    ASSERT_TRUE(WaitDone(*w));
    auto msgs = smtp.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_NE(msgs[0].find("Subject: First"), std::string::npos);
    EXPECT_NE(msgs[1].find("Subject: Second"), std::string::npos);
    EXPECT_FALSE(testutil::Exists(repPath));
}

// The news server's security settings reach the posting client: with
// encryption required, a server without it gets no article.
TEST_F(Post, NewsRequiringEncryptionIsNotPostedToAServerWithoutIt)
{
    TnIni ini(dir.File("TOLVAN.INI"));
    ini.WriteString("Servers", "NNTPSecurity", "starttls");
    g_pIni = &ini;
    struct Reset {
        ~Reset() { g_pIni = nullptr; }
    } reset;
    Load({News("local.a", "Private"), Mail("c@x", "Fine")});
    auto w = Open();
    ASSERT_TRUE(WaitDone(*w));
    EXPECT_TRUE(nntp.Messages().empty());
    EXPECT_EQ(smtp.Messages().size(), 1u);
    EXPECT_TRUE(testutil::Exists(repPath));
    EXPECT_NE(LastFailure().find("reply 1 (news to local.a, \"Private\")"), std::string::npos)
        << LastFailure();
    EXPECT_NE(LastFailure().find("encryption"), std::string::npos) << LastFailure();
}

// A reply in parts, stopped after its first part was taken: the next run
// sends the rest only, and the parts still make one message (one boundary).
// A run that cuts the reply otherwise (another part size) sends all of its
// parts: a part of the old cut is not one of the new.
TEST_F(Post, PartsTakenBeforeAStopAreNotSentAgainByTheNextRun)
{
    std::string bytes;
    for (int i = 0; i < 3000; ++i)
        bytes += static_cast<char>(i * 7919 % 251);
    auto loadWithAttachment = [&] {
        Load({Mail("a@x", "Big")}); // the reply it replaces deleted its unpacked file
        testutil::WriteFile(dir.File("ATTACH.BIN"), bytes);
        rep->All()[0]->m_szAttachPath = dir.File("ATTACH.BIN");
        rep->All()[0]->m_szAttachName = "a.bin";
    };
    for (int iNextSize : {1, 2}) {
        SCOPED_TRACE(iNextSize);
        std::size_t first = smtp.Messages().size();
        int iHeld = smtp.Held();
        iPostSize = 1;
        loadWithAttachment();
        smtp.bHold = true;
        auto w = Open();
        ASSERT_TRUE(prototest::PumpUntil([&] { return smtp.Held() == iHeld + 1; }));
        smtp.Release();
        ASSERT_TRUE(prototest::PumpUntil([&] { return smtp.Held() == iHeld + 2; }));
        w->Stop();
        smtp.bHold = false;
        smtp.Release();
        w.reset();
        ASSERT_EQ(smtp.Messages().size(), first + 1);

        iPostSize = iNextSize;
        loadWithAttachment(); // a new run reads the ledger from its file
        w = Open();
        ASSERT_TRUE(WaitDone(*w));
        auto all = smtp.Messages();
        std::vector<std::string> msgs(all.begin() + first + (iNextSize == 1 ? 0 : 1), all.end());
        std::size_t total = msgs.size();
        ASSERT_GE(total, 2u);
        std::size_t b = msgs[0].find("boundary=\"");
        ASSERT_NE(b, std::string::npos);
        std::string boundary = msgs[0].substr(b + 10, msgs[0].find('"', b + 10) - b - 10);
        for (std::size_t n = 1; n <= total; ++n) {
            std::string subject =
                "Subject: Big - a.bin [" + std::to_string(n) + "/" + std::to_string(total) + "]\n";
            EXPECT_NE(msgs[n - 1].find(subject), std::string::npos) << msgs[n - 1].substr(0, 300);
        }
        EXPECT_NE(msgs.back().find("--" + boundary + "--"), std::string::npos);
        EXPECT_FALSE(testutil::Exists(ledger.Path())); // the parts are forgotten with the reply
    }
}

TEST_F(Post, EverythingSentBeforeMeansNothingToPost)
{
    Load({Mail("a@x", "Old")});
    std::string error;
    ASSERT_TRUE(ledger.Record(rep->All()[0]->m_szIdentity, error));
    Load({Mail("a@x", "Old")});
    auto w = Open();
    EXPECT_TRUE(w->Finished());
    EXPECT_EQ(pView->statuses.back(), "Nothing to post!");
    EXPECT_TRUE(smtp.Messages().empty());
    EXPECT_FALSE(testutil::Exists(repPath)); // every reply is sent: the file goes
    EXPECT_EQ(iStepDone, 1);
}

} // namespace
