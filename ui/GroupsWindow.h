// The "Usenet Groups" window: the newsgroup list as rows ("+" or a blank,
// the group's article pointer and its name at the window's tab stops), a
// status pane and a progress bar.  A right click opens a popup menu with
// the Group Settings dialog for the current row's group and Find Group.
#pragma once

#include "dialogs/SmallDialogs.h"
#include "session/WGroups.h"
#include "ui/ListWindow.h"

#include <QPointer>
#include <functional>

class QAction;
class QMdiArea;
class QMenu;

namespace ui {

class GroupsSubWindow : public ListSubWindow {
public:
    static constexpr const char* kTitle = "Usenet Groups";
    // The list's tab stops, in dialog units: after the selection mark and
    // after the pointer (room for ten digits).
    static constexpr int kTabStop1 = 10;
    static constexpr int kTabStop2 = 52;

    // logic gives the window's logic (nullptr while there is none); the
    // window tells it the current row and calls it from the popup menu.
    explicit GroupsSubWindow(std::function<WGroups*()> logic, QWidget* pParent = nullptr);

    QMenu* Popup() const { return m_pPopup; }
    QAction* SettingsAction() const { return m_pSettings; }
    QAction* FindAction() const { return m_pFind; }

    // Every row anew, none current.
    void SetRows(const std::vector<std::string>& rows);
    void SelectRow(std::int32_t iRow);

private:
    void OpenSettings();
    void OpenFind();

    std::function<WGroups*()> m_logic;
    QMenu* m_pPopup;
    QAction* m_pSettings;
    QAction* m_pFind;
    DFind m_find; // the Find dialog keeps its text between searches
};

// The view the groups window's logic talks to; it owns the child window.
class QtGroupsView : public IGroupsView {
public:
    QtGroupsView(QMdiArea* pArea, const std::string& placement, std::function<WGroups*()> logic);
    ~QtGroupsView() override;
    void SetStatus(const std::string& text) override;
    void SetProgress(int iPercent) override;
    void SetRows(const std::vector<std::string>& rows) override;
    void SelectRow(std::int32_t iRow) override;
    bool ShowGroupSettings(const std::string& group) override;

    GroupsSubWindow* Window() const { return m_pWindow; }

private:
    QPointer<QMdiArea> m_pArea;
    QPointer<GroupsSubWindow> m_pWindow;
};

} // namespace ui
