#include "ui/ArticlesWindow.h"

#include "mainwin/Commands.h"
#include "ui/Icons.h"
#include "ui/SettingsDialogs.h"

#include <QAction>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QListWidget>
#include <QMdiArea>
#include <QMenu>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QTimer>
#include <algorithm>

namespace ui {

ArticlesSubWindow::ArticlesSubWindow(std::function<WArticles*()> logic, QWidget* pParent)
    : ListSubWindow("Articles", "ArticlesWindow", CommandIcon(CMD_GETNEW),
                    std::vector<int>(std::begin(kTabStops), std::end(kTabStops)), pParent),
      m_logic(std::move(logic))
{
    QListWidget* pList = List();
    pList->setObjectName("Articles");
    pList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    pList->viewport()->installEventFilter(this);
    pList->installEventFilter(this);
    resize(640, 320);

    m_pPopup = new QMenu(this);
    m_pPopup->setObjectName("Popup");
    static const char* const s_sorts[][2] = {
        {"Sort by &Number", "Sort article headers by article number"},
        {"Sort by &Date", "Sort article headers by date posted"},
        {"Sort by &From", "Sort article headers by poster"},
        {"Sort by &Subject", "Sort article headers by subject"},
    };
    for (int i = 0; i < 4; ++i) {
        m_pSort[i] = m_pPopup->addAction(s_sorts[i][0]);
        m_pSort[i]->setStatusTip(s_sorts[i][1]);
        m_pSort[i]->setCheckable(true);
        connect(m_pSort[i], &QAction::triggered, this, [this, i] {
            if (WArticles* p = Logic())
                p->Sort(i);
        });
    }
    m_pPopup->addSeparator();
    m_pGetSelected = m_pPopup->addAction("&Get selected");
    m_pGetSelected->setStatusTip("Retrieve selected articles");
    m_pFind = m_pPopup->addAction("Find &Article\tCtrl+F");
    m_pFind->setStatusTip("Search article headers");
    connect(m_pGetSelected, &QAction::triggered, this, [this] {
        if (WArticles* p = Logic())
            (void)p->RetrieveSelected(); // false: nothing to fetch, or busy
    });
    connect(m_pFind, &QAction::triggered, this, [this] { OpenFind(); });
    EnableCommands(false, 0);
    pList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(pList, &QWidget::customContextMenuRequested, this, [this, pList](const QPoint& at) {
        m_pPopup->popup(pList->viewport()->mapToGlobal(at));
    });
    connect(pList, &QListWidget::itemDoubleClicked, this, [this, pList](QListWidgetItem* pItem) {
        if (WArticles* p = Logic())
            (void)p->RetrieveRow(pList->row(pItem));
    });
}

void ArticlesSubWindow::EnableCommands(bool bEnable, int iSortKey)
{
    for (int i = 0; i < 4; ++i) {
        m_pSort[i]->setEnabled(bEnable);
        m_pSort[i]->setChecked(i == iSortKey);
    }
    m_pGetSelected->setEnabled(bEnable);
    m_pFind->setEnabled(bEnable);
}

void ArticlesSubWindow::OpenFind()
{
    if (!Logic())
        return;
    FindDialog dialog(
        m_find,
        [this](bool bRepeat) {
            // The logic may be gone while the dialog is open.
            WArticles* p = Logic();
            return p && p->FindArticle(m_find.m_szText, bRepeat) >= 0;
        },
        this);
    dialog.exec();
}

void ArticlesSubWindow::closeEvent(QCloseEvent* pEvent)
{
    // The logic decides: the first request while the group is still being
    // fetched only stops the fetch; otherwise it destroys the window soon.
    pEvent->ignore();
    WArticles* p = Logic();
    if (!p || p->QueryClose())
        hide();
}

bool ArticlesSubWindow::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    QListWidget* pList = List();
    if (pWatched == pList->viewport() && (pEvent->type() == QEvent::MouseButtonPress ||
                                          pEvent->type() == QEvent::MouseButtonRelease)) {
        auto* pMouse = static_cast<QMouseEvent*>(pEvent);
        // "Single click message marking": a plain click works as a
        // Control-click, toggling its row and leaving the others.
        if (pMouse->button() == Qt::LeftButton && pMouse->modifiers() == Qt::NoModifier &&
            WArticles::SingleClick())
            pMouse->setModifiers(Qt::ControlModifier);
    } else if (pWatched == pList && pEvent->type() == QEvent::KeyPress) {
        auto* pKey = static_cast<QKeyEvent*>(pEvent);
        if (pKey->key() == Qt::Key_Return || pKey->key() == Qt::Key_Enter) {
            if (WArticles* p = Logic())
                (void)p->RetrieveRow(pList->currentRow());
            return true;
        }
        if (pKey->key() == Qt::Key_F && pKey->modifiers() == Qt::ControlModifier &&
            m_pFind->isEnabled()) {
            OpenFind();
            return true;
        }
    }
    return ListSubWindow::eventFilter(pWatched, pEvent);
}

// ------------------------------------------------------------------ view

