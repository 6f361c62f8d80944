// The settings file: what a first start writes, how values are read and
// repaired, passwords, and that the file stays the user's.
#include "core/TnIni.h"
#include "RecordingMessageBox.h"
#include "core/Services.h"
#include "core/Startup.h"
#include "framework/MessageBox.h"
#include "framework/Profile.h"
#include "framework/Registry.h"
#include "framework/Sound.h"

#include "TestUtil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {
struct IniFixture : ::testing::Test {
    TempDir dir;
    std::string file = dir.File("TOLVAN.INI");
    void SetUp() override { fw::RegKey::SetStorePath(dir.File("registry.ini")); }
    void TearDown() override { fw::RegKey::SetStorePath(""); }
    static ino_t Inode(const std::string& path)
    {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_ino;
    }
};

// Lines as a user writes them: a deep path, a template with quoted words,
// a long name, blanks around the equals sign, a section and key in another
// case, and a number that is none.
const std::string kLongDir =
    "/home/someone/Documents/Offline Mail/QWK packets/from the mail server/inbox/daily";
const std::string kTemplate = "\"/opt/my packer/bin/pack\" \"%1\" \"%2\"";
const std::string kUserLines = "[Directories]\nQwk = " + kLongDir + "\nPacker=" + kTemplate +
                               "\n[User]\nName=" + std::string(150, 'n') +
                               "\n[servers]\nnntpport=abc\nPOP3Server = pop.example.org \n";
} // namespace

TEST_F(IniFixture, CreationWritesEveryKeyWithItsDefaultInTableOrder)
{
    TnIni ini(file);
    EXPECT_FALSE(ini.WriteFailed());
    // Reading the file back key by key in table order must meet every key,
    // with its default, in the order of the table within each section.
    std::string text = ReadFile(file);
    std::map<std::string, std::size_t> lastPos;
    for (std::size_t i = 0; i < g_nIniKeys; ++i) {
        const IniKey& k = g_aIniKeys[i];
        std::string sectionHeader = std::string("[") + k.pszSection + "]\n";
        std::size_t sec = text.find(sectionHeader);
        ASSERT_NE(sec, std::string::npos) << k.pszSection;
        std::string line = std::string("\n") + k.pszKey + "=" + k.pszDefault + "\n";
        std::size_t pos = text.find(line, sec);
        ASSERT_NE(pos, std::string::npos) << k.pszSection << " " << k.pszKey;
        std::size_t nextSec = text.find("\n[", sec + 1);
        EXPECT_TRUE(nextSec == std::string::npos || pos < nextSec) << k.pszKey << " in its section";
        EXPECT_GT(pos, lastPos[k.pszSection]) << k.pszKey << " after the keys before it";
        lastPos[k.pszSection] = pos;
    }
    EXPECT_EQ(fw::Profile::GetSections(file),
              (std::vector<std::string>{"Mailtolvan", "Windows", "Servers", "User", "Directories",
                                        "Autorun", "Email", "Articles", "Groups"}));
}

TEST(TnIniParse, Integers)
{
    EXPECT_EQ(TnIni::ParseInt("  -42xyz"), -42);
    EXPECT_EQ(TnIni::ParseInt("abc"), 0);
    EXPECT_EQ(TnIni::ParseInt("- 5"), 0);
    EXPECT_EQ(TnIni::ParseInt("99999999999999999999"), 2147483647);
    EXPECT_EQ(TnIni::ParseInt("-99999999999999999999"), -2147483647 - 1);
}

TEST(Scramble, RoundTripsEvery7BitTextAndSetsHighBits)
{
    std::string all;
    for (int c = 1; c < 128; ++c)
        all += static_cast<char>(c);
    for (std::size_t len = 0; len <= 51; ++len) {
        for (std::size_t start = 0; start + len <= all.size(); start += 13) {
            std::string plain = all.substr(start, len);
            std::string s = plain;
            TnIni::ScramblePassword(s, true);
            ASSERT_EQ(s.size(), plain.size());
            for (unsigned char c : s)
                ASSERT_TRUE(c & 0x80);
            TnIni::ScramblePassword(s, false);
            ASSERT_EQ(s, plain);
        }
    }
    std::string s = "secret";
    TnIni::ScramblePassword(s, true);
    EXPECT_EQ(static_cast<unsigned char>(s[0]), 's' ^ TnIni::kScrambleKey);
    EXPECT_EQ(static_cast<unsigned char>(s[1]), (('e' ^ 's') | 0x80));
    std::string longer(60, 'x');
    TnIni::ScramblePassword(longer, true);
    EXPECT_EQ(longer.size(), 51u);
}

