// mailtolvan: the program.  With --headless it runs without windows and
// prints its status lines, warnings and errors on stderr.

#include "app/MainRoutine.h"

#include "net/CWinsock.h"
#include "util/TimeZone.h"

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
        "  --headless          run without windows (for cron); messages go to stderr\n"
        "  --paths             print the files and directories in use, then exit\n"
        "  --version           print the version, then exit\n\n"
        "The program's directory is $MAILTOLVAN_HOME, else $XDG_DATA_HOME/mailtolvan,\n"
        "else ~/.local/share/mailtolvan.\n");
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
        std::fprintf(stderr, "mailtolvan: this build has no window interface yet; "
                             "run it with --headless\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    CWinsock winsock;
    return RunMainRoutine(cmd, home, winsock, nullptr);
}
