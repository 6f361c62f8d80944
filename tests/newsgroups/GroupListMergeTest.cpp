// Adding a server's group list to the newsgroup list.
#include "newsgroups/GroupListMerge.h"
#include "newsgroups/Newsgroups.h"

#include "TestUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    // As a server lists them: the known groups among new ones (a plain
    // add-and-sort would replace both known records with flags 0).
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