TEST_F(IniFixture, PasswordsFollowTheSaveFlag)
{
    TnIni ini(file);
    ASSERT_TRUE(ini.StoreNntpPassword("hunter2"));
    EXPECT_EQ(ini.GetNntpPassword(), "hunter2");
    EXPECT_NE(fw::Profile::GetString(file, "Servers", "NNTPPassword", ""), "hunter2");
    ini.WriteInt("Servers", "NNTPSavePassword", 0);
    ASSERT_TRUE(ini.StoreNntpPassword("hunter2"));
    EXPECT_EQ(fw::Profile::GetString(file, "Servers", "NNTPPassword", "x"), "");
    EXPECT_EQ(ini.GetNntpPassword(), "");
    ASSERT_TRUE(ini.StorePop3Password("p@ss word"));
    EXPECT_EQ(ini.GetPop3Password(), "p@ss word");
    // A reopened file gives the same password.
    TnIni again(file);
    EXPECT_EQ(again.GetPop3Password(), "p@ss word");
}

TEST(Placement, FormatsAndParses)
{
    EXPECT_EQ(FormatPlacement(ParsePlacement("10,20,300,200")), "10,20,300,200");
    EXPECT_TRUE(ParsePlacement("0,0,0,0").IsDefault());
    EXPECT_EQ(FormatPlacement(ParsePlacement("-5, 7")), "-5,7,0,0");
    EXPECT_TRUE(ParsePlacement("garbage").IsDefault());
}

TEST_F(IniFixture, ConfirmIsYesWithoutAskingWhenConfirmationIsOffOrAutorunRuns)
{
    TnIni ini(file);
    g_pIni = &ini;
    RecordingMessageBox rec;
    fw::SetMessageBoxService(&rec);
    rec.answers = {fw::IDNO};
    EXPECT_FALSE(Confirm("Exit?"));
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_EQ(rec.boxes[0].caption, "Warning!");
    EXPECT_EQ(rec.boxes[0].icon, fw::MbIcon::Question);

    ini.WriteInt("Mailtolvan", "Confirmation", 0);
    EXPECT_TRUE(Confirm("Exit?"));
    EXPECT_EQ(rec.boxes.size(), 1u);

    ini.WriteInt("Mailtolvan", "Confirmation", 1);
    bool autorun = true;
    SetAutorunQuery([&] { return autorun; });
    EXPECT_TRUE(Confirm("Exit?"));
    Warning("hidden");
    Error("hidden");
    EXPECT_EQ(rec.boxes.size(), 1u);
    autorun = false;
    Warning(std::string(300, 'w'));
    Error("bad");
    ASSERT_EQ(rec.boxes.size(), 3u);
    EXPECT_EQ(rec.boxes[1].caption, "Warning!");
    EXPECT_EQ(rec.boxes[1].text.size(), 200u);
    EXPECT_EQ(rec.boxes[1].icon, fw::MbIcon::Information);
    EXPECT_EQ(rec.boxes[2].caption, "ERROR!");
    EXPECT_EQ(rec.boxes[2].icon, fw::MbIcon::Stop);
    SetAutorunQuery(nullptr);
    fw::SetMessageBoxService(nullptr);
    g_pIni = nullptr;
}

TEST_F(IniFixture, SoundIsGatedBySettings)
{
    // Both sounds exist: each refusal below is the setting's.
    testutil::WriteFile(dir.File("Done.wav"), "RIFF");
    testutil::WriteFile(dir.File("SystemAsterisk.wav"), "RIFF");
    fw::Sound::SetResourceDir(dir.Path());
    TnIni ini(file);
    g_pIni = &ini;
    EXPECT_TRUE(PlayResourceSound("Done"));
    EXPECT_TRUE(PlayDoneBeep());
    ini.WriteInt("Mailtolvan", "Beep", 0);
    EXPECT_FALSE(PlayDoneBeep());
    EXPECT_TRUE(PlayResourceSound("Done"));
    ini.WriteInt("Mailtolvan", "Sound", 0);
    EXPECT_FALSE(PlayResourceSound("Done"));
    ini.WriteInt("Mailtolvan", "Beep", 1);
    EXPECT_FALSE(PlayDoneBeep());
    ini.WriteInt("Mailtolvan", "Sound", 1);
    g_pIni = nullptr;
    EXPECT_FALSE(PlayResourceSound("Done")) << "no settings, no sound";
    fw::Sound::SetResourceDir("");
}

