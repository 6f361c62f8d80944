#include "session/WGroups.h"

#include "core/Services.h"
#include "core/Strings.h"
#include "core/TnIni.h"
#include "framework/MessageBox.h"
#include "net/WinsockError.h"
#include "newsgroups/Newsgroups.h"
#include "proto/CNNTP.h"
#include "session/GroupList.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

// Posted so that the next group starts after the article window that
// finished has returned from its handler.
constexpr unsigned kMsgNextGroup = fw::WM_USER + 300;
constexpr unsigned kMsgCloseArticles = fw::WM_USER + 301;

void RegisterGroupsStrings()
{
    RegisterString(819, "News retrieval has been aborted!");
    RegisterString(826, "Article retrieval is still active!");
    RegisterString(827, "The Articles have already been retrieved!");
    RegisterString(838, "The NEWNEWS command failed to retrieve an article number.\nUse the "
                        "last retrieved article pointer instead?");
}

std::string Lower(const std::string& s)
{
    std::string out = s;
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The first row at or after iFrom that holds the text, both lower-cased.
std::int32_t FindRow(const std::vector<std::string>& rows, const std::string& text,
                     std::int32_t iFrom)
{
    if (text.empty())
        return -1;
    std::string want = Lower(text);
    for (std::size_t i = static_cast<std::size_t>(std::max<std::int32_t>(iFrom, 0));
         i < rows.size(); ++i)
        if (Lower(rows[i]).find(want) != std::string::npos)
            return static_cast<std::int32_t>(i);
    return -1;
}

} // namespace

WGroups::WGroups(GroupsOwner owner, std::unique_ptr<IGroupsView> pView)
    : m_owner(std::move(owner)), m_pView(std::move(pView))
{
    RegisterGroupsStrings();
    OnMessage(CNNTP::MSG_GROUP, [this](fw::WPARAM w, fw::LPARAM l) {
        OnGroup(w, l);
        return 0;
    });
    OnMessage(kMsgNextGroup, [this](fw::WPARAM, fw::LPARAM) {
        NextGroup();
        return 0;
    });
    OnMessage(kMsgCloseArticles, [this](fw::WPARAM, fw::LPARAM l) {
        CloseArticles(reinterpret_cast<WArticles*>(l));
        return 0;
    });
    Fill();
}

WGroups::~WGroups()
{
    m_articles.clear();
    if (m_owner.gone)
        m_owner.gone();
}

std::string WGroups::RowOf(const newsgr& group)
{
    char head[32];
    std::snprintf(head, sizeof head, "%c\t%ld\t", group.m_uFlags & NG_SELECTED ? '+' : ' ',
                  static_cast<long>(group.m_lPointer));
    return head + group.m_szName;
}

std::string WGroups::GroupOfRow(const std::string& row)
{
    std::size_t tab = row.rfind('\t');
    return tab == std::string::npos ? row : row.substr(tab + 1);
}

std::vector<std::string> WGroups::RowsOf(Newsgroups& list, bool bSelectedAtTop, bool bDisplayAll)
{
    std::vector<std::string> rows;
    for (bool b = list.FirstSelected(); b; b = list.NextSelected())
        rows.push_back(RowOf(*list.Current()));
    if (!bDisplayAll)
        return rows;
    if (!bSelectedAtTop)
        rows.clear();
    for (bool b = list.First(); b; b = list.Next()) {
        const newsgr* p = list.Current();
        if (!bSelectedAtTop || !(p->m_uFlags & NG_SELECTED))
            rows.push_back(RowOf(*p));
    }
    return rows;
}

void WGroups::Fill()
{
    bool bAtTop = !g_pIni || g_pIni->GetInt("Groups", "SelectedAtTop", 1) != 0;
    bool bAll = !g_pIni || g_pIni->GetInt("Groups", "DisplayAll", 1) != 0;
    m_rows = g_pNewsgroups ? RowsOf(*g_pNewsgroups, bAtTop, bAll) : std::vector<std::string>();
    m_iCurrent = -1;
    m_pView->SetRows(m_rows);
}

