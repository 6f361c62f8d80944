// The main window's news path: Connect with a news server, the automatic
// group list, the group list commands, Disconnect with QUIT, and the ends
// of the news connection.  The news client notifies this window with
// MSG_CONNECT (1228), MSG_GROUP_LIST (1229) and MSG_QUIT (1236).
#include "mainwin/WMain.h"
#include "proto/ServerSecurity.h"

#include "core/Services.h"
#include "core/TnIni.h"
#include "framework/MessageBox.h"
#include "net/WinsockError.h"
#include "newsgroups/Newsgroups.h"
#include "proto/CNNTP.h"
#include "session/GroupList.h"
#include "session/WArticles.h"
#include "session/WGroups.h"

#include <algorithm>

namespace {

// The commands that need the news connection.
const int kNewsCommands[] = {CMD_GETNEW, CMD_GETALL, CMD_NEWGROUPS, CMD_ALLGROUPS};

std::string CutAtSign(const std::string& s)
{
    std::size_t at = s.find('@');
    return at == std::string::npos ? s : s.substr(0, at);
}

} // namespace

void WMain::RegisterNewsHandlers()
{
    OnMessage(CNNTP::MSG_CONNECT, [this](fw::WPARAM wp, fw::LPARAM lp) {
        OnNewsConnect(wp, lp);
        return 0;
    });
    OnMessage(CNNTP::MSG_GROUP_LIST, [this](fw::WPARAM wp, fw::LPARAM lp) {
        OnGroupListEvent(wp, lp);
        return 0;
    });
    OnMessage(CNNTP::MSG_QUIT, [this](fw::WPARAM wp, fw::LPARAM lp) {
        OnNewsQuit(wp, lp);
        return 0;
    });
}

std::string WMain::NewsServerText() const
{
    return g_pIni ? g_pIni->GetString("Servers", "NNTPServer", "news") : std::string("news");
}

bool WMain::NewsBusy() const
{
    return m_bNewsQuitting || m_bNewsConnecting || m_pGroupList ||
           (m_pNews && !m_pNews->IsIdle() && !m_pNews->IsReady());
}

bool WMain::ConnectNews()
{
    std::string setting = NewsServerText();
    if (setting.empty() || !g_pIni)
        return false;
    if (!m_pNews->IsIdle()) {
        // What is left of an earlier connection (a QUIT without answer).
        m_pNews->Abort(this, CNNTP::MSG_QUIT, false);
        m_bNewsQuitting = false;
    }
    // "user@server" names the user; otherwise the user name setting does,
    // without anything after an at sign of its own.
    std::string server, user;
    if (std::size_t at = setting.find('@'); at != std::string::npos) {
        user = setting.substr(0, at);
        server = setting.substr(at + 1);
    } else {
        server = setting;
        user = CutAtSign(g_pIni->GetString("Servers", "NNTPName", ""));
    }
    std::string password;
    if (!g_pIni->GetString("Servers", "NNTPName", "").empty()) {
        if (g_pIni->GetInt("Servers", "NNTPSavePassword", 1) == 0) {
            std::string typed;
            if (m_view.AskPassword("News Password", typed))
                password = typed.substr(0, 255);
        } else {
            password = g_pIni->GetNntpPassword();
        }
        if (password.empty() && g_pIni->GetString("Servers", "NNTPPasswordCommand", "").empty()) {
            Warning(858);
            NoteFailure("News: no password (set one with mailtolvan-tool password nntp); going "
                        "online without news.");
            return false;
        }
    }
    int iPort = g_pIni->GetInt("Servers", "NNTPPort", 119);
    if (iPort < 1 || iPort > 65535) {
        Error("The NNTP port " + std::to_string(iPort) +
              " is not a port number (1 to 65535): going online without news.");
        return false;
    }
    m_pNews->SetSecurity(SecurityFromSettings("NNTP"));
    m_bNewsConnecting = m_pNews->Connect(
        this, CNNTP::MSG_CONNECT, server.c_str(), static_cast<std::uint16_t>(iPort),
        user.empty() ? nullptr : user.c_str(), password.empty() ? nullptr : password.c_str());
    return m_bNewsConnecting;
}

