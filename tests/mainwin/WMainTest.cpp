#include "MainFixture.h"

#include "framework/Files.h"
#include "mainwin/Commands.h"
#include "packet/PacketSave.h"

#include <QTimer>

#include <sys/stat.h>

#include <algorithm>

using testutil::Exists;

namespace {
bool Contains(const std::vector<std::string>& v, const std::string& s)
{
    return std::find(v.begin(), v.end(), s) != v.end();
}
} // namespace

TEST_F(MainFixture, StartsOfflineWithTheSortCheckFromSettings)
{
    pIni->WriteInt("Articles", "Sort", 2);
    Build({});
    EXPECT_TRUE(view.checked[CMD_SORTFROM]);
    EXPECT_FALSE(view.checked[CMD_SORTNUMBER]);
    EXPECT_TRUE(view.enabled[CMD_CONNECT]);
    EXPECT_TRUE(view.enabled[CMD_SAVE]);
    EXPECT_FALSE(view.enabled[CMD_DISCONNECT]);
    EXPECT_FALSE(view.enabled[CMD_GETMAIL]);
}

TEST_F(MainFixture, ConnectWithoutNewsThenDisconnect)
{
    pMain->OnCommand(CMD_CONNECT);
    EXPECT_TRUE(pMain->m_bConnected);
    EXPECT_TRUE(view.bConnectPressed);
    EXPECT_TRUE(view.enabled[CMD_GETMAIL]);
    EXPECT_TRUE(view.enabled[CMD_STOP]);
    EXPECT_TRUE(view.enabled[CMD_POST]);
    EXPECT_FALSE(view.enabled[CMD_SAVE]);
    EXPECT_FALSE(view.enabled[CMD_CONNECT]);
    EXPECT_FALSE(view.enabled[CMD_AUTORUN]);
    EXPECT_TRUE(view.enabled[CMD_DISCONNECT]);
    EXPECT_EQ(FailureCount(), 0);

    pMain->OnCommand(CMD_CONNECT); // while connected it disconnects
    EXPECT_FALSE(pMain->m_bConnected);
    EXPECT_FALSE(view.bConnectPressed);
    EXPECT_TRUE(view.enabled[CMD_SAVE]);
    EXPECT_TRUE(view.enabled[CMD_CONNECT]);
    EXPECT_FALSE(view.enabled[CMD_GETMAIL]);
    EXPECT_TRUE(Contains(view.statuses, "Disconnecting from server . . ."));
    EXPECT_EQ(view.statuses.back(), "Disconnected from ");
}

TEST_F(MainFixture, ProgressMessages)
{
    pMain->Send(fw::WM_QWK_PROGRESS, 0, 0); // no total yet
    EXPECT_EQ(view.statuses.back(), "Done!");
    EXPECT_EQ(view.progress.back(), 0);
    pMain->Send(fw::WM_QWK_PROGRESS, 0, 4);
    const char* text = "Saving 1 messages in conference email";
    pMain->Send(fw::WM_QWK_PROGRESS, 1, reinterpret_cast<fw::LPARAM>(text));
    EXPECT_EQ(view.statuses.back(), text);
    EXPECT_EQ(view.progress.back(), 25);
    pMain->Send(fw::WM_QWK_PROGRESS, 2, reinterpret_cast<fw::LPARAM>(text));
    pMain->Send(fw::WM_QWK_PROGRESS, 3, reinterpret_cast<fw::LPARAM>(text));
    pMain->Send(fw::WM_QWK_PROGRESS, 4, reinterpret_cast<fw::LPARAM>(text));
    pMain->Send(fw::WM_QWK_PROGRESS, 5, reinterpret_cast<fw::LPARAM>(text));
    EXPECT_EQ(view.progress.back(), 100) << "clamped";
}

TEST_F(MainFixture, AutorunDisconnectsOnlyWhenEveryEnabledStepIsDone)
{
    pIni->WriteInt("Autorun", "AutoEmail", 1);
    pIni->WriteInt("Autorun", "AutoNews", 1);
    pMain->m_bAutorunRunning = true;
    pMain->AutorunStepDone(AUTORUN_NEWS);
    Drain();
    EXPECT_FALSE(Contains(view.statuses, "Disconnecting from server . . ."));
    EXPECT_EQ(pMain->m_lAutorunProgress, 4);
    pMain->AutorunStepDone(AUTORUN_EMAIL);
    EXPECT_EQ(pMain->m_lAutorunProgress, 0);
    Drain();
    EXPECT_TRUE(Contains(view.statuses, "Disconnecting from server . . ."));
}