void WGroups::Reload()
{
    m_pView->SetStatus("Reloading groups . . .");
    Fill();
    m_pView->SetStatus("Done!");
}

void WGroups::SetCurrentRow(std::int32_t iRow)
{
    m_iCurrent = iRow >= 0 && iRow < static_cast<std::int32_t>(m_rows.size()) ? iRow : -1;
}

void WGroups::Select(std::int32_t iRow)
{
    SetCurrentRow(iRow);
    m_pView->SelectRow(m_iCurrent);
}

std::int32_t WGroups::RowOfGroup(const std::string& name) const
{
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        if (GroupOfRow(m_rows[i]) == name)
            return static_cast<std::int32_t>(i);
    return -1;
}

std::int32_t WGroups::FindGroup(const std::string& text, bool bRepeat)
{
    std::int32_t iFound = FindRow(m_rows, text, bRepeat ? m_iCurrent + 1 : 0);
    if (iFound < 0) {
        fw::MessageBoxes().Show("Could not find group.", "Find Group", fw::MbIcon::Information,
                                fw::MbButtons::Ok);
        return -1;
    }
    Select(iFound);
    return iFound;
}

bool WGroups::GroupSettings(std::int32_t iRow)
{
    if (!g_pNewsgroups || iRow < 0 || iRow >= static_cast<std::int32_t>(m_rows.size()))
        return false;
    if (Retrieving()) {
        Error(826);
        return false;
    }
    std::string name = GroupOfRow(m_rows[static_cast<std::size_t>(iRow)]);
    if (!g_pNewsgroups->Find(name))
        return false;
    if (m_owner.editing)
        m_owner.editing(true);
    bool bOk = m_pView->ShowGroupSettings(name);
    if (m_owner.editing)
        m_owner.editing(false);
    if (!bOk)
        return false;
    Fill();
    Select(RowOfGroup(name));
    return true;
}

// ---------------------------------------------------------------- retrieval

GroupRange WGroups::PlanRange(const newsgr& group, std::int32_t iCount, std::int32_t iFirst,
                              std::int32_t iLast, std::int32_t iFirstNew, bool bNew,
                              std::int32_t iMinimum, std::int32_t iMaximum,
                              const std::function<bool()>& ask838)
{
    GroupRange r;
    char title[600];
    if (!bNew) {
        r.iStart = r.iPointer = iFirst;
        r.iLast = iLast;
        std::snprintf(title, sizeof title, "%s, all articles %ld - %ld", group.m_szName.c_str(),
                      static_cast<long>(iFirst), static_cast<long>(iLast));
        r.title = title;
        return r;
    }
    std::int64_t pointer = group.m_lPointer;
    if (group.m_uFlags & NG_BYDATE) {
        if (iFirst < iFirstNew) {
            pointer = iFirstNew;
        } else if (!ask838 || !ask838()) {
            r.outcome = GroupRange::NO_ARTICLES;
            r.iPointer = group.m_lPointer;
            return r;
        }
    }
    std::int64_t start = pointer;
    if (iLast < pointer - 1) // the server's numbers went back
        start = pointer = iFirst;
    r.iPointer = static_cast<std::int32_t>(pointer);
    if (pointer > iLast) {
        r.outcome = GroupRange::NO_NEW;
        return r;
    }
    if (iFirst == iLast) {
        r.outcome = GroupRange::NO_ARTICLES;
        return r;
    }
    std::int64_t last = iLast;
    if (pointer < 0) {
        start = std::max<std::int64_t>(last + pointer, 0);
    }
    // Nothing below the server's first article exists: asking for it
    // number by number would only waste the connection.
    start = std::max<std::int64_t>(start, iFirst);
    if (pointer >= 0 && iMinimum != 0 && iMinimum > last - start + 1) {
        r.outcome = GroupRange::NOT_ENOUGH;
        return r;
    }
    if (iMaximum > 0 && iMaximum < last - start + 1)
        last = start + iMaximum - 1;
    r.iStart = r.iPointer = static_cast<std::int32_t>(start);
    r.iLast = static_cast<std::int32_t>(last);
    std::int32_t total = iCount > 0 ? iCount : 1;
    long shown = last - start > total ? total : static_cast<long>(last - start + 1);
    std::snprintf(title, sizeof title, "%s,  %ld new out of %ld total", group.m_szName.c_str(),
                  shown, static_cast<long>(total));
    r.title = title;
    return r;
}

