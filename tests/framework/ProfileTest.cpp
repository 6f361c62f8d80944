#include "framework/Profile.h"
#include "framework/Registry.h"

#include "TestUtil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using fw::Profile;
using testutil::ReadFile;
using testutil::WriteFile;

namespace {
struct ProfileTest : ::testing::Test {
    testutil::TempDir dir;
    std::string f = dir.File("x.ini");
    std::string Get(const char* section, const char* key, const char* dflt = "")
    {
        return Profile::GetString(f, section, key, dflt);
    }
};
} // namespace

TEST_F(ProfileTest, LookupRules)
{
    EXPECT_EQ(Get("S", "K", "dflt"), "dflt") << "no file";
    const struct {
        const char* rule;
        std::string text;
        const char *section, *key, *want;
    } rows[] = {
        {"missing key", "[S]\nOther=1\n", "S", "K", "dflt"},
        {"missing section", "[S]\nOther=1\n", "T", "Other", "dflt"},
        {"case and blanks", "  [ServERS ]  \r\n  nntpport =  119  \r\n", "Servers", "NNTPPort",
         "119"},
        {"quotes keep blanks", "[S]\r\nName=\"  spaced  \"\r\n", "s", "name", "  spaced  "},
        {"single quotes go too", "[A]\nt='x'\n", "A", "t", "x"},
        {"only quotes round the whole value go", "[A]\nm=\"a\" 'b'\n", "A", "m", "\"a\" 'b'"},
        {"an unclosed quote stays", "[A]\no=\"a\n", "A", "o", "\"a"},
        {"first key wins", "[A]\nk=1\nk=2\n[A]\nk=3\nj=4\n", "A", "k", "1"},
        {"first section wins", "[A]\nk=1\nk=2\n[A]\nk=3\nj=4\n", "A", "j", "dflt"},
    };
    for (const auto& row : rows) {
        WriteFile(f, row.text);
        EXPECT_EQ(Get(row.section, row.key, "dflt"), row.want) << row.rule;
    }
    WriteFile(f, "[A]\nq=\"a b\"\n");
    EXPECT_EQ(Profile::GetString(f, "A", "q", "", 3), "a ") << "unquoted, then cut to the buffer";
    WriteFile(f, "[A]\nk=" + std::string(5'000'000, 'v') + "\n");
    EXPECT_EQ(Profile::GetString(f, "A", "k", "", 80).size(), 79u) << "cut to the buffer";
    EXPECT_EQ(Profile::GetString(f, "A", "k", "", 1), "");
}

TEST_F(ProfileTest, WriteCreatesAPrivateFileThenUpdatesInPlace)
{
    ASSERT_TRUE(Profile::WriteString(f, "One", "a", "1"));
    ASSERT_TRUE(Profile::WriteString(f, "Two", "b", "2"));
    ASSERT_TRUE(Profile::WriteString(f, "One", "c", "3"));
    ASSERT_TRUE(Profile::WriteString(f, "ONE", "A", "x"));
    EXPECT_EQ(ReadFile(f), "[One]\nA=x\nc=3\n\n[Two]\nb=2\n");
    struct stat st;
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ProfileTest, ForeignLinesCommentsCrLfAndMissingFinalNewlineSurvive)
{
    WriteFile(f, "; comment\r\n[A]\r\njunk line\r\nk=1\r\n\r\n[B]\r\nz=9");
    ASSERT_TRUE(Profile::WriteString(f, "A", "k", "2"));
    ASSERT_TRUE(Profile::WriteString(f, "B", "y", "8"));
    ASSERT_TRUE(Profile::WriteString(f, "C", "w", "7"));
    EXPECT_EQ(ReadFile(f), "; comment\r\n[A]\r\njunk line\r\nk=2\r\n\r\n[B]\r\nz=9\r\ny=8\r\n"
                           "\r\n[C]\r\nw=7\r\n");
}

TEST_F(ProfileTest, BinaryGarbageIsKeptAndSettingsStillWork)
{
    std::string garbage("\x00\x01\xff[\x00]=\n\x7f\x80", 10);
    WriteFile(f, garbage);
    ASSERT_TRUE(Profile::WriteString(f, "A", "k", "v"));
    EXPECT_EQ(Get("A", "k"), "v");
    EXPECT_EQ(ReadFile(f).substr(0, garbage.size()), garbage);
}

