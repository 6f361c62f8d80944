// The main window's logic: the command dispatcher, the online/offline
// states with their command enabling, the Autorun sequence, the progress
// messages of the packet writer and the exit checks.  The screen is reached
// only through IMainView.
#pragma once

#include "framework/Window.h"
#include "mainwin/Commands.h"
#include "mainwin/MainView.h"
#include "session/PointerGuard.h"

#include <cstdint>
#include <memory>
#include <string>

class WEmail;
class WPost;
class Repfile;
class RepLedger;
class WGroups;
class WArticles;
class CNNTP;
class GroupListRetrieval;
class CPacketSaver;
class Rfcmsg;
class MailSpool;

class WMain : public fw::Window {
public:
    // bStartedWithAutorun: the program was started with the autorun option.
    WMain(IMainView& view, bool bStartedWithAutorun, bool bFirstStart);
    ~WMain() override;

    // The end of start-up: splash, Autorun when asked, server setup on the
    // first start.
    void FinishStartup();

    // Posts a command to this window (it is handled on the message loop).
    void PostCommand(int iCommand);
    // Handles a command now.
    void OnCommand(int iCommand);

    // Called by each Autorun step when it ends, with its weight.
    void AutorunStepDone(int iWeight);
    // Called by the Email window when it is destroyed.
    void EmailWindowGone();

    // For a headless run: true when an Autorun sequence waits for a step
    // that nothing will ever finish (no message queued, no session busy).
    bool AutorunStalled() const;
    // Ends a stalled sequence: reports which steps never finished, then
    // disconnects and saves what was gathered.
    void FinishStalledAutorun();
    // For a headless run started with the autorun option: true when the
    // sequence is over, the program has not exited and nothing is left to
    // do (the exit checks kept it running because nobody can answer them,
    // or a posting-only sequence ended online).
    bool AutorunOverWithoutExit() const;
    // Ends such a run: unsaved messages are reported as a failure.
    void EndAutorunRun();

    // Stops a session that has had no answer for too long (a headless run
    // must end even when a server stops talking).
    void StopSilentSession(int iSeconds);

    bool Exited() const { return m_bExited; }
    // Ends the run at once and in order (a signal, the run's deadline):
    // sessions stopped without committing, gathered mail kept in the spool
    // for the next start, the reason noted as a failure.
    void Interrupt(const std::string& why);
    bool IsBusy() const;

    IMainView& View() { return m_view; }

    // State, in the order the window keeps it.
    bool m_bConnected = false;
    bool m_bNewsConnected = false;
    bool m_bNewsQuitting = false;
    bool m_bPointersMoved = false;
    bool m_bAutorunRunning = false;
    std::int32_t m_lAutorunProgress = 0;
    std::int32_t m_iGroupsAdded = 0;
    std::string m_szQwkPath; // empty: none chosen yet
    std::string m_szRepPath;

    WEmail* EmailWindow() const { return m_pEmail.get(); }
    WPost* PostWindow() const { return m_pPost.get(); }
    // The loaded REP packet (nullptr when none).
    Repfile* LoadedRep() const { return m_pRepfile.get(); }
    // The "Usenet Groups" window, or nullptr.
    WGroups* GroupsWindow() const { return m_pGroups.get(); }

    // The gathered messages waiting for a packet (nullptr when none).  The
    // main window owns them from the first retrieved message until the
    // packet holding them is saved or the user lets them go at exit.
    Rfcmsg* Messages() const { return m_pMessages.get(); }
    Rfcmsg& GatherMessages();
    void DropMessages();
    // Where retrieved mail waits for its packet; nullptr when the spool
    // cannot be used (mail is then not retrieved at all).
    MailSpool* Spool() const { return m_pSpool.get(); }
    // Before the newsgroup list is written at the end of the run: no
    // pointer may pass an article that is not in a saved packet.
    void RestrainPointers();

private:
    void OnProgress(std::uintptr_t wParam, std::intptr_t lParam);
    void Connect();
    void Disconnect();
    void GoOnlineWithoutNews();
    void GetMail();
    bool Save();
    void SaveAs();
    void RunReader();
    void Exit();
    // The question before unsaved messages are dropped, always shown.
    bool AskToDropMessages(int iQuestion);
    // Saves unsaved messages to a rescue packet, or keeps their work files,
    // and reports it as a failure of the run.
    void KeepUnsavedMessages();
    void Stop();
    void StartAutorun();
    void Open();
    // Opening failed or left nothing to post: an Autorun sequence goes on.
    void OpenDone(bool bCountStep);
    void PostReplies();
    void Unavailable(const std::string& what);
    // Mail that an earlier run retrieved and never saved becomes a packet
    // of its own, before anything else happens.
    void RecoverLeftMail();
    void SetOfflineState();
    int EnabledWeights() const;

