#include "DialogFixture.h"
#include "dialogs/DGroupSettings.h"

namespace {
class GroupSettings : public DialogFixture {
protected:
    void SetUp() override
    {
        DialogFixture::SetUp();
        pList = std::make_unique<Newsgroups>(dir.File("TOLVAN.NWS"));
        while (pList->Count() > 0)
            pList->Remove(pList->At(0)->m_szName);
        pList->Add("comp.lang.c", NG_SELECTED, 100, 0, "joe", "old");
        pList->Add("alt.test", 0, 5, 0, "", "");
    }
    std::unique_ptr<Newsgroups> pList;
};
} // namespace

TEST_F(GroupSettings, PasswordAndConfirmMustMatchBeforeTheGroupTakesIt)
{
    DGroupSettings d(*pList);
    ASSERT_EQ(d.Rows(), (std::vector<std::string>{" \talt.test", "+\tcomp.lang.c"}));
    ASSERT_TRUE(d.SetCurrent(1));
    EXPECT_EQ(d.PasswordField(), "old");
    EXPECT_EQ(d.ConfirmField(), "");
    d.SetPassword("new");
    d.SetConfirm("nwe");
    // Leaving the row does not happen: the fields are cleared, the group
    // keeps its password, the focus goes to the password.
    EXPECT_FALSE(d.SetCurrent(0));
    EXPECT_EQ(d.Current(), 1);
    EXPECT_EQ(d.PasswordField(), "");
    EXPECT_EQ(d.ConfirmField(), "");
    EXPECT_EQ(d.Group()->m_szPassword, "old");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "The Password and Confirm do not match.");
    d.SetPassword("new");
    d.SetConfirm("new");
    EXPECT_TRUE(d.CheckPassword().bAccepted);
    EXPECT_EQ(d.Group()->m_szPassword, "new");
    // Nothing reaches the list before OK.
    pList->Find("comp.lang.c");
    EXPECT_EQ(pList->Current()->m_szPassword, "old");
    ASSERT_TRUE(d.Apply());
    pList->Find("comp.lang.c");
    EXPECT_EQ(pList->Current()->m_szPassword, "new");
}

TEST_F(GroupSettings, EditsReachTheListAndItsFileOnlyOnOk)
{
    {
        DGroupSettings d(*pList);
        d.Toggle({});     // the current row: alt.test
        d.Toggle({0, 1}); // both highlighted rows
        EXPECT_EQ(d.Rows()[0], " \talt.test");
        EXPECT_EQ(d.Rows()[1], " \tcomp.lang.c");
        EXPECT_EQ(d.Add("comp.lang.c"), 1); // existing: only selected
        EXPECT_EQ(d.Count(), 2);
        EXPECT_EQ(d.Add("bad name"), -1);
        int iNew = d.Add("comp.os.linux");
        EXPECT_EQ(d.Rows()[iNew], "+\tcomp.os.linux");
        EXPECT_EQ(d.FirstArticle(), 1);
        d.SetAutomatic(true);
        d.SetUseDate(true);
        EXPECT_TRUE(d.DateEnabled());
        EXPECT_FALSE(d.NumberEnabled());
        d.SetDate(2, 30, 2024); // the day is kept within February
        int m, day, y;
        d.Date(m, day, y);
        EXPECT_EQ(m * 10000 + day * 100 + y % 100, 22924);
        d.SetGlobally();
        d.Delete({0}); // alt.test
        // Cancel: the copy is dropped.
    }
    EXPECT_EQ(pList->Count(), 2);
    DGroupSettings d(*pList);
    d.Delete({0});
    d.SetCurrent(0);
    d.SetFirstArticle(42);
    ASSERT_TRUE(d.Apply());
    EXPECT_EQ(pList->Count(), 1);
    Newsgroups reread(dir.File("TOLVAN.NWS"));
    ASSERT_TRUE(reread.Find("comp.lang.c"));
    EXPECT_EQ(reread.Current()->m_lPointer, 42);
    EXPECT_EQ(reread.Current()->m_szUser, "joe");
    EXPECT_FALSE(reread.Find("alt.test"));
}

TEST_F(GroupSettings, SetGloballyCopiesTheStartAndKindToEveryGroup)
{
    DGroupSettings d(*pList);
    d.SetCurrent(1);
    d.SetAutomatic(true);
    d.SetUseDate(true);
    d.SetFirstArticle(7);
    d.SetGlobally();
    d.SetCurrent(0);
    EXPECT_TRUE(d.Automatic());
    EXPECT_TRUE(d.UseDate());
    EXPECT_EQ(d.FirstArticle(), 7);
    EXPECT_EQ(d.Rows()[0], " \talt.test"); // the selection is not copied
}

TEST_F(GroupSettings, SingleGroupFormChangesOnlyThatRecord)
{
    DGroupSettings d(*pList, "alt.test");
    ASSERT_EQ(d.Count(), 1);
    d.Toggle({});
    d.SetUser("ann");
    ASSERT_TRUE(d.Apply());
    ASSERT_TRUE(pList->Find("alt.test"));
    EXPECT_EQ(pList->Current()->m_uFlags & NG_SELECTED, NG_SELECTED);
    EXPECT_EQ(pList->Current()->m_szUser, "ann");
    ASSERT_TRUE(pList->Find("comp.lang.c"));
    EXPECT_EQ(pList->Current()->m_szUser, "joe");
}

TEST_F(GroupSettings, FindSelectsTheRowOrSaysItFoundNothing)
{
    DGroupSettings d(*pList);
    EXPECT_EQ(d.Find("LANG", 0), 1);
    EXPECT_EQ(d.Current(), 1);
    EXPECT_EQ(d.Find("lang", 2), -1);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "Find Group");
    EXPECT_EQ(boxes.boxes[0].text, "Could not find group.");
}

// The newsgroups file separates its fields with commas: a group whose user
// name or password held one would be left out of the file at the next start.
TEST_F(GroupSettings, LoginsWithACommaOrLineBreakAreRefused)
{
    DGroupSettings d(*pList);
    ASSERT_TRUE(d.SetCurrent(0));
    ASSERT_EQ(d.Group()->m_szName, "alt.test");
    d.SetPassword("pa,ss");
    d.SetConfirm("pa,ss");
    EXPECT_FALSE(d.CheckPassword().bAccepted);
    EXPECT_EQ(d.Group()->m_szPassword, "");
    EXPECT_EQ(d.PasswordField(), "");
    d.SetUser("ann\r\nx.y,1,1,1,,");
    ASSERT_TRUE(d.SetCurrent(1));
    EXPECT_FALSE(d.Apply()) << "OK stays on the group";
    EXPECT_EQ(d.Current(), 0);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_NE(boxes.boxes[1].text.find("user name of alt.test"), std::string::npos);
    ASSERT_TRUE(pList->Find("alt.test"));
    EXPECT_EQ(pList->Current()->m_szUser, "") << "nothing reached the list";
    d.SetUser("ann");
    EXPECT_TRUE(d.Apply());
    Newsgroups reread(dir.File("TOLVAN.NWS"));
    ASSERT_TRUE(reread.Find("alt.test"));
    EXPECT_EQ(reread.Current()->m_szUser, "ann");
    EXPECT_TRUE(reread.Find("comp.lang.c"));
}
