#include "mainwin/WMain.h"

#include "core/Services.h"
#include "core/Startup.h"
#include "core/Strings.h"
#include "core/TnIni.h"
#include "framework/Files.h"
#include "framework/MessageBox.h"
#include "newsgroups/Newsgroups.h"
#include "packet/MailSpool.h"
#include "packet/PacketSave.h"
#include "packet/RepPacket.h"
#include "packet/Rfcmsg.h"
#include "proto/CNNTP.h"
#include "session/GroupList.h"
#include "session/WEmail.h"
#include "session/WGroups.h"
#include "session/WPost.h"

#include <algorithm>

WMain* g_pMain = nullptr;

namespace {
void RegisterMainStrings()
{
    static bool s_bDone = false;
    if (s_bDone)
        return;
    s_bDone = true;
    const std::pair<int, const char*> strings[] = {
        {603, "Open a REP file for transmission"},
        {604, "Save the current QWK file"},
        {605, "Save the QWK file under another name"},
        {606, "Run an external QWK reader"},
        {607, "Exit Mail Tolvan"},
        {609, "Connect to the Internet"},
        {610, "Disconnect from the Internet"},
        {611, "Stop current process"},
        {613, "Retrieve your Email"},
        {614, "Get new articles from selected groups"},
        {615, "Get all articles in selected groups"},
        {616, "Retrieve new Usenet groups"},
        {617, "Retrieve all Usenet groups"},
        {618, "Post email and Usenet articles"},
        {801, "This is not a valid Mail Tolvan REP file."},
        {805, "There was an error executing the external program."},
        {809, "There is no REP file loaded."},
        {819, "News retrieval has been aborted!"},
        {821, "The connection to news server has been aborted!"},
        {834, "Your connection is still active!\nExit anyways?"},
        {835, "You have unsaved messages!\nExit without saving?"},
        {836, "You have unsaved Email messages!\nExit without saving?"},
        {837, "Save the current article pointers?"},
        {858, "A password is required for retrieving news."},
        {862, "The disk is full!"},
        {861, "Retrieving the complete list of groups from the server\nmay take a while.  Proceed "
              "with the retrieval?"},
    };
    for (const auto& [id, text] : strings)
        RegisterString(id, text);
}

// Commands that only make sense online.
const int kOnlineCommands[] = {CMD_DISCONNECT, CMD_STOP,      CMD_GETMAIL,   CMD_GETNEW,
                               CMD_GETALL,     CMD_NEWGROUPS, CMD_ALLGROUPS, CMD_POST};
} // namespace

WMain::WMain(IMainView& view, bool bStartedWithAutorun, bool bFirstStart)
    : m_view(view), m_bStartedWithAutorun(bStartedWithAutorun), m_bFirstStart(bFirstStart)
{
    RegisterMainStrings();
    PacketSaveHooks hooks;
    hooks.askPath = [this](const std::string& proposed, std::string& chosen) {
        if (m_bAutorunRunning) {
            chosen = proposed;
            return true;
        }
        return m_view.AskSavePath(proposed, chosen);
    };
    hooks.status = [this](const std::string& text) { m_view.SetStatus(text); };
    hooks.progress = [this](int p) { m_view.SetProgress(p); };
    hooks.pProgressWindow = this;
    hooks.messages = [this] { return Messages(); };
    hooks.dropMessages = [this] {
        // The packet is saved: the pointers of what it holds may be written.
        if (g_pNewsgroups && !m_pointers.PacketSaved(*g_pNewsgroups))
            Error("The newsgroups file could not be written: " + g_pNewsgroups->LastError() + ".");
        DropMessages();
    };
    m_pSaver = std::make_unique<CPacketSaver>(hooks);
    m_pLedger = std::make_unique<RepLedger>(
        fw::JoinPath(g_pStartup ? g_pStartup->m_szHomeDir : std::string("."), "sent-replies.lst"));
    if (g_pStartup) {
        m_pSpool = std::make_unique<MailSpool>(g_pStartup->m_szSpoolDir);
        if (!m_pSpool->Open(m_szSpoolError))
            m_pSpool.reset();
    }

    OnMessage(fw::WM_COMMAND_MSG, [this](fw::WPARAM wp, fw::LPARAM) {
        OnCommand(static_cast<int>(wp));
        return 0;
    });
    OnMessage(fw::WM_QWK_PROGRESS, [this](fw::WPARAM wp, fw::LPARAM lp) {
        OnProgress(wp, lp);
        return 0;
    });
    OnMessage(fw::WM_CLOSE_REQUEST, [this](fw::WPARAM, fw::LPARAM) {
        if (m_bSaving)
            Post(fw::WM_CLOSE_REQUEST); // after the packet is done
        else
            Exit();
        return 0;
    });
    SetAutorunQuery([this] { return m_bAutorunRunning; });
    // The news client keeps its replies in the packet work directory.
    m_pNews = std::make_unique<CNNTP>(g_pStartup ? g_pStartup->m_szWorkDir.c_str() : ".");
    RegisterNewsHandlers();

    int iSort = g_pIni ? g_pIni->GetInt("Articles", "Sort", 0) : 0;
    for (int c = CMD_SORTNUMBER; c <= CMD_SORTSUBJECT; ++c)
        m_view.CheckCommand(c, c == CMD_SORTNUMBER + iSort);
    SetOfflineState();
    for (int c : {CMD_FINDGROUP, CMD_FINDARTICLE, CMD_SORTNUMBER, CMD_SORTDATE, CMD_SORTFROM,
                  CMD_SORTSUBJECT, CMD_GETSELECTED})
        m_view.EnableCommand(c, false);
    m_view.EnableCommand(CMD_GROUPSETTINGS, true);
}

