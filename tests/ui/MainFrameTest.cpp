// The main window with its logic: menu and toolbar states, commands,
// progress, window positions, the Email window and message boxes.
#include "ui/MainFrame.h"
#include "UiFixture.h"
#include "mainwin/WMain.h"
#include "ui/EmailWindow.h"
#include "ui/MessageBoxes.h"
#include "ui/ProgressPane.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMdiArea>
#include <QProgressBar>
#include <QTimer>

namespace {
class MainFrameTest : public UiFixture {
protected:
    void SetUp() override
    {
        UiFixture::SetUp();
        pIni->WriteString("Servers", "NNTPServer", "");
        pIni->WriteInt("Articles", "Sort", 2);
        pFrame = std::make_unique<ui::MainFrame>([this](int c) { commands.push_back(c); });
        pMain = std::make_unique<WMain>(*pFrame, false, false);
        g_pMain = pMain.get();
        Settle();
    }
    void TearDown() override
    {
        g_pMain = nullptr;
        pMain.reset();
        pFrame.reset();
        UiFixture::TearDown();
    }
    bool Enabled(int iCommand) const { return pFrame->MenuAction(iCommand)->isEnabled(); }

    std::vector<int> commands;
    std::unique_ptr<ui::MainFrame> pFrame;
    std::unique_ptr<WMain> pMain;
};

const int kOffline[] = {CMD_OPEN,          CMD_SAVE,         CMD_SAVEAS,  CMD_RUNREADER,
                        CMD_EXIT,          CMD_CONNECT,      CMD_AUTORUN, CMD_SERVERINFO,
                        CMD_GENERALCONFIG, CMD_HELPCONTENTS, CMD_ABOUT,   CMD_CASCADE};
const int kOnlineOnly[] = {CMD_DISCONNECT, CMD_STOP, CMD_GETMAIL, CMD_POST};
const int kNewsOnly[] = {CMD_GETNEW,    CMD_GETALL,      CMD_NEWGROUPS,  CMD_ALLGROUPS,
                         CMD_FINDGROUP, CMD_FINDARTICLE, CMD_SORTNUMBER, CMD_GETSELECTED};
} // namespace

TEST_F(MainFrameTest, MenuFollowsTheStateTable)
{
    EXPECT_TRUE(pFrame->isVisible());
    EXPECT_EQ(pFrame->windowTitle(), "Mail Tolvan version 1.00a");
    auto expect = [&](const char* state, std::initializer_list<int> on,
                      std::initializer_list<int> off) {
        for (int c : on)
            EXPECT_TRUE(Enabled(c)) << state << " " << c;
        for (int c : off)
            EXPECT_FALSE(Enabled(c)) << state << " " << c;
    };
    for (int c : kOffline)
        EXPECT_TRUE(Enabled(c)) << "offline " << c;
    for (int c : kOnlineOnly)
        EXPECT_FALSE(Enabled(c)) << "offline " << c;
    for (int c : kNewsOnly)
        EXPECT_FALSE(Enabled(c)) << "offline " << c;
    // The check mark of the stored sort order.
    EXPECT_TRUE(pFrame->MenuAction(CMD_SORTFROM)->isChecked());
    EXPECT_FALSE(pFrame->MenuAction(CMD_SORTNUMBER)->isChecked());
    EXPECT_FALSE(pFrame->ConnectButton()->isChecked());

    pMain->OnCommand(CMD_CONNECT);
    expect("online", {CMD_DISCONNECT, CMD_STOP, CMD_GETMAIL, CMD_POST, CMD_OPEN},
           {CMD_SAVE, CMD_SAVEAS, CMD_CONNECT, CMD_AUTORUN, CMD_GETNEW, CMD_NEWGROUPS});
    // The toolbar's Connect stays usable, pressed: pressing it disconnects.
    EXPECT_TRUE(pFrame->ConnectButton()->isChecked());
    EXPECT_TRUE(pFrame->ConnectButton()->isEnabled());

    pMain->OnCommand(CMD_DISCONNECT);
    expect("offline again", {CMD_SAVE, CMD_SAVEAS, CMD_CONNECT, CMD_AUTORUN},
           {CMD_DISCONNECT, CMD_STOP, CMD_GETMAIL, CMD_POST});
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

    // The Email window opens where it was saved, and both come back.
    pIni->WriteString("Windows", "Email", "10,20,300,200");
    auto pView = pFrame->CreateEmailView();
    ui::EmailSubWindow* pEmail = pFrame->EmailWindow();
    ASSERT_NE(pEmail, nullptr);
    EXPECT_EQ(pEmail->geometry(), QRect(10, 20, 300, 200));
    pEmail->setGeometry(50, 60, 320, 210);
    pEmail->showMaximized();
    pFrame->setGeometry(100, 100, 640, 480);
    Settle();
    pFrame->ShowDialog(CMD_SAVEPOSITIONS);
    EXPECT_EQ(pIni->GetString("Windows", "Email", ""), "50,60,320,210") << "its normal place";
    pEmail->showNormal();
    pEmail->setGeometry(0, 0, 100, 100);
    pFrame->setGeometry(5, 5, 400, 300);
    pFrame->ShowDialog(CMD_RESTOREPOSITIONS);
    Settle();
    EXPECT_EQ(pFrame->geometry(), QRect(100, 100, 640, 480));
    EXPECT_EQ(pEmail->geometry(), QRect(50, 60, 320, 210));
}

