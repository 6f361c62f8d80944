// The three ways a packet leaves the program, and the reader hand-off.
#include "MainFixture.h"

#include "framework/Files.h"
#include "framework/Process.h"
#include "mainwin/Commands.h"
#include "packet/PacketSave.h"

#include <sys/stat.h>
#include <unistd.h>

using testutil::Exists;
using testutil::ReadFile;
using testutil::WriteFile;

namespace {
std::string Script(const testutil::TempDir& dir, const std::string& name, const std::string& body)
{
    std::string path = dir.File(name);
    WriteFile(path, "#!/bin/sh\n" + body);
    ::chmod(path.c_str(), 0755);
    return path;
}
} // namespace

TEST(PackerCommand, FillsBothPlaceholdersInsideWordsInTheirOwnOrder)
{
    EXPECT_EQ(CPacketSaver::PackerCommand("pk -l %2 -o %1", "/a b/P.QWK", "/w d/qwkfiles.lst"),
              (std::vector<std::string>{"pk", "-l", "/w d/qwkfiles.lst", "-o", "/a b/P.QWK"}));
    EXPECT_EQ(CPacketSaver::PackerCommand("pk --out=%1 @%2", "x.qwk", "l.lst"),
              (std::vector<std::string>{"pk", "--out=x.qwk", "@l.lst"}));
    EXPECT_TRUE(CPacketSaver::PackerCommand("pk %1", "x", "y").empty());
}

TEST_F(MainFixture, BuiltInZipKeepsOldPacketsWhenOverwriteIsOff)
{
    pIni->WriteInt("Directories", "OverwriteQwk", 0);
    WriteFile(home.File("Tolvan.Qwk"), "old");
    WriteFile(home.File("Tolvan.Qwa"), "older");
    GatherMail("one");
    pMain->OnCommand(CMD_SAVE);
    EXPECT_EQ(ReadFile(home.File("Tolvan.Qwk")), "old");
    EXPECT_EQ(ReadFile(home.File("Tolvan.Qwa")), "older");
    ASSERT_TRUE(Exists(home.File("Tolvan.Qwb")));
    EXPECT_EQ(pMain->m_szQwkPath, home.File("Tolvan.Qwb"));
    EXPECT_EQ(ReadFile(home.File("Tolvan.Qwb")).substr(0, 2), "PK");
    EXPECT_TRUE(fw::ListDirectory(pStartup->m_szWorkDir).empty()) << "packet files are gone";
    EXPECT_EQ(view.statuses.back(), "Done!");
}

TEST_F(MainFixture, BuiltInZipReplacesAnOldPacketOnlyWhenTheNewOneIsComplete)
{
    WriteFile(home.File("Tolvan.Qwk"), "old");
    GatherMail("one");
    pMain->OnCommand(CMD_SAVE);
    std::string qwk = ReadFile(home.File("Tolvan.Qwk"));
    EXPECT_EQ(qwk.substr(0, 2), "PK");
    std::string out;
    int code = 0;
    ASSERT_TRUE(fw::RunAndCapture({"unzip", "-Z1", home.File("Tolvan.Qwk")}, out, code));
    EXPECT_NE(out.find("messages.dat"), std::string::npos) << out;
    EXPECT_NE(out.find("control.dat"), std::string::npos) << out;
    EXPECT_EQ(out.find('/'), std::string::npos) << "files at the archive's top level";
}

