// The Email window's reactions to each event of the POP3 client.
#include "MainFixture.h"

#include "proto/CPOP3.h"
#include "session/WEmail.h"

namespace {

class EmailFixture : public MainFixture {
protected:
    void SetUp() override
    {
        MainFixture::SetUp();
        EmailOwner owner;
        owner.autorunRunning = [this] { return bAutorun; };
        owner.stepDone = [this] { ++iStepsDone; };
        owner.gone = [this] { ++iGone; };
        owner.mainProgress = [this](int p) { mainProgress.push_back(p); };
        owner.messages = [this]() -> Rfcmsg& { return pMain->GatherMessages(); };
        owner.spool = [this] { return pMain->Spool(); };
        owner.askPassword = [this](const std::string& title, std::string& pw) {
            return view.AskPassword(title, pw);
        };
        auto pView = std::make_unique<RecordingEmailView>();
        pEmailView = pView.get();
        pEmail = std::make_unique<WEmail>(owner, std::move(pView));
    }
    void TearDown() override
    {
        pEmail.reset();
        MainFixture::TearDown();
    }
    // Hands the window a retrieved message file as the client would.
    void Message(int iNumber, const std::string& headers)
    {
        record.iMessage = iNumber;
        record.strFile = pStartup->m_szSpoolDir + "/PWZ" + std::to_string(iNumber) + ".TMP";
        testutil::WriteFile(record.strFile, headers + "\r\nBody\r\n");
        std::string error; // as the client's keep check records it
        ASSERT_TRUE(pMain->Spool()->Add(record.strFile, "", true, error)) << error;
        pEmail->Send(fw::WM_POP3_EVENT, CPOP3::NOTIFY_MESSAGE,
                     reinterpret_cast<fw::LPARAM>(&record));
    }

    bool bAutorun = false;
    int iStepsDone = 0;
    int iGone = 0;
    std::vector<int> mainProgress;
    RecordingEmailView* pEmailView = nullptr;
    std::unique_ptr<WEmail> pEmail;
    CPOP3::NotifyRecord record;
};

} // namespace

TEST_F(EmailFixture, CountLinesMessagesTheEndAndANewCount)
{
    pEmail->Send(fw::WM_POP3_EVENT, CPOP3::NOTIFY_COUNT, 2);
    EXPECT_EQ(pEmailView->progress.back(), 1);
    for (int i = 0; i < 25; ++i)
        pEmail->Send(fw::WM_POP3_EVENT, CPOP3::NOTIFY_LINE, 0);
    EXPECT_EQ(pEmailView->statuses,
              (std::vector<std::string>{"2 new email messages", "Receiving 10 lines",
                                        "Receiving 20 lines"}))
        << "a status every 10th line only";

    Message(1, "From: " + std::string(30, 'f') + "\r\nSubject: First\r\nMessage-ID: <1@x>\r\n");
    EXPECT_EQ(pEmailView->progress.back(), 50);
    ASSERT_EQ(pEmailView->rows.size(), 1u);
    EXPECT_EQ(pEmailView->rows[0], "     1\t" + std::string(24, 'f') + "\tFirst");
    EXPECT_TRUE(testutil::Exists(record.strFile)) << "kept until a packet holds it";
    ASSERT_EQ(pMain->Spool()->Messages().size(), 1u);
    ASSERT_NE(pMain->Messages(), nullptr);
    EXPECT_TRUE(pMain->Messages()->NewMessages());
    EXPECT_EQ(pEmail->m_lLines, 0);

    Message(2, "From: b@x\r\nSubject: " + std::string(120, 's') + "\r\n");
    ASSERT_EQ(pEmailView->rows.size(), 2u) << "a message without Message-ID is kept";
    EXPECT_EQ(pEmailView->rows[1], "     2\tb@x\t" + std::string(99, 's'));
    EXPECT_EQ(pEmailView->progress.back(), 100);

    pEmail->Send(fw::WM_POP3_EVENT, CPOP3::NOTIFY_MESSAGE, 0);
    EXPECT_EQ(pEmailView->statuses.back(), "Done!");
    EXPECT_EQ(pEmailView->progress.back(), 0);
    EXPECT_EQ(iStepsDone, 0) << "no Autorun running";
    EXPECT_EQ(FailureCount(), 0);

    // A retrieval stopped in the middle of a message leaves its lines
    // counted; the next retrieval's first message counts from zero.
    for (int i = 0; i < 15; ++i)
        pEmail->Send(fw::WM_POP3_EVENT, CPOP3::NOTIFY_LINE, 0);
    pEmail->Stop();
    pEmail->Send(fw::WM_POP3_EVENT, CPOP3::NOTIFY_COUNT, 1);
    EXPECT_EQ(pEmail->m_lLines, 0);
    pEmailView->statuses.clear();
    for (int i = 0; i < 10; ++i)
        pEmail->Send(fw::WM_POP3_EVENT, CPOP3::NOTIFY_LINE, 0);
    EXPECT_EQ(pEmailView->statuses, std::vector<std::string>{"Receiving 10 lines"});
}

