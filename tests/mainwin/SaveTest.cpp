// The three ways a packet leaves the program, and the reader hand-off.
#include "MainFixture.h"

#include "framework/Files.h"
#include "packet/PacketSave.h"

using testutil::Exists;
using testutil::ReadFile;
using testutil::WriteFile;
using SaveTest = MainFixture;

TEST(PackerCommand, FillsBothPlaceholdersInsideWordsInTheirOwnOrder)
{
    EXPECT_EQ(CPacketSaver::PackerCommand("pk -l %2 -o %1", "/a b/P.QWK", "/w d/qwkfiles.lst"),
              (std::vector<std::string>{"pk", "-l", "/w d/qwkfiles.lst", "-o", "/a b/P.QWK"}));
    EXPECT_EQ(CPacketSaver::PackerCommand("pk --out=%1 @%2", "x.qwk", "l.lst"),
              (std::vector<std::string>{"pk", "--out=x.qwk", "@l.lst"}));
    EXPECT_TRUE(CPacketSaver::PackerCommand("pk %1", "x", "y").empty());
}

TEST_F(SaveTest, BuiltInZipReplacesAnOldPacketOrTakesTheNextFreeNameWhenOverwriteIsOff)
{
    WriteFile(home.File("Tolvan.Qwk"), "old");
    GatherMail("one");
    pMain->OnCommand(CMD_SAVE);
    std::string qwk = ReadFile(home.File("Tolvan.Qwk"));
    EXPECT_EQ(qwk.substr(0, 2), "PK"); // its members: tests/e2e's HeadlessMail

    pIni->WriteInt("Directories", "OverwriteQwk", 0);
    WriteFile(home.File("Tolvan.Qwa"), "older");
    pMain->m_szQwkPath.clear();
    GatherMail("two");
    pMain->OnCommand(CMD_SAVE);
    EXPECT_EQ(ReadFile(home.File("Tolvan.Qwk")), qwk);
    EXPECT_EQ(ReadFile(home.File("Tolvan.Qwa")), "older");
    EXPECT_EQ(pMain->m_szQwkPath, home.File("Tolvan.Qwb"));
    EXPECT_EQ(ReadFile(home.File("Tolvan.Qwb")).substr(0, 2), "PK");
    EXPECT_TRUE(fw::ListDirectory(pStartup->m_szWorkDir).empty()) << "packet files are gone";
    EXPECT_EQ(view.statuses.back(), "Done!");
}

TEST_F(SaveTest, ExternalPackerGetsTheListFirstWhenTheTemplateSaysSo)
{
    std::string packer =
        Script("my packer.sh", "printf '%s\\n' \"$1\" \"$2\" > \"$(dirname \"$0\")/args\"\n"
                               "zip -q -j \"$2\" -@ < \"$1\"\n");
    pIni->WriteString("Directories", "Packer", "\"" + packer + "\" %2 %1");
    std::string qwkDir = home.File("qwk dir");
    ASSERT_EQ(::mkdir(qwkDir.c_str(), 0700), 0);
    pIni->WriteString("Directories", "Qwk", qwkDir);
    GatherMail("packed");
    pMain->OnCommand(CMD_SAVE);
    EXPECT_EQ(FailureCount(), 0) << LastFailure();
    // The packer makes the packet under its own name in a directory of its
    // own beside it; it is moved into place afterwards.
    std::string args = ReadFile(tools.File("args"));
    EXPECT_EQ(args.substr(0, args.find('\n') + 1), pStartup->m_szWorkDir + "/qwkfiles.lst\n");
    std::string packed = args.substr(args.find('\n') + 1);
    EXPECT_EQ(fw::DirName(fw::DirName(packed)), qwkDir) << packed;
    EXPECT_EQ(fw::BaseName(packed), "Tolvan.Qwk\n");
    EXPECT_EQ(fw::ListDirectory(qwkDir), std::vector<std::string>{"Tolvan.Qwk"});
    EXPECT_TRUE(Exists(qwkDir + "/Tolvan.Qwk"));
    EXPECT_EQ(pMain->Messages(), nullptr);
}

TEST_F(SaveTest, CopyToTheReadersWorkDirectory)
{
    const std::string kRunning = "VDRQWK has either crashed or is still running.\nOverwrite "
                                 "existing files in the work directory?",
                      kZip = "Save to a QWK file instead?",
                      kNotEmpty = "The VDRQWK work directory is not empty!\nOverwrite existing "
                                  "files?",
                      kNoIni = "Mail Tolvan could not find the VDRQWK.INI file\nSearch for the "
                               "file?",
                      kNoWorkDir = "The reader's settings file " + home.File("VDRQWK.INI") +
                                   " names no work directory (\"WorkDir\"). The messages are kept.";
    enum { ENDED = 1, OLD_PACKET = 2, NO_INI = 4, NO_WORKDIR = 8 };
    struct Case {
        const char* what;
        int iSetup;
        std::deque<int> answers;
        std::vector<std::string> boxes;
        std::string saved; // "WORK", "QWK", or "" for kept
    } cases[] = {
        {"reader ended: the work directory is made", ENDED, {}, {}, "WORK"},
        {"reader may still run", 0, {fw::IDNO, fw::IDNO}, {kRunning, kZip}, ""},
        {"reader may still run: zip instead", 0, {fw::IDNO, fw::IDYES}, {kRunning, kZip}, "QWK"},
        {"a packet in the work directory", ENDED | OLD_PACKET, {fw::IDYES}, {kNotEmpty}, "WORK"},
        {"no reader settings", ENDED | NO_INI, {}, {kNoIni}, ""},
        {"no work directory", ENDED | NO_WORKDIR, {}, {kNoWorkDir}, ""},
    };
    // Whatever the current directory is, no packet may land there.
    testutil::TempDir elsewhere;
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(elsewhere.Path().c_str()), 0);
    int i = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        workDir = c.iSetup & NO_WORKDIR ? "" : home.File("work" + std::to_string(++i));
        UseReader(c.iSetup & ENDED);
        if (c.iSetup & OLD_PACKET) {
            EXPECT_TRUE(fw::MakeDirectories(workDir + "/WORK"));
            WriteFile(workDir + "/WORK/control.dat", "old packet");
        }
        if (c.iSetup & NO_INI)
            pIni->WriteString("Directories", "VdrqwkIni", home.File("missing.ini"));
        if (!pMain->Messages())
            GatherMail(c.what);
        boxes.boxes.clear();
        boxes.answers = c.answers;
        pMain->OnCommand(CMD_SAVE);
        std::vector<std::string> texts;
        for (const auto& box : boxes.boxes)
            texts.push_back(box.text);
        EXPECT_EQ(texts, c.boxes);
        EXPECT_EQ(pMain->Messages() != nullptr, c.saved.empty()) << "kept unless saved";
        if (c.saved == "WORK") {
            EXPECT_TRUE(Exists(workDir + "/WORK/messages.dat"));
            EXPECT_NE(ReadFile(workDir + "/WORK/control.dat"), "old packet");
        }
        if (c.saved == "QWK") {
            EXPECT_TRUE(Exists(home.File("Tolvan.Qwk")));
        }
    }
    ASSERT_EQ(::chdir(cwd), 0);
    EXPECT_FALSE(Exists(elsewhere.File("WORK")));
}
