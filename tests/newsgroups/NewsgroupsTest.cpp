#include "newsgroups/Newsgroups.h"

#include "SmallDisk.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

std::vector<std::string> Names(Newsgroups& list)
{
    std::vector<std::string> names;
    for (bool b = list.First(); b; b = list.Next())
        names.push_back(list.Current()->m_szName);
    return names;
}

// A list without the two default groups.
std::unique_ptr<Newsgroups> EmptyList()
{
    auto p = std::make_unique<Newsgroups>("");
    p->Remove("news.answers");
    p->Remove("news.newusers.questions");
    return p;
}

} // namespace

TEST(NewsgroupsFile, LoadsWellFormedLinesAndDropsOthers)
{
    TempDir dir;
    std::string path = dir.File("TOLVAN.NWS");
    WriteFile(path, "comp.lang.c,1,100,820000000,,\r\n"
                    "alt.test,7,-50,  42,joe,secret\r\n"
                    "bad.line,1,2,3,4\r\n"
                    "too.many,1,2,3,user,pass,word\r\n"
                    "\r\n"
                    "de.test,11,+12xyz,abc,,\n"
                    "last.no.newline,2,5,6,u,p");
    Newsgroups list(path);
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(Names(list),
              (std::vector<std::string>{"comp.lang.c", "alt.test", "de.test", "last.no.newline"}));
    ASSERT_TRUE(list.Find("comp.lang.c"));
    const newsgr* g = list.Current();
    EXPECT_EQ(g->m_uFlags, NG_SELECTED);
    EXPECT_EQ(g->m_lPointer, 100);
    EXPECT_EQ(g->m_lLoadedPointer, 100);
    EXPECT_EQ(g->m_lDate, 820000000);
    EXPECT_EQ(g->m_lLoadedDate, 820000000);
    EXPECT_EQ(g->m_szUser, "");
    EXPECT_EQ(g->m_iConference, 0);
    ASSERT_TRUE(list.Find("alt.test"));
    EXPECT_EQ(list.Current()->m_lPointer, -50);
    EXPECT_EQ(list.Current()->m_lDate, 42);
    EXPECT_EQ(list.Current()->m_szUser, "joe");
    EXPECT_EQ(list.Current()->m_szPassword, "secret");
    EXPECT_EQ(list.Current()->m_iConference, 1);
    ASSERT_TRUE(list.Find("de.test"));
    // The in-packet mark is never taken from the file.
    EXPECT_EQ(list.Current()->m_uFlags, 3u);
    EXPECT_EQ(list.Current()->m_lPointer, 12);
    EXPECT_EQ(list.Current()->m_lDate, 0);
    // Conference numbers count accepted lines only.
    EXPECT_EQ(list.Current()->m_iConference, 2);
    EXPECT_TRUE(list.SaveCurrent());
}

TEST(NewsgroupsFile, MissingEmptyOrUnnamedFileGivesTheDefaultList)
{
    TempDir dir;
    std::time_t before = std::time(nullptr);
    for (const std::string& path : {dir.File("absent.NWS"), std::string()}) {
        Newsgroups list(path);
        EXPECT_EQ(Names(list),
                  (std::vector<std::string>{"news.answers", "news.newusers.questions"}));
        for (bool b = list.First(); b; b = list.Next()) {
            EXPECT_EQ(list.Current()->m_uFlags, NG_SELECTED);
            EXPECT_EQ(list.Current()->m_lPointer, 1);
            EXPECT_GE(list.Current()->m_lDate, before);
            EXPECT_LE(list.Current()->m_lDate, std::time(nullptr));
        }
        EXPECT_TRUE(list.Save());
    }
    // The default list of a missing file is written at the end.
    std::string written = ReadFile(dir.File("absent.NWS"));
    EXPECT_EQ(written.rfind("news.answers,1,1,", 0), 0u) << written;
    EXPECT_NE(written.find("\r\nnews.newusers.questions,1,1,"), std::string::npos);

    WriteFile(dir.File("empty.NWS"), "");
    Newsgroups empty(dir.File("empty.NWS"));
    EXPECT_EQ(empty.Count(), 2);
}