WMain::~WMain()
{
    SetAutorunQuery(nullptr);
    std::unique_ptr<WEmail> pEmail = std::move(m_pEmail);
    pEmail.reset();
    std::unique_ptr<WPost> pPost = std::move(m_pPost);
    pPost.reset();
    m_pGroups.reset();
    m_pGroupList.reset();
    m_pNews.reset();
}

void WMain::SetOfflineState()
{
    for (int c :
         {CMD_OPEN, CMD_SAVE, CMD_SAVEAS, CMD_RUNREADER, CMD_EXIT, CMD_CONNECT, CMD_AUTORUN})
        m_view.EnableCommand(c, true);
    for (int c : kOnlineCommands)
        m_view.EnableCommand(c, false);
}

void WMain::FinishStartup()
{
    if (g_pIni && g_pIni->ReadOnly()) {
        // Said once; the run is not the worse for it, so it is no failure.
        Warning("Mail Tolvan cannot write its settings file " + g_pIni->Path() + " (" +
                g_pIni->ReadOnlyReason() + "), going on with what it read.");
    }
    RecoverLeftMail();
    if (!g_pIni || g_pIni->GetInt("Mailtolvan", "DisableSplash", 0) != 1) {
        m_view.ShowSplash();
        PlayResourceSound("Splash");
    }
    if (m_bStartedWithAutorun)
        StartAutorun();
    if (m_bFirstStart)
        PostCommand(CMD_SERVERINFO);
}

void WMain::PostCommand(int iCommand)
{
    Post(fw::WM_COMMAND_MSG, static_cast<fw::WPARAM>(iCommand), 0);
}

int WMain::EnabledWeights() const
{
    if (!g_pIni)
        return 0;
    return (g_pIni->GetInt("Autorun", "AutoEmail", 0) ? AUTORUN_EMAIL : 0) +
           (g_pIni->GetInt("Autorun", "AutoPost", 0) ? AUTORUN_POST : 0) +
           (g_pIni->GetInt("Autorun", "AutoNews", 0) ? AUTORUN_NEWS : 0);
}