void WMain::OnNewsConnect(std::uintptr_t wParam, std::intptr_t lParam)
{
    bool bEnd = m_pNews->IsEnd(lParam);
    if (!m_bNewsConnecting) {
        // The connection was up and idle, and the server closed it.
        if (bEnd)
            NewsLost(static_cast<int>(wParam), false);
        return;
    }
    m_bNewsConnecting = false;
    if (bEnd) {
        NewsConnectFailed(static_cast<int>(wParam), false);
        return;
    }
    if (wParam != CNNTP::NOTIFY_DONE) {
        // A greeting of class 4: the server does not serve us now.
        NewsConnectFailed(CNNTP::STATUS_CONNECT_FAILED, true);
        return;
    }
    m_view.PressConnect(true);
    int iRetrieve = g_pIni ? g_pIni->GetInt("Groups", "Retrieve", 1) : 0;
    if (iRetrieve == 1 || iRetrieve == 2)
        GetGroups(iRetrieve == 2, true);
    else
        NewsContinuation();
}

void WMain::NewsConnectFailed(int iStatus, bool bGreetingRefused)
{
    m_bNewsConnected = false;
    if (bGreetingRefused && m_pNews->Quit(this, CNNTP::MSG_QUIT))
        m_bNewsQuitting = true;
    if (iStatus == CNNTP::STATUS_ABORTED) {
        m_view.EnableCommand(CMD_STOP, true);
        Error(821);
    } else if (m_pNews->m_iLastError != 0) {
        NoteFailure(WinsockErrorMessage("NNTP Winsock Connect Error", m_pNews->m_iLastError));
        ShowWinsockError("NNTP Winsock Connect Error", m_pNews->m_iLastError, this);
    } else {
        std::string text = m_pNews->ReplyLine();
        if (text.empty())
            text = "The news server " + NewsServerText() + " closed the connection.";
        NoteFailure("NNTP Server Connect Error: " + text);
        fw::MessageBoxes().Show(text, "NNTP Server Connect Error", fw::MbIcon::Exclamation,
                                fw::MbButtons::Ok);
    }
    // Online without news: mail and posting go on (during Autorun they are
    // posted now; the news step then never ends by itself).
    GoOnlineWithoutNews();
}

void WMain::EnableNewsCommands(bool bEnable)
{
    for (int c : {CMD_STOP, CMD_GETMAIL, CMD_GETNEW, CMD_GETALL, CMD_NEWGROUPS, CMD_ALLGROUPS,
                  CMD_POST, CMD_GROUPSETTINGS})
        m_view.EnableCommand(c, bEnable);
}

void WMain::NewsContinuation()
{
    m_bNewsConnected = true;
    if (!m_bAutorunRunning) {
        EnableNewsCommands(true);
        m_view.SetStatus("Connected to " + NewsServerText());
        return;
    }
    if (!g_pIni)
        return;
    // Replies go out before new mail and news come in.
    if (g_pIni->GetInt("Autorun", "AutoPost", 0) == 1)
        PostCommand(CMD_POST);
    if (g_pIni->GetInt("Autorun", "AutoEmail", 0) == 1)
        PostCommand(CMD_GETMAIL);
    if (g_pIni->GetInt("Autorun", "AutoNews", 0) == 1)
        PostCommand(CMD_GETNEW);
}

