// The main window without servers: its commands, the Autorun steps, Exit,
// saving and the reader.
#include "MainFixture.h"

#include "packet/PacketSave.h"

using testutil::Exists;
using testutil::ReadFile;

namespace {
class WMainTest : public MainFixture {
protected:
    // A reader that writes its argument count and arguments where ReaderArgs finds them.
    void UseReaderScript(const std::string& tmpl)
    {
        std::string reader =
            Script("reader.sh", "d=$(dirname \"$0\")\necho \"$#:$*\" > \"$d/a.tmp\"\n"
                                "mv \"$d/a.tmp\" \"$d/reader-args\"\n");
        pIni->WriteString("Directories", "QwkReader", "\"" + reader + "\"" + tmpl);
    }
    // What the reader was started with (waits for it), and forgets it.
    std::string ReaderArgs()
    {
        std::string path = tools.File("reader-args");
        EXPECT_TRUE(Pump([&] { return Exists(path); }));
        std::string args = ReadFile(path);
        ::unlink(path.c_str());
        return args;
    }
};
} // namespace

TEST_F(WMainTest, ProgressMessages)
{
    pMain->Send(fw::WM_QWK_PROGRESS, 0, 0); // no total yet
    EXPECT_EQ(view.statuses.back(), "Done!");
    EXPECT_EQ(view.progress.back(), 0);
    pMain->Send(fw::WM_QWK_PROGRESS, 0, 4);
    const char* text = "Saving 1 messages in conference email";
    pMain->Send(fw::WM_QWK_PROGRESS, 1, reinterpret_cast<fw::LPARAM>(text));
    EXPECT_EQ(view.statuses.back(), text);
    EXPECT_EQ(view.progress.back(), 25);
    for (int i = 2; i <= 5; ++i)
        pMain->Send(fw::WM_QWK_PROGRESS, i, reinterpret_cast<fw::LPARAM>(text));
    EXPECT_EQ(view.progress.back(), 100) << "clamped";
}

TEST_F(WMainTest, AutorunDisconnectsOnlyWhenEveryEnabledStepIsDone)
{
    pIni->WriteInt("Autorun", "AutoEmail", 1);
    pIni->WriteInt("Autorun", "AutoNews", 1);
    pMain->m_bAutorunRunning = true;
    pMain->AutorunStepDone(AUTORUN_NEWS);
    Drain();
    EXPECT_FALSE(Has(view.statuses, "Disconnecting from server . . ."));
    EXPECT_EQ(pMain->m_lAutorunProgress, 4);
    pMain->AutorunStepDone(AUTORUN_EMAIL);
    EXPECT_EQ(pMain->m_lAutorunProgress, 0);
    Drain();
    EXPECT_TRUE(Has(view.statuses, "Disconnecting from server . . ."));
}

TEST_F(WMainTest, AutorunWithNothingEnabledDoesNothing)
{
    pMain->OnCommand(CMD_AUTORUN);
    EXPECT_TRUE(pMain->m_bAutorunRunning);
    EXPECT_EQ(fw::MessageLoop::PendingMessages(), 0);
    EXPECT_TRUE(pMain->AutorunStalled());
    pMain->FinishStalledAutorun();
    EXPECT_EQ(FailureCount(), 1);
    EXPECT_NE(LastFailure().find("no step"), std::string::npos);
}

TEST_F(WMainTest, StalledStepsAreReportedAndWhatWasGatheredIsSaved)
{
    pIni->WriteInt("Autorun", "AutoNews", 1);
    pIni->WriteInt("Autorun", "AutoEmail", 1);
    Build({"/a"});
    GatherMail("kept");
    pMain->FinishStartup();
    Drain();
    // Connected without news; the e-mail step had no password and the news
    // step cannot run: nothing will ever finish the sequence.
    EXPECT_TRUE(pMain->m_bConnected);
    EXPECT_TRUE(pMain->m_bAutorunRunning);
    ASSERT_TRUE(pMain->AutorunStalled());
    pMain->FinishStalledAutorun();
    Drain();
    EXPECT_NE(LastFailure().find("e-mail news"), std::string::npos) << LastFailure();
    EXPECT_FALSE(pMain->m_bConnected);
    EXPECT_TRUE(pMain->Exited()) << "started with the autorun option: exits after saving";
    EXPECT_TRUE(Exists(CPacketSaver::DefaultQwkPath()));
    EXPECT_EQ(pMain->Messages(), nullptr);
}

