// Start-up: the command line, the program's directory and every file and
// directory the program uses, the packet name, the first-start flag and the
// process time zone.  The object creates the work directories and, when it
// is destroyed, empties and removes them.
#pragma once

#include <string>
#include <vector>

// The parsed command line.
struct CommandLine {
    bool bAutorun = false;  // "/a", "-a", "--autorun"
    std::string iniValue;   // "/i:FILE", "-i FILE", "--ini FILE", "--ini=FILE"
    bool bHeadless = false; // "--headless"
    bool bHelp = false;     // "--help", "-h"
    bool bVersion = false;  // "--version"
    bool bPaths = false;    // "--paths"
    std::string error;      // set when an argument is not understood
};

// Reads the program's arguments (without the program name).  "/a" counts
// only as an argument of its own (any case); "/i:" takes the rest of its own
// argument; values keep their case.  A settings file whose name makes an
// unusable packet name is refused (see PacketNameProblem).
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// Where the files are, worked out without touching the disk.
struct StartupPaths {
    std::string homeDir;       // the program's directory
    std::string settingsFile;  // TOLVAN.INI or the "/i:" file
    std::string helpFile;      // TOLVAN.HLP
    std::string newsgroupFile; // TOLVAN.NWS or <settings base>.NWS
    std::string repWorkDir;    // $REPWORK
    std::string workDir;       // $WORK
    std::string spoolDir;      // $SPOOL: retrieved mail until it is in a saved packet
    std::string packetName;    // "Tolvan" or from the "/i:" file
};

// The program's directory: $MAILTOLVAN_HOME, else $XDG_DATA_HOME/mailtolvan,
// else ~/.local/share/mailtolvan.  Empty when none can be named.
std::string ResolveHomeDir();

// The paths for a home directory and an "/i:" value (may be empty).
StartupPaths ResolvePaths(const std::string& homeDir, const std::string& iniValue);

// "home.ini" gives "Home": base name, lower case, first letter upper case,
// at most eight characters.
std::string PacketNameFromFile(const std::string& path);
// Why the packet name that a settings file gives cannot be used ("" when it
// can): the name goes into control.dat and names the packet files, so only
// letters, digits, '-' and '_' are taken (no blank, comma, dot or other
// character that offline readers refuse).
std::string PacketNameProblem(const std::string& iniValue);

class Startup {
public:
    // Works out every field, sets the process time zone and creates the work
    // directories (existing ones are kept, with what they hold).
    Startup(const CommandLine& cmd, const std::string& homeDir);
    // Empties and removes both work directories.
    ~Startup();
    Startup(const Startup&) = delete;
    Startup& operator=(const Startup&) = delete;

    // Field names follow the settings they describe.
    bool m_bAutorun = false;
    bool m_bFirstStart = false;
    std::string m_szIniFile;
    std::string m_szHelpFile;
    std::string m_szNwsFile;
    std::string m_szRepWorkDir;
    std::string m_szWorkDir;
    std::string m_szSpoolDir;
    std::string m_szPacketName;
    std::string m_szHomeDir;
    std::string m_szTimeZone; // the process zone's TZ text

    // Moves the packet work directory aside ("$WORK-kept-<time>"), so that
    // what it holds survives the end of the program; returns the new path
    // ("" when it could not be moved).
    std::string KeepWorkDirectory();

    // Whether the work directories exist after construction; when not,
    // WorkDirsError() says why.  A work directory that is a symbolic link
    // or no directory is never used, emptied or removed.
    bool WorkDirsReady() const { return m_bWorkDirsReady; }
    const std::string& WorkDirsError() const { return m_szWorkDirsError; }

private:
    bool PrepareWorkDir(const std::string& dir);

    bool m_bWorkDirsReady = false;
    std::string m_szWorkDirsError;
};

// The process-wide start-up object (null outside the program's run).
extern Startup* g_pStartup;