TEST_F(EmailFixture, FailuresShowTheirBoxesAndTheyOrAnEmptyMailboxEndTheStep)
{
    bAutorun = pMain->m_bAutorunRunning = true;
    for (int iStatus : {1, 2})
        pEmail->Send(fw::WM_POP3_EVENT, CPOP3::STATUS_FAILED, iStatus);
    ASSERT_EQ(boxes.boxes.size(), 2u) << "error boxes show during Autorun too";
    EXPECT_EQ(boxes.boxes[0].caption, "POP3 Connect Error");
    EXPECT_EQ(boxes.boxes[0].text, "Unknown user.");
    EXPECT_EQ(boxes.boxes[0].icon, fw::MbIcon::Exclamation);
    EXPECT_EQ(boxes.boxes[1].text, "Bad Password.");
    EXPECT_EQ(iStepsDone, 2);
    EXPECT_EQ(FailureCount(), 2);
    // An empty mailbox ends the step too, without a failure.
    pEmail->Send(fw::WM_POP3_EVENT, CPOP3::NOTIFY_COUNT, 0);
    pEmail->Send(fw::WM_POP3_EVENT, CPOP3::NOTIFY_MESSAGE, 0);
    EXPECT_EQ(pEmailView->statuses.back(), "You have no Email to retrieve");
    EXPECT_EQ(iStepsDone, 3);
    EXPECT_EQ(FailureCount(), 2);
}

TEST_F(EmailFixture, AbortStopAndDestruction)
{
    pEmail->Send(fw::WM_POP3_EVENT, CPOP3::STATUS_ABORTED, 0);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Email retrieval has been aborted!");
    EXPECT_EQ(boxes.boxes[0].caption, "Warning!");
    bAutorun = pMain->m_bAutorunRunning = true;
    pEmail->Send(fw::WM_POP3_EVENT, CPOP3::STATUS_ABORTED, 0);
    EXPECT_EQ(boxes.boxes.size(), 1u) << "notices are quiet during Autorun";
    pEmail->Stop();
    EXPECT_EQ(pEmailView->statuses.back(), "Email retrieval stopped!");
    EXPECT_EQ(pEmailView->progress.back(), 0);
    pEmail.reset(); // tells the main window
    EXPECT_EQ(iGone, 1);
    EXPECT_EQ(mainProgress.back(), 0);
}

TEST_F(EmailFixture, PasswordFromTheDialogWhenNotSavedAndAPortOutOfRange)
{
    pIni->WriteInt("Servers", "POP3SavePassword", 0);
    EXPECT_FALSE(pEmail->Start());
    EXPECT_EQ(view.passwordTitles, (std::vector<std::string>{"Email Password"}));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Aborting email retrieval.");
    view.passwordAnswer = "secret";
    int iFailures = FailureCount();
    pIni->WriteString("Servers", "POP3Server", "127.0.0.1");
    pIni->WriteInt("Servers", "POP3Port", 70000); // 70000 & 0xFFFF would be 4464
    EXPECT_TRUE(pEmail->Start());
    EXPECT_FALSE(pEmail->Busy()) << "no connection was tried";
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_NE(boxes.boxes[1].text.find("70000"), std::string::npos);
    EXPECT_EQ(FailureCount(), iFailures + 1);
    pIni->WriteInt("Servers", "POP3Port", 1); // nothing listens: the attempt fails at once
    EXPECT_TRUE(pEmail->Start());
    EXPECT_TRUE(Pump([&] { return !pEmail->Busy(); }));
}
