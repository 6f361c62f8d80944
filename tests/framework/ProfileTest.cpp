#include "framework/Profile.h"
#include "framework/Registry.h"

#include "TestUtil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using fw::Profile;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

TEST(Profile, MissingFileSectionOrKeyGivesTheDefault)
{
    TempDir dir;
    std::string f = dir.File("x.ini");
    EXPECT_EQ(Profile::GetString(f, "S", "K", "dflt"), "dflt");
    WriteFile(f, "[S]\nOther=1\n");
    EXPECT_EQ(Profile::GetString(f, "S", "K", "dflt"), "dflt");
    EXPECT_EQ(Profile::GetString(f, "T", "Other", "d"), "d");
}

TEST(Profile, LookupIgnoresCaseAndTrimsBlanksAndQuotes)
{
    TempDir dir;
    std::string f = dir.File("x.ini");
    WriteFile(f, "  [ServERS ]  \r\n  nntpport =  119  \r\nName=\"  spaced  \"\r\n");
    EXPECT_EQ(Profile::GetString(f, "Servers", "NNTPPort", ""), "119");
    EXPECT_EQ(Profile::GetString(f, "servers", "name", ""), "  spaced  ");
}

TEST(Profile, FirstOfDuplicateSectionsAndKeysWins)
{
    TempDir dir;
    std::string f = dir.File("x.ini");
    WriteFile(f, "[A]\nk=1\nk=2\n[A]\nk=3\nj=4\n");
    EXPECT_EQ(Profile::GetString(f, "A", "k", ""), "1");
    EXPECT_EQ(Profile::GetString(f, "A", "j", "none"), "none");
}

TEST(Profile, ValueIsCutToTheBuffer)
{
    TempDir dir;
    std::string f = dir.File("x.ini");
    WriteFile(f, "[A]\nk=" + std::string(5'000'000, 'v') + "\n");
    EXPECT_EQ(Profile::GetString(f, "A", "k", "", 80).size(), 79u);
    EXPECT_EQ(Profile::GetString(f, "A", "k", "", 1), "");
}

TEST(Profile, WriteCreatesFileThenUpdatesInPlaceKeepingEverythingElse)
{
    TempDir dir;
    std::string f = dir.File("new.ini");
    ASSERT_TRUE(Profile::WriteString(f, "One", "a", "1"));
    ASSERT_TRUE(Profile::WriteString(f, "Two", "b", "2"));
    ASSERT_TRUE(Profile::WriteString(f, "One", "c", "3"));
    EXPECT_EQ(ReadFile(f), "[One]\na=1\nc=3\n\n[Two]\nb=2\n");
    ASSERT_TRUE(Profile::WriteString(f, "ONE", "A", "x"));
    EXPECT_EQ(ReadFile(f), "[One]\nA=x\nc=3\n\n[Two]\nb=2\n");
    struct stat st;
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "a new settings file is private";
}

TEST(Profile, ForeignLinesCommentsCrLfAndMissingFinalNewlineSurvive)
{
    TempDir dir;
    std::string f = dir.File("x.ini");
    WriteFile(f, "; comment\r\n[A]\r\njunk line\r\nk=1\r\n\r\n[B]\r\nz=9");
    ASSERT_TRUE(Profile::WriteString(f, "A", "k", "2"));
    ASSERT_TRUE(Profile::WriteString(f, "B", "y", "8"));
    ASSERT_TRUE(Profile::WriteString(f, "C", "w", "7"));
    EXPECT_EQ(ReadFile(f), "; comment\r\n[A]\r\njunk line\r\nk=2\r\n\r\n[B]\r\nz=9\r\ny=8\r\n"
                           "\r\n[C]\r\nw=7\r\n");
}

TEST(Profile, BinaryGarbageIsKeptAndSettingsStillWork)
{
    TempDir dir;
    std::string f = dir.File("x.ini");
    std::string garbage("\x00\x01\xff[\x00]=\n\x7f\x80", 10);
    WriteFile(f, garbage);
    ASSERT_TRUE(Profile::WriteString(f, "A", "k", "v"));
    EXPECT_EQ(Profile::GetString(f, "A", "k", ""), "v");
    EXPECT_EQ(ReadFile(f).substr(0, garbage.size()), garbage);
}

