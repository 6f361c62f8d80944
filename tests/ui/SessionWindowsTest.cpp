// The session windows the main window's logic opens in the frame: Usenet
// Groups (rows, current row, popup menu with Group Settings and Find),
// Posted Messages, their placements, and the Open REP File dialog.
#include "UiFixture.h"
#include "mainwin/WMain.h"
#include "ui/MainFrame.h"

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
class SessionWindows : public UiFixture {
protected:
    void SetUp() override
    {
        UiFixture::SetUp();
        pIni->WriteString("Servers", "NNTPServer", "");
        pFrame = std::make_unique<ui::MainFrame>([](int) {});
        pMain = std::make_unique<WMain>(*pFrame, false, false);
        g_pMain = pMain.get();
        Settle();
    }
    void TearDown() override
    {
        pLogic.reset();
        g_pMain = nullptr;
        pMain.reset();
        pFrame.reset();
        UiFixture::TearDown();
    }
    // Runs act on the next modal dialog once it is shown (dialogs are run
    // with exec, so the test reaches them from the event loop).
    static void WhenDialogOpens(std::function<void(QDialog&)> act)
    {
        auto* pTimer = new QTimer;
        QObject::connect(pTimer, &QTimer::timeout, pTimer, [pTimer, act] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* d = qobject_cast<QDialog*>(w);
                if (d && d->isVisible()) {
                    pTimer->stop();
                    pTimer->deleteLater();
                    act(*d);
                    return;
                }
            }
        });
        pTimer->start(10);
    }
    static void Ok(QDialog& d, QDialogButtonBox::StandardButton which)
    {
        d.findChild<QDialogButtonBox*>()->button(which)->click();
    }
    std::vector<QString> Shown() const
    {
        std::vector<QString> v;
        QListWidget* p = pFrame->GroupsWindow()->List();
        for (int i = 0; i < p->count(); ++i)
            v.push_back(p->item(i)->text());
        return v;
    }

    std::unique_ptr<ui::MainFrame> pFrame;
    std::unique_ptr<WMain> pMain;
    std::unique_ptr<WGroups> pLogic;
};
} // namespace