    // The news path (WMainNews.cpp).
    void RegisterNewsHandlers();
    // Connect's news part: false when the program goes online without news.
    bool ConnectNews();
    // Disconnect's news part: true when QUIT went out and its answer ends
    // the disconnection.
    bool QuitNews();
    void OnNewsConnect(std::uintptr_t wParam, std::intptr_t lParam);
    void OnGroupListEvent(std::uintptr_t wParam, std::intptr_t lParam);
    void OnNewsQuit(std::uintptr_t wParam, std::intptr_t lParam);
    void NewsConnectFailed(int iStatus, bool bGreetingRefused);
    // The news connection ended while nothing was asked of it.
    void NewsLost(int iStatus, bool bReported);
    void NewsContinuation();
    void EnableNewsCommands(bool bEnable);
    void GetGroups(bool bAll, bool bAutomatic);
    void GetArticles(bool bNew);
    void OpenGroupsWindow();
    void NewsLoopDone();
    // The Articles menu: sorting, get selected, find article.
    void ArticleCommand(int iCommand);
    void EnableArticleCommands(bool bEnable);
    // The article window the Articles menu acts on: the active one, else
    // the first of a manual group.
    WArticles* ArticlesTarget() const;
    void GroupSettings();
    // The Group Settings dialog (the menu's or the popup's) opens or closes.
    void EditingGroups(bool bEditing);
    // Stop for the news client: a list being received stops at its next
    // line; with bAbort anything under way ends at once.
    void StopNews(bool bAbort);
    bool NewsBusy() const;
    std::string NewsServerText() const;

    IMainView& m_view;
    bool m_bStartedWithAutorun;
    bool m_bFirstStart;
    bool m_bExited = false;
    bool m_bSaveEndsAutorun = false;
    bool m_bExitEndsAutorun = false; // the Exit was posted by the sequence's end
    int m_iFailuresBeforeAutorun = 0;
    bool m_bSaving = false;  // the packet is being written
    int m_iCommandDepth = 0; // commands being handled (nested while one waits)
    std::int32_t m_lProgressTotal = 0;
    std::int32_t m_lProgressCount = 0;
    std::unique_ptr<MailSpool> m_pSpool;
    std::string m_szSpoolError; // why there is no spool
    std::unique_ptr<Rfcmsg> m_pMessages;
    std::unique_ptr<WEmail> m_pEmail;
    std::unique_ptr<Repfile> m_pRepfile;
    std::unique_ptr<RepLedger> m_pLedger;
    std::unique_ptr<WPost> m_pPost;
    std::unique_ptr<CPacketSaver> m_pSaver;
    std::unique_ptr<WGroups> m_pGroups;
    std::unique_ptr<CNNTP> m_pNews;
    std::unique_ptr<GroupListRetrieval> m_pGroupList; // a group list is on its way
    bool m_bNewsConnecting = false;                   // the 1228 of a Connect is awaited
    bool m_bAutoGroupList = false;                    // the list retrieval follows the connection
    bool m_bEditingGroups = false;                    // the Group Settings dialog is open
    bool m_bNewsStepOpen = false;                     // Autorun's news step awaits its end
    WArticles* m_pActiveArticles = nullptr;           // the active article window
    PointerGuard m_pointers;
};

// The process-wide main window (null outside the program's run).
extern WMain* g_pMain;
