// The settings file belongs to the user: long values are read whole, what
// the user wrote is never rewritten, a read-only file stays untouched, and a
// settings file name that would make a packet name readers refuse is not
// taken.
#include "core/Startup.h"
#include "core/TnIni.h"
#include "framework/Profile.h"
#include "framework/Registry.h"

#include "TestUtil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {
struct SettingsSafety : ::testing::Test {
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
// a long name, and blanks around the equals sign.
const std::string kLongDir =
    "/home/someone/Documents/Offline Mail/QWK packets/from the mail server/inbox/daily";
const std::string kTemplate = "\"/opt/my packer/bin/pack\" \"%1\" \"%2\"";
const std::string kUserLines = "[Directories]\nQwk = " + kLongDir + "\nPacker=" + kTemplate +
                               "\n[User]\nName=" + std::string(150, 'n') + "\n";
} // namespace

TEST_F(SettingsSafety, LongValuesAreReadWholeAndWhatTheUserWroteIsNeverRewritten)
{
    ASSERT_GT(kLongDir.size(), 79u);
    WriteFile(file, kUserLines);
    TnIni ini(file);
    EXPECT_FALSE(ini.WriteFailed()) << ini.LastWriteError();
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

TEST_F(SettingsSafety, AValueWhollyInQuotesLosesThemAndNothingElseDoes)
{
    WriteFile(file, "[A]\nq=\"a b\"\nt='x'\nmixed=\"a\" 'b'\nopen=\"a\n");
    EXPECT_EQ(fw::Profile::GetString(file, "A", "q", ""), "a b");
    EXPECT_EQ(fw::Profile::GetString(file, "A", "t", ""), "x");
    EXPECT_EQ(fw::Profile::GetString(file, "A", "mixed", ""), "\"a\" 'b'");
    EXPECT_EQ(fw::Profile::GetString(file, "A", "open", ""), "\"a");
    EXPECT_EQ(fw::Profile::GetString(file, "A", "q", "", 3), "a ") << "a caller's buffer";
}

TEST_F(SettingsSafety, AReadOnlySettingsFileIsReadAndNeverRewritten)
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

TEST_F(SettingsSafety, CanWriteTellsWhereASettingsFileMayBeWritten)
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
