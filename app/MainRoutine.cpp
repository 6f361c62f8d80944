#include "app/MainRoutine.h"

#include "console/ConsoleViews.h"
#include "core/Services.h"
#include "core/TnIni.h"
#include "framework/Files.h"
#include "framework/InstanceLock.h"
#include "framework/MessageBox.h"
#include "framework/Registry.h"
#include "framework/Sound.h"
#include "framework/WaitCursor.h"
#include "mainwin/WMain.h"
#include "net/CWinsock.h"
#include "newsgroups/Newsgroups.h"
#include "packet/Rfcmsg.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

// Start-up failures are shown without an owner window and end the program.
int StartupFailure(const std::string& text)
{
    fw::MessageBoxes().Show(text, "Mail Tolvan", fw::MbIcon::Stop, fw::MbButtons::Ok, true);
    return 1;
}

void StatusLine(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

// SIGTERM, SIGINT and SIGHUP reach the message loop through a pipe, so the
// run ends in order: sessions stopped, gathered mail kept, exit status 1.
int sg_iSignalPipe[2] = {-1, -1};

void OnSignal(int iSignal)
{
    int saved = errno;
    unsigned char b = static_cast<unsigned char>(iSignal);
    (void)!::write(sg_iSignalPipe[1], &b, 1);
    errno = saved;
}

class SignalWatch {
public:
    explicit SignalWatch(std::function<void(int)> onSignal)
    {
        if (sg_iSignalPipe[0] < 0 && ::pipe2(sg_iSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        m_pNotifier = std::make_unique<QSocketNotifier>(sg_iSignalPipe[0], QSocketNotifier::Read);
        QObject::connect(m_pNotifier.get(), &QSocketNotifier::activated, [onSignal] {
            unsigned char b = 0;
            while (::read(sg_iSignalPipe[0], &b, 1) == 1)
                onSignal(b);
        });
        struct sigaction sa {};
        sa.sa_handler = OnSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        for (int s : {SIGTERM, SIGINT, SIGHUP})
            ::sigaction(s, &sa, &m_old[s]);
    }
    ~SignalWatch()
    {
        if (!m_pNotifier)
            return;
        for (int s : {SIGTERM, SIGINT, SIGHUP})
            ::sigaction(s, &m_old[s], nullptr);
        m_pNotifier.reset();
    }

private:
    std::unique_ptr<QSocketNotifier> m_pNotifier;
    struct sigaction m_old[NSIG] {};
};

// A setting in minutes (0: none), else the default.
long long MinutesSetting(const char* pszSection, const char* pszKey, int iDefault)
{
    int v = g_pIni ? g_pIni->GetInt(pszSection, pszKey, iDefault) : iDefault;
    return v > 0 ? static_cast<long long>(v) * 60 : 0;
}

} // namespace

int RunMainRoutine(const CommandLine& cmd, const std::string& homeDir, CWinsock& winsock,
                   IMainView* pView)
{
    int iExit = 0;

    if (!CreateWinsockEventWindow() && !GetWinsockEventWindow())
        return StartupFailure("Could not create the Mail Tolvan callback window.\nPlease restart "
                              "Mail Tolvan.");
    if (winsock.m_iLastError != 0)
        return StartupFailure("There was a problem starting up your Winsock.\nPlease check your "
                              "paths and make sure you have\nthe correct WSOCK32.DLL for your "
                              "system.");

    if (homeDir.empty())
        return StartupFailure(
            "Mail Tolvan cannot find its directory: set MAILTOLVAN_HOME or HOME.");
    if (!fw::MakeDirectories(homeDir))
        return StartupFailure("Mail Tolvan cannot create its directory " + homeDir + ": " +
                              std::strerror(errno));
    // One run per home directory, before anything there is touched.
    fw::InstanceLock lock;
    if (std::string why; !lock.Acquire(fw::InstanceLock::PathFor(homeDir), why))
        return StartupFailure(why + ".");
    StartupPaths paths = ResolvePaths(homeDir, cmd.iniValue);
    std::string iniDir = fw::DirName(paths.settingsFile);
    if (!iniDir.empty() && !fw::FileExists(iniDir) && iniDir != "/")
        return StartupFailure("The directory of the settings file does not exist: " + iniDir);
    fw::RegKey::SetStorePath(fw::JoinPath(homeDir, "registry.ini"));
    fw::Sound::SetResourceDir(fw::JoinPath(homeDir, "sounds"));

    ConsoleMainView consoleView;
    IMainView& view = pView ? *pView : consoleView;
    bool bHeadless = pView == nullptr;
    if (bHeadless) {
        // Autorun keeps warnings and errors out of boxes; a cron user must
        // still read them.
        SetSuppressedMessageSink([](const std::string& caption, const std::string& text) {
            std::string flat = text;
            for (char& c : flat)
                if (c == '\n')
                    c = ' ';
            std::fprintf(stderr, "%s %s\n", caption.c_str(), flat.c_str());
        });
    }

    auto pWait = std::make_unique<fw::WaitCursor>();
    auto pStartup = std::make_unique<Startup>(cmd, homeDir);
    g_pStartup = pStartup.get();
    if (!pStartup->WorkDirsReady()) {
        std::string why = pStartup->WorkDirsError();
        g_pStartup = nullptr;
        pStartup.reset();
        return StartupFailure("Mail Tolvan cannot use its work directories: " + why);
    }
    auto pIni = std::make_unique<TnIni>(pStartup->m_szIniFile);
    g_pIni = pIni.get();
    if (pIni->WriteFailed()) {
        Error("Mail Tolvan cannot write its settings file " + pStartup->m_szIniFile + ": " +
              pIni->LastWriteError() + ".\nChanged settings will not be kept.");
        iExit = 1;
    }

    auto pNewsgroups = std::make_unique<Newsgroups>(pStartup->m_szNwsFile);
    g_pNewsgroups = pNewsgroups.get();

    // The main window finishes the start-up: splash, Autorun, the server
    // setup on the first start (a headless run has no dialogs for it).
    auto pMain =
        std::make_unique<WMain>(view, pStartup->m_bAutorun, pStartup->m_bFirstStart && !bHeadless);
    g_pMain = pMain.get();
    pWait.reset();
    pMain->FinishStartup();

    if (!bHeadless || pStartup->m_bAutorun) {
        // A headless run has nobody to close the window: it ends when the
        // Autorun sequence exits, or when the sequence can go no further
        // (nothing queued, no session busy) twice in a row.
        QTimer watchdog;
        int iIdleTicks = 0;
        // A session whose server stops answering is stopped after this long
        // without any socket or window message (MAILTOLVAN_IDLE_TIMEOUT, in
        // seconds, 600 by default).
        int iSilentLimit = 600;
        if (const char* p = std::getenv("MAILTOLVAN_IDLE_TIMEOUT"); p && std::atoi(p) > 0)
            iSilentLimit = std::atoi(p);
        unsigned long ulLastDispatched = fw::MessageLoop::DispatchedMessages();
        QElapsedTimer silence;
        silence.start();
        // However much the servers send, an unattended run ends by itself
        // ("Autorun" "RunDeadline", minutes; 0 for none).
        long long llDeadline = bHeadless ? MinutesSetting("Autorun", "RunDeadline", 240) : 0;
        QElapsedTimer runClock;
        runClock.start();
        SignalWatch signalWatch([&](int iSignal) {
            pMain->Interrupt(std::string("Mail Tolvan was stopped by ") + ::sigabbrev_np(iSignal) +
                             ".");
            if (bHeadless)
                StatusLine(LastFailure());
        });
        if (bHeadless) {
            watchdog.setInterval(100);
            QObject::connect(&watchdog, &QTimer::timeout, [&] {
                if (pMain->Exited())
                    return;
                if (llDeadline > 0 && runClock.elapsed() > llDeadline * 1000) {
                    pMain->Interrupt("The run took longer than " + std::to_string(llDeadline / 60) +
                                     " minutes (\"Autorun\" \"RunDeadline\") and was stopped.");
                    StatusLine(LastFailure());
                    return;
                }
                if (fw::MessageLoop::DispatchedMessages() != ulLastDispatched) {
                    ulLastDispatched = fw::MessageLoop::DispatchedMessages();
                    silence.restart();
                } else if (pMain->IsBusy() && silence.elapsed() > iSilentLimit * 1000LL) {
                    silence.restart();
                    pMain->StopSilentSession(iSilentLimit);
                    StatusLine(LastFailure());
                }
                bool bStalled = pMain->AutorunStalled();
                if (!bStalled && !pMain->AutorunOverWithoutExit()) {
                    iIdleTicks = 0;
                    return;
                }
                if (++iIdleTicks < 2)
                    return;
                iIdleTicks = 0;
                if (bStalled) {
                    pMain->FinishStalledAutorun();
                    StatusLine(LastFailure());
                    return;
                }
                // The sequence is over but the exit checks kept the program
                // running (nobody can answer them), or a posting-only
                // sequence ended online: nothing more will happen.
                int iFailures = FailureCount();
                pMain->EndAutorunRun();
                if (FailureCount() != iFailures)
                    StatusLine(LastFailure());
            });
            watchdog.start();
        }
        fw::MessageLoop::Run();
    }
    if (FailureCount() > 0)
        iExit = 1;

    // Shutdown, in order: newsgroup list (writes its file), start-up object
    // (empties and removes the work directories), main window, settings.
    pMain->RestrainPointers();
    view.SetStatus("Saving newsgroups file . . .");
    bool bNwsSaved = pNewsgroups->Save();
    std::string nwsError = pNewsgroups->LastError();
    g_pNewsgroups = nullptr;
    pNewsgroups.reset();
    if (!bNwsSaved) {
        // The groups and their pointers would otherwise be lost unnoticed.
        Error("Mail Tolvan could not save the newsgroups file " + pStartup->m_szNwsFile + ": " +
              nwsError + ".");
        iExit = 1;
    }
    g_pStartup = nullptr;
    pStartup.reset();
    g_pMain = nullptr;
    pMain.reset();
    g_pIni = nullptr;
    pIni.reset();
    SetSuppressedMessageSink(nullptr);
    if (bHeadless && FailureCount() > 0)
        StatusLine("Mail Tolvan: " + std::to_string(FailureCount()) +
                   " step(s) failed; the last: " + LastFailure());
    return iExit;
}
