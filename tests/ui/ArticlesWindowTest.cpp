// The article window: highlighting with and without single-click marking,
// the caret apart from the highlights, the popup menu and the activation
// reaching the window's logic, and closing through the logic.
#include "UiFixture.h"
#include "framework/Window.h"

#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QPushButton>

namespace {
const std::vector<std::string> kRows = {
    " \t    10\t26/01/02 09:15\tann@example.org\t12\tZebra crossings",
    " \t    11\t26/01/02 10:00\tbob@example.org\t3\tRe: Zebra crossings",
    " \t    12\t26/01/03 11:30\tcarol@example.org\t40\tApples",
    " \t    13\t26/01/04 08:05\tdan@example.org\t7\tPears",
    " \t    14\t26/01/05 17:45\terin@example.org\t9\tPlums",
};

class ArticlesWindow : public UiFixture {
protected:
    void SetUp() override
    {
        UiFixture::SetUp();
        pFrame = std::make_unique<ui::MainFrame>([](int) {});
        pFrame->SetArticlesLogic([this](const IArticlesView* p) {
            return pLogic && &pLogic->View() == p ? pLogic.get() : nullptr;
        });
    }
    void TearDown() override
    {
        pLogic.reset();
        pView.reset();
        pFrame.reset();
        UiFixture::TearDown();
    }
    // A window without logic, holding the rows.
    ui::ArticlesSubWindow& Plain()
    {
        pView = pFrame->CreateArticlesView();
        pView->SetRows(kRows);
        Settle();
        return *Window();
    }
    // A window owned by the logic of a manual group.
    ui::ArticlesSubWindow& WithLogic()
    {
        pGroups->Add("m.hand", 0, 10, 0, "", "");
        EXPECT_TRUE(pGroups->Find("m.hand"));
        ArticlesOwner owner;
        owner.articleCommands = [this](bool b) { commands.push_back(b); };
        owner.activated = [this](WArticles*, bool b) { activations.push_back(b); };
        owner.close = [this] { ++iClosed; };
        pLogic = std::make_unique<WArticles>(owner, pFrame->CreateArticlesView(),
                                             *pGroups->Current(), 10, 14, 5);
        Settle();
        return *Window();
    }
    ui::ArticlesSubWindow* Window() const
    {
        auto v = pFrame->ArticleWindows();
        return v.empty() ? nullptr : v.front();
    }
    IArticlesView& View() { return pLogic ? pLogic->View() : *pView; }
    static void Click(ui::ArticlesSubWindow& w, int iRow,
                      Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QListWidget* p = w.List();
        QTest::mouseClick(p->viewport(), Qt::LeftButton, mods,
                          p->visualItemRect(p->item(iRow)).center());
    }

    std::unique_ptr<ui::MainFrame> pFrame;
    std::unique_ptr<IArticlesView> pView;
    std::unique_ptr<WArticles> pLogic;
    std::vector<bool> commands, activations;
    int iClosed = 0;
};
} // namespace

TEST_F(ArticlesWindow, PlainClickTogglesOnlyWithSingleClickMarking)
{
    ui::ArticlesSubWindow& w = Plain();
    Click(w, 1);
    Click(w, 3);
    EXPECT_EQ(View().HighlightedRows(), (std::vector<std::int32_t>{3}));
    Click(w, 0, Qt::ControlModifier);
    EXPECT_EQ(View().HighlightedRows(), (std::vector<std::int32_t>{0, 3}));

    pIni->WriteInt("Mailtolvan", "SingleClick", 1);
    Click(w, 1);
    Click(w, 4);
    EXPECT_EQ(View().HighlightedRows(), (std::vector<std::int32_t>{0, 1, 3, 4}));
    Click(w, 3); // a second click takes the highlight off again
    EXPECT_EQ(View().HighlightedRows(), (std::vector<std::int32_t>{0, 1, 4}));
    EXPECT_EQ(View().CaretRow(), 3);
}

