// The rules an article retrieval rests on, as tables: which range of a group
// is fetched, how overview lines become rows, how rows sort, and which
// pointers may be written when a packet was or was not saved.
#include "NewsHost.h"

#include "session/PointerGuard.h"
#include "session/WArticles.h"
#include "session/WGroups.h"

#include <gtest/gtest.h>

using sessiontest::ProgramDir;

namespace {

TEST(ArticleRange, PointersSettingsAndServerNumbers)
{
    struct Case {
        const char* what;
        std::int32_t pointer;
        std::uint32_t flags;
        std::int32_t count, first, last, firstNew;
        bool bNew;
        std::int32_t minimum, maximum;
        bool answer838;
        GroupRange::Outcome outcome;
        std::int32_t start, end, pointerAfter;
    } cases[] = {
        {"renumbered server", 500, 0, 350, 100, 450, 0, true, 0, 0, true, GroupRange::FETCH, 100,
         450, 100},
        {"two past the end: renumbered", 452, 0, 350, 100, 450, 0, true, 0, 0, true,
         GroupRange::FETCH, 100, 450, 100},
        {"pointer one past the end", 451, 0, 350, 100, 450, 0, true, 0, 0, true, GroupRange::NO_NEW,
         0, 0, 451},
        {"negative pointer counts back", -50, 0, 1000, 1, 1000, 0, true, 0, 0, true,
         GroupRange::FETCH, 950, 1000, 950},
        {"negative pointer beyond the first", -50, 0, 20, 990, 1000, 0, true, 0, 0, true,
         GroupRange::FETCH, 990, 1000, 990},
        {"minimum not reached", 991, 0, 10, 1, 1000, 0, true, 20, 0, true, GroupRange::NOT_ENOUGH,
         0, 0, 991},
        {"minimum exactly reached", 991, 0, 10, 1, 1000, 0, true, 10, 0, true, GroupRange::FETCH,
         991, 1000, 991},
        {"maximum keeps the oldest", 1000, 0, 4001, 1, 5000, 0, true, 0, 100, true,
         GroupRange::FETCH, 1000, 1099, 1000},
        {"first equals last is empty", 7, 0, 1, 7, 7, 0, true, 0, 0, true, GroupRange::NO_ARTICLES,
         0, 0, 7},
        {"a new group starts at the server's first", 0, 0, 50, 300, 349, 0, true, 0, 0, true,
         GroupRange::FETCH, 300, 349, 300},
        {"date found a number", 5, NG_BYDATE, 100, 10, 109, 60, true, 0, 0, true, GroupRange::FETCH,
         60, 109, 60},
        {"date found nothing, keep the number", 90, NG_BYDATE, 100, 10, 109, 0, true, 0, 0, true,
         GroupRange::FETCH, 90, 109, 90},
        {"date found nothing, No", 90, NG_BYDATE, 100, 10, 109, 0, true, 0, 0, false,
         GroupRange::NO_ARTICLES, 0, 0, 90},
        {"all mode ignores pointer and limits", 90, 0, 100, 10, 109, 0, false, 500, 5, true,
         GroupRange::FETCH, 10, 109, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        newsgr g("g.x", c.flags, c.pointer, 0, "", "");
        int iAsked = 0;
        GroupRange r =
            WGroups::PlanRange(g, c.count, c.first, c.last, c.firstNew, c.bNew, c.minimum,
                               c.maximum, [&] { return ++iAsked, c.answer838; });
        EXPECT_EQ(r.outcome, c.outcome);
        EXPECT_EQ(r.iPointer, c.pointerAfter);
        EXPECT_EQ(iAsked, (c.flags & NG_BYDATE) && c.bNew && c.firstNew <= c.first ? 1 : 0);
        if (c.outcome == GroupRange::FETCH) {
            EXPECT_EQ(r.iStart, c.start);
            EXPECT_EQ(r.iLast, c.end);
        }
    }
    newsgr g("g.t", 0, 1000, 0, "", "");
    EXPECT_EQ(WGroups::PlanRange(g, 4001, 1, 5000, 0, true, 0, 100, {}).title,
              "g.t,  100 new out of 4001 total");
    EXPECT_EQ(WGroups::PlanRange(g, 0, 1, 5000, 0, false, 0, 0, {}).title,
              "g.t, all articles 1 - 5000");
}

TEST(ArticleRows, OverviewLinesRowsAndTheFourSorts)
{
    const std::time_t tNow = 1700000000;
    ArticleHeader h;
    EXPECT_FALSE(WArticles::ParseOverview("5\tNo id\ta@b\t\t\t\t10\t3", tNow, h));
    EXPECT_FALSE(WArticles::ParseOverview("x\tsubj\ta@b\t\t<i@d>\t\t10\t3", tNow, h));
    EXPECT_FALSE(WArticles::ParseOverview("", tNow, h));
    ASSERT_TRUE(WArticles::ParseOverview("12\tHello\tAnn <a@b>\tnot a date\t<i@d>", tNow, h));
    EXPECT_EQ(h.tDate, tNow) << "an unparseable date is the time of reading";
    EXPECT_EQ(h.lLines, 0);
    ASSERT_TRUE(WArticles::ParseOverview(
        "7\tS\tA very long sender name, longer than the column\tTue, 14 Nov 2023 22:13:20 "
        "+0000\t<m@d>\t<r@d>\t1234\t42\tXref: x",
        tNow, h));
    EXPECT_EQ(h.iNumber, 7);
    EXPECT_EQ(h.tDate, tNow);
    EXPECT_EQ(h.lLines, 42);
    EXPECT_EQ(h.messageId, "<m@d>");
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(WArticles::RowOf(h, false),
              " \t     7\t23/11/14 22:13\tA very long sender name\t42\tS");
    EXPECT_EQ(WArticles::RowOf(h, true),
              "+\t     7\t23/11/14 22:13  \tA very long sender name\t42\tS");

    auto art = [](std::int32_t n, const char* subject, const char* from, std::time_t t) {
        ArticleHeader a;
        a.iNumber = n;
        a.subject = subject;
        a.from = from;
        a.tDate = t;
        return a;
    };
    std::vector<ArticleHeader> base = {
        art(9, "Beta", "zed", 300),  art(3, "RE: alpha", "ANN", 100),  art(5, "gamma", "ann", 100),
        art(1, "Alpha", "bob", 200), art(8, "re:beta", "Ann", 50),     art(2, "Re:", "carl", 400),
        art(4, "delta", "ann", 250), art(7, "re: Gamma", "dora", 250),
    };
    auto numbers = [](const std::vector<ArticleHeader>& v) {
        std::vector<std::int32_t> out;
        for (const auto& a : v)
            out.push_back(a.iNumber);
        return out;
    };
    struct Sort {
        int iKey;
        std::vector<std::int32_t> order;
    } sorts[] = {
        {0, {1, 2, 3, 4, 5, 7, 8, 9}},
        {1, {8, 3, 5, 1, 4, 7, 9, 2}}, // equal dates in number order
        {2, {3, 4, 5, 8, 1, 2, 7, 9}}, // equal senders (any case) in number order
        // A reply beside its article; "re:beta" loses the "b" after the
        // colon as well, and "Re:" alone is empty.
        {3, {2, 1, 3, 9, 4, 8, 5, 7}},
    };
    for (const Sort& s : sorts) {
        SCOPED_TRACE(s.iKey);
        std::vector<ArticleHeader> v = base;
        WArticles::SortHeaders(v, s.iKey);
        EXPECT_EQ(numbers(v), s.order);
        std::vector<ArticleHeader> r(v.rbegin(), v.rend());
        WArticles::SortHeaders(r, s.iKey);
        EXPECT_EQ(numbers(r), s.order) << "from reversed input";
    }
}

TEST(PointerGuardTest, WrittenPointersNeverPassAnUnsavedArticle)
{
    ProgramDir dir;
    dir.LoadGroups("a.auto,3,10,1000,,\r\nb.date,7,40,2000,,\r\nc.other,1,5,0,,\r\n");
    Newsgroups& list = *dir.groups;
    PointerGuard guard;
    auto at = [&](const char* name) { return list.Find(name) ? list.Current() : nullptr; };

    // Articles 10..14 of a.auto and 40..41 of b.date gathered; b.date's
    // date moved to now when it was opened.
    guard.Opening(*at("a.auto"));
    guard.Opening(*at("b.date"));
    at("b.date")->m_lDate = 999999;
    for (int n = 12; n <= 14; ++n)
        guard.Converted("a.auto", n);
    guard.Converted("a.auto", 10);
    guard.Converted("b.date", 40);
    at("a.auto")->m_lPointer = 15;
    at("b.date")->m_lPointer = 42;
    at("c.other")->m_lPointer = 9; // moved without articles (headers seen)
    EXPECT_TRUE(guard.HasUnsaved());

    // While a dialog may write the list: at the first unsaved article;
    // afterwards forward again, unless the user set the pointer (b.date).
    guard.Hold(list);
    EXPECT_EQ(at("a.auto")->m_lPointer, 10);
    EXPECT_EQ(at("b.date")->m_lDate, 2000);
    EXPECT_EQ(at("c.other")->m_lPointer, 9);
    at("b.date")->m_lPointer = 30;
    guard.Resume(list);
    EXPECT_EQ(at("a.auto")->m_lPointer, 15);
    EXPECT_EQ(at("b.date")->m_lPointer, 30);
    EXPECT_EQ(at("b.date")->m_lDate, 2000);
    at("b.date")->m_lPointer = 42;

    guard.Restrain(list);
    EXPECT_EQ(at("a.auto")->m_lPointer, 10);
    EXPECT_EQ(at("b.date")->m_lPointer, 40);
    EXPECT_EQ(at("b.date")->m_lDate, 2000);
    EXPECT_EQ(at("c.other")->m_lPointer, 9);

    // A saved packet: what is current now is written, and stays written
    // whatever the exit question answers.
    at("a.auto")->m_lPointer = 15;
    ASSERT_TRUE(guard.PacketSaved(list));
    EXPECT_FALSE(guard.HasUnsaved());
    EXPECT_NE(testutil::ReadFile(dir.home.File("TOLVAN.NWS")).find("a.auto,3,15,1000,"),
              std::string::npos);
    guard.Opening(*at("a.auto"));
    guard.Converted("a.auto", 15);
    at("a.auto")->m_lPointer = 20;
    guard.Restrain(list);
    EXPECT_EQ(at("a.auto")->m_lPointer, 15);
    list.SetSaveCurrent(false);
    at("a.auto")->m_lPointer = 20;
    ASSERT_TRUE(list.Save());
    EXPECT_NE(testutil::ReadFile(dir.home.File("TOLVAN.NWS")).find("a.auto,3,15,1000,"),
              std::string::npos);
}

} // namespace