QtArticlesView::QtArticlesView(QMdiArea* pArea, const std::string& placement,
                               std::function<WArticles*(const IArticlesView*)> logic,
                               std::function<void(int)> sortShown)
    : m_pArea(pArea), m_logic(std::move(logic)), m_sortShown(std::move(sortShown))
{
    m_pWindow = new ArticlesSubWindow([this]() { return m_logic ? m_logic(this) : nullptr; });
    m_activation = QObject::connect(pArea, &QMdiArea::subWindowActivated, m_pWindow,
                                    [this](QMdiSubWindow* p) { ActiveChildChanged(p); });
    AddChild(pArea, m_pWindow, placement);
    // The logic that owns this view is made after it: it hears that its
    // window is the active one once the event loop runs again.
    QTimer::singleShot(0, m_pWindow, [this] {
        if (m_pArea)
            ActiveChildChanged(m_pArea->activeSubWindow());
    });
}

QtArticlesView::~QtArticlesView()
{
    // Taking the child out activates another one: the logic is being
    // destroyed and must not be asked.
    QObject::disconnect(m_activation);
    DeleteChild(m_pArea, m_pWindow);
}

void QtArticlesView::ActiveChildChanged(QMdiSubWindow* pActive)
{
    bool bActive = pActive && pActive == m_pWindow;
    if (bActive == m_bActive || m_bActivating)
        return;
    WArticles* p = m_logic ? m_logic(this) : nullptr;
    if (!p)
        return; // told once the logic exists
    m_bActive = bActive;
    m_bActivating = true;
    p->Activated(bActive);
    m_bActivating = false;
}

void QtArticlesView::SetTitle(const std::string& text)
{
    if (m_pWindow)
        m_pWindow->setWindowTitle(Text(text));
}

void QtArticlesView::SetStatus(const std::string& text)
{
    if (m_pWindow)
        m_pWindow->SetStatusText(text);
}

void QtArticlesView::SetProgress(int iPercent)
{
    if (m_pWindow)
        m_pWindow->SetPercent(iPercent);
}

void QtArticlesView::SetRows(const std::vector<std::string>& rows)
{
    if (!m_pWindow)
        return;
    QListWidget* pList = m_pWindow->List();
    pList->clear();
    for (const std::string& row : rows)
        pList->addItem(Text(row));
    pList->clearSelection();
    if (pList->count() > 0) {
        pList->selectionModel()->setCurrentIndex(pList->model()->index(0, 0),
                                                 QItemSelectionModel::NoUpdate);
        pList->scrollToTop();
    }
}

void QtArticlesView::AddRow(const std::string& row)
{
    if (m_pWindow)
        m_pWindow->List()->addItem(Text(row));
}

void QtArticlesView::SetRow(std::int32_t iRow, const std::string& row)
{
    if (!m_pWindow)
        return;
    if (QListWidgetItem* p = m_pWindow->List()->item(iRow))
        p->setText(Text(row));
}

void QtArticlesView::SelectRow(std::int32_t iRow)
{
    MoveCaret(iRow, QItemSelectionModel::ClearAndSelect);
}

void QtArticlesView::HighlightRow(std::int32_t iRow, bool bHighlight)
{
    if (!m_pWindow)
        return;
    QListWidget* pList = m_pWindow->List();
    if (iRow < 0 || iRow >= pList->count())
        return;
    pList->selectionModel()->select(pList->model()->index(iRow, 0),
                                    bHighlight ? QItemSelectionModel::Select
                                               : QItemSelectionModel::Deselect);
}

std::vector<std::int32_t> QtArticlesView::HighlightedRows() const
{
    std::vector<std::int32_t> rows;
    if (!m_pWindow)
        return rows;
    for (const QModelIndex& index : m_pWindow->List()->selectionModel()->selectedIndexes())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::int32_t QtArticlesView::CaretRow() const
{
    return m_pWindow ? m_pWindow->List()->currentRow() : -1;
}

void QtArticlesView::SetCaretRow(std::int32_t iRow)
{
    MoveCaret(iRow, QItemSelectionModel::NoUpdate);
}

void QtArticlesView::MoveCaret(std::int32_t iRow, QItemSelectionModel::SelectionFlags flags)
{
    if (!m_pWindow)
        return;
    QListWidget* pList = m_pWindow->List();
    if (iRow < 0 || iRow >= pList->count())
        return;
    QModelIndex index = pList->model()->index(iRow, 0);
    pList->selectionModel()->setCurrentIndex(index, flags);
    pList->scrollTo(index);
}

void QtArticlesView::EnableCommands(bool bEnable, int iSortKey)
{
    if (m_pWindow)
        m_pWindow->EnableCommands(bEnable, iSortKey);
    // A sort chosen from the popup moves the main menu's mark as well.
    if (m_sortShown)
        m_sortShown(iSortKey);
}

void QtArticlesView::ShowFind()
{
    if (m_pWindow)
        m_pWindow->OpenFind();
}

void QtArticlesView::Activate()
{
    if (!m_pWindow)
        return;
    m_pWindow->Reveal();
    // Activating the child tells the logic (and through it the menu and
    // the window that was active before) as a click on it would.
    if (m_pArea && m_pArea->activeSubWindow() != m_pWindow)
        m_pArea->setActiveSubWindow(m_pWindow);
    m_pWindow->List()->setFocus(Qt::OtherFocusReason);
}

} // namespace ui
