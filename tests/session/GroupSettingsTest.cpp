// The Group Settings dialog's logic on its copy, and the "Usenet Groups"
// window's rows, Find Group and one-group settings.
#include "NewsHost.h"
#include "RecordingViews.h"

#include "session/DGroupSettings.h"
#include "session/WGroups.h"
#include "util/TimeZone.h"

using sessiontest::ProgramDir;

namespace {

// b.sel selected with a login and date pointers, the others not.
const char kList[] = "a.one,0,10,1000,,\r\nb.sel,7,20,2000,ann,pw\r\nc.two,2,30,3000,,\r\n"
                     "d.sel,1,40,4000,,\r\n";

class GroupSettings : public ::testing::Test {
protected:
    void SetUp() override { dir.LoadGroups(kList); }
    ProgramDir dir;
};

TEST_F(GroupSettings, WorksOnACopyWithToggleSetGloballyAddDeleteAndFind)
{
    DGroupSettings d(*dir.groups);
    EXPECT_FALSE(d.SingleGroup());
    EXPECT_EQ(d.Rows(), (std::vector<std::string>{" \ta.one", "+\tb.sel", " \tc.two", "+\td.sel"}));
    EXPECT_EQ(d.Current(), 0);

    d.Toggle({1, 2, 2}); // highlighted rows, one of them twice
    d.SetCurrent(3);
    d.Toggle({}); // the current row
    EXPECT_EQ(d.Rows(), (std::vector<std::string>{" \ta.one", " \tb.sel", "+\tc.two", " \td.sel"}));

    d.SetCurrent(1);
    EXPECT_EQ(d.Name(), "b.sel");
    EXPECT_TRUE(d.Automatic());
    EXPECT_TRUE(d.UseDate());
    EXPECT_EQ(d.FirstArticle(), 20);
    EXPECT_EQ(d.User(), "ann");
    d.SetGlobally();
    for (std::int32_t i = 0; i < d.Count(); ++i) {
        const newsgr* p = d.Copy().At(i);
        EXPECT_EQ(p->m_lPointer, 20) << p->m_szName;
        EXPECT_EQ(p->m_lDate, 2000);
        EXPECT_EQ(p->m_uFlags & (NG_AUTOMATIC | NG_BYDATE), NG_AUTOMATIC | NG_BYDATE);
        EXPECT_TRUE(p->m_szUser.empty() == (p->m_szName != "b.sel")) << "logins stay their own";
    }
    EXPECT_EQ(d.Copy().At(2)->m_uFlags & NG_SELECTED, NG_SELECTED) << "selection is not global";

    // Add: sorted in and current; an existing name is only found; a name
    // the file cannot store is refused.
    EXPECT_EQ(d.Add("b.new"), 1);
    EXPECT_EQ(d.Row(1), "+\tb.new");
    EXPECT_EQ(d.FirstArticle(), 1);
    EXPECT_EQ(d.Add("a.one"), 0);
    EXPECT_EQ(d.Count(), 5);
    EXPECT_EQ(d.Add("x,y"), -1);
    EXPECT_EQ(d.Add(""), -1);
    EXPECT_EQ(d.Count(), 5);
    ASSERT_EQ(dir.boxes.boxes.size(), 2u);
    EXPECT_NE(dir.boxes.boxes[0].text.find("comma"), std::string::npos);

    d.SetCurrent(4);
    d.Delete({0, 4});
    EXPECT_EQ(d.Rows(), (std::vector<std::string>{"+\tb.new", " \tb.sel", "+\tc.two"}));
    EXPECT_EQ(d.Current(), 2) << "kept within the list";

    // Find ignores case; Repeat goes on after the current row; no match
    // says so and keeps the current row.
    EXPECT_EQ(d.Find("B.", false), 0);
    EXPECT_EQ(d.Find("b.", true), 1);
    EXPECT_EQ(d.Find("b.", true), -1);
    EXPECT_EQ(d.Current(), 1);
    EXPECT_EQ(dir.boxes.boxes.back().text, "Could not find group.");
    EXPECT_EQ(dir.boxes.boxes.back().caption, "Find Group");

    // None of it touched the list itself.
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"a.one", "b.sel", "c.two", "d.sel"}));
    EXPECT_EQ(dir.Group("a.one")->m_lPointer, 10);
}

TEST_F(GroupSettings, LoginTextsThatTheFileCannotHoldAreRefusedWhereTyped)
{
    DGroupSettings d(*dir.Group("b.sel"));
    EXPECT_TRUE(d.SingleGroup());
    ASSERT_EQ(d.Count(), 1);
    EXPECT_FALSE(d.SetUser("an,n"));
    EXPECT_FALSE(d.SetUser("ann\r\nd.sel,1,1,1,,"));
    EXPECT_EQ(d.User(), "ann");
    EXPECT_TRUE(d.SetUser("bob"));
    EXPECT_EQ(d.User(), "bob");

    EXPECT_TRUE(d.SetPassword("s3cret", "s3cret"));
    EXPECT_EQ(d.Password(), "s3cret");
    // Different Password and Confirm: both cleared, message 850.
    EXPECT_FALSE(d.SetPassword("one", "two"));
    EXPECT_EQ(d.Password(), "");
    EXPECT_EQ(dir.boxes.boxes.back().text, "The Password and Confirm do not match.");
    EXPECT_FALSE(d.SetPassword("p,w", "p,w"));
    EXPECT_EQ(d.Password(), "");
    EXPECT_EQ(dir.boxes.boxes.size(), 4u);
}