void WMain::NewsLost(int iStatus, bool bReported)
{
    if (!bReported && m_bConnected) {
        if (iStatus == CNNTP::STATUS_CLOSED) {
            ShowNewsServerClosed(*m_pNews);
        } else if (iStatus != CNNTP::STATUS_ABORTED) {
            std::string text =
                m_pNews->m_iLastError != 0
                    ? WinsockErrorMessage("NNTP Winsock error", m_pNews->m_iLastError)
                    : std::string(m_pNews->ReplyLine());
            NoteFailure("News: " + text);
            fw::MessageBoxes().Show(text, "NNTP Error", fw::MbIcon::Exclamation, fw::MbButtons::Ok);
        }
    }
    m_bNewsConnected = false;
    if (m_pGroups)
        m_pGroups->ConnectionLost();
    if (!m_bConnected)
        return;
    for (int c : kNewsCommands)
        m_view.EnableCommand(c, false);
    m_view.SetStatus("The connection to " + NewsServerText() + " has ended");
}

void WMain::GetGroups(bool bAll, bool bAutomatic)
{
    if (m_pGroupList || m_bEditingGroups || !m_pNews->IsReady()) {
        if (bAutomatic)
            NewsContinuation();
        return;
    }
    std::int64_t tSince = 0;
    if (!bAll && g_pIni)
        tSince = std::max<std::int32_t>(g_pIni->GetLong("Groups", "NewGroups", 0), 0);
    if (tSince == 0 && !Confirm(861)) {
        if (bAutomatic)
            NewsContinuation();
        return;
    }
    m_view.SetStatus(bAll ? "Retrieving all usenet groups" : "Retrieving new usenet groups");
    m_pGroupList = std::make_unique<GroupListRetrieval>(
        *m_pNews, this, [this](const std::string& text) { m_view.SetStatus(text); });
    if (!m_pGroupList->Start(tSince)) {
        m_pGroupList.reset();
        if (bAutomatic)
            NewsContinuation();
        return;
    }
    m_bAutoGroupList = bAutomatic;
    m_iGroupsAdded = 0;
    // Until the list is done; Stop stays, to stop it.
    EnableNewsCommands(false);
    m_view.EnableCommand(CMD_STOP, true);
}

void WMain::OnGroupListEvent(std::uintptr_t wParam, std::intptr_t lParam)
{
    if (!m_pGroupList) {
        if (m_pNews->IsEnd(lParam))
            NewsLost(static_cast<int>(wParam), false);
        return;
    }
    GroupListRetrieval::Outcome outcome = m_pGroupList->OnNotify(wParam, lParam);
    if (outcome == GroupListRetrieval::RUNNING)
        return;
    m_iGroupsAdded = m_pGroupList->Added();
    m_pGroupList.reset();
    bool bAutomatic = m_bAutoGroupList;
    m_bAutoGroupList = false;
    if (outcome == GroupListRetrieval::DONE && m_pGroups)
        m_pGroups->Reload();
    if (outcome == GroupListRetrieval::ENDED) {
        NewsLost(static_cast<int>(wParam), true);
        if (m_bConnected) {
            m_view.EnableCommand(CMD_GROUPSETTINGS, true);
            // On as without news: mail and posting.
            GoOnlineWithoutNews();
        }
        return;
    }
    if (bAutomatic) {
        NewsContinuation();
        m_view.EnableCommand(CMD_GROUPSETTINGS, true);
    } else if (!m_bAutorunRunning) {
        EnableNewsCommands(true);
    }
}

bool WMain::QuitNews()
{
    m_bNewsConnecting = false;
    m_bAutoGroupList = false;
    if (m_bNewsQuitting)
        return true; // its answer ends the disconnection
    if (m_pNews->IsReady()) {
        m_pGroupList.reset();
        if (m_pNews->Quit(this, CNNTP::MSG_QUIT)) {
            m_bNewsQuitting = true;
            return true;
        }
    }
    // Connecting, or a list on its way: a news reader has nothing to
    // commit, so the connection just ends.
    if (!m_pNews->IsIdle())
        m_pNews->Abort(this, CNNTP::MSG_QUIT, false);
    m_pGroupList.reset();
    m_bNewsConnected = false;
    return false;
}