newsgr* WGroups::NextSelectedAfter(std::int32_t iPosition) const
{
    if (!g_pNewsgroups)
        return nullptr;
    for (std::int32_t i = iPosition + 1; i < g_pNewsgroups->Count(); ++i)
        if (newsgr* p = g_pNewsgroups->At(i); p && (p->m_uFlags & NG_SELECTED))
            return p;
    return nullptr;
}

void WGroups::Retrieve(bool bNew)
{
    if (!m_bDone || m_bArticlesActive)
        return; // under way
    m_bNew = bNew;
    if (m_bStop && !m_current.empty()) {
        // Resume after the group that was stopped.
        m_bStop = false;
        m_bDone = false;
        NoteRetrieving();
        NextGroup();
        return;
    }
    m_bStop = false;
    m_bDone = false;
    m_current.clear();
    NoteRetrieving();
    NextGroup();
}

void WGroups::NoteRetrieving()
{
    if (Retrieving() == m_bToldRetrieving)
        return;
    m_bToldRetrieving = Retrieving();
    if (m_owner.retrievingChanged)
        m_owner.retrievingChanged(m_bToldRetrieving);
}

void WGroups::Stop()
{
    if (m_bDone && !m_bArticlesActive)
        return;
    m_pView->SetStatus("Stopping retrieval . . .");
    m_bStop = true;
    for (auto& p : m_articles)
        p->Stop();
}

void WGroups::ConnectionLost()
{
    if (m_bDone && !m_bArticlesActive)
        return;
    m_bStop = true;
    m_bArticlesActive = false;
    m_bDone = true;
    NoteRetrieving();
    if (m_owner.articleCommands)
        m_owner.articleCommands(false);
    if (m_owner.loopDone)
        m_owner.loopDone();
}

void WGroups::OpenGroup(newsgr& group)
{
    m_current = group.m_szName;
    if (m_owner.bUnattended && !(group.m_uFlags & NG_AUTOMATIC)) {
        // Its headers wait for a person; the pointers stay as they are.
        if (std::find(m_skipped.begin(), m_skipped.end(), group.m_szName) == m_skipped.end()) {
            m_skipped.push_back(group.m_szName);
            m_pView->SetStatus("Skipped " + group.m_szName +
                               ": its articles are chosen by hand in the Usenet Groups window");
        }
        Post(kMsgNextGroup);
        return;
    }
    std::int64_t tSince = 0;
    if (group.m_uFlags & NG_BYDATE) {
        tSince = group.m_lDate;
        std::int32_t iDays = g_pIni ? g_pIni->GetInt("Articles", "DaysOldest", 0) : 0;
        if (iDays != 0) {
            std::int64_t tCut = static_cast<std::int64_t>(std::time(nullptr)) -
                                static_cast<std::int64_t>(iDays) * 86400;
            tSince = std::max(tSince, tCut);
        }
    }
    if (m_owner.mainStatus)
        m_owner.mainStatus("Contacting server . . .");
    CNNTP* pClient = Client();
    if (!pClient ||
        !pClient->Group(this, CNNTP::MSG_GROUP, group.m_szName.c_str(), tSince,
                        group.m_szUser.empty() ? nullptr : group.m_szUser.c_str(),
                        group.m_szPassword.empty() ? nullptr : group.m_szPassword.c_str())) {
        m_pView->SetStatus("The news connection cannot open " + group.m_szName);
        Post(kMsgNextGroup);
    }
}