TEST_F(GroupSettings, DateFieldsAreLocalDaysOfTheProgramsZone)
{
    tz::SetProcessZone("EST-0500", false);
    DGroupSettings d(*dir.Group("b.sel"));
    ASSERT_TRUE(d.SetDate(2024, 2, 29));
    // Midnight in a zone five hours west of Greenwich.
    EXPECT_EQ(d.Copy().At(0)->m_lDate, tz::FromCivil(2024, 2, 29, 5, 0, 0));
    EXPECT_EQ(d.Year(), 2024);
    EXPECT_EQ(d.Month(), 2);
    EXPECT_EQ(d.Day(), 29);
    EXPECT_FALSE(d.SetDate(2023, 2, 29));
    EXPECT_FALSE(d.SetDate(2024, 13, 1));
    EXPECT_FALSE(d.SetDate(2038, 1, 1)) << "beyond what the file's numbers hold";
    EXPECT_EQ(d.Day(), 29);
    EXPECT_EQ(DGroupSettings::MonthName(2), "February");
    tz::SetProcessZone("GMT+0000", false);
}

TEST_F(GroupSettings, UsenetGroupsRowsForTheFourSettings)
{
    struct Case {
        int iAtTop, iAll;
        std::vector<std::string> rows;
    } cases[] = {
        {1, 1, {"+\t20\tb.sel", "+\t40\td.sel", " \t10\ta.one", " \t30\tc.two"}},
        {1, 0, {"+\t20\tb.sel", "+\t40\td.sel"}},
        {0, 1, {" \t10\ta.one", "+\t20\tb.sel", " \t30\tc.two", "+\t40\td.sel"}},
        {0, 0, {"+\t20\tb.sel", "+\t40\td.sel"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.iAtTop) + std::to_string(c.iAll));
        dir.ini->WriteInt("Groups", "SelectedAtTop", c.iAtTop);
        dir.ini->WriteInt("Groups", "DisplayAll", c.iAll);
        auto pView = std::make_unique<RecordingGroupsView>();
        RecordingGroupsView& view = *pView;
        WGroups w(GroupsOwner{}, std::move(pView));
        EXPECT_EQ(view.rows, c.rows);
        EXPECT_EQ(w.Rows(), c.rows);
    }
}

TEST_F(GroupSettings, UsenetGroupsFindAndTheSettingsOfOneGroup)
{
    dir.ini->WriteInt("Groups", "DisplayAll", 0); // selected groups only
    auto pView = std::make_unique<RecordingGroupsView>();
    RecordingGroupsView& view = *pView;
    int iGone = 0;
    GroupsOwner owner;
    owner.gone = [&] { ++iGone; };
    auto w = std::make_unique<WGroups>(owner, std::move(pView));

    EXPECT_EQ(w->FindGroup("D.SEL", false), 1);
    EXPECT_EQ(view.selected, 1);
    EXPECT_EQ(w->FindGroup("sel", false), 0);
    EXPECT_EQ(w->FindGroup("sel", true), 1);
    EXPECT_EQ(w->FindGroup("sel", true), -1);
    EXPECT_EQ(dir.boxes.boxes.back().text, "Could not find group.");
    EXPECT_EQ(view.selected, 1);

    // The popup's Settings for b.sel: Cancel changes nothing.
    EXPECT_FALSE(w->GroupSettings(0));
    EXPECT_EQ(view.iDialogs, 1);
    // OK: what the dialog set goes to the list's record, and the row moves
    // where the table puts it.
    view.onSettings = [](DGroupSettings& d) {
        EXPECT_TRUE(d.SingleGroup());
        EXPECT_EQ(d.Name(), "b.sel");
        d.SetFirstArticle(77);
        d.SetUseDate(false);
        return d.SetUser("zoe");
    };
    dir.groups->Find("b.sel");
    dir.groups->Current()->m_lPointer = 25; // moved by a retrieval since loading
    EXPECT_TRUE(w->GroupSettings(0));
    const newsgr* b = dir.Group("b.sel");
    EXPECT_EQ(b->m_lPointer, 77);
    EXPECT_EQ(b->m_lLoadedPointer, 77) << "kept even when the moved pointers are not";
    EXPECT_EQ(b->m_lDate, 2000);
    EXPECT_EQ(b->m_uFlags, NG_SELECTED | NG_AUTOMATIC);
    EXPECT_EQ(b->m_szUser, "zoe");
    EXPECT_EQ(b->m_szPassword, "pw");
    EXPECT_EQ(view.rows, (std::vector<std::string>{"+\t77\tb.sel", "+\t40\td.sel"}));
    EXPECT_EQ(view.selected, 0);

    // Unselected in the dialog, it leaves a list of selected groups.
    view.onSettings = [](DGroupSettings& d) {
        d.Toggle({});
        return true;
    };
    EXPECT_TRUE(w->GroupSettings(1));
    EXPECT_EQ(view.rows, (std::vector<std::string>{"+\t77\tb.sel"}));
    EXPECT_EQ(view.selected, -1);
    EXPECT_FALSE(w->GroupSettings(5));

    w->Reload();
    EXPECT_EQ(view.statuses, (std::vector<std::string>{"Reloading groups . . .", "Done!"}));
    w.reset();
    EXPECT_EQ(iGone, 1);
}

} // namespace