TEST(NewsgroupsFile, SavesEveryRecordInListOrderWithCrLf)
{
    TempDir dir;
    std::string path = dir.File("TOLVAN.NWS");
    {
        auto list = EmptyList();
        list->SetPath(path);
        list->Add("b.group", NG_SELECTED | NG_AUTOMATIC, 1234, 900000000, "", "");
        list->Add("a.group", NG_BYDATE | NG_INPACKET, -10, 5, "user", "pw");
        ASSERT_TRUE(list->Find("b.group"));
        list->Current()->m_lPointer = 2000;
    } // destruction writes
    EXPECT_EQ(ReadFile(path), "a.group,4,-10,5,user,pw\r\n"
                              "b.group,3,2000,900000000,,\r\n");
    // And it loads back the same.
    Newsgroups again(path);
    EXPECT_EQ(Names(again), (std::vector<std::string>{"a.group", "b.group"}));
    ASSERT_TRUE(again.Find("b.group"));
    EXPECT_EQ(again.Current()->m_lPointer, 2000);
    EXPECT_EQ(again.Current()->m_lLoadedPointer, 2000);
}

TEST(NewsgroupsFile, SaveCurrentFalseWritesTheLoadedPointers)
{
    TempDir dir;
    std::string path = dir.File("TOLVAN.NWS");
    WriteFile(path, "x.y,1,100,1000,,\r\n");
    {
        Newsgroups list(path);
        ASSERT_TRUE(list.Find("x.y"));
        list.Current()->m_lPointer = 250;
        list.Current()->m_lDate = 2000;
        list.Current()->m_uFlags |= NG_AUTOMATIC;
        list.SetSaveCurrent(false);
    }
    // Flags changes are kept; pointer moves are discarded.
    EXPECT_EQ(ReadFile(path), "x.y,3,100,1000,,\r\n");
}

TEST(NewsgroupsFile, AnEmptyListDeletesTheFileAndTheNextStartHasTheDefaults)
{
    TempDir dir;
    std::string path = dir.File("TOLVAN.NWS");
    WriteFile(path, "only.group,1,1,1,,\r\n");
    {
        Newsgroups list(path);
        EXPECT_TRUE(list.Remove("only.group"));
        EXPECT_EQ(list.Count(), 0);
        EXPECT_TRUE(list.Save());
        EXPECT_FALSE(testutil::Exists(path));
    }
    Newsgroups next(path);
    EXPECT_EQ(Names(next), (std::vector<std::string>{"news.answers", "news.newusers.questions"}));
}

TEST(NewsgroupsFile, AFileThatCannotBeWrittenIsReportedAndTheOldFileSurvives)
{
    TempDir dir;
    {
        Newsgroups list(dir.File("no/such/dir/TOLVAN.NWS"));
        EXPECT_FALSE(list.Save());
        EXPECT_NE(list.LastError().find("cannot write"), std::string::npos) << list.LastError();
    }
    // A full disk: the complete old file stays in place.
    std::string mnt = dir.File("mnt");
    ASSERT_EQ(::mkdir(mnt.c_str(), 0755), 0);
    auto result = testutil::RunWithSmallDisk(mnt, 16 * 1024, [&]() {
        std::string path = mnt + "/TOLVAN.NWS";
        std::string old = "old.group,1,1,1,,\r\n";
        WriteFile(path, old);
        Newsgroups list(path);
        for (int i = 0; i < 2000; ++i)
            list.Add("a.rather.long.group.name.number." + std::to_string(i), 1, 1, 1, "", "");
        if (list.Save())
            return 1;
        if (ReadFile(path) != old)
            return 2;
        return list.LastError().find("No space") == std::string::npos ? 3 : 0;
    });
    ASSERT_TRUE(result.has_value()) << "no private mount for the small disk";
    EXPECT_EQ(*result, 0);
}

TEST(NewsgroupsFile, AReadOnlyDirectoryKeepsTheOldFile)
{
    if (testutil::RerunAsNobody())
        return;
    TempDir dir;
    WriteFile(dir.File("TOLVAN.NWS"), "keep.me,1,1,1,,\r\n");
    ::chmod(dir.Path().c_str(), 0555);
    {
        Newsgroups list(dir.File("TOLVAN.NWS"));
        list.Add("new.group", 1, 1, 1, "", "");
        EXPECT_FALSE(list.Save());
    }
    EXPECT_EQ(ReadFile(dir.File("TOLVAN.NWS")), "keep.me,1,1,1,,\r\n");
}