TEST_F(SessionWindows, GroupsWindowFollowsItsLogicAndEditsOneGroupFromThePopup)
{
    pGroups->Add("comp.lang.c", NG_SELECTED, 10, 0, "", "");
    pGroups->Add("alt.test", 0, 5, 0, "", "");
    pGroups->Sort();
    pIni->WriteString("Windows", "Group", "10,20,300,200");
    pFrame->SetGroupsLogic([this] { return pLogic.get(); });
    pLogic = std::make_unique<WGroups>(GroupsOwner{}, pFrame->CreateGroupsView());
    ui::GroupsSubWindow* pWin = pFrame->GroupsWindow();
    ASSERT_NE(pWin, nullptr);
    QListWidget* pList = pWin->List();
    EXPECT_EQ(pWin->windowTitle(), "Usenet Groups");
    EXPECT_EQ(pWin->geometry(), QRect(10, 20, 300, 200));
    std::vector<QString> want;
    for (const std::string& r : pLogic->Rows())
        want.push_back(QString::fromStdString(r));
    ASSERT_EQ(want.size(), 4u);
    EXPECT_EQ(Shown(), want);
    EXPECT_EQ(want.back(), " \t5\talt.test") << "selected groups at the top";
    EXPECT_EQ(pList->currentRow(), -1);

    // A click makes a row the logic's current one; Find moves the list.
    Settle();
    QTest::mouseClick(pList->viewport(), Qt::LeftButton, {},
                      pList->visualItemRect(pList->item(3)).center());
    EXPECT_EQ(pLogic->CurrentRow(), 3);
    std::int32_t iLang = pLogic->FindGroup("LANG.C", false);
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
        Ok(d, QDialogButtonBox::Ok);
    });
    pWin->SettingsAction()->trigger();
    EXPECT_EQ(iDialogRows, 1);
    ASSERT_TRUE(pGroups->Find("comp.lang.c"));
    EXPECT_EQ(pGroups->Current()->m_lPointer, 77);
    ASSERT_GE(pLogic->CurrentRow(), 0);
    EXPECT_EQ(pList->currentItem()->text(), "+\t77\tcomp.lang.c");
    EXPECT_EQ(pList->count(), 4);

    // Cancel changes nothing.
    WhenDialogOpens([&](QDialog& d) {
        d.findChild<QSpinBox*>("FirstArticle")->setValue(99);
        Ok(d, QDialogButtonBox::Cancel);
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
    EXPECT_EQ(Captions(), std::vector<std::string>{"Find Group"});

    // Reloaded rows have no current one, in the view or the logic.
    pWin->close();
    pLogic->Reload();
    EXPECT_FALSE(pWin->isHidden()) << "new rows show the closed window again";
    EXPECT_EQ(pWin->Status()->text(), "Done!");
    EXPECT_EQ(pList->currentRow(), -1);
    EXPECT_EQ(pLogic->CurrentRow(), -1);

    pLogic.reset();
    Settle();
    EXPECT_EQ(pFrame->GroupsWindow(), nullptr);
}

TEST_F(SessionWindows, PostedMessagesListsRowsAndEveryChildKeepsItsPlace)
{
    pIni->WriteString("Windows", "Post", "30,40,400,220");
    auto pView = pFrame->CreatePostView();
    ui::PostSubWindow* pWin = pFrame->PostWindow();
    ASSERT_NE(pWin, nullptr);
    EXPECT_EQ(pWin->windowTitle(), "Posted Messages");
    EXPECT_EQ(pWin->geometry(), QRect(30, 40, 400, 220));
    pView->SetStatus("Sending email message");
    pView->AddRow("     1\tann@example.org\tMinutes");
    pView->AddRow("     2\tcomp.lang.c\tRe: Caf\xe9");
    pView->SetProgress(150);
    EXPECT_EQ(pWin->Status()->text(), "Sending email message");
    EXPECT_EQ(pWin->Progress()->value(), 100);
    ASSERT_EQ(pWin->List()->count(), 2);
    EXPECT_EQ(pWin->List()->item(1)->text(),
              QString::fromLatin1("     2\tcomp.lang.c\tRe: Caf\xe9"));
    pWin->close();
    EXPECT_TRUE(pWin->isHidden());
    pView->AddRow("     3\tbob@example.org\tAgain");
    EXPECT_FALSE(pWin->isHidden());

    // Save writes the placement of each open child; Restore puts it back.
    pLogic = std::make_unique<WGroups>(GroupsOwner{}, pFrame->CreateGroupsView());
    pFrame->GroupsWindow()->setGeometry(5, 6, 250, 150);
    pWin->setGeometry(50, 60, 320, 210);
    pFrame->SavePositions();
    EXPECT_EQ(pIni->GetString("Windows", "Post", ""), "50,60,320,210");
    EXPECT_EQ(pIni->GetString("Windows", "Group", ""), "5,6,250,150");
    EXPECT_EQ(pIni->GetString("Windows", "Email", ""), "0,0,0,0") << "no Email window open";
    pWin->setGeometry(0, 0, 100, 100);
    pFrame->GroupsWindow()->setGeometry(0, 0, 100, 100);
    pFrame->RestorePositions();
    EXPECT_EQ(pWin->geometry(), QRect(50, 60, 320, 210));
    EXPECT_EQ(pFrame->GroupsWindow()->geometry(), QRect(5, 6, 250, 150));

    pView.reset();
    pLogic.reset();
    Settle();
    EXPECT_EQ(pFrame->PostWindow(), nullptr);
    EXPECT_TRUE(pFrame->Area()->subWindowList().isEmpty());
}

TEST_F(SessionWindows, OpenRepDialogListsPacketsInAnyCase)
{
    // A directory of its own: folders are always listed.
    std::string dir = home.File("packets");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dir)));
    for (const char* name : {"a.rep", "B.REP", "c.rEp", "d.txt", "erep"})
        std::ofstream(dir + "/" + name) << "x";
    std::string proposed = dir + "/a.rep";
    QStringList listed;
    QString title;
    WhenDialogOpens([&](QDialog& d) {
        title = d.windowTitle();
        auto* pView = d.findChild<QListView*>("listView");
        // The directory is read in the background: wait for its files.
        for (int i = 0; i < 500 && pView->model()->rowCount(pView->rootIndex()) < 3; ++i)
            QTest::qWait(10);
        for (int r = 0; r < pView->model()->rowCount(pView->rootIndex()); ++r)
            listed << pView->model()->index(r, 0, pView->rootIndex()).data().toString();
        // The background load may select the proposed file again after us:
        // choose until the choice holds.
        auto& files = static_cast<QFileDialog&>(d);
        QString want = QString::fromStdString(dir + "/c.rEp");
        for (int i = 0; i < 500 && files.selectedFiles() != QStringList{want}; ++i) {
            files.selectFile(want);
            QTest::qWait(10);
        }
        d.accept();
    });
    std::string chosen;
    ASSERT_TRUE(pFrame->AskOpenPath(proposed, chosen));
    EXPECT_EQ(title, "Open REP File");
    listed.sort();
    EXPECT_EQ(listed.join(",").toStdString(), "B.REP,a.rep,c.rEp");
    EXPECT_EQ(chosen, dir + "/c.rEp");

    WhenDialogOpens([](QDialog& d) { d.reject(); });
    chosen = "unchanged";
    EXPECT_FALSE(pFrame->AskOpenPath(proposed, chosen));
    EXPECT_EQ(chosen, "unchanged");
}
