#include "core/Startup.h"
#include "util/TimeZone.h"

#include "TestUtil.h"

#include <gtest/gtest.h>

using testutil::TempDir;

TEST(CommandLine, OptionsAsArgumentsOfTheirOwn)
{
    CommandLine c = ParseCommandLine({"/A", "/I:D:/Net/Work.INI"});
    EXPECT_TRUE(c.bAutorun);
    EXPECT_EQ(c.iniValue, "D:/Net/Work.INI") << "values keep their case";
    c = ParseCommandLine({"/i:/home/u/ann/mail.ini"});
    EXPECT_FALSE(c.bAutorun) << "a path holding /a never starts Autorun";
    c = ParseCommandLine({"-i", "x.ini", "--autorun", "--headless"});
    EXPECT_TRUE(c.bAutorun);
    EXPECT_TRUE(c.bHeadless);
    EXPECT_EQ(c.iniValue, "x.ini");
    EXPECT_EQ(ParseCommandLine({"--ini=y.ini"}).iniValue, "y.ini");
    EXPECT_EQ(ParseCommandLine({"/i:my file.ini"}).iniValue, "my file.ini");
    EXPECT_TRUE(ParseCommandLine({"--paths"}).bPaths);
    // The last two name a directory, which is no settings file.
    const std::vector<std::vector<std::string>> bad = {{"/x"},  {"-i"},        {"/i:"},
                                                       {"/ab"}, {"/i:/mail/"}, {"--ini", "sub/"}};
    for (const auto& args : bad)
        EXPECT_FALSE(ParseCommandLine(args).error.empty()) << args[0];
}

TEST(StartupPaths, DefaultsAndTheSettingsFileOption)
{
    StartupPaths p = ResolvePaths("/h", "");
    EXPECT_EQ(p.settingsFile, "/h/TOLVAN.INI");
    EXPECT_EQ(p.newsgroupFile, "/h/TOLVAN.NWS");
    EXPECT_EQ(p.helpFile, "/h/TOLVAN.HLP");
    EXPECT_EQ(p.workDir, "/h/$WORK");
    EXPECT_EQ(p.repWorkDir, "/h/$REPWORK");
    EXPECT_EQ(p.packetName, "Tolvan");

    p = ResolvePaths("/h", "other.ini");
    EXPECT_EQ(p.settingsFile, "/h/other.ini");
    EXPECT_EQ(p.newsgroupFile, "/h/other.NWS");
    EXPECT_EQ(p.packetName, "Other");

    p = ResolvePaths("/h", "/Net/WORK.INI");
    EXPECT_EQ(p.settingsFile, "/Net/WORK.INI");
    EXPECT_EQ(p.newsgroupFile, "/Net/WORK.NWS");
    EXPECT_EQ(p.packetName, "Work");
    EXPECT_EQ(p.workDir, "/h/$WORK") << "work directories stay in the program's directory";

    EXPECT_EQ(PacketNameFromFile("/x/averylongname.ini"), "Averylon");
    EXPECT_EQ(PacketNameFromFile("noext"), "Noext");
    EXPECT_EQ(ResolvePaths("/h", "sub/a.b.ini").newsgroupFile, "sub/a.b.NWS");
}

TEST(StartupPaths, HomeDirectoryFromTheEnvironment)
{
    ::setenv("MAILTOLVAN_HOME", "/m home", 1);
    EXPECT_EQ(ResolveHomeDir(), "/m home");
    ::unsetenv("MAILTOLVAN_HOME");
    ::setenv("XDG_DATA_HOME", "/xdg", 1);
    EXPECT_EQ(ResolveHomeDir(), "/xdg/mailtolvan");
    ::setenv("XDG_DATA_HOME", "relative", 1);
    ::setenv("HOME", "/home/u", 1);
    EXPECT_EQ(ResolveHomeDir(), "/home/u/.local/share/mailtolvan");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(ResolveHomeDir(), "/home/u/.local/share/mailtolvan");
}

TEST(Startup, CreatesWorkDirectoriesKeepsLeftoversAndRemovesThemAtTheEnd)
{
    TempDir home;
    std::string work = home.File("$WORK");
    ASSERT_EQ(::mkdir(work.c_str(), 0700), 0);
    testutil::WriteFile(work + "/PWZ1.TMP", "left by a crash");
    {
        Startup s(ParseCommandLine({}), home.Path());
        EXPECT_TRUE(s.WorkDirsReady());
        EXPECT_TRUE(s.m_bFirstStart);
        EXPECT_TRUE(testutil::Exists(home.File("$REPWORK")));
        EXPECT_EQ(testutil::ReadFile(work + "/PWZ1.TMP"), "left by a crash");
        EXPECT_EQ(s.m_szTimeZone, tz::ProcessZoneText());
    }
    EXPECT_FALSE(testutil::Exists(work));
    EXPECT_FALSE(testutil::Exists(home.File("$REPWORK")));

    testutil::WriteFile(home.File("TOLVAN.INI"), "[Mailtolvan]\n");
    Startup again(ParseCommandLine({"/a"}), home.Path());
    EXPECT_FALSE(again.m_bFirstStart);
    EXPECT_TRUE(again.m_bAutorun);
}