TEST_F(ArticlesWindow, CaretMovesApartFromTheHighlights)
{
    ui::ArticlesSubWindow& w = Plain();
    EXPECT_EQ(View().CaretRow(), 0);
    EXPECT_TRUE(View().HighlightedRows().empty());
    View().HighlightRow(1, true);
    View().HighlightRow(3, true);
    View().HighlightRow(9, true); // beyond the rows: nothing
    // A fetched row is redrawn in place: highlights and caret stay.
    View().SetRow(3, "+\t    13\t26/01/04 08:05  \tdan@example.org\t7\tPears");
    EXPECT_EQ(w.List()->item(3)->text().left(1), "+");
    EXPECT_EQ(View().HighlightedRows(), (std::vector<std::int32_t>{1, 3}));
    EXPECT_EQ(View().CaretRow(), 0);
    // The cursor bar following a fetched row leaves the highlights alone.
    View().SetCaretRow(3);
    EXPECT_EQ(View().CaretRow(), 3);
    EXPECT_EQ(View().HighlightedRows(), (std::vector<std::int32_t>{1, 3}));
    View().HighlightRow(1, false);
    EXPECT_EQ(View().HighlightedRows(), (std::vector<std::int32_t>{3}));
    // An automatic group's newest row: that row only, with the caret.
    View().AddRow("     15\tNew");
    View().SelectRow(5);
    EXPECT_EQ(View().HighlightedRows(), (std::vector<std::int32_t>{5}));
    EXPECT_EQ(View().CaretRow(), 5);
    // Sorted anew: nothing highlighted, the caret on top.
    View().SetRows(kRows);
    EXPECT_TRUE(View().HighlightedRows().empty());
    EXPECT_EQ(View().CaretRow(), 0);
}

TEST_F(ArticlesWindow, PopupAndActivationReachTheLogic)
{
    ui::ArticlesSubWindow& w = WithLogic();
    // The new window is the active child: the logic hears of it once.
    EXPECT_EQ(activations, (std::vector<bool>{true}));
    EXPECT_EQ(commands, (std::vector<bool>{true}));
    EXPECT_FALSE(w.SortAction(1)->isEnabled()); // nothing read yet

    // The headers are in: the logic enables the commands.
    w.EnableCommands(true, 0);
    w.SortAction(1)->trigger();
    EXPECT_EQ(pIni->GetInt("Articles", "Sort", -1), 1);
    EXPECT_TRUE(w.SortAction(1)->isChecked());
    EXPECT_FALSE(w.SortAction(0)->isChecked());
    EXPECT_TRUE(pFrame->MenuAction(CMD_SORTDATE)->isChecked());
    EXPECT_FALSE(pFrame->MenuAction(CMD_SORTNUMBER)->isChecked());

    WhenDialogOpens([](QDialog& d) {
        d.findChild<QLineEdit*>("Text")->setText("quince");
        d.findChild<QPushButton*>("Find")->click();
        d.reject();
    });
    w.FindAction()->trigger();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "Find Article");
    EXPECT_EQ(boxes.boxes[0].text, "Could not find article.");

    // Another child becomes active and the commands go off; back again.
    auto* pOther = pFrame->Area()->addSubWindow(new QWidget);
    pOther->show();
    pFrame->Area()->setActiveSubWindow(pOther);
    pFrame->Area()->setActiveSubWindow(&w);
    EXPECT_EQ(activations, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(commands, (std::vector<bool>{true, false, true}));
    // The main menu's Get selected brings the window forward the same way.
    pFrame->Area()->setActiveSubWindow(pOther);
    pLogic->View().Activate();
    EXPECT_EQ(pFrame->Area()->activeSubWindow(), &w);
    EXPECT_EQ(activations, (std::vector<bool>{true, false, true, false, true}));
    EXPECT_EQ(commands.back(), true);

    // Closing asks the logic, which closes the window from its own
    // message (nothing is being fetched).
    w.close();
    EXPECT_TRUE(w.isHidden());
    EXPECT_TRUE(fw::MessageLoop::PumpUntil([this] { return iClosed == 1; }, 10000));
}
