#include "util/CStringList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
template <class List>
std::vector<std::string> Walk(List& list)
{
    std::vector<std::string> out;
    for (auto p = list.First(); p; p = list.Next())
        out.emplace_back(static_cast<const char*>(p));
    return out;
}

// Items that compare on their first character only, so equal ones can be told apart.
struct ByFirstChar : CList {
    int Compare(const void* a, const void* b) const override
    {
        return *static_cast<const char*>(a) - *static_cast<const char*>(b);
    }
};
} // namespace

TEST(CList, OrderedInsertGoesBeforeEqualItems)
{
    ByFirstChar list;
    const char* a1 = "a1";
    const char* b1 = "b1";
    const char* a2 = "a2";
    list.Insert(const_cast<char*>(b1));
    list.Insert(const_cast<char*>(a1));
    list.Insert(const_cast<char*>(a2));
    EXPECT_EQ(Walk(list), (std::vector<std::string>{"a2", "a1", "b1"}));
}

TEST(CList, RemovingTheCursorItemKeepsTheWalkGoing)
{
    CStringList list;
    list.Add("one");
    list.Add("two");
    list.Add("three");
    std::vector<std::string> seen;
    for (const char* p = list.First(); p; p = list.Next()) {
        seen.emplace_back(p);
        if (std::string(p) == "one" || std::string(p) == "two")
            list.RemoveString(p);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(Walk(list), (std::vector<std::string>{"three"}));
    EXPECT_EQ(list.Count(), 1u);
}

TEST(CStringList, CopiesComparesCaseSensitivelyAndFrees)
{
    CStringList list;
    std::string s = "Beta";
    list.Add(s, true);
    s[0] = 'X'; // the list keeps its own copy
    list.Add("alpha", true);
    list.Add("Alpha", true);
    EXPECT_EQ(Walk(list), (std::vector<std::string>{"Alpha", "Beta", "alpha"}));
    EXPECT_TRUE(list.Contains("alpha"));
    EXPECT_FALSE(list.Contains("ALPHA"));
    EXPECT_TRUE(list.RemoveString("Beta"));
    EXPECT_FALSE(list.RemoveString("Beta"));
    EXPECT_EQ(list.Count(), 2u);
}

TEST(CList, EmptyListWalksNothingAndRemoveOfAbsentItemFails)
{
    CList list;
    EXPECT_EQ(list.First(), nullptr);
    EXPECT_EQ(list.Next(), nullptr);
    int x = 0;
    EXPECT_FALSE(list.Remove(&x));
    list.Append(&x);
    EXPECT_TRUE(list.Remove(&x));
    EXPECT_TRUE(list.IsEmpty());
    list.Append(&x); // tail was reset: appending still works
    EXPECT_EQ(list.First(), &x);
}
