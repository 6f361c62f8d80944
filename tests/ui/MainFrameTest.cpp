// The main window with its logic: menu and toolbar states, commands,
// progress, window positions, the session windows (Email, Usenet Groups,
// Posted Messages), message boxes and the Open REP File dialog.
#include "UiFixture.h"
#include "ui/EmailWindow.h"
#include "ui/MessageBoxes.h"
#include "ui/ProgressPane.h"

#include <QAbstractButton>
#include <QAction>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMdiArea>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <fstream>

namespace {
class MainFrameTest : public FrameFixture {
protected:
    bool Enabled(int iCommand) const { return pFrame->MenuAction(iCommand)->isEnabled(); }
    static void Press(QDialog& d, QDialogButtonBox::StandardButton which)
    {
        d.findChild<QDialogButtonBox*>()->button(which)->click();
    }
};
const std::vector<int> kOffline = {CMD_OPEN,          CMD_SAVE,         CMD_SAVEAS,  CMD_RUNREADER,
                                   CMD_EXIT,          CMD_CONNECT,      CMD_AUTORUN, CMD_SERVERINFO,
                                   CMD_GENERALCONFIG, CMD_HELPCONTENTS, CMD_ABOUT,   CMD_CASCADE};
// Grayed offline: the online commands and, without a news server, the news ones.
const std::vector<int> kOfflineGrayed = {
    CMD_DISCONNECT, CMD_STOP,      CMD_GETMAIL,   CMD_POST,        CMD_GETNEW,     CMD_GETALL,
    CMD_NEWGROUPS,  CMD_ALLGROUPS, CMD_FINDGROUP, CMD_FINDARTICLE, CMD_SORTNUMBER, CMD_GETSELECTED};
} // namespace

TEST_F(MainFrameTest, MenuFollowsTheStateTable)
{
    EXPECT_TRUE(pFrame->isVisible());
    auto expect = [&](const char* state, const std::vector<int>& on, const std::vector<int>& off) {
        for (int c : on)
            EXPECT_TRUE(Enabled(c)) << state << " " << c;
        for (int c : off)
            EXPECT_FALSE(Enabled(c)) << state << " " << c;
    };
    expect("offline", kOffline, kOfflineGrayed);
    // The check mark of the stored sort order.
    EXPECT_TRUE(pFrame->MenuAction(CMD_SORTFROM)->isChecked());
    EXPECT_FALSE(pFrame->MenuAction(CMD_SORTNUMBER)->isChecked());
    EXPECT_FALSE(pFrame->ConnectButton()->isChecked());

    pMain->OnCommand(CMD_CONNECT); // without news
    EXPECT_EQ(FailureCount(), 0);
    expect("online", {CMD_DISCONNECT, CMD_STOP, CMD_GETMAIL, CMD_POST, CMD_OPEN},
           {CMD_SAVE, CMD_SAVEAS, CMD_CONNECT, CMD_AUTORUN, CMD_GETNEW, CMD_NEWGROUPS});
    // The toolbar's Connect stays usable, pressed: pressing it disconnects.
    EXPECT_TRUE(pFrame->ConnectButton()->isChecked());
    EXPECT_TRUE(pFrame->ConnectButton()->isEnabled());

    pMain->OnCommand(CMD_CONNECT); // while connected Connect disconnects
    expect("offline again", kOffline, kOfflineGrayed);
    EXPECT_FALSE(pFrame->ConnectButton()->isChecked());
    EXPECT_EQ(pFrame->StatusText()->text(), "Disconnected from ");
}

TEST_F(MainFrameTest, MenuToolbarAndKeysSendCommandsOnlyWhenEnabled)
{
    QTest::keyClick(pFrame.get(), Qt::Key_O, Qt::ControlModifier);
    QTest::keyClick(pFrame.get(), Qt::Key_F1);
    pFrame->MenuAction(CMD_GETMAIL)->trigger(); // grayed: nothing
    // Clicking Connect does not press it: the logic does, once connected.
    pFrame->ConnectButton()->trigger();
    EXPECT_FALSE(pFrame->ConnectButton()->isChecked());
    pFrame->MenuAction(CMD_SORTDATE)->trigger();
    EXPECT_FALSE(pFrame->MenuAction(CMD_SORTDATE)->isChecked());
    EXPECT_EQ(commands, (std::vector<int>{CMD_OPEN, CMD_HELPCONTENTS, CMD_CONNECT}));
}