TEST_F(IniFixture, UserValuesAreReadWholeAndNeverRewrittenAndBadOnesRepaired)
{
    ASSERT_GT(kLongDir.size(), 79u);
    WriteFile(file, kUserLines);
    TnIni ini(file);
    EXPECT_FALSE(ini.WriteFailed()) << ini.LastWriteError();
    EXPECT_EQ(ini.GetInt("Servers", "NNTPPort", 119), 0);
    EXPECT_EQ(fw::Profile::GetString(file, "Servers", "NNTPPort", ""), "0");
    EXPECT_EQ(ini.GetString("Servers", "POP3Server", "mail"), "pop.example.org");
    EXPECT_EQ(ini.GetString("Directories", "Qwk", ""), kLongDir);
    EXPECT_EQ(ini.GetString("Directories", "Packer", ""), kTemplate);
    EXPECT_EQ(ini.GetString("User", "Name", "").size(), 150u);
    std::string after = ReadFile(file);
    for (const std::string& line : {"\nQwk = " + kLongDir + "\n", "\nPacker=" + kTemplate + "\n",
                                    "\nName=" + std::string(150, 'n') + "\n"})
        EXPECT_NE(after.find(line), std::string::npos) << line << "\n---\n" << after;
    // The missing keys were still added, and every value reached the copy.
    EXPECT_EQ(fw::Profile::GetString(file, "Servers", "POP3Port", ""), "110");
    std::string copied;
    ASSERT_TRUE(fw::RegKey::ClassesRoot()
                    .CreateKey("tolvan")
                    .CreateKey("Directories")
                    .QueryValue("Qwk", copied));
    EXPECT_EQ(copied, kLongDir);
    // A long value written by the program reads back whole too.
    std::string longer = kLongDir + "/" + std::string(200, 'x');
    ASSERT_TRUE(ini.WriteString("Directories", "Rep", longer));
    EXPECT_EQ(ini.GetString("Directories", "Rep", ""), longer);
}

TEST_F(IniFixture, AReadOnlySettingsFileIsReadAndNeverRewritten)
{
    // Root included: a file without write permission was made so on purpose,
    // and its directory's permission to rename over it changes nothing.
    WriteFile(file, kUserLines);
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    ino_t before = Inode(file);
    EXPECT_FALSE(fw::Profile::CanWrite(file));
    {
        TnIni ini(file);
        EXPECT_TRUE(ini.ReadOnly());
        EXPECT_FALSE(ini.ReadOnlyReason().empty());
        EXPECT_FALSE(ini.WriteFailed()) << "reading what is there is no failure";
        EXPECT_EQ(ini.GetString("Directories", "Qwk", ""), kLongDir);
        EXPECT_EQ(ini.GetInt("Servers", "POP3Port", 110), 110);
        // A change the program asks for is refused, not forced.
        EXPECT_FALSE(ini.WriteInt("Articles", "Sort", 2));
        EXPECT_TRUE(ini.WriteFailed());
    }
    EXPECT_EQ(ReadFile(file), kUserLines);
    EXPECT_EQ(Inode(file), before) << "not replaced by a new file";
    struct stat st {};
    ::stat(file.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    // Writable again, the same file is normalised as usual.
    ::chmod(file.c_str(), 0644);
    TnIni ini(file);
    EXPECT_FALSE(ini.ReadOnly());
    EXPECT_EQ(fw::Profile::GetString(file, "Servers", "POP3Port", ""), "110");
}

TEST_F(IniFixture, CanWriteTellsWhereASettingsFileMayBeWritten)
{
    EXPECT_TRUE(fw::Profile::CanWrite(file)) << "missing, in a writable directory";
    WriteFile(file, "");
    EXPECT_TRUE(fw::Profile::CanWrite(file));
    EXPECT_FALSE(fw::Profile::CanWrite(dir.Path())) << "a directory";
    EXPECT_FALSE(fw::Profile::CanWrite(dir.File("no/such/dir/TOLVAN.INI")));
}

TEST(PacketNameCheck, ASettingsFileNameThatMakesAnUnusablePacketNameIsRefused)
{
    for (const char* bad : {"/i:my home.ini", "/i:a,b.ini", "/i:x.y.ini", "/i:.ini",
                            "/i:caf\xc3\xa9.ini", "/i:tab\there.ini", "/i:semi;c.ini"}) {
        CommandLine cmd = ParseCommandLine({bad});
        EXPECT_NE(cmd.error.find("QWK readers cannot take"), std::string::npos) << bad;
    }
    CommandLine cmd = ParseCommandLine({"--ini", "/tmp/p q.ini", "/a"});
    EXPECT_NE(cmd.error.find("\"P q\""), std::string::npos) << cmd.error;
    for (const char* good : {"/i:home-2.ini", "/i:My_Box.INI", "/i:/some dir/with, comma/home.ini",
                             "/i:averyverylongname.ini", "/i:a", "/i:abcdefgh,ij.ini"}) {
        CommandLine ok = ParseCommandLine({good});
        EXPECT_EQ(ok.error, "") << good;
    }
    EXPECT_EQ(PacketNameProblem("abcdefgh.ini"), "");
}