void WMain::OnCommand(int iCommand)
{
    // A command may wait for another program (a packer) while messages are
    // dispatched; the sequence is not stalled meanwhile.
    struct Running {
        int& depth;
        explicit Running(int& d) : depth(d) { ++depth; }
        ~Running() { --depth; }
    } running(m_iCommandDepth);
    // The packet writer lets the loop run to show its progress; a command
    // arriving meanwhile waits until the packet is done.
    if (m_bSaving && iCommand != CMD_STOP) {
        PostCommand(iCommand);
        return;
    }
    switch (iCommand) {
    case CMD_OPEN:
        Open();
        break;
    case CMD_SAVE:
        Save();
        break;
    case CMD_SAVEAS:
        SaveAs();
        break;
    case CMD_RUNREADER:
        RunReader();
        break;
    case CMD_EXIT:
        Exit();
        break;
    case CMD_CONNECT:
        Connect();
        break;
    case CMD_DISCONNECT:
        Disconnect();
        break;
    case CMD_STOP:
        Stop();
        break;
    case CMD_AUTORUN:
        StartAutorun();
        break;
    case CMD_GETMAIL:
        GetMail();
        break;
    case CMD_GETNEW:
    case CMD_GETALL:
        GetArticles(iCommand == CMD_GETNEW);
        break;
    case CMD_NEWGROUPS:
    case CMD_ALLGROUPS:
        GetGroups(iCommand == CMD_ALLGROUPS, false);
        break;
    case CMD_GROUPSETTINGS:
        GroupSettings();
        break;
    case CMD_FINDGROUP:
        OpenGroupsWindow();
        m_pGroups->View().ShowFind();
        break;
    case CMD_SORTNUMBER:
    case CMD_SORTDATE:
    case CMD_SORTFROM:
    case CMD_SORTSUBJECT:
    case CMD_GETSELECTED:
    case CMD_FINDARTICLE:
        ArticleCommand(iCommand);
        break;
    case CMD_POST:
        PostReplies();
        break;
    case CMD_SERVERINFO:
        if (m_view.ShowDialog(CMD_SERVERINFO))
            PostCommand(CMD_PERSONALINFO);
        break;
    case CMD_PERSONALINFO:
        m_view.ShowDialog(CMD_PERSONALINFO);
        m_bFirstStart = false;
        break;
    default:
        m_view.ShowDialog(iCommand);
        break;
    }
}

void WMain::Unavailable(const std::string& what)
{
    Error(what + " is not available in this version of Mail Tolvan.");
}

void WMain::OnProgress(std::uintptr_t wParam, std::intptr_t lParam)
{
    if (wParam == 0) {
        if (lParam != 0) {
            m_lProgressTotal = static_cast<std::int32_t>(lParam);
        } else {
            m_view.SetStatus("Done!");
            m_view.SetProgress(0);
        }
        m_lProgressCount = 0;
        return;
    }
    if (lParam)
        m_view.SetStatus(reinterpret_cast<const char*>(lParam));
    ++m_lProgressCount;
    if (m_lProgressTotal > 0)
        m_view.SetProgress(std::clamp(m_lProgressCount * 100 / m_lProgressTotal, 0, 100));
}

void WMain::StartAutorun()
{
    m_bAutorunRunning = true;
    m_lAutorunProgress = 0;
    m_iFailuresBeforeAutorun = FailureCount();
    if (!g_pIni)
        return;
    if (g_pIni->GetInt("Autorun", "AutoPost", 0) == 1)
        PostCommand(CMD_OPEN);
    else if (g_pIni->GetInt("Autorun", "AutoEmail", 0) == 1 ||
             g_pIni->GetInt("Autorun", "AutoNews", 0) == 1)
        PostCommand(CMD_CONNECT);
}

void WMain::AutorunStepDone(int iWeight)
{
    m_lAutorunProgress += iWeight;
    if (m_lAutorunProgress == EnabledWeights()) {
        m_lAutorunProgress = 0;
        PostCommand(CMD_DISCONNECT);
        if (g_pIni && g_pIni->GetInt("Autorun", "AutoEmail", 0) == 0 &&
            g_pIni->GetInt("Autorun", "AutoNews", 0) == 0)
            m_bAutorunRunning = false; // posting only: ends without saving
    }
}

void WMain::OpenDone(bool bCountStep)
{
    if (!m_bAutorunRunning)
        return;
    if (bCountStep)
        AutorunStepDone(AUTORUN_POST);
    PostCommand(CMD_CONNECT);
}