TEST_F(MainFrameTest, CtrlFFindsInTheActiveChildWindow)
{
    // Find Group and Find Article share the key; it must reach one of them.
    auto groups = pFrame->CreateGroupsView();
    auto articles = pFrame->CreateArticlesView();
    Settle();
    pFrame->EnableCommand(CMD_FINDGROUP, true);
    pFrame->EnableCommand(CMD_FINDARTICLE, true);
    QMdiArea* pArea = pFrame->Area();
    auto activate = [&](QMdiSubWindow* w) {
        pArea->setActiveSubWindow(w);
        Settle();
        commands.clear();
        QTest::keyClick(pFrame.get(), Qt::Key_F, Qt::ControlModifier);
        return commands;
    };
    EXPECT_EQ(activate(pFrame->ArticleWindows().front()), std::vector<int>{CMD_FINDARTICLE});
    EXPECT_EQ(activate(pFrame->GroupsWindow()), std::vector<int>{CMD_FINDGROUP});
    // The active child's own Find grayed: the other one still answers.
    pFrame->EnableCommand(CMD_FINDGROUP, false);
    EXPECT_EQ(activate(pFrame->GroupsWindow()), std::vector<int>{CMD_FINDARTICLE});
}

TEST_F(MainFrameTest, ProgressPaneDrawsTheShareInGreenWithThePercentage)
{
    ui::ProgressPane* pPane = pFrame->Progress();
    struct Case {
        int iSet, iShown;
        const char* text;
    } cases[] = {{37, 37, "37%"}, {150, 100, "100%"}, {-5, 0, ""}, {0, 0, ""}};
    for (const Case& c : cases) {
        pFrame->SetProgress(c.iSet);
        EXPECT_EQ(pPane->Percent(), c.iShown);
        EXPECT_EQ(pPane->Text(), c.text);
        // The top row of the pane, above the text: green up to the share.
        QImage image = pPane->grab().toImage();
        int iGreen = 0;
        for (int x = 2; x < image.width() - 2; ++x)
            if (image.pixelColor(x, 2) == QColor(0, 255, 0))
                ++iGreen;
        int iInner = image.width() - 4;
        EXPECT_NEAR(iGreen, iInner * c.iShown / 100, 2) << c.iSet;
    }
}

TEST_F(MainFrameTest, WindowPositionsAreSavedAndRestored)
{
    pFrame->setGeometry(30, 40, 700, 500);
    Settle();
    pFrame->ShowDialog(CMD_SAVEPOSITIONS);
    EXPECT_EQ(pIni->GetString("Windows", "Main", ""), "30,40,700,500");
    EXPECT_EQ(pIni->GetString("Windows", "Email", ""), "0,0,0,0") << "no Email window open";

    // Each child opens where it was saved, and all come back.
    pIni->WriteString("Windows", "Email", "10,20,300,200");
    pIni->WriteString("Windows", "Post", "30,40,400,220");
    pIni->WriteString("Windows", "Group", "5,6,250,150");
    pIni->WriteString("Windows", "Article", "20,30,400,200");
    auto pEmailView = pFrame->CreateEmailView();
    auto pPostView = pFrame->CreatePostView();
    pGroupsLogic = std::make_unique<WGroups>(GroupsOwner{}, pFrame->CreateGroupsView());
    auto pArticles1 = pFrame->CreateArticlesView();
    auto pArticles2 = pFrame->CreateArticlesView();
    ui::EmailSubWindow* pEmail = pFrame->EmailWindow();
    QMdiSubWindow* pPost = pFrame->PostWindow();
    QMdiSubWindow* pGroup = pFrame->GroupsWindow();
    ASSERT_TRUE(pEmail && pPost && pGroup);
    EXPECT_EQ(pEmail->geometry(), QRect(10, 20, 300, 200));
    EXPECT_EQ(pPost->geometry(), QRect(30, 40, 400, 220));
    EXPECT_EQ(pGroup->geometry(), QRect(5, 6, 250, 150));
    // Every article window opens at the one placement; the first one's is saved.
    auto articles = pFrame->ArticleWindows();
    ASSERT_EQ(articles.size(), 2u);
    EXPECT_EQ(articles[0]->geometry(), QRect(20, 30, 400, 200));
    EXPECT_EQ(articles[1]->geometry(), QRect(20, 30, 400, 200));
    articles[0]->setGeometry(6, 6, 300, 150);
    articles[1]->setGeometry(60, 60, 300, 150);
    pPost->setGeometry(60, 70, 330, 220);
    pGroup->setGeometry(7, 8, 260, 160);
    pEmail->setGeometry(50, 60, 320, 210);
    pEmail->showMaximized();
    pFrame->setGeometry(100, 100, 640, 480);
    Settle();
    pFrame->ShowDialog(CMD_SAVEPOSITIONS);
    EXPECT_EQ(pIni->GetString("Windows", "Email", ""), "50,60,320,210") << "its normal place";
    EXPECT_EQ(pIni->GetString("Windows", "Post", ""), "60,70,330,220");
    EXPECT_EQ(pIni->GetString("Windows", "Group", ""), "7,8,260,160");
    EXPECT_EQ(pIni->GetString("Windows", "Article", ""), "6,6,300,150");
    pEmail->showNormal();
    for (QMdiSubWindow* w : pFrame->Area()->subWindowList())
        w->setGeometry(0, 0, 100, 100);
    pFrame->setGeometry(5, 5, 400, 300);
    pFrame->ShowDialog(CMD_RESTOREPOSITIONS);
    Settle();
    EXPECT_EQ(pFrame->geometry(), QRect(100, 100, 640, 480));
    EXPECT_EQ(pEmail->geometry(), QRect(50, 60, 320, 210));
    EXPECT_EQ(pPost->geometry(), QRect(60, 70, 330, 220));
    EXPECT_EQ(pGroup->geometry(), QRect(7, 8, 260, 160));
    EXPECT_EQ(articles[1]->geometry(), QRect(6, 6, 300, 150));
    pArticles1.reset();
    Settle();
    EXPECT_EQ(pFrame->ArticleWindows().size(), 1u);
}

