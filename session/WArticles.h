// An article window's logic: one group's range of articles.
//
// A group with automatic retrieval fetches every article of its range and
// hands each to the packet collector; the rows are "%6ld\t%s" (number,
// subject).  A group with manual retrieval fetches the headers of the range
// (the overview, or one HEAD per article where the server has none), shows
// one row per article and lets the user sort, find, highlight and fetch the
// chosen ones.  Its rows are "%c\t%6ld\t%s\t%s\t%ld\t%s": the mark ("+" once
// fetched, else a blank), the number, the date "yy/mm/dd hh:mm", the sender
// (23 characters at most), the line count and the subject (99 at most).
//
// Closing: the view asks QueryClose() when the user closes the window.  While
// the group is still being fetched the first request only stops the fetch
// (false); later requests, or any once the fetch is over, answer true, and
// the owner destroys the logic (and with it the view) soon after.
#pragma once

#include "framework/Window.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CNNTP;
class Rfcmsg;
struct newsgr;
class WArticles;

// What the window shows.  The window program draws a list with multiple
// selection; a headless run prints status lines; tests record.
class IArticlesView {
public:
    virtual ~IArticlesView() = default;
    // The window's caption ("group,  n new out of m total" and the like).
    virtual void SetTitle(const std::string& text) = 0;
    // The window's own status line.
    virtual void SetStatus(const std::string& text) = 0;
    // 0..100; 0 clears it.
    virtual void SetProgress(int iPercent) = 0;
    // Every row anew (sorted or first filled); nothing highlighted after it,
    // the caret on the first row.
    virtual void SetRows(const std::vector<std::string>& rows) = 0;
    // One more row at the end.
    virtual void AddRow(const std::string& row) = 0;
    // Redraws one row in place; its highlight stays as it was.
    virtual void SetRow(std::int32_t iRow, const std::string& row) = 0;
    // Highlights that row only, puts the caret on it and scrolls it into
    // sight (an automatic group follows its newest row this way).
    virtual void SelectRow(std::int32_t iRow) = 0;
    // Highlights a row, or clears its highlight, leaving the others.
    virtual void HighlightRow(std::int32_t iRow, bool bHighlight) = 0;
    // The rows highlighted now, in row order.
    virtual std::vector<std::int32_t> HighlightedRows() const = 0;
    // The caret (the list's focus row, the "cursor bar"); -1: none.
    virtual std::int32_t CaretRow() const = 0;
    // Moves the caret to a row and scrolls it into sight, highlights
    // unchanged.
    virtual void SetCaretRow(std::int32_t iRow) = 0;
    // The window's own (popup) commands: sorting, "&Get selected" and
    // "Find &Article"; enabled for a manual group while no retrieval runs
    // in the window.  iSortKey (0 number, 1 date, 2 sender, 3 subject)
    // carries the check mark.
    virtual void EnableCommands(bool bEnable, int iSortKey) = 0;
    // The Find dialog (Find, Repeat, Cancel) over this window; its buttons
    // call WArticles::FindArticle.  The main menu's "Find &Article" asks
    // for it.
    virtual void ShowFind() = 0;
    // Brings the window to the front and gives its list the focus.
    virtual void Activate() = 0;
};

// A view that shows nothing and has nothing highlighted.
class HiddenArticlesView : public IArticlesView {
public:
    void SetTitle(const std::string&) override {}
    void SetStatus(const std::string&) override {}
    void SetProgress(int) override {}
    void SetRows(const std::vector<std::string>&) override {}
    void AddRow(const std::string&) override {}
    void SetRow(std::int32_t, const std::string&) override {}
    void SelectRow(std::int32_t) override {}
    void HighlightRow(std::int32_t, bool) override {}
    std::vector<std::int32_t> HighlightedRows() const override { return {}; }
    std::int32_t CaretRow() const override { return -1; }
    void SetCaretRow(std::int32_t) override {}
    void EnableCommands(bool, int) override {}
    void ShowFind() override {}
    void Activate() override {}
};

// One header record of a manual group.
struct ArticleHeader {
    std::int32_t iNumber = 0;
    std::string subject;
    std::string from;
    std::time_t tDate = 0;
    std::string messageId;
    long lLines = 0;
    char cMark = ' '; // '+' once fetched
};

// What the window needs of its group loop and of the main window.
struct ArticlesOwner {
    std::function<CNNTP*()> client;
    // The packet collector shared with the e-mail session (created on
    // first use).
    std::function<Rfcmsg&()> messages;
    // An article of the group went into the collector (the pointer may not
    // be written past it before the packet is saved).
    std::function<void(const std::string& group, std::int32_t iArticle)> converted;
    // The group's fetch is over (done, stopped, failed): the group loop
    // goes on with the next group.
    std::function<void(bool bStopped)> finished;
    // A selective or single fetch started (true) or ended (false): the
    // groups window's article-window-active mark.
    std::function<void(bool)> fetching;
    // The main window's Articles menu commands (sorting, get selected,
    // find article) on or off.
    std::function<void(bool)> articleCommands;
    // The main window's status line, and its mark that pointers moved.
    std::function<void(const std::string&)> mainStatus;
    std::function<void()> pointersMoved;
    // The connection ended (the client's status): the whole retrieval ends.
    std::function<void(int iStatus)> serverClosed;
    // The groups window is still working through its groups (no single
    // or selective fetch then).
    std::function<bool()> groupsBusy;
    // The window became the active child (true) or stopped being it.
    std::function<void(WArticles*, bool)> activated;
    // The user asked to close the window and it may close now.
    std::function<void()> close;
};

