#include "app/MainRoutine.h"

#include "core/Services.h"
#include "core/TnIni.h"
#include "session/Newsgroups.h"
#include "framework/Files.h"
#include "framework/MessageBox.h"
#include "framework/Registry.h"
#include "framework/Sound.h"
#include "framework/WaitCursor.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Start-up failures are shown without an owner window and end the program.
int StartupFailure(const std::string& text)
{
    fw::MessageBoxes().Show(text, "Mail Tolvan", fw::MbIcon::Stop, fw::MbButtons::Ok, true);
    return 1;
}

void StatusLine(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

} // namespace

int RunMainRoutine(const CommandLine& cmd, const std::string& homeDir)
{
    int iExit = 0;

    // The socket-event window and the socket service check come here once
    // the network layer exists: "Could not create the Mail Tolvan callback
    // window.\nPlease restart Mail Tolvan." and the Winsock start-up text.

    if (homeDir.empty())
        return StartupFailure("Mail Tolvan cannot find its directory: set MAILTOLVAN_HOME or HOME.");
    if (!fw::MakeDirectories(homeDir))
        return StartupFailure("Mail Tolvan cannot create its directory " + homeDir + ": " +
                              std::strerror(errno));
    StartupPaths paths = ResolvePaths(homeDir, cmd.iniValue);
    std::string iniDir = fw::DirName(paths.settingsFile);
    if (!iniDir.empty() && !fw::FileExists(iniDir) && iniDir != "/")
        return StartupFailure("The directory of the settings file does not exist: " + iniDir);
    fw::RegKey::SetStorePath(fw::JoinPath(homeDir, "registry.ini"));
    fw::Sound::SetResourceDir(fw::JoinPath(homeDir, "sounds"));

    auto pWait = std::make_unique<fw::WaitCursor>();
    auto pStartup = std::make_unique<Startup>(cmd, homeDir);
    g_pStartup = pStartup.get();
    if (!pStartup->WorkDirsReady()) {
        // Later file operations in them fail and say so; a headless user
        // learns why here.
        StatusLine("Mail Tolvan cannot create its work directories in " + homeDir + ": " +
                   std::strerror(errno));
        iExit = 1;
    }
    auto pIni = std::make_unique<TnIni>(pStartup->m_szIniFile);
    g_pIni = pIni.get();
    if (pIni->WriteFailed()) {
        Error("Mail Tolvan cannot write its settings file " + pStartup->m_szIniFile + ": " +
              pIni->LastWriteError() + ".\nChanged settings will not be kept.");
        iExit = 1;
    }
    pWait.reset();

    auto pNewsgroups = std::make_unique<Newsgroups>(pStartup->m_szNwsFile);
    g_pNewsgroups = pNewsgroups.get();

    // The main window comes here; the main
    // window's construction finishes the start-up (splash, Autorun, the
    // server setup on the first start) and the message loop runs until it
    // closes.
    Placement mainPlacement = ParsePlacement(pIni->GetString("Windows", "Main", "0,0,0,0"));
    (void)mainPlacement;
    if (pStartup->m_bAutorun) {
        StatusLine("Autorun: nothing to run: this build has no mail or news sessions yet.");
        iExit = 1;
    }

    // Shutdown, in order: newsgroup list (writes its file), start-up object
    // (empties and removes the work directories), main window, settings.
    StatusLine("Saving newsgroups file . . .");
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
    g_pIni = nullptr;
    pIni.reset();
    return iExit;
}