TEST(NewsgroupsFile, TextsWithCommasOrLineBreaksAreNotWrittenAndReported)
{
    TempDir dir;
    std::string path = dir.File("TOLVAN.NWS");
    auto list = EmptyList();
    list->SetPath(path);
    list->Add("good.group", 1, 1, 1, "", "");
    list->Add("forged", 1, 1, 1, "", "pw\r\nevil.group,1,1,1,,");
    list->Add("comma.pass", 1, 1, 1, "", "a,b");
    EXPECT_FALSE(list->Save());
    EXPECT_NE(list->LastError().find("comma.pass"), std::string::npos);
    EXPECT_EQ(ReadFile(path), "good.group,1,1,1,,\r\n");
    EXPECT_TRUE(Newsgroups::IsStorableText("plain"));
    EXPECT_FALSE(Newsgroups::IsStorableText("a,b"));
    EXPECT_FALSE(Newsgroups::IsStorableText("a\nb"));
}

TEST(NewsgroupsFile, DestructionWritesOnlyWhenSomethingMayHaveChangedSinceSave)
{
    TempDir dir;
    std::string path = dir.File("TOLVAN.NWS");
    {
        Newsgroups list(path);
        ASSERT_TRUE(list.Save());
        ASSERT_TRUE(testutil::Exists(path));
        ::unlink(path.c_str());
    }
    EXPECT_FALSE(testutil::Exists(path));
    {
        Newsgroups list(path);
        ASSERT_TRUE(list.Save());
        ::unlink(path.c_str());
        ASSERT_TRUE(list.First());
        list.Current()->m_lPointer = 99;
    }
    EXPECT_NE(ReadFile(path).find("news.answers,1,99,"), std::string::npos);
}

TEST(NewsgroupsFile, NumbersParseLikeTheFileReaderExpects)
{
    EXPECT_EQ(Newsgroups::ParseNumber("  -12abc"), -12);
    EXPECT_EQ(Newsgroups::ParseNumber("x1"), 0);
    EXPECT_EQ(Newsgroups::ParseNumber("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(Newsgroups::ParseNumber("-99999999999999999999"), INT32_MIN);
    EXPECT_EQ(Newsgroups::ParseNumber("-2147483648"), INT32_MIN);
}

TEST(NewsgroupsList, AddPutsNewRecordsAtTheHeadAndRemoveTakesTheFirstMatch)
{
    auto list = EmptyList();
    list->Add("one", 0, 1, 1, "", "");
    list->Add("two", 0, 2, 2, "", "");
    EXPECT_FALSE(list->Find("absent"));
    list->Add("one", NG_SELECTED, 3, 3, "", "");
    EXPECT_TRUE(list->Result());
    EXPECT_EQ(Names(*list), (std::vector<std::string>{"one", "two", "one"}));
    EXPECT_EQ(list->Count(), 3);
    EXPECT_TRUE(list->Remove("one"));
    ASSERT_TRUE(list->Find("one"));
    EXPECT_EQ(list->Current()->m_lPointer, 1);
    EXPECT_EQ(list->Position(), 1);
    EXPECT_FALSE(list->Remove("ONE"));
    EXPECT_EQ(list->Count(), 2);
    EXPECT_FALSE(list->Find("One"));
    EXPECT_FALSE(list->Result());
    EXPECT_EQ(list->Current(), nullptr);
    EXPECT_EQ(list->Current(), nullptr);
}

TEST(NewsgroupsList, SelectedIterationReportsPositionsInTheWholeList)
{
    auto list = EmptyList();
    list->Add("e", NG_SELECTED, 1, 1, "", "");
    list->Add("d", 0, 1, 1, "", "");
    list->Add("c", NG_SELECTED | NG_AUTOMATIC, 1, 1, "", "");
    list->Add("b", NG_AUTOMATIC, 1, 1, "", "");
    list->Add("a", 0, 1, 1, "", "");
    std::vector<std::pair<std::string, int>> seen;
    for (bool b = list->FirstSelected(); b; b = list->NextSelected())
        seen.emplace_back(list->Current()->m_szName, list->Position());
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, int>>{{"c", 2}, {"e", 4}}));
    EXPECT_FALSE(list->Result());
    EXPECT_FALSE(list->NextSelected());

    auto none = EmptyList();
    EXPECT_FALSE(none->First());
    EXPECT_FALSE(none->FirstSelected());
}