void WMain::OnNewsQuit(std::uintptr_t wParam, std::intptr_t lParam)
{
    if (!m_pNews->IsEnd(lParam))
        return;
    m_bNewsConnected = false;
    m_bNewsQuitting = false;
    if (m_bConnected)
        return; // the goodbye to a server that refused us: still online without news
    m_view.EnableCommand(CMD_CONNECT, true);
    m_view.EnableCommand(CMD_DISCONNECT, false);
    m_view.EnableCommand(CMD_AUTORUN, true);
    switch (wParam) {
    case CNNTP::STATUS_ABORTED:
        Error(819);
        break;
    case CNNTP::STATUS_QUIT:
        m_view.SetStatus("Disconnected from " + NewsServerText());
        break;
    default:
        if (m_pNews->m_iLastError != 0) {
            NoteFailure(WinsockErrorMessage("NNTP Quit error", m_pNews->m_iLastError));
            ShowWinsockError("NNTP Quit error", m_pNews->m_iLastError, this);
        } else {
            NoteFailure(std::string("NNTP Quit Error: ") + m_pNews->ReplyLine());
            fw::MessageBoxes().Show(m_pNews->ReplyLine(), "NNTP Quit Error",
                                    fw::MbIcon::Exclamation, fw::MbButtons::Ok);
        }
        break;
    }
    if (m_bAutorunRunning)
        PostCommand(CMD_SAVE);
}

void WMain::StopNews(bool bAbort)
{
    if (m_pGroupList && !bAbort) {
        m_pGroupList->Stop();
        return;
    }
    if (!bAbort || m_pNews->IsIdle() || m_pNews->IsReady())
        return;
    unsigned uMsg = m_bNewsQuitting ? CNNTP::MSG_QUIT
                    : m_pGroupList  ? CNNTP::MSG_GROUP_LIST
                                    : CNNTP::MSG_CONNECT;
    m_pNews->Abort(this, uMsg, true);
}

void WMain::GetArticles(bool bNew)
{
    m_view.SetStatus(bNew ? "Retrieving new usenet articles" : "Retrieving all usenet articles");
    OpenGroupsWindow();
    if (m_pGroups->Retrieving())
        return;
    m_view.EnableCommand(CMD_NEWGROUPS, false);
    m_view.EnableCommand(CMD_ALLGROUPS, false);
    m_bNewsStepOpen = m_bAutorunRunning;
    m_pGroups->Retrieve(bNew);
}

void WMain::NewsLoopDone()
{
    m_view.SetProgress(0);
    if (m_bNewsConnected && !m_bAutorunRunning) {
        m_view.EnableCommand(CMD_NEWGROUPS, true);
        m_view.EnableCommand(CMD_ALLGROUPS, true);
    }
    if (m_bNewsStepOpen) {
        m_bNewsStepOpen = false;
        if (m_bAutorunRunning)
            AutorunStepDone(AUTORUN_NEWS);
    }
}

