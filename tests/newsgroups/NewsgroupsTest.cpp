// The newsgroup list: its file, its records, sorting, and adding a server's
// group list to it.
#include "newsgroups/Newsgroups.h"
#include "newsgroups/GroupListMerge.h"

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

// The records as "name,flags,pointer,date,user,password#conference | ...".
std::string Dump(Newsgroups& list)
{
    std::string out;
    for (bool b = list.First(); b; b = list.Next()) {
        const newsgr* g = list.Current();
        out += (out.empty() ? "" : " | ") + g->m_szName + "," + std::to_string(g->m_uFlags) + "," +
               std::to_string(g->m_lPointer) + "," + std::to_string(g->m_lDate) + "," +
               g->m_szUser + "," + g->m_szPassword + "#" + std::to_string(g->m_iConference);
    }
    return out;
}

std::vector<std::string> Names(Newsgroups& list)
{
    std::vector<std::string> names;
    for (bool b = list.First(); b; b = list.Next())
        names.push_back(list.Current()->m_szName);
    return names;
}

// A list of the given groups (flags 0, pointer and date 1) without the two
// default groups; Add puts each new record at the head.
std::unique_ptr<Newsgroups> List(std::vector<std::string> names = {})
{
    auto p = std::make_unique<Newsgroups>("");
    p->Remove("news.answers");
    p->Remove("news.newusers.questions");
    for (auto it = names.rbegin(); it != names.rend(); ++it)
        p->Add(*it, 0, 1, 1, "", "");
    return p;
}

const std::vector<std::string> kDefaults = {"news.answers", "news.newusers.questions"};

} // namespace

TEST(NewsgroupsFile, LoadsWellFormedLinesAndDropsOthers)
{
    TempDir dir;
    WriteFile(dir.File("TOLVAN.NWS"), "comp.lang.c,1,100,820000000,,\r\n"
                                      "alt.test,7,-50,  42,joe,secret\r\n"
                                      "bad.line,1,2,3,4\r\n"
                                      "too.many,1,2,3,user,pass,word\r\n"
                                      "\r\n"
                                      "de.test,11,+12xyz,abc,,\n"
                                      "big,1,99999999999999999999,-99999999999999999999,,\n"
                                      "min,1,-2147483648,1,,\n"
                                      "last.no.newline,2,5,6,u,p");
    Newsgroups list(dir.File("TOLVAN.NWS"));
    // The in-packet mark (8) is never taken from the file; numbers too large
    // stop at the limits; conference numbers count accepted lines only.
    EXPECT_EQ(Dump(list), "comp.lang.c,1,100,820000000,,#0 | alt.test,7,-50,42,joe,secret#1 | "
                          "de.test,3,12,0,,#2 | big,1,2147483647,-2147483648,,#3 | "
                          "min,1,-2147483648,1,,#4 | last.no.newline,2,5,6,u,p#5");
    EXPECT_TRUE(list.SaveCurrent());
}

TEST(NewsgroupsFile, MissingEmptyOrUnnamedFileGivesTheDefaultListAndAnEmptiedListDeletesIt)
{
    TempDir dir;
    std::time_t before = std::time(nullptr);
    WriteFile(dir.File("empty.NWS"), "");
    for (const std::string& path : {dir.File("absent.NWS"), std::string(), dir.File("empty.NWS")}) {
        Newsgroups list(path);
        EXPECT_EQ(Names(list), kDefaults);
        for (bool b = list.First(); b; b = list.Next()) {
            EXPECT_EQ(list.Current()->m_uFlags, NG_SELECTED);
            EXPECT_EQ(list.Current()->m_lPointer, 1);
            EXPECT_GE(list.Current()->m_lDate, before);
            EXPECT_LE(list.Current()->m_lDate, std::time(nullptr));
        }
    }
    // The default list of a missing file is written at the end.
    std::string written = ReadFile(dir.File("absent.NWS"));
    EXPECT_EQ(written.rfind("news.answers,1,1,", 0), 0u) << written;
    EXPECT_NE(written.find("\r\nnews.newusers.questions,1,1,"), std::string::npos);
    // An emptied list deletes the file (the next start has the defaults).
    Newsgroups list(dir.File("absent.NWS"));
    for (const std::string& name : kDefaults)
        EXPECT_TRUE(list.Remove(name));
    EXPECT_TRUE(list.Save());
    EXPECT_FALSE(testutil::Exists(dir.File("absent.NWS")));
}