TEST_F(MainFixture, AutorunWithNothingEnabledDoesNothing)
{
    pMain->OnCommand(CMD_AUTORUN);
    EXPECT_TRUE(pMain->m_bAutorunRunning);
    EXPECT_EQ(fw::MessageLoop::PendingMessages(), 0);
    EXPECT_TRUE(pMain->AutorunStalled());
    pMain->FinishStalledAutorun();
    EXPECT_EQ(FailureCount(), 1);
    EXPECT_NE(LastFailure().find("no step"), std::string::npos);
}

TEST_F(MainFixture, StalledStepsAreReportedAndWhatWasGatheredIsSaved)
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

TEST_F(MainFixture, ExitWhileConnectedAsksAndNoKeepsRunning)
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

TEST_F(MainFixture, ExitWithUnsavedMailThatCannotBeSavedAsks)
{
    GatherMail("unsaved");
    // A QWK directory that cannot exist: the save fails and the mail stays.
    testutil::WriteFile(home.File("blocker"), "");
    pIni->WriteString("Directories", "Qwk", home.File("blocker/sub"));
    boxes.answers = {fw::IDNO};
    pMain->OnCommand(CMD_EXIT);
    EXPECT_FALSE(pMain->Exited());
    ASSERT_NE(pMain->Messages(), nullptr) << "the messages are kept";
    EXPECT_EQ(boxes.boxes.back().text, "You have unsaved Email messages!\nExit without saving?");
    pMain->Messages()->SetNewMessages(false);
    boxes.answers = {fw::IDYES};
    pMain->OnCommand(CMD_EXIT);
    EXPECT_EQ(boxes.boxes.back().text, "You have unsaved messages!\nExit without saving?");
    EXPECT_TRUE(pMain->Exited());
}

TEST_F(MainFixture, ExitSavesGatheredMailFirst)
{
    GatherMail("saved on exit");
    pMain->OnCommand(CMD_EXIT);
    EXPECT_TRUE(pMain->Exited());
    EXPECT_EQ(pMain->Messages(), nullptr);
    EXPECT_TRUE(Exists(home.File("Tolvan.Qwk")));
    EXPECT_EQ(view.proposedPaths.size(), 1u) << "the save dialog proposed the default path";
    EXPECT_EQ(view.proposedPaths[0], home.File("Tolvan.Qwk"));
}

TEST_F(MainFixture, ExitWithoutMessagesAsksAboutPointersOnlyWhenTheyMoved)
{
    pMain->OnCommand(CMD_EXIT);
    EXPECT_TRUE(pMain->Exited());
    EXPECT_TRUE(boxes.boxes.empty());
    Build({});
    pMain->m_bPointersMoved = true;
    pMain->OnCommand(CMD_EXIT);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Save the current article pointers?");
}

TEST_F(MainFixture, SaveWithNothingGatheredReportsIt)
{
    pMain->OnCommand(CMD_SAVE);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "No messages have been retrieved.");
    EXPECT_EQ(boxes.boxes[0].caption, "ERROR!");
}

TEST_F(MainFixture, AutorunSaveRunsTheReaderThenExits)
{
    testutil::WriteFile(home.File("reader.sh"),
                        "#!/bin/sh\nd=$(dirname \"$0\")\necho \"$@\" > \"$d/args.tmp\"\n"
                        "mv \"$d/args.tmp\" \"$d/reader-args\"\n"); // whole or not at all
    ::chmod(home.File("reader.sh").c_str(), 0755);
    pIni->WriteString("Directories", "QwkReader", "\"" + home.File("reader.sh") + "\" %1");
    pIni->WriteInt("Autorun", "AutoReader", 1);
    Build({"/a"});
    GatherMail("for the reader");
    pMain->m_bAutorunRunning = true;
    pMain->OnCommand(CMD_SAVE);
    EXPECT_FALSE(pMain->m_bAutorunRunning);
    Drain();
    EXPECT_TRUE(pMain->Exited());
    ASSERT_TRUE(
        fw::MessageLoop::PumpUntil([&] { return Exists(home.File("reader-args")); }, 10000));
    EXPECT_EQ(testutil::ReadFile(home.File("reader-args")), home.File("Tolvan.Qwk") + "\n");
}