class WArticles : public fw::Window {
public:
    // The window of one group's range first..last (total: the server's
    // count, at least 1).  Start() begins the work.
    WArticles(ArticlesOwner owner, std::unique_ptr<IArticlesView> pView, newsgr& group,
              std::int32_t iFirst, std::int32_t iLast, std::int32_t iTotal);
    ~WArticles() override;

    IArticlesView& View() { return *m_pView; }
    // Who is told when the window may close (see QueryClose).
    void SetClose(std::function<void()> close) { m_owner.close = std::move(close); }
    const std::string& GroupName() const { return m_group; }
    bool Automatic() const { return m_bAutomatic; }

    // Asks for the first article (automatic) or for the headers (manual).
    void Start();
    // The Stop command: the article in progress is the last.
    void Stop();
    // A fetch (of the range, of selected rows or of one row) is under way.
    bool Busy() const { return m_phase != Phase::Idle; }

    // Sorting by key (0 number, 1 date, 2 sender, 3 subject): writes
    // "Articles" "Sort", re-sorts and refills the rows.
    void Sort(int iKey);
    int SortKey() const { return m_iSortKey; }
    // Find: the first row from the top (or after the caret with bRepeat)
    // whose text holds the text, ignoring case; highlighted and with the
    // caret.  -1 and "Could not find article." when none does.
    std::int32_t FindArticle(const std::string& text, bool bRepeat);
    // "&Get selected": fetches every highlighted row not marked "+".  False
    // when it cannot start (automatic group, a fetch under way, nothing
    // highlighted).
    bool RetrieveSelected();
    // Enter or a double click on a row: fetches that one article.
    bool RetrieveRow(std::int32_t iRow);
    // The window became the active child (true) or stopped being it.
    void Activated(bool bActive);
    // The user closes the window: see the top of this file.
    bool QueryClose();

    // "Mailtolvan" "SingleClick": a plain click toggles a row's highlight.
    static bool SingleClick();

    // The rows and header records in display order (manual groups).
    const std::vector<std::string>& Rows() const { return m_rows; }
    const std::vector<ArticleHeader>& Headers() const { return m_headers; }

    // The header records parsed from one overview line; false when the
    // line gives no record (no Message-ID, no number).  tNow stands for an
    // empty or unparseable date.
    static bool ParseOverview(const std::string& line, std::time_t tNow, ArticleHeader& out);
    static std::string RowOf(const ArticleHeader& h, bool bRedrawn);
    // Sorts the records by key with the list's quicksort partition.
    static void SortHeaders(std::vector<ArticleHeader>& headers, int iKey);

private:
    enum class Phase { Idle, Articles, Headers, HeadByHead, Reopen, Selected, One };

    CNNTP* Client() const;
    newsgr* Group() const;
    void SetPointer(std::int32_t iPointer);
    // The fetch in progress is over: back to the group loop (or, after a
    // chosen fetch, to the groups window's idle state).
    void Finish(bool bStopped);
    // The notification is the end of the connection: handled, true.
    bool ConnectionEnded(std::intptr_t lParam, std::uintptr_t wParam);
    // One article into the packet collector; false when it could not be
    // written (the article is then not in the packet).
    bool Convert(const std::string& file, std::int32_t iNumber, std::string* pSubject);
    void OnArticle(std::uintptr_t wParam, std::intptr_t lParam);
    void OnXover(std::uintptr_t wParam, std::intptr_t lParam);
    void OnHeader(std::uintptr_t wParam, std::intptr_t lParam);
    void AskHead(bool bNext);
    void HeadersDone(bool bStopped);
    void FillRows();
    bool Reopen(Phase next);
    void OnReopened(std::uintptr_t wParam, std::intptr_t lParam);
    void NextChosen();
    void OnChosenArticle(std::uintptr_t wParam, std::intptr_t lParam);

    ArticlesOwner m_owner;
    std::unique_ptr<IArticlesView> m_pView;
    std::string m_group;
    std::string m_user, m_password;
    bool m_bAutomatic = false;
    std::int32_t m_iFirst = 0, m_iLast = 0, m_iTotal = 1, m_iNext = 0;
    std::int32_t m_iStart = 0;
    long m_lLines = 0;
    long m_lHeaderCount = 0;
    int m_iSortKey = 0;
    Phase m_phase = Phase::Idle;
    bool m_bStop = false;
    bool m_bCloseAsked = false;
    bool m_bGotOne = false;
    std::vector<ArticleHeader> m_headers;
    std::vector<std::string> m_rows;
    // A selected run: the rows to fetch and the position in it.
    std::vector<std::int32_t> m_run;
    std::size_t m_iRunPos = 0;
    std::int32_t m_iRunCount = 0;
    Phase m_afterReopen = Phase::Idle;
};
