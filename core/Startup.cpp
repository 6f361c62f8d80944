#include "core/Startup.h"

#include "framework/Files.h"
#include "util/TimeZone.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <strings.h>
#include <sys/stat.h>

Startup* g_pStartup = nullptr;

CommandLine ParseCommandLine(const std::vector<std::string>& args)
{
    CommandLine cmd;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (::strcasecmp(a.c_str(), "/a") == 0 || a == "-a" || a == "--autorun") {
            cmd.bAutorun = true;
        } else if (a.size() >= 3 && ::strncasecmp(a.c_str(), "/i:", 3) == 0) {
            cmd.iniValue = a.substr(3);
            if (cmd.iniValue.empty()) {
                cmd.error = "option /i: needs a file name";
                return cmd;
            }
        } else if (a == "-i" || a == "--ini") {
            if (i + 1 >= args.size()) {
                cmd.error = "option " + a + " needs a file name";
                return cmd;
            }
            cmd.iniValue = args[++i];
        } else if (a.rfind("--ini=", 0) == 0 && a.size() > 6) {
            cmd.iniValue = a.substr(6);
        } else if (a == "--headless") {
            cmd.bHeadless = true;
        } else if (a == "--help" || a == "-h") {
            cmd.bHelp = true;
        } else if (a == "--version") {
            cmd.bVersion = true;
        } else if (a == "--paths") {
            cmd.bPaths = true;
        } else {
            cmd.error = "unknown argument: " + a;
            return cmd;
        }
    }
    if (cmd.error.empty() && !cmd.iniValue.empty() && cmd.iniValue.back() == '/')
        cmd.error = "the settings file " + cmd.iniValue + " names a directory";
    if (cmd.error.empty() && !cmd.iniValue.empty())
        cmd.error = PacketNameProblem(cmd.iniValue);
    return cmd;
}

std::string PacketNameProblem(const std::string& iniValue)
{
    std::string name = PacketNameFromFile(iniValue);
    bool bUsable = !name.empty();
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_')
            bUsable = false;
    if (bUsable)
        return std::string();
    return "the settings file " + iniValue + " would name the packet \"" + name +
           "\", which QWK readers cannot take: the first eight characters of its name "
           "may hold only letters, digits, '-' and '_'";
}

std::string ResolveHomeDir()
{
    if (const char* p = std::getenv("MAILTOLVAN_HOME"); p && *p)
        return p;
    if (const char* p = std::getenv("XDG_DATA_HOME"); p && *p == '/')
        return fw::JoinPath(p, "mailtolvan");
    if (const char* p = std::getenv("HOME"); p && *p)
        return fw::JoinPath(fw::JoinPath(p, ".local/share"), "mailtolvan");
    return std::string();
}

std::string PacketNameFromFile(const std::string& path)
{
    std::string name = fw::StemName(path);
    if (name.size() > 8)
        name.resize(8);
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!name.empty())
        name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    return name;
}

StartupPaths ResolvePaths(const std::string& homeDir, const std::string& iniValue)
{
    StartupPaths p;
    p.homeDir = homeDir;
    p.helpFile = fw::JoinPath(homeDir, "TOLVAN.HLP");
    p.workDir = fw::JoinPath(homeDir, "$WORK");
    p.repWorkDir = fw::JoinPath(homeDir, "$REPWORK");
    p.spoolDir = fw::JoinPath(homeDir, "$SPOOL");
    p.newsgroupFile = fw::JoinPath(homeDir, "TOLVAN.NWS");
    p.settingsFile = fw::JoinPath(homeDir, "TOLVAN.INI");
    p.packetName = "Tolvan";
    if (!iniValue.empty()) {
        // A value with a directory part is taken as given; a bare name lives
        // in the program's directory.
        if (iniValue.find('/') != std::string::npos)
            p.settingsFile = iniValue;
        else
            p.settingsFile = fw::JoinPath(homeDir, iniValue);
        std::string dir = fw::DirName(p.settingsFile);
        p.newsgroupFile = fw::JoinPath(dir, fw::StemName(p.settingsFile) + ".NWS");
        p.packetName = PacketNameFromFile(p.settingsFile);
    }
    return p;
}

Startup::Startup(const CommandLine& cmd, const std::string& homeDir)
{
    StartupPaths p = ResolvePaths(homeDir, cmd.iniValue);
    m_szHomeDir = p.homeDir;
    m_szIniFile = p.settingsFile;
    m_szHelpFile = p.helpFile;
    m_szNwsFile = p.newsgroupFile;
    m_szRepWorkDir = p.repWorkDir;
    m_szWorkDir = p.workDir;
    m_szSpoolDir = p.spoolDir;
    m_szPacketName = p.packetName;
    m_bAutorun = cmd.bAutorun;
    // First start: no settings file yet (the settings object creates it).
    m_bFirstStart = !fw::FileExists(m_szIniFile);

    m_szTimeZone = tz::TextFromBias(tz::SystemBias());
    tz::SetProcessZone(m_szTimeZone, true);

    bool bWork = PrepareWorkDir(m_szWorkDir);
    bool bRep = bWork && PrepareWorkDir(m_szRepWorkDir);
    m_bWorkDirsReady = bWork && bRep;
}

bool Startup::PrepareWorkDir(const std::string& dir)
{
    struct stat st;
    if (::lstat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        m_szWorkDirsError = dir + " is " +
                            (S_ISLNK(st.st_mode) ? "a symbolic link" : "not a directory") +
                            "; Mail Tolvan does not use it. Remove it and start again.";
        return false;
    }
    if (!fw::MakeDirectories(dir)) {
        m_szWorkDirsError = "cannot create " + dir + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

Startup::~Startup()
{
    if (!m_bWorkDirsReady)
        return; // never empty what is not ours
    fw::EmptyAndRemoveDirectory(m_szWorkDir);
    fw::EmptyAndRemoveDirectory(m_szRepWorkDir);
}

std::string Startup::KeepWorkDirectory()
{
    std::time_t now = std::time(nullptr);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&now));
    std::string kept = m_szWorkDir + "-kept-" + stamp;
    if (std::rename(m_szWorkDir.c_str(), kept.c_str()) != 0)
        return std::string();
    fw::MakeDirectories(m_szWorkDir); // the run goes on with an empty one
    return kept;
}