void WMain::OpenGroupsWindow()
{
    if (m_pGroups) {
        // Closed by the user: shown again.
        if (!m_pGroups->View().Reveal())
            m_pGroups->ReplaceView(m_view.CreateGroupsView());
        else if (!m_pGroups->Retrieving())
            m_pGroups->Fill();
        return;
    }
    GroupsOwner owner;
    owner.gone = [this] {
        m_pActiveArticles = nullptr;
        m_view.EnableCommand(CMD_GROUPSETTINGS, true);
    };
    owner.client = [this] { return m_pNews.get(); };
    owner.messages = [this]() -> Rfcmsg& { return GatherMessages(); };
    owner.createArticlesView = [this] { return m_view.CreateArticlesView(); };
    owner.mainStatus = [this](const std::string& text) { m_view.SetStatus(text); };
    owner.articleCommands = [this](bool b) { EnableArticleCommands(b); };
    owner.pointersMoved = [this] { m_bPointersMoved = true; };
    owner.opening = [this](const newsgr& group) { m_pointers.Opening(group); };
    owner.converted = [this](const std::string& group, std::int32_t iArticle) {
        m_bPointersMoved = true;
        m_pointers.Converted(group, iArticle);
    };
    owner.activated = [this](WArticles* p, bool bActive) {
        if (bActive)
            m_pActiveArticles = p;
        else if (m_pActiveArticles == p)
            m_pActiveArticles = nullptr;
    };
    owner.loopDone = [this] { NewsLoopDone(); };
    owner.editing = [this](bool b) { EditingGroups(b); };
    // The dialog's copy of the list would undo the pointers the retrieval
    // moves meanwhile.
    owner.retrievingChanged = [this](bool b) { m_view.EnableCommand(CMD_GROUPSETTINGS, !b); };
    owner.connectionEnded = [this](int iStatus) {
        if (iStatus == CNNTP::STATUS_CLOSED && m_bConnected)
            PostCommand(CMD_DISCONNECT);
        else
            NewsLost(iStatus, true);
    };
    owner.bUnattended = m_view.Unattended();
    m_pGroups = std::make_unique<WGroups>(owner, m_view.CreateGroupsView());
}

void WMain::EnableArticleCommands(bool bEnable)
{
    for (int c : {CMD_SORTNUMBER, CMD_SORTDATE, CMD_SORTFROM, CMD_SORTSUBJECT, CMD_GETSELECTED,
                  CMD_FINDARTICLE})
        m_view.EnableCommand(c, bEnable);
}

WArticles* WMain::ArticlesTarget() const
{
    if (!m_pGroups)
        return nullptr;
    for (const auto& p : m_pGroups->ArticleWindows())
        if (p.get() == m_pActiveArticles && !p->Automatic())
            return p.get();
    return m_pGroups->FirstManualWindow();
}

void WMain::ArticleCommand(int iCommand)
{
    WArticles* pTarget = ArticlesTarget();
    if (iCommand >= CMD_SORTNUMBER && iCommand <= CMD_SORTSUBJECT) {
        for (int c = CMD_SORTNUMBER; c <= CMD_SORTSUBJECT; ++c)
            m_view.CheckCommand(c, c == iCommand);
        if (pTarget)
            pTarget->Sort(iCommand - CMD_SORTNUMBER);
        else if (g_pIni)
            (void)g_pIni->WriteInt("Articles", "Sort", iCommand - CMD_SORTNUMBER);
        return;
    }
    if (!pTarget)
        return;
    if (iCommand == CMD_FINDARTICLE) {
        pTarget->View().ShowFind();
        return;
    }
    // Get selected acts on the first article window of a manual group.
    WArticles* pFirst = m_pGroups ? m_pGroups->FirstManualWindow() : nullptr;
    if (pFirst) {
        pFirst->View().Activate();
        (void)pFirst->RetrieveSelected();
    }
}

void WMain::GroupSettings()
{
    // Not while a group list is being added: the dialog's copy would drop
    // what it adds.
    if (!g_pNewsgroups || m_pGroupList || m_bEditingGroups)
        return;
    // Nor while articles are retrieved: the dialog's copy would put back
    // the pointers the retrieval moves meanwhile, and its OK writes them.
    if (m_pGroups && m_pGroups->Retrieving()) {
        Error(826);
        return;
    }
    // OK puts the edited copy in the list's place and writes its file.
    EditingGroups(true);
    bool bOk = m_view.ShowDialog(CMD_GROUPSETTINGS);
    EditingGroups(false);
    if (bOk && m_pGroups)
        m_pGroups->Reload();
}

void WMain::EditingGroups(bool bEditing)
{
    m_bEditingGroups = bEditing;
    if (!g_pNewsgroups)
        return;
    // The dialog writes the list at OK: not with pointers past articles
    // that no saved packet holds yet.
    if (bEditing)
        m_pointers.Hold(*g_pNewsgroups);
    else
        m_pointers.Resume(*g_pNewsgroups);
}
