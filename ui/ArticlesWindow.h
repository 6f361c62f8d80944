// An article window: one group's articles as rows (mark, number, date,
// sender, lines, subject at the window's tab stops) with multiple
// selection, a status pane and a progress bar.  A right click opens the
// popup menu with the sorts, "&Get selected" and Find; Enter or a double
// click fetches the row's article.
#pragma once

#include "dialogs/SmallDialogs.h"
#include "session/WArticles.h"
#include "ui/ListWindow.h"

#include <QItemSelectionModel>
#include <QPointer>
#include <functional>

class QAction;
class QMdiArea;
class QMenu;

namespace ui {

class ArticlesSubWindow : public ListSubWindow {
public:
    // Tab stops in dialog units: after the mark (room for a "+" whatever
    // the font), the six-digit number, the date "yy/mm/dd hh:mm", the
    // sender (23 characters) and the line count.
    static constexpr int kTabStops[] = {12, 40, 116, 214, 240};

    // logic gives the window's logic (nullptr while there is none).
    explicit ArticlesSubWindow(std::function<WArticles*()> logic, QWidget* pParent = nullptr);

    QMenu* Popup() const { return m_pPopup; }
    // 0 number, 1 date, 2 sender, 3 subject.
    QAction* SortAction(int iKey) const { return m_pSort[iKey]; }
    QAction* GetSelectedAction() const { return m_pGetSelected; }
    QAction* FindAction() const { return m_pFind; }

    void EnableCommands(bool bEnable, int iSortKey);
    // The Find dialog over this window.
    void OpenFind();

protected:
    void closeEvent(QCloseEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    WArticles* Logic() const { return m_logic ? m_logic() : nullptr; }

    std::function<WArticles*()> m_logic;
    QMenu* m_pPopup;
    QAction* m_pSort[4];
    QAction* m_pGetSelected;
    QAction* m_pFind;
    DFind m_find; // the Find dialog keeps its text between searches
};

// The view an article window's logic talks to; it owns the child window.
class QtArticlesView : public IArticlesView {
public:
    // logic finds the logic that owns this view (it does not exist yet
    // while the view is being made).
    // sortShown shows the sort key's check mark elsewhere too (the main
    // menu's Articles items).
    QtArticlesView(QMdiArea* pArea, const std::string& placement,
                   std::function<WArticles*(const IArticlesView*)> logic,
                   std::function<void(int)> sortShown = nullptr);
    ~QtArticlesView() override;

    void SetTitle(const std::string& text) override;
    void SetStatus(const std::string& text) override;
    void SetProgress(int iPercent) override;
    void SetRows(const std::vector<std::string>& rows) override;
    void AddRow(const std::string& row) override;
    void SetRow(std::int32_t iRow, const std::string& row) override;
    void SelectRow(std::int32_t iRow) override;
    void HighlightRow(std::int32_t iRow, bool bHighlight) override;
    std::vector<std::int32_t> HighlightedRows() const override;
    std::int32_t CaretRow() const override;
    void SetCaretRow(std::int32_t iRow) override;
    void EnableCommands(bool bEnable, int iSortKey) override;
    void ShowFind() override;
    void Activate() override;

    ArticlesSubWindow* Window() const { return m_pWindow; }

private:
    void ActiveChildChanged(QMdiSubWindow* pActive);
    // Moves the caret to a row and scrolls it into sight; flags say what
    // becomes of the highlights.
    void MoveCaret(std::int32_t iRow, QItemSelectionModel::SelectionFlags flags);

    QPointer<QMdiArea> m_pArea;
    QPointer<ArticlesSubWindow> m_pWindow;
    std::function<WArticles*(const IArticlesView*)> m_logic;
    std::function<void(int)> m_sortShown;
    QMetaObject::Connection m_activation;
    bool m_bActive = false;
    bool m_bActivating = false;
};

} // namespace ui
