#include "core/TnIni.h"
#include "RecordingMessageBox.h"
#include "core/Services.h"
#include "framework/MessageBox.h"
#include "framework/Profile.h"
#include "framework/Registry.h"

#include "TestUtil.h"

#include <gtest/gtest.h>

using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {
struct IniFixture : ::testing::Test {
    TempDir dir;
    std::string file = dir.File("TOLVAN.INI");
    void SetUp() override { fw::RegKey::SetStorePath(dir.File("registry.ini")); }
    void TearDown() override { fw::RegKey::SetStorePath(""); }
};
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
    EXPECT_EQ(g_nIniKeys, 69u);
}

TEST_F(IniFixture, NormalisationKeepsUserValuesAndRepairsBadOnes)
{
    WriteFile(file, "[servers]\nnntpport=abc\nPOP3Server = pop.example.org \n"
                    "[User]\nName=" +
                        std::string(120, 'n') + "\n");
    TnIni ini(file);
    EXPECT_EQ(ini.GetInt("Servers", "NNTPPort", 119), 0);
    EXPECT_EQ(fw::Profile::GetString(file, "Servers", "NNTPPort", ""), "0");
    EXPECT_EQ(ini.GetString("Servers", "POP3Server", "mail"), "pop.example.org");
    EXPECT_EQ(ini.GetString("User", "Name", "").size(), 120u);
    EXPECT_EQ(ini.GetInt("Servers", "SMTPPort", 0), 25);
}

TEST(TnIniParse, Integers)
{
    EXPECT_EQ(TnIni::ParseInt("  -42xyz"), -42);
    EXPECT_EQ(TnIni::ParseInt("abc"), 0);
    EXPECT_EQ(TnIni::ParseInt("- 5"), 0);
    EXPECT_EQ(TnIni::ParseInt("99999999999999999999"), 2147483647);
    EXPECT_EQ(TnIni::ParseInt("-99999999999999999999"), -2147483647 - 1);
}

TEST_F(IniFixture, EveryWriteGoesToTheRegistryCopy)
{
    TnIni ini(file);
    auto copy = [](const char* section, const char* key) {
        std::string v;
        fw::RegKey::ClassesRoot().CreateKey("tolvan").CreateKey(section).QueryValue(key, v);
        return v;
    };
    ASSERT_TRUE(ini.WriteInt("Articles", "Sort", 2));
    EXPECT_EQ(copy("Articles", "Sort"), "2");
    EXPECT_EQ(ini.GetInt("Articles", "Sort", 0), 2);
    ASSERT_TRUE(ini.WriteString("User", "Name", "Ann Other"));
    EXPECT_EQ(copy("User", "Name"), "Ann Other");
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

TEST_F(IniFixture, UnwritableFileIsReportedAndLeftAlone)
{
    if (testutil::RerunAsNobody())
        return;
    WriteFile(file, "[Servers]\nPOP3Server=mine\n");
    ::chmod(file.c_str(), 0400);
    ::chmod(dir.Path().c_str(), 0500);
    TnIni ini(file);
    ::chmod(dir.Path().c_str(), 0700);
    EXPECT_TRUE(ini.ReadOnly());
    EXPECT_FALSE(ini.ReadOnlyReason().empty());
    EXPECT_EQ(ReadFile(file), "[Servers]\nPOP3Server=mine\n");
}

TEST(Placement, FormatsAndParses)
{
    Placement p = ParsePlacement("10,20,300,200");
    EXPECT_EQ(p.iLeft, 10);
    EXPECT_EQ(p.iTop, 20);
    EXPECT_EQ(FormatPlacement(p), "10,20,300,200");
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
    TnIni ini(file);
    g_pIni = &ini;
    ini.WriteInt("Mailtolvan", "Sound", 0);
    EXPECT_FALSE(PlayResourceSound("anything"));
    EXPECT_FALSE(PlayDoneBeep());
    g_pIni = nullptr;
    EXPECT_FALSE(PlayResourceSound("anything"));
}