TEST(NewsgroupsList, RenumberAndNameOfNumber)
{
    auto list = EmptyList();
    list->Add("c", 0, 1, 1, "", "");
    list->Add("b", 0, 1, 1, "", "");
    list->Add("a", 0, 1, 1, "", "");
    EXPECT_EQ(list->NameOfNumber(0), nullptr); // new records have -1
    EXPECT_STREQ(list->NameOfNumber(-1), "a");
    list->Renumber();
    EXPECT_STREQ(list->NameOfNumber(0), "a");
    EXPECT_STREQ(list->NameOfNumber(2), "c");
    EXPECT_EQ(list->NameOfNumber(3), nullptr);
    list->Add("z", 0, 1, 1, "", "");
    list->Sort();
    // Sorting keeps the numbers it found.
    EXPECT_STREQ(list->NameOfNumber(1), "b");
    EXPECT_STREQ(list->NameOfNumber(-1), "z");
}

TEST(NewsgroupsSort, OrdersByUnsignedBytesCaseSensitively)
{
    auto list = EmptyList();
    for (const char* n : {"comp.lang", "Alt.caps", "alt.test", "\xE4t.umlaut", "alt", "alt.test.x",
                          "Zed", "1digit"})
        list->Add(n, 0, 1, 1, "", "");
    list->Sort();
    EXPECT_EQ(Names(*list),
              (std::vector<std::string>{"1digit", "Alt.caps", "Zed", "alt", "alt.test",
                                        "alt.test.x", "comp.lang", "\xE4t.umlaut"}));
}

TEST(NewsgroupsSort, OfTwoEqualNamesTheOneFirstInTheArraySurvives)
{
    auto list = EmptyList();
    list->Add("same.group", NG_SELECTED | NG_AUTOMATIC, 500, 1, "old", "");
    list->Add("same.group", 0, 20, 2, "", ""); // new record, at the head
    list->Sort();
    ASSERT_EQ(list->Count(), 1);
    ASSERT_TRUE(list->First());
    EXPECT_EQ(list->Current()->m_uFlags, 0u);
    EXPECT_EQ(list->Current()->m_lPointer, 20);
    EXPECT_TRUE(list->Result());
}

TEST(NewsgroupsSort, AfterMergingAGroupListEveryNameAppearsOnceInOrder)
{
    std::mt19937 rng(12345);
    auto list = EmptyList();
    std::vector<std::string> expected;
    for (int i = 0; i < 3000; ++i)
        expected.push_back("grp." + std::to_string(rng() % 100000) + "." + std::to_string(i % 7));
    for (const auto& n : expected)
        list->Add(n, NG_SELECTED, 1, 1, "", "");
    list->Sort();
    // A second retrieval adds every group again (and a few new ones).
    for (const auto& n : expected)
        list->Add(n, 0, 2, 2, "", "");
    list->Add("brand.new", 0, 2, 2, "", "");
    expected.push_back("brand.new");
    list->Sort();
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    EXPECT_EQ(Names(*list), expected);
}

TEST(NewsgroupsSort, LargeSortedAndReversedListsSortWithoutDeepRecursion)
{
    for (bool bReverse : {false, true}) {
        auto list = EmptyList();
        const int n = 200000;
        for (int i = 0; i < n; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "g%07d", bReverse ? i : n - 1 - i);
            list->Add(name, 0, 1, 1, "", "");
        }
        list->Sort();
        ASSERT_EQ(list->Count(), n);
        std::vector<std::string> names = Names(*list);
        EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    }
    auto one = EmptyList();
    one->Add("single", 0, 1, 1, "", "");
    one->Sort();
    EXPECT_EQ(one->Count(), 1);
}