TEST_F(MainFixture, SaveAsCancelledSavesNothing)
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

TEST_F(MainFixture, ACommandWaitingForAPackerIsNotAStall)
{
    testutil::TempDir tools;
    std::string packer = tools.File("slow-packer.sh");
    testutil::WriteFile(packer, "#!/bin/sh\nsleep 0.3\nzip -q -j \"$1\" -@ < \"$2\"\n");
    ::chmod(packer.c_str(), 0755);
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

TEST_F(MainFixture, WhenNoPacketCanBeMadeTheWorkFilesAreKept)
{
    testutil::WriteFile(home.File("blocker"), "");
    pIni->WriteString("Directories", "Qwk", home.File("blocker/sub"));
    Build({"/a"});
    GatherMail("nowhere to go");
    pStartup->m_szHomeDir = home.File("blocker/home"); // the rescue packet fails too
    boxes.iDefaultAnswer = fw::IDNO;
    pMain->m_bAutorunRunning = true;
    pMain->OnCommand(CMD_SAVE);
    Drain();
    EXPECT_TRUE(pMain->Exited());
    EXPECT_NE(LastFailure().find("kept in"), std::string::npos) << LastFailure();
    std::string kept;
    for (const std::string& name : fw::ListDirectory(home.Path()))
        if (name.rfind("$WORK-kept-", 0) == 0)
            kept = home.File(name);
    ASSERT_FALSE(kept.empty());
    EXPECT_FALSE(fw::ListDirectory(kept).empty()) << "the gathered message's files survive";
    pMain->DropMessages(); // as shutdown does: the records' files are elsewhere now
    EXPECT_FALSE(fw::ListDirectory(kept).empty());
}

TEST_F(MainFixture, APostingOnlyAutorunRunEndsOnline)
{
    pIni->WriteInt("Autorun", "AutoPost", 1);
    Build({"/a"});
    pMain->FinishStartup();
    Drain();
    EXPECT_TRUE(pMain->m_bConnected);
    ASSERT_TRUE(pMain->AutorunOverWithoutExit());
    int iFailures = FailureCount();
    pMain->EndAutorunRun();
    EXPECT_TRUE(pMain->Exited());
    EXPECT_EQ(FailureCount(), iFailures) << "nothing was left unsaved";
}

TEST_F(MainFixture, RunReaderWhileOnlineDoesNotSave)
{
    testutil::WriteFile(home.File("reader.sh"),
                        "#!/bin/sh\necho \"$#\" > \"$(dirname \"$0\")/reader-args\"\n");
    ::chmod(home.File("reader.sh").c_str(), 0755);
    pIni->WriteString("Directories", "QwkReader", "\"" + home.File("reader.sh") + "\" %1");
    pMain->OnCommand(CMD_CONNECT);
    ASSERT_TRUE(pMain->m_bConnected);
    GatherMail("still arriving");
    pMain->OnCommand(CMD_RUNREADER);
    EXPECT_NE(pMain->Messages(), nullptr) << "the gathered messages stay while online";
    EXPECT_FALSE(Exists(home.File("Tolvan.Qwk")));
    EXPECT_TRUE(pMain->m_szQwkPath.empty());
    ASSERT_TRUE(fw::MessageLoop::PumpUntil(
        [&] { return !testutil::ReadFile(home.File("reader-args")).empty(); }, 10000));
    EXPECT_EQ(testutil::ReadFile(home.File("reader-args")), "0\n") << "no packet to name";

    // Offline the same command saves first and names the packet.
    pMain->OnCommand(CMD_DISCONNECT);
    ::unlink(home.File("reader-args").c_str());
    pMain->OnCommand(CMD_RUNREADER);
    EXPECT_EQ(pMain->Messages(), nullptr);
    EXPECT_TRUE(Exists(home.File("Tolvan.Qwk")));
    ASSERT_TRUE(fw::MessageLoop::PumpUntil(
        [&] { return !testutil::ReadFile(home.File("reader-args")).empty(); }, 10000));
    EXPECT_EQ(testutil::ReadFile(home.File("reader-args")), "1\n");
}

TEST_F(MainFixture, CommandsArrivingWhileThePacketIsWrittenWaitForIt)
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
