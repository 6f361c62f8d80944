// Saving never costs mail: an unattended save never replaces a packet, a
// packer that fails leaves the old packet and the messages, a failed save
// is never taken as consent to drop the mail, the reader is not started
// after a failed save, and an empty mailbox is no failure. (A read-only
// settings file: tests/app's UnattendedRun.)
#include "MainFixture.h"

#include "framework/Files.h"
#include "packet/PacketSave.h"

#include <unistd.h>

using testutil::ReadFile;
using testutil::WriteFile;

namespace {
const char* const kNoReader = "There was an error executing the external program.";
using SafeSave = MainFixture;
} // namespace

// Two runs in a row: tests/app's UnattendedRun; here every letter is taken.
TEST_F(SafeSave, AnUnattendedSaveNeverReplacesAPacketWhateverOverwriteQwkSays)
{
    ASSERT_EQ(pIni->GetInt("Directories", "OverwriteQwk", 0), 1);
    WriteFile(home.File("Tolvan.Qwk"), "unread");
    for (char c = 'a'; c <= 'y'; ++c)
        WriteFile(home.File(std::string("Tolvan.Qw") + c), "unread");
    WriteFile(home.File("Tolvan-2.Qwk"), "unread");
    GatherMail("twenty-seventh run");
    AutorunSave();
    EXPECT_EQ(ReadFile(home.File("Tolvan.Qwk")), "unread");
    EXPECT_EQ(ReadFile(home.File("Tolvan.Qwy")), "unread");
    EXPECT_EQ(ReadFile(home.File("Tolvan-2.Qwk")), "unread");
    EXPECT_EQ(ReadFile(home.File("Tolvan-3.Qwk")).substr(0, 2), "PK");
    EXPECT_EQ(pMain->Messages(), nullptr);
}

TEST_F(SafeSave, AnUnattendedCopyNeverOverwritesThePacketInTheReadersDirectory)
{
    ASSERT_TRUE(fw::MakeDirectories(workDir + "/WORK"));
    WriteFile(workDir + "/WORK/control.dat", "unread");
    // The reader ended normally, or it may still be running: either way its
    // packet stays, and the new one becomes a QWK file.
    for (bool bEnded : {true, false}) {
        SCOPED_TRACE(bEnded);
        UseReader(bEnded);
        pMain->m_szQwkPath.clear();
        GatherMail("while the reader has one");
        AutorunSave();
        EXPECT_EQ(ReadFile(workDir + "/WORK/control.dat"), "unread");
        EXPECT_EQ(pMain->Messages(), nullptr);
    }
    EXPECT_EQ(ReadFile(home.File("Tolvan.Qwk")).substr(0, 2), "PK");
    EXPECT_EQ(ReadFile(home.File("Tolvan.Qwa")).substr(0, 2), "PK");
    EXPECT_EQ(Questions(), 0);
}

TEST(UniqueQwkName, GoesOnWithNumbersAndCountsDanglingLinksAsTaken)
{
    testutil::TempDir dir;
    WriteFile(dir.File("Home"), "");
    EXPECT_EQ(CPacketSaver::UniqueQwkName(dir.File("Home")), dir.File("Home-2"));
    ASSERT_EQ(::symlink("/nonexistent", dir.File("Home.Qwa").c_str()), 0);
    EXPECT_EQ(CPacketSaver::UniqueQwkName(dir.File("Home.Qwk")), dir.File("Home.Qwb"));
}

TEST_F(SafeSave, AFailingPackerLeavesTheOldPacketAndTheMessages)
{
    // The packer writes its output where it is told, then fails; or claims
    // success without a packet; or leaves an empty one.
    for (const std::string body :
         {"echo half > \"$1\"\nexit 3\n", "exit 0\n", ": > \"$1\"\n", "kill -9 $$\n"}) {
        SCOPED_TRACE(body);
        WriteFile(home.File("Tolvan.Qwk"), "old packet");
        pIni->WriteString("Directories", "Packer", Script("packer.sh", body) + " %1 %2");
        if (!pMain->Messages())
            GatherMail("kept");
        int iFailures = FailureCount();
        pMain->OnCommand(CMD_SAVE);
        EXPECT_EQ(ReadFile(home.File("Tolvan.Qwk")), "old packet");
        EXPECT_NE(pMain->Messages(), nullptr);
        EXPECT_EQ(FailureCount(), iFailures + 1);
        for (const std::string& name : fw::ListDirectory(home.Path()))
            EXPECT_EQ(name.find(".Tolvan.Qwk"), std::string::npos) << "left behind: " << name;
    }
    // A packer that cannot be started is told as such.
    pIni->WriteString("Directories", "Packer", "/no/such/packer %1 %2");
    pMain->OnCommand(CMD_SAVE);
    EXPECT_EQ(boxes.boxes.back().text, kNoReader);
    EXPECT_NE(pMain->Messages(), nullptr);
    // A packer that works replaces the old packet with its own.
    pIni->WriteString("Directories", "Packer",
                      Script("packer.sh", "zip -q -j \"$1\" -@ < \"$2\"\n") + " %1 %2");
    pMain->OnCommand(CMD_SAVE);
    EXPECT_EQ(ReadFile(home.File("Tolvan.Qwk")).substr(0, 2), "PK");
    EXPECT_EQ(pMain->Messages(), nullptr);
}