TEST_F(MainFrameTest, EmailAndPostWindowsListRowsAndShowAgainForNews)
{
    auto pEmailView = pFrame->CreateEmailView();
    auto pPostView = pFrame->CreatePostView();
    auto fill = [](auto& view, ui::ListSubWindow* pWin) {
        ASSERT_NE(pWin, nullptr);
        view.SetStatus("2 new email messages");
        view.AddRow("     1\tAnn Example <ann@example.org>\tFirst");
        view.AddRow("     2\tBo\tSecond");
        view.AddRow("     3\tLatin-1 \xe9t\xe9\tThird");
        view.SetProgress(150);
        EXPECT_EQ(pWin->Status()->text(), "2 new email messages");
        EXPECT_EQ(pWin->Progress()->value(), 100);
        ASSERT_EQ(pWin->List()->count(), 3);
        EXPECT_EQ(pWin->List()->item(2)->text(),
                  QString::fromLatin1("     3\tLatin-1 \xe9t\xe9\tThird"));
        // Closed by the user, the window comes back with a new row or status.
        pWin->close();
        EXPECT_TRUE(pWin->isHidden());
        view.AddRow("     4\tbob@example.org\tAgain");
        EXPECT_FALSE(pWin->isHidden());
        pWin->close();
        view.SetStatus("Receiving 10 lines");
        EXPECT_FALSE(pWin->isHidden());
    };
    fill(*pEmailView, pFrame->EmailWindow());
    fill(*pPostView, pFrame->PostWindow());

    // The third column starts at the same place in rows whose second
    // column differs in length: the first ink right of the second stop.
    ui::EmailSubWindow* pEmail = pFrame->EmailWindow();
    pEmail->resize(600, 300);
    Settle();
    QImage image = pEmail->List()->viewport()->grab().toImage();
    auto firstInk = [&](int iRow, int xFrom) {
        QRect r = pEmail->List()->visualItemRect(pEmail->List()->item(iRow));
        for (int x = xFrom; x < r.right(); ++x)
            for (int y = r.top(); y <= r.bottom(); ++y)
                if (qGray(image.pixel(x, y)) < 128)
                    return x;
        return -1;
    };
    int iStop = 126 * pEmail->List()->fontMetrics().averageCharWidth() / 4;
    EXPECT_EQ(firstInk(0, iStop - 4), firstInk(1, iStop - 4));
    EXPECT_NE(firstInk(1, iStop - 4), -1);

    pEmailView.reset(); // the logic ends the windows
    pPostView.reset();
    Settle();
    EXPECT_EQ(pFrame->EmailWindow(), nullptr);
    EXPECT_EQ(pFrame->PostWindow(), nullptr);
    EXPECT_TRUE(pFrame->Area()->subWindowList().isEmpty());
}