void WGroups::OnGroup(std::uintptr_t wParam, std::intptr_t lParam)
{
    CNNTP* pClient = Client();
    if (!pClient || m_current.empty())
        return;
    newsgr* pGroup =
        g_pNewsgroups && g_pNewsgroups->Find(m_current) ? g_pNewsgroups->Current() : nullptr;
    if (pClient->IsEnd(lParam)) {
        if (wParam == CNNTP::STATUS_ABORTED) {
            Error(819);
        } else if (wParam == CNNTP::STATUS_CLOSED) {
            ShowNewsServerClosed(*pClient);
        } else if (pClient->m_iLastError != 0) {
            std::string caption = "Group Error: " + m_current;
            NoteFailure(WinsockErrorMessage(caption.c_str(), pClient->m_iLastError));
            ShowWinsockError(caption.c_str(), pClient->m_iLastError, this);
        }
        ConnectionLost();
        if (m_owner.connectionEnded)
            m_owner.connectionEnded(static_cast<int>(wParam));
        return;
    }
    if (!pGroup) {
        Post(kMsgNextGroup);
        return;
    }
    if (wParam != CNNTP::NOTIFY_DONE) {
        m_pView->SetStatus(std::string(pClient->ReplyLine()) + " " + m_current);
        Post(kMsgNextGroup);
        return;
    }
    const auto* pRec = reinterpret_cast<const CNNTP::GroupRecord*>(lParam);
    if (m_owner.opening)
        m_owner.opening(*pGroup);
    pGroup->m_lDate = static_cast<std::int32_t>(std::time(nullptr));
    Select(RowOfGroup(m_current));
    std::int32_t iMin = g_pIni ? g_pIni->GetInt("Articles", "MinimumRetrieved", 0) : 0;
    std::int32_t iMax = g_pIni ? g_pIni->GetInt("Articles", "MaximumRetrieved", 0) : 0;
    GroupRange range = PlanRange(*pGroup, pRec->iCount, pRec->iFirst, pRec->iLast, pRec->iFirstNew,
                                 m_bNew, iMin, iMax, [] { return Confirm(838); });
    pGroup->m_lPointer = range.iPointer;
    switch (range.outcome) {
    case GroupRange::NO_NEW:
        m_pView->SetStatus("No new articles in " + m_current);
        Post(kMsgNextGroup);
        return;
    case GroupRange::NO_ARTICLES:
        m_pView->SetStatus("No articles in " + m_current);
        Post(kMsgNextGroup);
        return;
    case GroupRange::NOT_ENOUGH:
        m_pView->SetStatus("Not enough articles in " + m_current);
        Post(kMsgNextGroup);
        return;
    case GroupRange::FETCH:
        break;
    }
    m_pView->SetStatus("Retrieving . . .");
    OpenArticles(*pGroup, range, pRec->iCount);
}