TEST(NewsgroupsFile, SavesEveryRecordInListOrderWithCrLfLoadsItBackAndKeepsLoadedPointersWhenTold)
{
    TempDir dir;
    std::string path = dir.File("TOLVAN.NWS");
    {
        auto list = List();
        list->SetPath(path);
        list->Add("b.group", NG_SELECTED | NG_AUTOMATIC, 1234, 900000000, "", "");
        list->Add("a.group", NG_BYDATE | NG_INPACKET, -10, 5, "user", "pw");
        ASSERT_TRUE(list->Find("b.group"));
        list->Current()->m_lPointer = 2000;
    } // destruction writes
    EXPECT_EQ(ReadFile(path), "a.group,4,-10,5,user,pw\r\nb.group,3,2000,900000000,,\r\n");
    {
        Newsgroups again(path);
        EXPECT_EQ(Dump(again), "a.group,4,-10,5,user,pw#0 | b.group,3,2000,900000000,,#1");
        // Without SaveCurrent a flag change is written, moved pointers are not.
        ASSERT_TRUE(again.Find("b.group"));
        again.Current()->m_lPointer = 2500;
        again.Current()->m_lDate = 950000000;
        again.Current()->m_uFlags |= NG_BYDATE;
        again.SetSaveCurrent(false);
    }
    EXPECT_EQ(ReadFile(path), "a.group,4,-10,5,user,pw\r\nb.group,7,2000,900000000,,\r\n");
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
    auto list = List({"good.group"});
    list->SetPath(dir.File("TOLVAN.NWS"));
    list->Add("forged", 1, 1, 1, "", "pw\r\nevil.group,1,1,1,,");
    list->Add("comma.pass", 1, 1, 1, "", "a,b");
    EXPECT_FALSE(list->Save());
    EXPECT_NE(list->LastError().find("comma.pass"), std::string::npos);
    EXPECT_EQ(ReadFile(dir.File("TOLVAN.NWS")), "good.group,0,1,1,,\r\n");
}

TEST(NewsgroupsFile, DestructionWritesOnlyWhenSomethingMayHaveChangedSinceSave)
{
    TempDir dir;
    std::string path = dir.File("TOLVAN.NWS");
    for (bool bChange : {false, true}) {
        {
            Newsgroups list(path);
            ASSERT_TRUE(list.Save());
            ::unlink(path.c_str());
            if (bChange && list.First())
                list.Current()->m_lPointer = 99;
        }
        EXPECT_EQ(testutil::Exists(path), bChange);
    }
    EXPECT_NE(ReadFile(path).find("news.answers,1,99,"), std::string::npos);
}

TEST(NewsgroupsList, AddPutsNewRecordsAtTheHeadAndRemoveTakesTheFirstMatch)
{
    auto list = List({"two", "one"});
    EXPECT_FALSE(list->Find("absent"));
    list->Add("one", NG_SELECTED, 3, 3, "", "");
    EXPECT_TRUE(list->Result());
    EXPECT_EQ(Names(*list), (std::vector<std::string>{"one", "two", "one"}));
    EXPECT_TRUE(list->Remove("one"));
    ASSERT_TRUE(list->Find("one"));
    EXPECT_EQ(list->Current()->m_lPointer, 1);
    EXPECT_EQ(list->Position(), 1);
    EXPECT_FALSE(list->Remove("ONE"));
    EXPECT_EQ(list->Count(), 2);
    EXPECT_FALSE(list->Find("One"));
    EXPECT_FALSE(list->Result());
    EXPECT_EQ(list->Current(), nullptr);
}

TEST(NewsgroupsList, SelectedIterationReportsPositionsInTheWholeList)
{
    auto list = List({"a", "b", "c", "d", "e"});
    for (auto [name, uFlags] : {std::pair<const char*, unsigned>{"b", NG_AUTOMATIC},
                                {"c", NG_SELECTED | NG_AUTOMATIC},
                                {"e", NG_SELECTED}}) {
        ASSERT_TRUE(list->Find(name));
        list->Current()->m_uFlags = uFlags;
    }
    std::vector<std::pair<std::string, int>> seen;
    for (bool b = list->FirstSelected(); b; b = list->NextSelected())
        seen.emplace_back(list->Current()->m_szName, list->Position());
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, int>>{{"c", 2}, {"e", 4}}));
    EXPECT_FALSE(list->Result());
    EXPECT_FALSE(list->NextSelected());
    EXPECT_FALSE(List()->First());
    EXPECT_FALSE(List()->FirstSelected());
}