TEST_F(MainFixture, ExternalPackerGetsTheListFirstWhenTheTemplateSaysSo)
{
    testutil::TempDir tools;
    std::string packer = Script(tools, "my packer.sh",
                                "printf '%s\\n' \"$1\" \"$2\" > \"$(dirname \"$0\")/args\"\n"
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

namespace {
// The companion reader's settings and directories.
struct Reader {
    explicit Reader(TnIni& ini, const testutil::TempDir& home)
    {
        vdrDir = home.File("reader");
        workDir = home.File("reader work");
        ::mkdir(vdrDir.c_str(), 0700);
        ini.WriteString("Directories", "VdrqwkIni", home.File("VDRQWK.INI"));
        ini.WriteInt("Directories", "CopyFiles", 1);
        WriteFile(home.File("VDRQWK.INI"),
                  "[VDRQwk]\nVdrDir=" + vdrDir + "\nWorkDir=" + workDir + "\n");
    }
    std::string vdrDir, workDir;
};
} // namespace

TEST_F(MainFixture, CopyToReaderCreatesTheWorkDirectoryWhenTheReaderEndedNormally)
{
    Reader reader(*pIni, home);
    WriteFile(reader.vdrDir + "/VDREXIT.VDR", "");
    GatherMail("copied");
    pMain->OnCommand(CMD_SAVE);
    EXPECT_TRUE(Exists(reader.workDir + "/WORK/messages.dat"));
    EXPECT_TRUE(Exists(reader.workDir + "/WORK/control.dat"));
    EXPECT_EQ(pMain->Messages(), nullptr);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(MainFixture, CopyToReaderAsksWhenTheReaderMayStillRun)
{
    Reader reader(*pIni, home);
    GatherMail("asked");
    boxes.answers = {fw::IDNO, fw::IDNO}; // don't overwrite; don't zip instead
    pMain->OnCommand(CMD_SAVE);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].text, "VDRQWK has either crashed or is still running.\nOverwrite "
                                   "existing files in the work directory?");
    EXPECT_EQ(boxes.boxes[1].text, "Save to a QWK file instead?");
    EXPECT_NE(pMain->Messages(), nullptr);
    boxes.answers = {fw::IDNO, fw::IDYES}; // zip instead
    pMain->OnCommand(CMD_SAVE);
    EXPECT_EQ(pMain->Messages(), nullptr);
    EXPECT_TRUE(Exists(home.File("Tolvan.Qwk")));
}

TEST_F(MainFixture, CopyToReaderAsksBeforeOverwritingAPacket)
{
    Reader reader(*pIni, home);
    WriteFile(reader.vdrDir + "/VDREXIT.VDR", "");
    ASSERT_TRUE(fw::MakeDirectories(reader.workDir + "/WORK"));
    WriteFile(reader.workDir + "/WORK/control.dat", "old packet");
    GatherMail("overwrite?");
    boxes.answers = {fw::IDYES};
    pMain->OnCommand(CMD_SAVE);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text,
              "The VDRQWK work directory is not empty!\nOverwrite existing files?");
    EXPECT_NE(ReadFile(reader.workDir + "/WORK/control.dat"), "old packet");
}

TEST_F(MainFixture, CopyToReaderWithoutReaderSettingsKeepsTheMessages)
{
    pIni->WriteInt("Directories", "CopyFiles", 1);
    pIni->WriteString("Directories", "VdrqwkIni", home.File("missing.ini"));
    GatherMail("waiting");
    pMain->OnCommand(CMD_SAVE);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text,
              "Mail Tolvan could not find the VDRQWK.INI file\nSearch for the file?");
    EXPECT_NE(pMain->Messages(), nullptr);
}

TEST_F(MainFixture, ReaderTemplateWithoutPlaceholderGetsNoArgument)
{
    testutil::TempDir tools;
    std::string reader = Script(tools, "reader.sh", "echo \"$#\" > \"$(dirname \"$0\")/argc\"\n");
    pIni->WriteString("Directories", "QwkReader", reader);
    pMain->m_szQwkPath = home.File("x.qwk");
    pMain->OnCommand(CMD_RUNREADER);
    ASSERT_TRUE(fw::MessageLoop::PumpUntil([&] { return Exists(tools.File("argc")); }, 10000));
    EXPECT_EQ(ReadFile(tools.File("argc")), "0\n");
    pIni->WriteString("Directories", "QwkReader", "/no/such/reader %1");
    pMain->OnCommand(CMD_RUNREADER);
    EXPECT_EQ(boxes.boxes.back().text, "There was an error executing the external program.");
}

TEST_F(MainFixture, CopyToReaderWithoutAWorkDirectoryKeepsTheMessages)
{
    Reader reader(*pIni, home);
    WriteFile(reader.vdrDir + "/VDREXIT.VDR", "");
    WriteFile(home.File("VDRQWK.INI"), "[VDRQwk]\nVdrDir=" + reader.vdrDir + "\nWorkDir=\n");
    // Whatever the current directory is, no packet may land there.
    testutil::TempDir elsewhere;
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(elsewhere.Path().c_str()), 0);
    GatherMail("nowhere to go");
    pMain->OnCommand(CMD_SAVE);
    bool bStray = Exists(elsewhere.File("WORK"));
    ASSERT_EQ(::chdir(cwd), 0);
    EXPECT_FALSE(bStray);
    EXPECT_NE(pMain->Messages(), nullptr) << "the messages wait for another save";
    ASSERT_FALSE(boxes.boxes.empty());
    EXPECT_EQ(boxes.boxes.back().caption, "ERROR!");
    EXPECT_NE(boxes.boxes.back().text.find("WorkDir"), std::string::npos)
        << boxes.boxes.back().text;
}