void WGroups::OpenArticles(newsgr& group, const GroupRange& range, std::int32_t iTotal)
{
    std::unique_ptr<IArticlesView> pView =
        m_owner.createArticlesView ? m_owner.createArticlesView() : nullptr;
    if (!pView)
        pView = std::make_unique<HiddenArticlesView>();
    pView->SetTitle(range.title);
    ArticlesOwner owner;
    owner.client = m_owner.client;
    owner.messages = m_owner.messages;
    owner.converted = m_owner.converted;
    owner.mainStatus = m_owner.mainStatus;
    owner.pointersMoved = m_owner.pointersMoved;
    owner.articleCommands = m_owner.articleCommands;
    owner.activated = m_owner.activated;
    owner.groupsBusy = [this] { return !m_bDone || m_bArticlesActive; };
    owner.finished = [this](bool) { Post(kMsgNextGroup); };
    owner.fetching = [this](bool b) {
        m_bArticlesActive = b;
        NoteRetrieving();
        if (m_owner.articleCommands && !b)
            m_owner.articleCommands(false);
    };
    owner.serverClosed = [this](int iStatus) {
        CNNTP* pClient = Client();
        if (pClient && iStatus == CNNTP::STATUS_CLOSED)
            ShowNewsServerClosed(*pClient);
        else if (pClient && iStatus != CNNTP::STATUS_ABORTED && pClient->m_iLastError != 0)
            NoteFailure(WinsockErrorMessage("NNTP Winsock error", pClient->m_iLastError));
        ConnectionLost();
        if (m_owner.connectionEnded)
            m_owner.connectionEnded(iStatus);
    };
    auto p = std::make_unique<WArticles>(std::move(owner), std::move(pView), group, range.iStart,
                                         range.iLast, iTotal);
    WArticles* pWindow = p.get();
    pWindow->SetClose(
        [this, pWindow] { Post(kMsgCloseArticles, 0, reinterpret_cast<fw::LPARAM>(pWindow)); });
    // An earlier window of the group gives way to the new one.
    for (auto& q : m_articles)
        if (q->GroupName() == group.m_szName && !q->Busy()) {
            q = std::move(p);
            break;
        }
    if (p)
        m_articles.push_back(std::move(p));
    m_bArticlesActive = true;
    if (!pWindow->Automatic() && m_owner.articleCommands)
        m_owner.articleCommands(true);
    pWindow->Start();
}

void WGroups::CloseArticles(WArticles* pWindow)
{
    for (auto it = m_articles.begin(); it != m_articles.end(); ++it)
        if (it->get() == pWindow) {
            bool bBusy = pWindow->Busy();
            m_articles.erase(it);
            if (bBusy)
                NextGroup(); // its group will not finish by itself
            return;
        }
}

void WGroups::NextGroup()
{
    m_bArticlesActive = false;
    std::int32_t iPosition = -1;
    if (!m_current.empty() && g_pNewsgroups && g_pNewsgroups->Find(m_current)) {
        iPosition = g_pNewsgroups->Position();
        Fill();
        Select(RowOfGroup(m_current));
    }
    if (!m_bDone && !m_bStop) {
        if (newsgr* pNext = NextSelectedAfter(iPosition)) {
            OpenGroup(*pNext);
            return;
        }
    }
    if (!m_bDone) {
        m_bDone = true;
        NoteRetrieving();
        m_pView->SetStatus(m_bStop ? "Stopped" : "Done retrieving");
        if (!m_bStop)
            (void)PlayDoneBeep();
        if (m_owner.loopDone)
            m_owner.loopDone();
    }
    if (m_owner.articleCommands)
        m_owner.articleCommands(false);
}

bool WGroups::OpenRow(std::int32_t iRow)
{
    if (iRow < 0 || iRow >= static_cast<std::int32_t>(m_rows.size()))
        return false;
    if (!m_bDone || m_bArticlesActive) {
        Error(826);
        return false;
    }
    std::string name = GroupOfRow(m_rows[static_cast<std::size_t>(iRow)]);
    for (const auto& p : m_articles)
        if (p->GroupName() == name) {
            Error(827);
            return false;
        }
    if (!g_pNewsgroups || !g_pNewsgroups->Find(name))
        return false;
    m_bArticlesActive = true;
    m_bDone = false;
    m_bStop = false;
    NoteRetrieving();
    OpenGroup(*g_pNewsgroups->Current());
    return true;
}

WArticles* WGroups::FirstManualWindow() const
{
    for (const auto& p : m_articles)
        if (!p->Automatic())
            return p.get();
    return nullptr;
}

void WGroups::ReplaceView(std::unique_ptr<IGroupsView> pView)
{
    m_pView = std::move(pView);
    Fill();
    if (!m_current.empty())
        Select(RowOfGroup(m_current));
}
