// The "Usenet Groups" window's logic: its rows for the four settings, Find
// Group, and the popup's settings for one group.
#include "NewsHost.h"
#include "RecordingViews.h"

#include "session/WGroups.h"

using sessiontest::ProgramDir;

namespace {

// b.sel and d.sel selected.
const char kList[] = "a.one,0,10,1000,,\r\nb.sel,7,20,2000,ann,pw\r\nc.two,2,30,3000,,\r\n"
                     "d.sel,1,40,4000,,\r\n";

class UsenetGroups : public ::testing::Test {
protected:
    void SetUp() override { dir.LoadGroups(kList); }
    ProgramDir dir;
};

TEST_F(UsenetGroups, RowsForTheFourSettings)
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

TEST_F(UsenetGroups, FindGroupAndTheSettingsOfOneGroup)
{
    dir.ini->WriteInt("Groups", "DisplayAll", 0); // selected groups only
    auto pView = std::make_unique<RecordingGroupsView>();
    RecordingGroupsView& view = *pView;
    int iGone = 0;
    GroupsOwner owner;
    owner.gone = [&] { ++iGone; };
    auto w = std::make_unique<WGroups>(owner, std::move(pView));

    // Find ignores case; Repeat goes on after the current row; no match
    // says so and keeps the row.
    EXPECT_EQ(w->FindGroup("D.SEL", false), 1);
    EXPECT_EQ(view.selected, 1);
    EXPECT_EQ(w->FindGroup("sel", false), 0);
    EXPECT_EQ(w->FindGroup("sel", true), 1);
    EXPECT_EQ(w->FindGroup("sel", true), -1);
    EXPECT_EQ(w->FindGroup("", false), -1);
    ASSERT_EQ(dir.boxes.boxes.size(), 2u);
    EXPECT_EQ(dir.boxes.boxes[0].text, "Could not find group.");
    EXPECT_EQ(dir.boxes.boxes[0].caption, "Find Group");
    EXPECT_EQ(view.selected, 1);
    EXPECT_EQ(w->CurrentRow(), 1);

    // The popup's Settings of b.sel: Cancel changes nothing.
    EXPECT_FALSE(w->GroupSettings(0));
    EXPECT_EQ(view.settingsFor, (std::vector<std::string>{"b.sel"}));
    EXPECT_EQ(view.iFills, 1);
    // OK (the dialog changed the record): the row is redrawn and placed by
    // the table, and selected.
    view.onSettings = [this](const std::string& group) {
        dir.groups->Find(group);
        dir.groups->Current()->m_lPointer = 77;
        return true;
    };
    EXPECT_TRUE(w->GroupSettings(0));
    EXPECT_EQ(view.rows, (std::vector<std::string>{"+\t77\tb.sel", "+\t40\td.sel"}));
    EXPECT_EQ(view.selected, 0);
    // Unselected there, it leaves a list of the selected groups.
    view.onSettings = [this](const std::string& group) {
        dir.groups->Find(group);
        dir.groups->Current()->m_uFlags &= ~NG_SELECTED;
        return true;
    };
    EXPECT_TRUE(w->GroupSettings(1));
    EXPECT_EQ(view.settingsFor.back(), "d.sel");
    EXPECT_EQ(view.rows, (std::vector<std::string>{"+\t77\tb.sel"}));
    EXPECT_EQ(view.selected, -1);
    EXPECT_FALSE(w->GroupSettings(5));
    EXPECT_EQ(view.settingsFor.size(), 3u);

    w->Reload();
    EXPECT_EQ(view.statuses, (std::vector<std::string>{"Reloading groups . . .", "Done!"}));
    w.reset();
    EXPECT_EQ(iGone, 1);
}

} // namespace
