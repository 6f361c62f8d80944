// Adding a server's group list, and the working copy of the group settings.
#include "newsgroups/GroupListMerge.h"
#include "newsgroups/Newsgroups.h"

#include "TestUtil.h"

#include <gtest/gtest.h>

#include <string>
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

const newsgr& Group(Newsgroups& list, const std::string& name)
{
    EXPECT_TRUE(list.Find(name)) << name;
    return *list.Current();
}

} // namespace

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
    // As a server lists them: the known groups among new ones (the spec
    // form of this merge would replace both known records with flags 0).
    EXPECT_TRUE(merge.Offer("zeta.new", 10));
    EXPECT_FALSE(merge.Offer("comp.lang.c", 1));
    EXPECT_TRUE(merge.Offer("alpha.new", 3));
    EXPECT_FALSE(merge.Offer("alt.quiet", 1));
    EXPECT_FALSE(merge.Offer("zeta.new", 99)) << "listed twice, added once";
    merge.Finish();
    EXPECT_EQ(merge.Added(), 2);

    EXPECT_EQ(Names(list),
              (std::vector<std::string>{"alpha.new", "alt.quiet", "comp.lang.c", "zeta.new"}));
    const newsgr& c = Group(list, "comp.lang.c");
    EXPECT_EQ(c.m_uFlags, NG_SELECTED | NG_AUTOMATIC);
    EXPECT_EQ(c.m_lPointer, 650);
    EXPECT_EQ(c.m_lLoadedPointer, 500);
    EXPECT_EQ(c.m_lDate, 800000000);
    EXPECT_EQ(c.m_szUser, "joe");
    EXPECT_EQ(c.m_szPassword, "pw");
    EXPECT_EQ(Group(list, "alt.quiet").m_uFlags, NG_BYDATE);
    const newsgr& z = Group(list, "zeta.new");
    EXPECT_EQ(z.m_uFlags, 0u);
    EXPECT_EQ(z.m_lPointer, 10) << "the first listed number, not the second offer's";
    EXPECT_EQ(z.m_lDate, 1700000000);
    EXPECT_EQ(z.m_szUser, "");
}

TEST(GroupListMerge, ManyGroupsIntoAnEmptyListComeOutSortedOnce)
{
    Newsgroups list("");
    list.Remove("news.answers");
    list.Remove("news.newusers.questions");
    CGroupListMerge merge(list, 1);
    // A listing in reverse order with every name twice.
    for (int round = 0; round < 2; ++round)
        for (int i = 30000; i > 0; --i)
            merge.Offer("g." + std::to_string(i), i);
    merge.Finish();
    EXPECT_EQ(merge.Added(), 30000);
    ASSERT_EQ(list.Count(), 30000);
    std::string previous;
    for (bool b = list.First(); b; b = list.Next()) {
        EXPECT_LT(previous, list.Current()->m_szName);
        previous = list.Current()->m_szName;
    }
}

TEST(GroupSettingsCopy, WorkingCopyHasCurrentPointersAndNoDefaultsUnlessListed)
{
    Newsgroups main("");
    main.Add("b.group", NG_SELECTED | NG_INPACKET, 10, 100, "u", "p");
    main.Find("b.group");
    main.Current()->m_lPointer = 20; // moved since it was loaded
    auto copy = main.WorkingCopy();
    // The main list's own defaults are its groups: they come along.
    EXPECT_EQ(Names(*copy),
              (std::vector<std::string>{"b.group", "news.answers", "news.newusers.questions"}));
    const newsgr& b = Group(*copy, "b.group");
    EXPECT_EQ(b.m_lPointer, 20);
    EXPECT_EQ(b.m_lLoadedPointer, 20);
    EXPECT_EQ(b.m_uFlags, NG_SELECTED) << "the packet mark is the writer's";
    EXPECT_EQ(copy->Path(), "");

    Newsgroups other("");
    other.Remove("news.answers");
    other.Remove("news.newusers.questions");
    other.Add("x.y", 0, 1, 1, "", "");
    EXPECT_EQ(Names(*other.WorkingCopy()), (std::vector<std::string>{"x.y"}));
    EXPECT_EQ(Names(*Newsgroups::CopyOf(b)), (std::vector<std::string>{"b.group"}));
}

TEST(GroupSettingsCopy, TakeOverCommitsTheCopyAndWritesItAtOnce)
{
    TempDir dir;
    std::string path = dir.File("TOLVAN.NWS");
    WriteFile(path, "a.group,1,5,50,,\r\nb.group,1,6,60,,\r\n");
    Newsgroups main(path);
    auto copy = main.WorkingCopy();
    copy->Remove("a.group");
    copy->Find("b.group");
    copy->Current()->m_lPointer = 99; // the dialog's "First Article"
    copy->Add("c.group", NG_SELECTED, 1, 70, "", "");
    ASSERT_TRUE(main.TakeOver(*copy));
    EXPECT_EQ(copy->Count(), 0);
    EXPECT_EQ(ReadFile(path), "b.group,1,99,60,,\r\nc.group,1,1,70,,\r\n");
    // A "no" to saving the current pointers keeps what the dialog set.
    main.SetSaveCurrent(false);
    ASSERT_TRUE(main.Save());
    EXPECT_EQ(ReadFile(path), "b.group,1,99,60,,\r\nc.group,1,1,70,,\r\n");

    // Every group deleted: the file goes, and the next start has defaults.
    auto none = main.WorkingCopy();
    none->Remove("b.group");
    none->Remove("c.group");
    ASSERT_TRUE(main.TakeOver(*none));
    EXPECT_FALSE(testutil::Exists(path));
}