TEST_F(MainFrameTest, EmailWindowListsRowsAtItsTabStopsAndHidesWhenClosed)
{
    auto pView = pFrame->CreateEmailView();
    ui::EmailSubWindow* pEmail = pFrame->EmailWindow();
    pView->SetStatus("2 new email messages");
    pView->AddRow("     1\tAnn Example <ann@example.org>\tFirst");
    pView->AddRow("     2\tBo\tSecond");
    pView->AddRow("     3\tLatin-1 \xe9t\xe9\tThird");
    pView->SetProgress(50);
    EXPECT_EQ(pEmail->Status()->text(), "2 new email messages");
    EXPECT_EQ(pEmail->Progress()->value(), 50);
    ASSERT_EQ(pEmail->List()->count(), 3);
    EXPECT_EQ(pEmail->List()->item(2)->text(),
              QString::fromLatin1("     3\tLatin-1 \xe9t\xe9\tThird"));

    // The third column starts at the same place in rows whose second
    // column differs in length: the first ink right of the second stop.
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

    pEmail->close();
    EXPECT_TRUE(pEmail->isHidden());
    pView->SetStatus("Receiving 10 lines");
    EXPECT_FALSE(pEmail->isHidden());
    pView.reset(); // the logic ends the window
    Settle();
    EXPECT_EQ(pFrame->EmailWindow(), nullptr);
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
    struct Case {
        fw::MbIcon icon;
        fw::MbButtons buttons;
        QMessageBox::StandardButton press;
        int iResult;
        QMessageBox::Icon shown;
    } cases[] = {
        {fw::MbIcon::Question, fw::MbButtons::YesNo, QMessageBox::No, fw::IDNO,
         QMessageBox::Question},
        {fw::MbIcon::Question, fw::MbButtons::YesNo, QMessageBox::Yes, fw::IDYES,
         QMessageBox::Question},
        {fw::MbIcon::Stop, fw::MbButtons::Ok, QMessageBox::Ok, fw::IDOK, QMessageBox::Critical},
        {fw::MbIcon::Exclamation, fw::MbButtons::Ok, QMessageBox::Ok, fw::IDOK,
         QMessageBox::Warning},
        {fw::MbIcon::Information, fw::MbButtons::Ok, QMessageBox::Ok, fw::IDOK,
         QMessageBox::Information},
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