TEST_F(ProfileTest, AByteOrderMarkBeforeTheFirstSectionIsNoPartOfItsName)
{
    // Some editors start a UTF-8 file with a byte order mark; the first
    // section must not become invisible (and be written a second time).
    WriteFile(f, "\xEF\xBB\xBF[Mailtolvan]\r\nSound=0\r\n");
    EXPECT_EQ(Get("Mailtolvan", "Sound", "1"), "0");
    ASSERT_TRUE(Profile::WriteString(f, "Mailtolvan", "Beep", "1"));
    EXPECT_EQ(ReadFile(f), "\xEF\xBB\xBF[Mailtolvan]\r\nSound=0\r\nBeep=1\r\n");
    EXPECT_EQ(Profile::GetSections(f), std::vector<std::string>{"Mailtolvan"});
}

TEST_F(ProfileTest, RefusesLineBreaksAndPathsThatAreNoFile)
{
    WriteFile(f, "[A]\nk=1\n");
    EXPECT_FALSE(Profile::WriteString(f, "A", "k", "two\nlines"));
    EXPECT_FALSE(Profile::WriteString(f, "A", "k=x", "v"));
    EXPECT_FALSE(Profile::WriteString(f, "A]", "k", "v"));
    EXPECT_EQ(ReadFile(f), "[A]\nk=1\n");
    EXPECT_FALSE(Profile::WriteString(dir.File("nope/x.ini"), "A", "k", "1"));
    EXPECT_FALSE(Profile::WriteString(dir.Path(), "A", "k", "1"));
}

TEST_F(ProfileTest, AReadOnlyFileIsLeftAsItWasAndAReadOnlyDirectoryIsWrittenInPlace)
{
    if (testutil::RerunAsNobody())
        return;
    WriteFile(f, "[A]\nk=1\n");
    ::chmod(f.c_str(), 0400);
    EXPECT_FALSE(Profile::WriteString(f, "A", "k", "2")) << "though the directory is writable";
    EXPECT_EQ(ReadFile(f), "[A]\nk=1\n");
    ::chmod(f.c_str(), 0600);
    ::chmod(dir.Path().c_str(), 0500);
    EXPECT_TRUE(Profile::WriteString(f, "A", "k", "3"));
    ::chmod(dir.Path().c_str(), 0700);
    EXPECT_EQ(ReadFile(f), "[A]\nk=3\n");
}

TEST_F(ProfileTest, SymlinkedFileStaysASymlinkAndListsItsSectionsAndKeys)
{
    std::string link = dir.File("link.ini");
    WriteFile(f, "[A]\nk=1\nj=2\n[B]\n");
    ASSERT_EQ(::symlink(f.c_str(), link.c_str()), 0);
    ASSERT_TRUE(Profile::WriteString(link, "A", "k", "2"));
    struct stat st;
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFile(f), "[A]\nk=2\nj=2\n[B]\n");
    EXPECT_EQ(Profile::GetSections(link), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(Profile::GetKeys(link, "a"), (std::vector<std::string>{"k", "j"}));
}

TEST(Registry, StoresDefaultValuesByKeyPath)
{
    testutil::TempDir dir;
    fw::RegKey::SetStorePath(dir.File("registry.ini"));
    fw::RegKey section = fw::RegKey::ClassesRoot().CreateKey("tolvan").CreateKey("Articles");
    EXPECT_TRUE(section.SetValue("Sort", "2"));
    std::string v;
    EXPECT_TRUE(
        fw::RegKey::ClassesRoot().CreateKey("tolvan").CreateKey("Articles").QueryValue("Sort", v));
    EXPECT_EQ(v, "2");
    EXPECT_FALSE(section.QueryValue("Other", v));
    EXPECT_FALSE(fw::RegKey::ClassesRoot().CreateKey("a\\b").IsOpen());
    fw::RegKey::SetStorePath("");
    EXPECT_FALSE(section.SetValue("Sort", "3"));
}