TEST_F(MainFrameTest, CloseBoxAsksTheLogic)
{
    int iAsked = 0;
    ui::MainFrame frame([](int) {}, [&] { ++iAsked; });
    frame.show();
    frame.close();
    EXPECT_EQ(iAsked, 1);
    EXPECT_TRUE(frame.isVisible());
}

TEST(QtMessageBoxes, CaptionsIconsButtonsAndAnswers)
{
    QWidget owner;
    ui::QtMessageBoxes service(&owner);
    using I = fw::MbIcon;
    using Q = QMessageBox;
    const auto YesNo = fw::MbButtons::YesNo, Ok = fw::MbButtons::Ok;
    struct Case {
        I icon;
        fw::MbButtons buttons;
        Q::StandardButton press;
        int iResult;
        Q::Icon shown;
    } cases[] = {
        {I::Question, YesNo, Q::No, fw::IDNO, Q::Question},
        {I::Question, YesNo, Q::Yes, fw::IDYES, Q::Question},
        {I::Stop, Ok, Q::Ok, fw::IDOK, Q::Critical},
        {I::Exclamation, Ok, Q::Ok, fw::IDOK, Q::Warning},
        {I::Information, Ok, Q::Ok, fw::IDOK, Q::Information},
    };
    for (const Case& c : cases) {
        QString caption, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        int iButtons = 0;
        ui::QtMessageBoxes::SetShowHook([&](QMessageBox& box) {
            caption = box.windowTitle();
            text = box.text();
            icon = box.icon();
            iButtons = static_cast<int>(box.buttons().size());
            QTimer::singleShot(0, &box, [&box, &c] { box.button(c.press)->click(); });
        });
        int r = service.Show("Exit anyways?", "Warning!", c.icon, c.buttons, false);
        EXPECT_EQ(r, c.iResult);
        EXPECT_EQ(caption, "Warning!");
        EXPECT_EQ(text, "Exit anyways?");
        EXPECT_EQ(icon, c.shown);
        EXPECT_EQ(iButtons, c.buttons == fw::MbButtons::YesNo ? 2 : 1);
    }
    ui::QtMessageBoxes::SetShowHook(nullptr);
}