TEST_F(WMainTest, ExitWhileConnectedAsksAndNoKeepsRunning)
{
    pMain->OnCommand(CMD_CONNECT);
    boxes.answers = {fw::IDNO};
    pMain->OnCommand(CMD_EXIT);
    EXPECT_FALSE(pMain->Exited());
    ASSERT_FALSE(boxes.boxes.empty());
    EXPECT_EQ(boxes.boxes.back().text, "Your connection is still active!\nExit anyways?");
    pIni->WriteInt("Mailtolvan", "Confirmation", 0);
    pMain->OnCommand(CMD_EXIT);
    EXPECT_TRUE(pMain->Exited());
}

TEST_F(WMainTest, ExitSavesGatheredMailFirstAndAsksAboutMovedPointers)
{
    GatherMail("saved on exit");
    pMain->OnCommand(CMD_EXIT);
    EXPECT_TRUE(pMain->Exited());
    EXPECT_EQ(pMain->Messages(), nullptr);
    EXPECT_TRUE(Exists(home.File("Tolvan.Qwk")));
    EXPECT_EQ(view.proposedPaths.size(), 1u) << "the save dialog proposed the default path";
    EXPECT_EQ(view.proposedPaths[0], home.File("Tolvan.Qwk"));
    EXPECT_TRUE(boxes.boxes.empty());
    // Without messages it asks only about pointers that moved.
    Build({});
    pMain->m_bPointersMoved = true;
    pMain->OnCommand(CMD_EXIT);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Save the current article pointers?");
}

TEST_F(WMainTest, SaveWithNothingGatheredReportsIt)
{
    pMain->OnCommand(CMD_SAVE);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "No messages have been retrieved.");
    EXPECT_EQ(boxes.boxes[0].caption, "ERROR!");
}

TEST_F(WMainTest, AutorunSaveRunsTheReaderThenExits)
{
    UseReaderScript(" %1");
    pIni->WriteInt("Autorun", "AutoReader", 1);
    Build({"/a"});
    GatherMail("for the reader");
    pMain->m_bAutorunRunning = true;
    pMain->OnCommand(CMD_SAVE);
    EXPECT_FALSE(pMain->m_bAutorunRunning);
    Drain();
    EXPECT_TRUE(pMain->Exited());
    EXPECT_EQ(ReaderArgs(), "1:" + home.File("Tolvan.Qwk") + "\n");
}

TEST_F(WMainTest, SaveAsCancelledSavesNothing)
{
    GatherMail("x");
    view.bCancelSave = true;
    pMain->OnCommand(CMD_SAVEAS);
    EXPECT_NE(pMain->Messages(), nullptr);
    view.bCancelSave = false;
    view.savePathAnswer = home.File("other name.qwk");
    pMain->OnCommand(CMD_SAVEAS);
    EXPECT_EQ(pMain->Messages(), nullptr);
    EXPECT_TRUE(Exists(home.File("other name.qwk")));
    EXPECT_EQ(pMain->m_szQwkPath, home.File("other name.qwk"));
}

TEST_F(WMainTest, ACommandWaitingForAPackerIsNotAStall)
{
    std::string packer = Script("slow-packer.sh", "sleep 0.3\nzip -q -j \"$1\" -@ < \"$2\"\n");
    // While the packer runs, the loop keeps dispatching; a stall check made
    // then must see the command still running.
    pIni->WriteString("Directories", "Packer", packer + " %1 %2");
    pIni->WriteInt("Autorun", "AutoEmail", 1);
    Build({"/a"});
    GatherMail("packed slowly");
    pMain->m_bAutorunRunning = true;
    bool bStalledSeen = false;
    QTimer probe;
    probe.setInterval(20);
    QObject::connect(&probe, &QTimer::timeout, [&] { bStalledSeen |= pMain->AutorunStalled(); });
    probe.start();
    pMain->OnCommand(CMD_SAVE);
    probe.stop();
    EXPECT_FALSE(bStalledSeen);
    EXPECT_EQ(pMain->Messages(), nullptr) << LastFailure();
}