TEST_F(SafeSave, WithConfirmationOffTheUserIsStillAskedBeforeUnsavedMailIsDropped)
{
    pIni->WriteInt("Mailtolvan", "Confirmation", 0);
    BreakTheQwkDirectory();
    GatherMail("unsaved");
    boxes.answers = {fw::IDNO};
    pMain->OnCommand(CMD_EXIT);
    EXPECT_FALSE(pMain->Exited());
    EXPECT_NE(pMain->Messages(), nullptr);
    EXPECT_TRUE(Shown("You have unsaved Email messages!\nExit without saving?"));

    // Closing the window while an Autorun sequence is online asks as well.
    pMain->OnCommand(CMD_CONNECT);
    pMain->m_bAutorunRunning = true;
    int iAsked = Questions();
    boxes.answers = {fw::IDNO};
    pMain->Post(fw::WM_CLOSE_REQUEST);
    Drain();
    EXPECT_EQ(Questions(), iAsked + 1);
    EXPECT_FALSE(pMain->Exited());
    EXPECT_NE(pMain->Messages(), nullptr);

    pMain->Messages()->SetNewMessages(false);
    boxes.answers = {fw::IDYES};
    pMain->OnCommand(CMD_EXIT);
    EXPECT_TRUE(Shown("You have unsaved messages!\nExit without saving?"));
    EXPECT_TRUE(pMain->Exited()) << "a real Yes lets the mail go";
}

TEST_F(SafeSave, AFailedAutorunSaveKeepsTheMailWhateverConfirmationSaysAndStartsNoReader)
{
    // Nor is the reader started, on no packet or yesterday's.
    pIni->WriteString("Directories", "QwkReader", "/no/such/reader %1");
    pIni->WriteInt("Autorun", "AutoReader", 1);
    WriteFile(home.File("Tolvan.Qwk"), "yesterday's packet");
    for (int iConfirm : {1, 0}) {
        SCOPED_TRACE(iConfirm);
        pIni->WriteInt("Mailtolvan", "Confirmation", iConfirm);
        pIni->WriteInt("Autorun", "AutoEmail", 1);
        BreakTheQwkDirectory();
        Build({"/a"});
        GatherMail("rescued");
        // Its exit has nobody to ask; a Yes it took for consent would drop the mail.
        boxes.iDefaultAnswer = fw::IDYES;
        pMain->m_bAutorunRunning = true;
        pMain->OnCommand(CMD_SAVE);
        int iFailures = FailureCount(); // the save's own; its exit tells where the mail went
        Drain();
        EXPECT_TRUE(pMain->Exited());
        EXPECT_FALSE(Shown(kNoReader));
        EXPECT_EQ(Questions(), 0);
        EXPECT_EQ(FailureCount(), iFailures + 1);
        EXPECT_NE(LastFailure().find("could not be saved"), std::string::npos) << LastFailure();
        EXPECT_EQ(pMain->Messages(), nullptr);
        std::vector<std::string> rescued = Named("Tolvan-unsaved-");
        ASSERT_EQ(rescued.size(), 1u) << LastFailure();
        EXPECT_NE(LastFailure().find(fw::BaseName(rescued[0])), std::string::npos) << LastFailure();
        EXPECT_EQ(ReadFile(rescued[0]).substr(0, 2), "PK");
        ::unlink(rescued[0].c_str());
    }
}

TEST_F(SafeSave, TheReaderIsNotStartedAfterAFailedSave)
{
    // A reader that cannot start says so in a box: the box tells whether a
    // start was attempted, without waiting for a process.
    pIni->WriteString("Directories", "QwkReader", "/no/such/reader %1");
    BreakTheQwkDirectory();
    GatherMail("not for the reader yet");
    pMain->OnCommand(CMD_RUNREADER);
    EXPECT_FALSE(Shown(kNoReader));
    EXPECT_NE(pMain->Messages(), nullptr);
    // The path chosen by the failed save does not count as a saved packet.
    ASSERT_FALSE(pMain->m_szQwkPath.empty());
    pMain->OnCommand(CMD_RUNREADER);
    EXPECT_FALSE(Shown(kNoReader));

    // Once the save works the reader is started on its packet.
    pIni->WriteString("Directories", "Qwk", home.Path());
    pMain->m_szQwkPath.clear();
    pMain->OnCommand(CMD_RUNREADER);
    EXPECT_EQ(pMain->Messages(), nullptr);
    EXPECT_TRUE(Shown(kNoReader));
}

TEST_F(SafeSave, AnAutorunRunThatFindsNoMailEndsWellWithoutAPacket)
{
    pIni->WriteString("Directories", "QwkReader", "/no/such/reader %1");
    pIni->WriteInt("Autorun", "AutoReader", 1);
    Build({"/a"});
    AutorunSave();
    EXPECT_TRUE(pMain->Exited());
    EXPECT_EQ(FailureCount(), 0) << LastFailure();
    EXPECT_TRUE(boxes.boxes.empty());
    ASSERT_FALSE(view.statuses.empty());
    EXPECT_EQ(view.statuses.back(), "No new mail");
    for (const std::string& name : fw::ListDirectory(home.Path()))
        EXPECT_EQ(name.find(".Qw"), std::string::npos) << name;

    // After a step that failed, nothing new is no news: the plain fact.
    Build({"/a"});
    pMain->OnCommand(CMD_AUTORUN);
    NoteFailure("POP3: Bad Password.");
    pMain->OnCommand(CMD_SAVE);
    EXPECT_EQ(view.statuses.back(), "No messages have been retrieved.");
}
