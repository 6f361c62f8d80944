// The "Usenet Groups" window's logic: the newsgroup list as rows, Find
// Group, the popup's Group Settings for one group, and the article
// retrieval loop: each selected group in turn is opened on the news server,
// its range worked out from its pointers and the settings, and handed to an
// article window (WArticles) that fetches it.  The pointers move in memory;
// whether they are written is the owner's decision.
//
// Rows are "%c\t%ld\t%s": "+" for a selected group or a blank, the group's
// number pointer, its name.  Which groups are listed, in the list's order:
//   "SelectedAtTop" 1, "DisplayAll" 1: the selected groups, then the others
//   "SelectedAtTop" 0, "DisplayAll" 1: every group
//   "DisplayAll" 0: the selected groups only
#pragma once

#include "framework/Window.h"
#include "session/WArticles.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CNNTP;
class Newsgroups;
class Rfcmsg;
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
    // Retrieval (none of these: the window only lists).
    std::function<CNNTP*()> client;
    std::function<Rfcmsg&()> messages;
    std::function<std::unique_ptr<IArticlesView>()> createArticlesView;
    std::function<void(const std::string&)> mainStatus;
    // The Articles menu commands (sorting, find, get selected) on or off.
    std::function<void(bool)> articleCommands;
    std::function<void()> pointersMoved;
    // A group's pointers are about to change (called once per opening).
    std::function<void(const newsgr&)> opening;
    // An article of a group went into the packet collector.
    std::function<void(const std::string& group, std::int32_t iArticle)> converted;
    // An article window became the active child, or stopped being it.
    std::function<void(WArticles*, bool)> activated;
    // The loop has passed its last group.
    std::function<void()> loopDone;
    // The Group Settings dialog is about to open (true) or has closed.
    std::function<void(bool)> editing;
    // Retrieving() turned true or false (the list may not be edited
    // meanwhile).
    std::function<void(bool)> retrievingChanged;
    // The connection ended under the retrieval (the client's status).
    std::function<void(int iStatus)> connectionEnded;
    // Nobody sits at the screen: groups with manual retrieval are left
    // alone (their headers need a person to choose).
    bool bUnattended = false;
};

// The range of one group as its pointers and the settings decide it.
struct GroupRange {
    enum Outcome { FETCH, NO_NEW, NO_ARTICLES, NOT_ENOUGH };
    Outcome outcome = FETCH;
    std::int32_t iStart = 0;
    std::int32_t iLast = 0;
    std::int32_t iPointer = 0; // the group's pointer number afterwards
    std::string title;         // the article window's caption
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
    // Cancel, when the row names no group, and while retrieving (message
    // 826: the retrieval holds the group and moves its pointers).
    bool GroupSettings(std::int32_t iRow);

    // Get New / Get All articles: starts the loop through the selected
    // groups, resumes a stopped one, or starts it again once it is done.
    void Retrieve(bool bNew);
    // The Stop command: the article in progress is the last.
    void Stop();
    // The loop or a fetch of an article window is under way.
    bool Retrieving() const { return !m_bDone || m_bArticlesActive; }
    bool Done() const { return m_bDone; }
    // Enter or a double click on a row: that group alone (message 826
    // while retrieval is active, 827 when its articles were fetched).
    bool OpenRow(std::int32_t iRow);
    // The connection ended while nothing was asked of it by this window.
    void ConnectionLost();
    // The article windows opened so far, oldest first.
    const std::vector<std::unique_ptr<WArticles>>& ArticleWindows() const { return m_articles; }
    // The first article window of a group with manual retrieval, or null.
    WArticles* FirstManualWindow() const;
    // A new view after the user closed the window: rows shown anew.
    void ReplaceView(std::unique_ptr<IGroupsView> pView);

    // The range rules for one group opened in new mode (bNew) or all mode.
    // ask838: the question whether to use the number pointer when the date
    // found no article.  minimum and maximum: "MinimumRetrieved" and
    // "MaximumRetrieved" (0: no limit).
    static GroupRange PlanRange(const newsgr& group, std::int32_t iCount, std::int32_t iFirst,
                                std::int32_t iLast, std::int32_t iFirstNew, bool bNew,
                                std::int32_t iMinimum, std::int32_t iMaximum,
                                const std::function<bool()>& ask838);

    // The rows of a list for the two settings.
    static std::vector<std::string> RowsOf(Newsgroups& list, bool bSelectedAtTop, bool bDisplayAll);
    static std::string RowOf(const newsgr& group);
    // The group a row names: the text after its last tab.
    static std::string GroupOfRow(const std::string& row);

private:
    // The row of a group, -1 when it is not listed.
    std::int32_t RowOfGroup(const std::string& name) const;
    void Select(std::int32_t iRow);
    CNNTP* Client() const { return m_owner.client ? m_owner.client() : nullptr; }
    // The selected group after that list position, or none.
    newsgr* NextSelectedAfter(std::int32_t iPosition) const;
    void OpenGroup(newsgr& group);
    void OnGroup(std::uintptr_t wParam, std::intptr_t lParam);
    // The current group is finished or skipped.
    void NextGroup();
    void OpenArticles(newsgr& group, const GroupRange& range, std::int32_t iTotal);
    void CloseArticles(WArticles* pWindow);
    // Tells the owner when Retrieving() has changed since it was last told.
    void NoteRetrieving();

    GroupsOwner m_owner;
    std::unique_ptr<IGroupsView> m_pView;
    std::vector<std::string> m_rows;
    std::int32_t m_iCurrent = -1;

    bool m_bNew = true;
    bool m_bDone = true;
    bool m_bStop = false;
    bool m_bArticlesActive = false;
    bool m_bToldRetrieving = false;
    std::string m_current; // the group being worked on
    std::vector<std::unique_ptr<WArticles>> m_articles;
    std::vector<std::string> m_skipped; // manual groups an unattended run left
};