void WMain::Open()
{
    if (!g_pIni)
        return OpenDone(true);
    std::string path = DefaultRepPath();
    if (!m_bAutorunRunning && !m_view.AskOpenPath(path, path))
        return;
    if (!FileExists(path))
        return OpenDone(true);
    m_szRepPath = path;
    m_pPost.reset();
    m_pRepfile.reset();
    std::string work = g_pStartup ? g_pStartup->m_szRepWorkDir : std::string();
    RepUnpackHooks hooks;
    hooks.status = [this](const std::string& t) { m_view.SetStatus(t); };
    hooks.progress = [this](int p) { m_view.SetProgress(p); };
    hooks.diskFull = [](const std::string&) { Error(862); };
    switch (UnpackRep(path, work, g_pIni->GetString("Directories", "Unpacker", ""), hooks)) {
    case RepUnpack::CannotStart:
        Error(805);
        return OpenDone(true);
    case RepUnpack::WorkDirUnusable:
        Error("The REP work directory " + work +
              " cannot be used (a REP file must not lie in "
              "it).");
        return OpenDone(true);
    case RepUnpack::Done:
        break;
    }
    std::string msg = RepMemberPath(work, path, ".MSG");
    if (msg.empty()) {
        Error(801);
        return OpenDone(true);
    }
    m_view.SetStatus("Loading REP file . . .");
    RepReadOptions options;
    options.repWorkDir = work;
    options.pGroups = g_pNewsgroups;
    options.iMailingLists = g_pIni->GetInt("Groups", "MailingLists", 0);
    options.charset =
        ReaderCharsetFromSetting(g_pIni->GetString("Directories", "ReaderCharset", "CP437"));
    std::string packet = g_pStartup ? g_pStartup->m_szPacketName : std::string("Tolvan");
    m_pRepfile = std::make_unique<Repfile>(msg, RepMemberPath(work, path, ".DAT"), options, packet);
    std::string error;
    if (!m_pLedger->Load(error))
        Error(error);
    MarkSentFromLedger(*m_pRepfile, *m_pLedger);
    m_view.SetStatus("");
    if (m_pRepfile->All().empty()) {
        std::string text = "This packet does not belong to " + packet + ".Ini.";
        NoteFailure(text + " (" + path + ")");
        fw::MessageBoxes().Show(text, "ERROR!", fw::MbIcon::Stop, fw::MbButtons::Ok);
        m_pRepfile.reset();
        return OpenDone(true);
    }
    int iCount = 0;
    for (mailxarticle* p = m_pRepfile->FirstUnsent(); p;) {
        ++iCount;
        if (p->m_szProblem.empty()) {
            p = m_pRepfile->NextUnsent();
            continue;
        }
        // The reply stays in the REP file (it is never sent from here).
        fw::MessageBoxes().Show("Message " + std::to_string(iCount) + " with the subject \"" +
                                    p->m_szSubject.substr(0, 25) +
                                    "\"\nhas no destination.  Deleting . . .",
                                "ERROR!", fw::MbIcon::Stop, fw::MbButtons::Ok);
        m_pRepfile->DeleteCurrent(p->m_szProblem);
        p = m_pRepfile->Current();
        if (p && p->m_iSent)
            p = m_pRepfile->NextUnsent();
    }
    if (m_pRepfile->m_iEmailCount + m_pRepfile->m_iNewsCount == 0) {
        std::string left = UnsentReport(*m_pRepfile, "it cannot be sent");
        if (!left.empty())
            Error("No reply of " + path + " can be sent; the file is kept:\n" + left);
        m_pRepfile.reset();
        return OpenDone(true);
    }
    m_view.SetStatus(std::to_string(m_pRepfile->m_iEmailCount + m_pRepfile->m_iNewsCount) +
                     " messages in " + path);
    OpenDone(false);
}

void WMain::PostReplies()
{
    if (!m_pRepfile) {
        // During Autorun, Open has already dealt with a missing packet.
        if (!m_bAutorunRunning)
            Error(809);
        return;
    }
    m_view.SetStatus("Posting replies");
    if (m_pPost) {
        m_pPost->SendCurrent();
        return;
    }
    m_view.EnableCommand(CMD_OPEN, false);
    PostOwner owner;
    owner.autorunRunning = [this] { return m_bAutorunRunning; };
    owner.stepDone = [this] { AutorunStepDone(AUTORUN_POST); };
    owner.enableOpen = [this](bool b) { m_view.EnableCommand(CMD_OPEN, b); };
    owner.repfile = [this] { return m_pRepfile.get(); };
    owner.ledger = [this] { return m_pLedger.get(); };
    owner.repPath = [this] { return m_szRepPath; };
    owner.dropRepfile = [this] { m_pRepfile.reset(); };
    std::unique_ptr<IPostView> pView = m_view.CreatePostView();
    if (!pView) {
        struct Silent : IPostView {
            void SetStatus(const std::string&) override {}
            void SetProgress(int) override {}
            void AddRow(const std::string&) override {}
        };
        pView = std::make_unique<Silent>();
    }
    m_pPost = std::make_unique<WPost>(owner, std::move(pView));
}