TEST(NewsgroupsList, RenumberAndNameOfNumber)
{
    auto list = List({"a", "b", "c"});
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

TEST(NewsgroupsSort, OrdersByUnsignedBytesCaseSensitivelyAndKeepsTheFirstOfEqualNames)
{
    auto list = List({"comp.lang", "Alt.caps", "alt.test", "\xE4t.umlaut", "alt", "alt.test.x",
                      "Zed", "1digit"});
    list->Sort();
    EXPECT_EQ(Names(*list),
              (std::vector<std::string>{"1digit", "Alt.caps", "Zed", "alt", "alt.test",
                                        "alt.test.x", "comp.lang", "\xE4t.umlaut"}));
    // Of two equal names the one first in the array survives: the new record.
    auto same = List();
    same->Add("same.group", NG_SELECTED | NG_AUTOMATIC, 500, 1, "old", "");
    same->Add("same.group", 0, 20, 2, "", "");
    same->Sort();
    EXPECT_EQ(Dump(*same), "same.group,0,20,2,,#-1");
}

TEST(NewsgroupsSort, ListsInAnyOrderSortWithoutDeepRecursionAndKeepEachNameOnce)
{
    struct Case {
        const char* what;
        int n;
        bool bReverse, bShuffle, bTwice; // bTwice: a second retrieval adds all again
    } cases[] = {
        {"large, sorted", 200000, false, false, false},
        {"large, reversed", 200000, true, false, false},
        {"shuffled, listed twice", 3000, false, true, true},
    };
    std::mt19937 rng(12345);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> names, input;
        for (int i = 0; i < c.n; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "g%07d", i);
            names.emplace_back(name);
        }
        input = names;
        if (c.bReverse)
            std::reverse(input.begin(), input.end());
        if (c.bShuffle)
            std::shuffle(input.begin(), input.end(), rng);
        auto list = List();
        for (int iRound = 0; iRound < (c.bTwice ? 2 : 1); ++iRound) {
            for (const auto& name : input)
                list->Add(name, iRound == 0 ? NG_SELECTED : 0, 1, 1, "", "");
            list->Sort();
        }
        EXPECT_EQ(Names(*list), names);
    }
    auto one = List({"single"});
    one->Sort();
    EXPECT_EQ(one->Count(), 1);
}

TEST(GroupListMerge, ListedGroupsNeverUndoTheUsersRecords)
{
    TempDir dir;
    std::string path = dir.File("TOLVAN.NWS");
    // A subscribed group with moved pointers and a login, and an unselected
    // one the user set to date pointers.
    WriteFile(path, "comp.lang.c,3,500,800000000,joe,pw\r\nalt.quiet,4,7,700000000,,\r\n");
    Newsgroups list(path);
    list.Find("comp.lang.c");
    list.Current()->m_lPointer = 650; // moved by this run's retrieval

    CGroupListMerge merge(list, 1700000000);
    // As a server lists them: the known groups among new ones (a plain
    // add-and-sort would replace both known records with flags 0).
    EXPECT_TRUE(merge.Offer("zeta.new", 10));
    EXPECT_FALSE(merge.Offer("comp.lang.c", 1));
    EXPECT_TRUE(merge.Offer("alpha.new", 3));
    EXPECT_FALSE(merge.Offer("alt.quiet", 1));
    EXPECT_FALSE(merge.Offer("zeta.new", 99)) << "listed twice, added once";
    merge.Finish();
    EXPECT_EQ(merge.Added(), 2);

    // The known records as they were (comp.lang.c's pointer as moved); a new
    // group has flags 0, its first listed number and the list's date.
    EXPECT_EQ(Dump(list), "alpha.new,0,3,1700000000,,#-1 | alt.quiet,4,7,700000000,,#1 | "
                          "comp.lang.c,3,650,800000000,joe,pw#0 | zeta.new,0,10,1700000000,,#-1");
    ASSERT_TRUE(list.Find("comp.lang.c"));
    EXPECT_EQ(list.Current()->m_lLoadedPointer, 500);
}
