// Group Settings refuses a user name or password that the newsgroups file
// cannot hold (it separates its fields with commas): such a group would be
// left out of the file and lost at the next start.
#include "DialogFixture.h"
#include "dialogs/DGroupSettings.h"

TEST_F(DialogFixture, GroupLoginsWithACommaOrLineBreakAreRefused)
{
    Newsgroups list(dir.File("TOLVAN.NWS"));
    list.Add("a.b", NG_SELECTED, 1, 0, "", "");
    DGroupSettings d(list);
    ASSERT_TRUE(d.SetCurrent(0));
    ASSERT_EQ(d.Group()->m_szName, "a.b");
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
    EXPECT_NE(boxes.boxes[1].text.find("user name of a.b"), std::string::npos);
    ASSERT_TRUE(list.Find("a.b"));
    EXPECT_EQ(list.Current()->m_szUser, "") << "nothing reached the list";
    d.SetUser("ann");
    EXPECT_TRUE(d.Apply());
    ASSERT_TRUE(list.Find("a.b"));
    EXPECT_EQ(list.Current()->m_szUser, "ann");
    EXPECT_TRUE(list.Find("news.answers"));
}