void WMain::Connect()
{
    if (m_bConnected) {
        Disconnect();
        return;
    }
    // With a news server the rest happens when it has answered.
    if (!ConnectNews())
        GoOnlineWithoutNews();
    m_view.EnableCommand(CMD_SAVE, false);
    m_view.EnableCommand(CMD_SAVEAS, false);
    m_view.EnableCommand(CMD_CONNECT, false);
    m_view.EnableCommand(CMD_AUTORUN, false);
    m_view.EnableCommand(CMD_DISCONNECT, true);
    m_bConnected = true;
}

void WMain::GoOnlineWithoutNews()
{
    m_view.PressConnect(true);
    if (!m_bAutorunRunning) {
        m_view.EnableCommand(CMD_STOP, true);
        m_view.EnableCommand(CMD_GETMAIL, true);
        m_view.EnableCommand(CMD_POST, true);
        return;
    }
    // Replies go out before new mail comes in.
    if (g_pIni && g_pIni->GetInt("Autorun", "AutoPost", 0) == 1)
        PostCommand(CMD_POST);
    if (g_pIni && g_pIni->GetInt("Autorun", "AutoEmail", 0) == 1)
        PostCommand(CMD_GETMAIL);
}

void WMain::Disconnect()
{
    m_view.SetStatus("Disconnecting from server . . .");
    m_view.PressConnect(false);
    m_view.EnableCommand(CMD_SAVE, true);
    m_view.EnableCommand(CMD_SAVEAS, true);
    for (int c : kOnlineCommands)
        m_view.EnableCommand(c, false);

    std::unique_ptr<WPost> pPost = std::move(m_pPost);
    pPost.reset();
    std::unique_ptr<WEmail> pEmail = std::move(m_pEmail);
    pEmail.reset();
    m_pGroups.reset();

    if (QuitNews()) {
        // The answer to QUIT completes the disconnection.
        m_bConnected = false;
        return;
    }
    // Without a news connection the disconnection is complete at once.
    m_view.EnableCommand(CMD_CONNECT, true);
    m_view.EnableCommand(CMD_AUTORUN, true);
    m_view.EnableCommand(CMD_DISCONNECT, false);
    std::string server = g_pIni ? g_pIni->GetString("Servers", "NNTPServer", "news") : "news";
    m_view.SetStatus("Disconnected from " + server);
    if (m_bAutorunRunning)
        PostCommand(CMD_SAVE);
    m_bConnected = false;
}

void WMain::GetMail()
{
    m_view.SetStatus("Retrieving Email messages");
    if (m_pEmail) {
        m_pEmail->RetrieveAgain();
        return;
    }
    EmailOwner owner;
    owner.autorunRunning = [this] { return m_bAutorunRunning; };
    owner.stepDone = [this] { AutorunStepDone(AUTORUN_EMAIL); };
    owner.gone = [this] { EmailWindowGone(); };
    owner.mainProgress = [this](int p) { m_view.SetProgress(p); };
    owner.messages = [this]() -> Rfcmsg& { return GatherMessages(); };
    owner.spool = [this] { return Spool(); };
    owner.askPassword = [this](const std::string& title, std::string& pw) {
        return m_view.AskPassword(title, pw);
    };
    m_pEmail = std::make_unique<WEmail>(owner, m_view.CreateEmailView());
    if (!m_pEmail->Start()) {
        // No password: the window closes again.
        std::unique_ptr<WEmail> pEmail = std::move(m_pEmail);
        pEmail.reset();
    }
}

void WMain::EmailWindowGone() { m_view.SetProgress(0); }

