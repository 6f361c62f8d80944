#include "ui/GroupsWindow.h"

#include "dialogs/DGroupSettings.h"
#include "mainwin/Commands.h"
#include "newsgroups/Newsgroups.h"
#include "ui/GroupSettingsDialog.h"
#include "ui/Icons.h"
#include "ui/SettingsDialogs.h"

#include <QAction>
#include <QListWidget>
#include <QMdiArea>
#include <QMenu>
#include <QSignalBlocker>

namespace ui {

GroupsSubWindow::GroupsSubWindow(std::function<WGroups*()> logic, QWidget* pParent)
    : ListSubWindow(kTitle, "GroupsWindow", CommandIcon(CMD_GETNEW), {kTabStop1, kTabStop2},
                    pParent),
      m_logic(std::move(logic))
{
    QListWidget* pList = List();
    pList->setObjectName("Groups");
    // The logic follows the current row: Find Repeat and the popup's
    // Settings start from it.
    connect(pList, &QListWidget::currentRowChanged, this, [this](int iRow) {
        if (WGroups* p = m_logic ? m_logic() : nullptr)
            p->SetCurrentRow(iRow);
    });
    m_pPopup = new QMenu(this);
    m_pPopup->setObjectName("Popup");
    m_pSettings = m_pPopup->addAction("&Settings");
    m_pFind = m_pPopup->addAction("Find &Group\tCtrl+F");
    connect(m_pSettings, &QAction::triggered, this, [this] { OpenSettings(); });
    connect(m_pFind, &QAction::triggered, this, [this] { OpenFind(); });
    pList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(pList, &QWidget::customContextMenuRequested, this, [this, pList](const QPoint& at) {
        // Settings needs a group to work on.
        m_pSettings->setEnabled(pList->currentRow() >= 0);
        m_pPopup->popup(pList->viewport()->mapToGlobal(at));
    });
}

void GroupsSubWindow::SetRows(const std::vector<std::string>& rows)
{
    QListWidget* pList = List();
    {
        // The logic has already forgotten its current row.
        QSignalBlocker block(pList);
        pList->clear();
        for (const std::string& row : rows)
            pList->addItem(Text(row));
        pList->setCurrentRow(-1);
    }
    Reveal();
}

void GroupsSubWindow::SelectRow(std::int32_t iRow)
{
    QListWidget* pList = List();
    if (iRow < 0 || iRow >= pList->count()) {
        pList->setCurrentRow(-1);
        pList->clearSelection();
        return;
    }
    pList->setCurrentRow(iRow);
    pList->scrollToItem(pList->item(iRow));
}

void GroupsSubWindow::OpenSettings()
{
    if (WGroups* p = m_logic ? m_logic() : nullptr)
        (void)p->GroupSettings(p->CurrentRow()); // Cancel leaves everything as it was
}

void GroupsSubWindow::OpenFind()
{
    if (!m_logic || !m_logic())
        return;
    FindDialog dialog(
        m_find,
        [this](bool bRepeat) {
            // The logic may be gone while the dialog is open.
            WGroups* p = m_logic();
            return p && p->FindGroup(m_find.m_szText, bRepeat) >= 0;
        },
        this);
    dialog.exec();
}

QtGroupsView::QtGroupsView(QMdiArea* pArea, const std::string& placement,
                           std::function<WGroups*()> logic)
    : m_pArea(pArea)
{
    m_pWindow = new GroupsSubWindow(std::move(logic));
    AddChild(pArea, m_pWindow, placement);
}

QtGroupsView::~QtGroupsView() { DeleteChild(m_pArea, m_pWindow); }

void QtGroupsView::SetStatus(const std::string& text)
{
    if (m_pWindow)
        m_pWindow->SetStatusText(text);
}

void QtGroupsView::SetProgress(int iPercent)
{
    if (m_pWindow)
        m_pWindow->SetPercent(iPercent);
}

void QtGroupsView::SetRows(const std::vector<std::string>& rows)
{
    if (m_pWindow)
        m_pWindow->SetRows(rows);
}

void QtGroupsView::SelectRow(std::int32_t iRow)
{
    if (m_pWindow)
        m_pWindow->SelectRow(iRow);
}

bool QtGroupsView::ShowGroupSettings(const std::string& group)
{
    if (!g_pNewsgroups)
        return false;
    DGroupSettings model(*g_pNewsgroups, group);
    GroupSettingsDialog dialog(model, m_pWindow);
    // OK has copied the group's settings into the list.
    return dialog.exec() == QDialog::Accepted;
}

} // namespace ui
