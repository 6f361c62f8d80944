// mailtolvan: the program.  With a display it opens its window; with
// --headless it runs without windows and prints its status lines, warnings
// and errors on stderr.

#include "app/MainRoutine.h"

#include "framework/MessageBox.h"
#include "framework/Messages.h"
#include "framework/WaitCursor.h"
#include "mainwin/WMain.h"
#include "net/CWinsock.h"
#include "ui/HelpWindow.h"
#include "ui/Icons.h"
#include "ui/MainFrame.h"
#include "ui/MessageBoxes.h"
#include "util/TimeZone.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

namespace {
const char* const kTitle = "Mail Tolvan version 1.00a";

void PrintHelp()
{
    std::printf(
        "usage: mailtolvan [--headless] [/a | -a | --autorun] [/i:FILE | -i FILE | --ini FILE]\n"
        "                  [--paths] [--version] [--help]\n\n"
        "Gathers POP3 mail and Usenet news into QWK packets for an offline reader and\n"
        "sends the reader's replies.\n\n"
        "  /a, -a, --autorun   run the Autorun sequence at start\n"
        "  /i:FILE, -i FILE    use another settings file (default TOLVAN.INI)\n"
        "  --headless          run without windows (for cron); messages go to stderr;\n"
        "                      without it the program opens its window on the display\n"
        "  --paths             print the files and directories in use, then exit\n"
        "  --version           print the version, then exit\n\n"
        "The program's directory is $MAILTOLVAN_HOME, else $XDG_DATA_HOME/mailtolvan,\n"
        "else ~/.local/share/mailtolvan.\n");
}
// A window needs a display: an X or Wayland session, or a Qt platform the
// user chose (QT_QPA_PLATFORM, such as offscreen or vnc).
bool HaveDisplay()
{
    for (const char* pszName : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* p = std::getenv(pszName);
        if (p && *p)
            return true;
    }
    return false;
}

int RunWindow(int argc, char** argv, const CommandLine& cmd, const std::string& home)
{
    QApplication app(argc, argv);
    // The splash and dialogs come and go before the main window is shown:
    // only the main window's logic ends the program.
    app.setQuitOnLastWindowClosed(false);
    app.setApplicationName("mailtolvan");
    app.setApplicationDisplayName("Mail Tolvan");
    app.setDesktopFileName("mailtolvan");
    app.setWindowIcon(ui::AppIcon());
    CWinsock winsock;
    ui::MainFrame frame(
        [](int iCommand) {
            if (g_pMain)
                g_pMain->PostCommand(iCommand);
        },
        [] {
            if (g_pMain)
                g_pMain->Post(fw::WM_CLOSE_REQUEST);
        });
    ui::QtMessageBoxes boxes(&frame);
    fw::SetMessageBoxService(&boxes);
    fw::WaitCursor::SetHook([](bool bOn) {
        if (bOn)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    });
    int iExit = RunMainRoutine(cmd, home, winsock, &frame);
    ui::HelpWindow::Destroy();
    fw::WaitCursor::SetHook(nullptr);
    fw::SetMessageBoxService(nullptr);
    return iExit;
}
} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    CommandLine cmd = ParseCommandLine(args);
    if (!cmd.error.empty()) {
        std::fprintf(stderr, "mailtolvan: %s (see --help)\n", cmd.error.c_str());
        return 2;
    }
    if (cmd.bHelp) {
        PrintHelp();
        return 0;
    }
    if (cmd.bVersion) {
        std::printf("%s\n", kTitle);
        return 0;
    }
    std::string home = ResolveHomeDir();
    if (cmd.bPaths) {
        StartupPaths p = ResolvePaths(home, cmd.iniValue);
        std::printf("settings: %s\n", p.settingsFile.c_str());
        std::printf("newsgroups: %s\n", p.newsgroupFile.c_str());
        std::printf("help: %s\n", p.helpFile.c_str());
        std::printf("work: %s\n", p.workDir.c_str());
        std::printf("repwork: %s\n", p.repWorkDir.c_str());
        std::printf("packet: %s\n", p.packetName.c_str());
        std::printf("tz: %s\n", tz::TextFromBias(tz::SystemBias()).c_str());
        return 0;
    }
    if (!cmd.bHeadless) {
        if (!HaveDisplay()) {
            std::fprintf(stderr,
                         "mailtolvan: there is no display to open the window on (DISPLAY and "
                         "WAYLAND_DISPLAY are not set).\n"
                         "Run it without a window with --headless, for example from cron:\n"
                         "    mailtolvan --headless /a\n");
            return 2;
        }
        return RunWindow(argc, argv, cmd, home);
    }
    QCoreApplication app(argc, argv);
    CWinsock winsock;
    return RunMainRoutine(cmd, home, winsock, nullptr);
}