void WMain::Interrupt(const std::string& why)
{
    if (m_bExited)
        return;
    Stop();
    RestrainPointers();
    std::string text = why;
    if (m_pSpool && !m_pSpool->Messages().empty())
        text += " The mail retrieved so far is kept in " + m_pSpool->Dir() +
                " and becomes a packet at the next start.";
    NoteFailure(text);
    m_bExited = true;
    fw::MessageLoop::Quit(1);
}

void WMain::Stop()
{
    if (m_pEmail)
        m_pEmail->Stop();
    if (m_pPost)
        m_pPost->Stop();
    if (m_pGroups)
        m_pGroups->Stop();
    StopNews(false);
}

bool WMain::Save()
{
    if (m_bConnected)
        return false;
    bool bWasAutorun = m_bAutorunRunning;
    bool bProduced = false;
    if (bWasAutorun && !Messages()) {
        // An empty mailbox is no failure of an unattended run: no packet,
        // nothing for the reader.  After a failed step the same words would
        // hide why nothing came, so then the plain fact is shown.
        m_view.SetStatus(FailureCount() == m_iFailuresBeforeAutorun ? "No new mail"
                                                                    : LoadStringRes(823));
    } else {
        m_bSaving = true;
        bProduced = m_pSaver->Save(m_szQwkPath, bWasAutorun);
        m_bSaving = false;
    }
    if (bWasAutorun) {
        // The reader is started on a packet this sequence made, never on an
        // old one (or none) after a failed save.
        if (bProduced && g_pIni && g_pIni->GetInt("Autorun", "AutoReader", 0) == 1) {
            m_bSaveEndsAutorun = true;
            PostCommand(CMD_RUNREADER);
        } else if (m_bStartedWithAutorun) {
            m_bExitEndsAutorun = true;
            PostCommand(CMD_EXIT);
        }
        m_bAutorunRunning = false;
    }
    return bProduced;
}

void WMain::SaveAs()
{
    if (m_bConnected)
        return;
    if (m_pSaver->ChooseQwkPath(m_szQwkPath, m_bAutorunRunning))
        Save();
}

void WMain::RunReader()
{
    bool bLastAutorunStep = m_bSaveEndsAutorun;
    m_bSaveEndsAutorun = false;
    // Saving does nothing while online (a session may still be adding
    // messages to the ones a packet would take away).
    m_pSaver->RunReader(m_szQwkPath, m_bAutorunRunning, !m_bConnected);
    if (bLastAutorunStep && m_bStartedWithAutorun) {
        m_bExitEndsAutorun = true;
        PostCommand(CMD_EXIT);
    }
}

void WMain::Exit()
{
    // The exit that ends an Autorun run has nobody to answer its questions.
    bool bUnattended = m_bExitEndsAutorun;
    m_bExitEndsAutorun = false;
    if (m_bConnected && !Confirm(834))
        return;
    if (!Messages()) {
        if (m_bPointersMoved && g_pNewsgroups)
            g_pNewsgroups->SetSaveCurrent(Confirm(837));
    } else if (bUnattended) {
        // The sequence's own save failed: keep the mail rather than take
        // silence for consent to drop it.
        KeepUnsavedMessages();
    } else {
        bool bNewMail = Messages()->NewMessages();
        if (!Save()) {
            if (!AskToDropMessages(bNewMail ? 836 : 835))
                return;
            if (m_bPointersMoved && g_pNewsgroups)
                g_pNewsgroups->SetSaveCurrent(Confirm(837));
        }
    }
    RestrainPointers();
    m_bExited = true;
    fw::MessageLoop::Quit(0);
}

bool WMain::AskToDropMessages(int iQuestion)
{
    // Mail that may be gone from the server is dropped only on a real Yes:
    // not because "Confirmation" is 0, not because an Autorun sequence runs.
    return fw::MessageBoxes().Show(LoadStringRes(iQuestion), "Warning!", fw::MbIcon::Question,
                                   fw::MbButtons::YesNo) == fw::IDYES;
}

void WMain::KeepUnsavedMessages()
{
    if (!Messages())
        return;
    // First a packet in the program's directory; failing that, the work
    // files are kept.
    std::string rescue = CPacketSaver::RescuePath();
    if (m_pSaver->SaveRescue(rescue)) {
        NoteFailure("The gathered messages could not be saved as configured; they were saved to " +
                    rescue + ".");
    } else {
        std::string kept = g_pStartup ? g_pStartup->KeepWorkDirectory() : std::string();
        NoteFailure(kept.empty() ? "The gathered messages could not be saved and are lost."
                                 : "The gathered messages could not be saved; their files are "
                                   "kept in " +
                                       kept + ".");
        // The kept directory has the files now; the records only name
        // where they were.  The spool keeps its copy for the next start.
        if (!kept.empty())
            m_pMessages.reset();
    }
}