TEST_F(WMainTest, WhenNoPacketCanBeMadeTheWorkFilesAreKept)
{
    BreakTheQwkDirectory();
    Build({"/a"});
    GatherMail("nowhere to go");
    pStartup->m_szHomeDir = home.File("blocker/home"); // the rescue packet fails too
    boxes.iDefaultAnswer = fw::IDNO;
    pMain->m_bAutorunRunning = true;
    pMain->OnCommand(CMD_SAVE);
    Drain();
    EXPECT_TRUE(pMain->Exited());
    EXPECT_NE(LastFailure().find("kept in"), std::string::npos) << LastFailure();
    ASSERT_EQ(Named("$WORK-kept-").size(), 1u);
    std::string kept = Named("$WORK-kept-")[0];
    EXPECT_FALSE(fw::ListDirectory(kept).empty()) << "the gathered message's files survive";
    pMain->DropMessages(); // as shutdown does: the records' files are elsewhere now
    EXPECT_FALSE(fw::ListDirectory(kept).empty());
}

TEST_F(WMainTest, APostingOnlyAutorunRunWithoutARepFileEndsOnlineWithoutAFailure)
{
    pIni->WriteInt("Autorun", "AutoPost", 1);
    for (bool bOption : {false, true}) {
        SCOPED_TRACE(bOption);
        Build(bOption ? std::vector<std::string>{"/a"} : std::vector<std::string>{});
        if (bOption)
            pMain->FinishStartup();
        else
            pMain->OnCommand(CMD_AUTORUN);
        Drain();
        EXPECT_TRUE(pMain->m_bConnected);
        EXPECT_EQ(pMain->m_lAutorunProgress, 0);
        EXPECT_EQ(FailureCount(), 0) << LastFailure();
        ASSERT_EQ(pMain->AutorunOverWithoutExit(), bOption) << "only with the autorun option";
    }
    pMain->EndAutorunRun();
    EXPECT_TRUE(pMain->Exited());
    EXPECT_EQ(FailureCount(), 0) << "nothing was left unsaved";
}

TEST_F(WMainTest, RunReaderWhileOnlineDoesNotSave)
{
    UseReaderScript(" %1");
    pMain->OnCommand(CMD_CONNECT);
    ASSERT_TRUE(pMain->m_bConnected);
    GatherMail("still arriving");
    pMain->OnCommand(CMD_RUNREADER);
    EXPECT_NE(pMain->Messages(), nullptr) << "the gathered messages stay while online";
    EXPECT_FALSE(Exists(home.File("Tolvan.Qwk")));
    EXPECT_TRUE(pMain->m_szQwkPath.empty());
    EXPECT_EQ(ReaderArgs(), "0:\n") << "no packet to name";

    // Offline the same command saves first and names the packet.
    pMain->OnCommand(CMD_DISCONNECT);
    pMain->OnCommand(CMD_RUNREADER);
    EXPECT_EQ(pMain->Messages(), nullptr);
    EXPECT_EQ(ReaderArgs(), "1:" + home.File("Tolvan.Qwk") + "\n");
    // A template without the placeholder names no packet.
    UseReaderScript("");
    pMain->OnCommand(CMD_RUNREADER);
    EXPECT_EQ(ReaderArgs(), "0:\n");
}

TEST_F(WMainTest, CommandsArrivingWhileThePacketIsWrittenWaitForIt)
{
    // The writer shows its progress by letting queued messages run; an Exit
    // queued then must not start a second save inside the first.
    GatherMail("one", 1);
    GatherMail("two", 2);
    GatherMail("three", 3);
    int iSaves = 0;
    pMain->OnMessage(fw::WM_QWK_PROGRESS, [&](fw::WPARAM wp, fw::LPARAM) {
        if (wp == 1 && iSaves++ == 0)
            pMain->PostCommand(CMD_EXIT);
        return 0;
    });
    pMain->OnCommand(CMD_SAVE);
    EXPECT_FALSE(pMain->Exited()) << "the Exit waited";
    EXPECT_EQ(pMain->Messages(), nullptr);
    Drain();
    EXPECT_TRUE(pMain->Exited());
    EXPECT_TRUE(boxes.boxes.empty()) << "nothing unsaved when the Exit ran";
}