TEST(Profile, RefusesLineBreaksAndKeepsFileWhenItCannotWrite)
{
    TempDir dir;
    std::string f = dir.File("x.ini");
    WriteFile(f, "[A]\nk=1\n");
    EXPECT_FALSE(Profile::WriteString(f, "A", "k", "two\nlines"));
    EXPECT_FALSE(Profile::WriteString(f, "A", "k=x", "v"));
    EXPECT_FALSE(Profile::WriteString(f, "A]", "k", "v"));
    EXPECT_EQ(ReadFile(f), "[A]\nk=1\n");

    if (::geteuid() != 0) { // root writes anywhere
        ::chmod(f.c_str(), 0400);
        ::chmod(dir.Path().c_str(), 0500);
        EXPECT_FALSE(Profile::WriteString(f, "A", "k", "2"));
        ::chmod(dir.Path().c_str(), 0700);
        EXPECT_EQ(ReadFile(f), "[A]\nk=1\n");
    }
    std::string missingDir = dir.File("nope/x.ini");
    EXPECT_FALSE(Profile::WriteString(missingDir, "A", "k", "1"));
    EXPECT_FALSE(Profile::WriteString(dir.Path(), "A", "k", "1")) << "a directory is no file";
}

TEST(Profile, SymlinkedFileStaysASymlink)
{
    TempDir dir;
    std::string real = dir.File("real.ini");
    std::string link = dir.File("link.ini");
    WriteFile(real, "[A]\nk=1\n");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    ASSERT_TRUE(Profile::WriteString(link, "A", "k", "2"));
    struct stat st;
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFile(real), "[A]\nk=2\n");
}

TEST(Profile, ListsSectionsAndKeys)
{
    TempDir dir;
    std::string f = dir.File("x.ini");
    WriteFile(f, "[A]\nk=1\nj=2\n[B]\n");
    EXPECT_EQ(Profile::GetSections(f), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(Profile::GetKeys(f, "a"), (std::vector<std::string>{"k", "j"}));
}

TEST(Registry, StoresDefaultValuesByKeyPath)
{
    TempDir dir;
    fw::RegKey::SetStorePath(dir.File("registry.ini"));
    fw::RegKey app = fw::RegKey::ClassesRoot().CreateKey("tolvan");
    fw::RegKey section = app.CreateKey("Articles");
    EXPECT_TRUE(section.SetValue("Sort", "2"));
    std::string v;
    EXPECT_TRUE(
        fw::RegKey::ClassesRoot().CreateKey("tolvan").CreateKey("Articles").QueryValue("Sort", v));
    EXPECT_EQ(v, "2");
    EXPECT_FALSE(section.QueryValue("Other", v));
    EXPECT_FALSE(app.CreateKey("a\\b").IsOpen());
    fw::RegKey::SetStorePath("");
    EXPECT_FALSE(section.SetValue("Sort", "3"));
}

TEST(Profile, AByteOrderMarkBeforeTheFirstSectionIsNoPartOfItsName)
{
    // Some editors start a UTF-8 file with a byte order mark; the first
    // section must not become invisible (and be written a second time).
    TempDir dir;
    std::string f = dir.File("bom.ini");
    WriteFile(f, "\xEF\xBB\xBF[Mailtolvan]\r\nSound=0\r\n");
    EXPECT_EQ(Profile::GetString(f, "Mailtolvan", "Sound", "1"), "0");
    ASSERT_TRUE(Profile::WriteString(f, "Mailtolvan", "Beep", "1"));
    EXPECT_EQ(ReadFile(f), "\xEF\xBB\xBF[Mailtolvan]\r\nSound=0\r\nBeep=1\r\n");
    EXPECT_EQ(Profile::GetSections(f), std::vector<std::string>{"Mailtolvan"});
}
