// The "Usenet Groups" window's logic: the newsgroup list as rows, Find
// Group, and the popup's Group Settings for one group.  (Article retrieval
// through the selected groups comes with the article windows.)
//
// Rows are "%c\t%ld\t%s": "+" for a selected group or a blank, the group's
// number pointer, its name.  Which groups are listed, in the list's order:
//   "SelectedAtTop" 1, "DisplayAll" 1: the selected groups, then the others
//   "SelectedAtTop" 0, "DisplayAll" 1: every group
//   "DisplayAll" 0: the selected groups only
#pragma once

#include "framework/Window.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class Newsgroups;
struct newsgr;

// What the window shows.  The window program draws a list with tab stops
// and a status line; a headless run prints status lines; tests record.
class IGroupsView {
public:
    virtual ~IGroupsView() = default;
    // The window's own status line.
    virtual void SetStatus(const std::string& text) = 0;
    // 0..100; 0 clears it.
    virtual void SetProgress(int iPercent) = 0;
    // Every row anew (the list was refilled); no row is selected after it.
    virtual void SetRows(const std::vector<std::string>& rows) = 0;
    // Highlights a row and scrolls it into sight; -1: none.
    virtual void SelectRow(std::int32_t iRow) = 0;
    // The popup's "&Settings": the Group Settings dialog (modal) for this
    // group only.  True for OK, when the dialog has put the group's new
    // settings in the newsgroup list; a view without dialogs returns false.
    virtual bool ShowGroupSettings(const std::string& group) = 0;
    // The Find dialog (Find, Repeat, Cancel) over this window; its buttons
    // call WGroups::FindGroup.  The main menu's "Find &Group" asks for it.
    virtual void ShowFind() {}
    // Shows the window again and brings it to the front.  False when it
    // cannot (the user closed it for good): the owner then makes a new view.
    virtual bool Reveal() { return true; }
};

// What the window needs of the main window.
struct GroupsOwner {
    std::function<void()> gone; // the window is being destroyed
};

class WGroups : public fw::Window {
public:
    WGroups(GroupsOwner owner, std::unique_ptr<IGroupsView> pView);
    ~WGroups() override;

    IGroupsView& View() { return *m_pView; }

    // Lists the newsgroup list by the settings.
    void Fill();
    // After the list changed as a whole: "Reloading groups . . .", the rows
    // anew, "Done!".
    void Reload();

    const std::vector<std::string>& Rows() const { return m_rows; }
    // The row the user is on (the view reports every change); -1: none.
    std::int32_t CurrentRow() const { return m_iCurrent; }
    void SetCurrentRow(std::int32_t iRow);

    // Find Group (the Find dialog's Find and Repeat): the first row from the
    // top, or after the current row, that holds the text, ignoring case.  It
    // is selected; -1 and "Could not find group." when none does (or the
    // text is empty).
    std::int32_t FindGroup(const std::string& text, bool bRepeat);

    // The popup's Settings: the Group Settings dialog for the row's group
    // only.  After OK the row is redrawn where the table puts it.  False on
    // Cancel or when the row names no group.
    bool GroupSettings(std::int32_t iRow);

    // The rows of a list for the two settings.
    static std::vector<std::string> RowsOf(Newsgroups& list, bool bSelectedAtTop, bool bDisplayAll);
    static std::string RowOf(const newsgr& group);
    // The group a row names: the text after its last tab.
    static std::string GroupOfRow(const std::string& row);

private:
    // The row of a group, -1 when it is not listed.
    std::int32_t RowOfGroup(const std::string& name) const;
    void Select(std::int32_t iRow);

    GroupsOwner m_owner;
    std::unique_ptr<IGroupsView> m_pView;
    std::vector<std::string> m_rows;
    std::int32_t m_iCurrent = -1;
};