TEST_F(MainFrameTest, GroupsWindowFollowsItsLogicAndEditsOneGroupFromThePopup)
{
    pGroups->Add("comp.lang.c", NG_SELECTED, 10, 0, "", "");
    pGroups->Add("alt.test", 0, 5, 0, "", "");
    pGroups->Sort();
    pFrame->SetGroupsLogic([this] { return pGroupsLogic.get(); });
    pGroupsLogic = std::make_unique<WGroups>(GroupsOwner{}, pFrame->CreateGroupsView());
    ui::GroupsSubWindow* pWin = pFrame->GroupsWindow();
    ASSERT_NE(pWin, nullptr);
    QListWidget* pList = pWin->List();
    const std::vector<std::string> want = pGroupsLogic->Rows();
    ASSERT_EQ(want.size(), 4u);
    ASSERT_EQ(pList->count(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(pList->item(i)->text().toStdString(), want[std::size_t(i)]);
    EXPECT_EQ(want.back(), " \t5\talt.test") << "selected groups at the top";
    EXPECT_EQ(pList->currentRow(), -1);

    // A click makes a row the logic's current one; Find moves the list.
    Settle();
    QTest::mouseClick(pList->viewport(), Qt::LeftButton, {},
                      pList->visualItemRect(pList->item(3)).center());
    EXPECT_EQ(pGroupsLogic->CurrentRow(), 3);
    std::int32_t iLang = pGroupsLogic->FindGroup("LANG.C", false);
    ASSERT_GE(iLang, 0);
    EXPECT_EQ(pList->currentRow(), iLang);

    // A right click opens the popup; its Settings edits the current group
    // alone, and the row is redrawn, still current.
    QPoint at = pList->visualItemRect(pList->item(iLang)).center();
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, pList->viewport()->mapToGlobal(at));
    QApplication::sendEvent(pList->viewport(), &click);
    EXPECT_TRUE(pWin->Popup()->isVisible());
    EXPECT_TRUE(pWin->SettingsAction()->isEnabled());
    pWin->Popup()->hide();
    int iDialogRows = -1;
    WhenDialogOpens([&](QDialog& d) {
        iDialogRows = d.findChild<QListWidget*>("Groups")->count();
        d.findChild<QSpinBox*>("FirstArticle")->setValue(77);
        Press(d, QDialogButtonBox::Ok);
    });
    pWin->SettingsAction()->trigger();
    EXPECT_EQ(iDialogRows, 1);
    ASSERT_TRUE(pGroups->Find("comp.lang.c"));
    EXPECT_EQ(pGroups->Current()->m_lPointer, 77);
    ASSERT_GE(pGroupsLogic->CurrentRow(), 0);
    EXPECT_EQ(pList->currentItem()->text(), "+\t77\tcomp.lang.c");
    EXPECT_EQ(pList->count(), 4);

    // Cancel changes nothing.
    WhenDialogOpens([&](QDialog& d) {
        d.findChild<QSpinBox*>("FirstArticle")->setValue(99);
        Press(d, QDialogButtonBox::Cancel);
    });
    pWin->SettingsAction()->trigger();
    ASSERT_TRUE(pGroups->Find("comp.lang.c"));
    EXPECT_EQ(pGroups->Current()->m_lPointer, 77);

    // The popup's Find searches the rows through the logic.
    WhenDialogOpens([&](QDialog& d) {
        Type(d.findChild<QLineEdit*>("Text"), "alt.");
        d.findChild<QPushButton*>("Find")->click();
        Type(d.findChild<QLineEdit*>("Text"), "no.such.group");
        d.findChild<QPushButton*>("Repeat")->click();
        d.reject();
    });
    pWin->FindAction()->trigger();
    EXPECT_EQ(pList->currentItem()->text(), " \t5\talt.test");
    EXPECT_EQ(Shown(), std::vector<std::string>{"Find Group|Could not find group."});

    // Reloaded rows have no current one, in the view or the logic.
    pWin->close();
    pGroupsLogic->Reload();
    EXPECT_FALSE(pWin->isHidden()) << "new rows show the closed window again";
    EXPECT_EQ(pWin->Status()->text(), "Done!");
    EXPECT_EQ(pList->currentRow(), -1);
    EXPECT_EQ(pGroupsLogic->CurrentRow(), -1);

    pGroupsLogic.reset();
    Settle();
    EXPECT_EQ(pFrame->GroupsWindow(), nullptr);
}

TEST_F(MainFrameTest, OpenRepDialogListsPacketsInAnyCase)
{
    // A directory of its own: folders are always listed.
    std::string packets = dir.File("packets");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(packets)));
    for (const char* name : {"a.rep", "B.REP", "c.rEp", "d.txt", "erep"})
        std::ofstream(packets + "/" + name) << "x";
    std::string proposed = packets + "/a.rep";
    QStringList listed;
    WhenDialogOpens([&](QDialog& d) {
        auto* pView = d.findChild<QListView*>("listView");
        // The directory is read in the background: wait for its files.
        for (int i = 0; i < 500 && pView->model()->rowCount(pView->rootIndex()) < 3; ++i)
            QTest::qWait(10);
        for (int r = 0; r < pView->model()->rowCount(pView->rootIndex()); ++r)
            listed << pView->model()->index(r, 0, pView->rootIndex()).data().toString();
        // Typed into the name field as a user would: selectFile() leaves
        // the field alone once it has the focus, and the background load
        // may select the proposed file again after us.
        auto& files = static_cast<QFileDialog&>(d);
        auto* pName = d.findChild<QLineEdit*>("fileNameEdit");
        if (!pName) {
            ADD_FAILURE() << "no file name field";
            return d.reject();
        }
        QString want = QString::fromStdString(packets + "/c.rEp");
        for (int i = 0; i < 500 && files.selectedFiles() != QStringList{want}; ++i) {
            pName->setText("c.rEp");
            QTest::qWait(10);
        }
        d.accept();
    });
    std::string chosen;
    ASSERT_TRUE(pFrame->AskOpenPath(proposed, chosen));
    listed.sort();
    EXPECT_EQ(listed.join(",").toStdString(), "B.REP,a.rep,c.rEp");
    EXPECT_EQ(chosen, packets + "/c.rEp");

    WhenDialogOpens([](QDialog& d) { d.reject(); });
    chosen = "unchanged";
    EXPECT_FALSE(pFrame->AskOpenPath(proposed, chosen));
    EXPECT_EQ(chosen, "unchanged");
}