Rfcmsg& WMain::GatherMessages()
{
    if (!m_pMessages)
        m_pMessages =
            std::make_unique<Rfcmsg>(g_pStartup ? g_pStartup->m_szWorkDir : std::string("."));
    return *m_pMessages;
}

void WMain::DropMessages()
{
    m_pMessages.reset();
    std::string error;
    if (m_pSpool && !m_pSpool->PacketSaved(error))
        Error("The saved messages could not be cleared from the mail spool (" + error +
              "); they may come again at the next start.");
}

void WMain::RecoverLeftMail()
{
    if (!m_pSpool) {
        if (!m_szSpoolError.empty())
            Error("Mail cannot be retrieved safely: " + m_szSpoolError + ".");
        return;
    }
    const auto& left = m_pSpool->Messages();
    if (left.empty())
        return;
    Rfcmsg& messages = GatherMessages();
    std::int32_t iNumber = 0;
    for (const MailSpool::Message& m : left) {
        messages.Convert(m.path, ++iNumber, "email");
        if (!messages.WriteFailed())
            m_pSpool->Converted(m.path);
    }
    messages.SetNewMessages(true);
    std::string count = std::to_string(left.size()) +
                        (left.size() == 1 ? " message" : " messages") +
                        " retrieved by an earlier run that did not finish";
    std::string path = CPacketSaver::RecoveryPath();
    if (m_pSaver->SaveRescue(path)) {
        fw::MessageBoxes().Show(count + " were saved to " + path + ".", "Mail Tolvan",
                                fw::MbIcon::Information, fw::MbButtons::Ok);
    } else {
        Error(count + " could not be saved to " + path +
              "; they stay with the messages of this run and in " + m_pSpool->Dir() + ".");
    }
}

bool WMain::IsBusy() const
{
    return m_iCommandDepth > 0 || fw::MessageLoop::PendingMessages() > 0 ||
           (m_pEmail && m_pEmail->Busy()) || (m_pPost && m_pPost->Busy()) || NewsBusy();
}

void WMain::StopSilentSession(int iSeconds)
{
    NoteFailure("No answer from the server for " + std::to_string(iSeconds) +
                " seconds: the session was stopped.");
    Stop();
    StopNews(true);
}

bool WMain::AutorunStalled() const { return m_bAutorunRunning && !IsBusy(); }

bool WMain::AutorunOverWithoutExit() const
{
    return m_bStartedWithAutorun && !m_bAutorunRunning && !m_bExited && !IsBusy();
}

void WMain::EndAutorunRun()
{
    // Nobody is there to answer the exit questions, and the mail may
    // already be gone from the server: never drop it.
    KeepUnsavedMessages();
    RestrainPointers();
    m_bExited = true;
    fw::MessageLoop::Quit(0);
}

void WMain::RestrainPointers()
{
    if (g_pNewsgroups)
        m_pointers.Restrain(*g_pNewsgroups);
}

void WMain::FinishStalledAutorun()
{
    int enabled = EnabledWeights();
    if (enabled == 0) {
        NoteFailure("Autorun has no step to run: AutoEmail, AutoNews and AutoPost are all 0.");
    } else {
        std::string missing;
        int done = m_lAutorunProgress;
        if ((enabled & AUTORUN_EMAIL) && !(done & AUTORUN_EMAIL))
            missing += " e-mail";
        if ((enabled & AUTORUN_POST) && !(done & AUTORUN_POST))
            missing += " posting";
        if ((enabled & AUTORUN_NEWS) && !(done & AUTORUN_NEWS))
            missing += " news";
        NoteFailure("Autorun: these steps could not finish:" + missing +
                    "; saving what was gathered.");
    }
    m_lAutorunProgress = 0;
    if (m_bConnected)
        PostCommand(CMD_DISCONNECT);
    else
        PostCommand(CMD_SAVE);
}
