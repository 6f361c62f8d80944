#include "packet/PacketSave.h"

#include "core/Services.h"
#include "core/Startup.h"
#include "core/Strings.h"
#include "core/TnIni.h"
#include "framework/Files.h"
#include "framework/Process.h"
#include "framework/Profile.h"
#include "framework/WaitCursor.h"
#include "newsgroups/Newsgroups.h"
#include "packet/Et4Zip.h"
#include "packet/PacketIndex.h"
#include "packet/QwkFile.h"
#include "packet/Rfcmsg.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void RegisterSaveStrings()
{
    static bool s_bDone = false;
    if (s_bDone)
        return;
    s_bDone = true;
    RegisterString(805, "There was an error executing the external program.");
    RegisterString(823, "No messages have been retrieved.");
    RegisterString(828, "The VDRQWK work directory is not empty!\nOverwrite existing files?");
    RegisterString(829, "Save to a QWK file instead?");
    RegisterString(830, "VDRQWK has either crashed or is still running.\nOverwrite existing files "
                        "in the work directory?");
    RegisterString(831, "There was an error creating TOLVAN.ZIP!");
    RegisterString(832, "Mail Tolvan could not find the VDRQWK.INI file\nSearch for the file?");
}

std::string WorkDir() { return g_pStartup ? g_pStartup->m_szWorkDir : std::string("."); }

std::string ListPath() { return fw::JoinPath(WorkDir(), "qwkfiles.lst"); }

std::string WorkIndexPath() { return fw::JoinPath(WorkDir(), QwkFile::kWorkIndexName); }

// Any entry of that name, a dangling symbolic link included.
bool Exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

int GetSetting(const char* section, const char* key, int def)
{
    return g_pIni ? g_pIni->GetInt(section, key, def) : def;
}

std::string GetSetting(const char* section, const char* key, const char* def)
{
    return g_pIni ? g_pIni->GetString(section, key, def) : std::string(def);
}

// A setting naming a file: relative names are taken from the program's directory.
std::string SettingPath(const std::string& value)
{
    if (value.empty() || value[0] == '/' || !g_pStartup)
        return value;
    return fw::JoinPath(g_pStartup->m_szHomeDir, value);
}

} // namespace

std::vector<std::string> CPacketSaver::ListedFiles(const std::string& workDir)
{
    std::vector<std::string> files;
    std::ifstream in(fw::JoinPath(workDir, "qwkfiles.lst"), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        // Only our own work files: a bare name or a path in the work directory.
        std::string dir = fw::DirName(line);
        std::string name = fw::BaseName(line);
        if (!fw::IsSafeEntryName(name) || (!dir.empty() && dir != workDir))
            continue;
        files.push_back(fw::JoinPath(workDir, name));
    }
    return files;
}

int CPacketSaver::ZipPacketFiles(const std::string& workDir, const std::string& archive,
                                 std::string& error,
                                 const std::function<void(int, const std::string&)>& onFile)
{
    std::string temp = archive + ".partial";
    ET4HANDLE hZip = 0;
    if (Et4ZipOpen(temp.c_str(), ET4_MODE_CREATE, &hZip) != ET4_OK) {
        error = "cannot create " + archive + ": " + std::strerror(errno);
        return -1;
    }
    std::vector<std::string> files = ListedFiles(workDir);
    std::string failed;
    int i = 0;
    for (const std::string& file : files) {
        if (onFile)
            onFile(++i, file);
        if (Et4Zip(&hZip, file.c_str(), "", "-.lr") != ET4_OK && failed.empty())
            failed = file;
    }
    std::int16_t iClose = Et4ZipClose(&hZip);
    if (failed.empty() && iClose == ET4_OK && ::rename(temp.c_str(), archive.c_str()) == 0)
        return static_cast<int>(files.size());
    int saved = errno;
    ::unlink(temp.c_str());
    if (!failed.empty())
        error = "cannot add " + failed + " to " + archive;
    else if (iClose == ET4_READ_FAILED)
        error = "cannot read " + Et4ZipLastFailedFile() + ": " + archive + " was not written";
    else if (iClose == ET4_DISK_FULL)
        error = "the disk is full: " + archive + " was not written";
    else if (iClose != ET4_OK)
        error = "cannot write " + archive;
    else
        error = "cannot write " + archive + ": " + std::strerror(saved);
    return -1;
}

CPacketSaver::CPacketSaver(PacketSaveHooks hooks) : m_hooks(std::move(hooks))
{
    RegisterSaveStrings();
}

std::string CPacketSaver::DefaultQwkPath()
{
    std::string dir = SettingPath(GetSetting("Directories", "Qwk", ""));
    if (dir.empty())
        dir = g_pStartup ? g_pStartup->m_szHomeDir : std::string(".");
    std::string name = (g_pStartup ? g_pStartup->m_szPacketName : std::string("Tolvan")) + ".Qwk";
    return fw::JoinPath(dir, name);
}

std::string CPacketSaver::IndexDirectory()
{
    return fw::JoinPath(g_pStartup ? g_pStartup->m_szHomeDir : std::string("."), "PacketIndex");
}

std::string CPacketSaver::UniqueQwkName(const std::string& path)
{
    std::string ext = fw::Extension(path);
    if (ext.size() >= 2) {
        std::string candidate = path;
        for (char c = 'a'; c <= 'y'; ++c) {
            candidate.back() = c;
            if (!Exists(candidate))
                return candidate;
        }
    }
    // Every letter is taken: numbered names, which readers take as well as
    // letters ("Home-2.Qwk").  Never one that exists: it may be unread.
    std::string stem = path.substr(0, path.size() - ext.size());
    for (unsigned long n = 2;; ++n) {
        std::string candidate = stem + "-" + std::to_string(n) + ext;
        if (!Exists(candidate))
            return candidate;
    }
}

std::vector<std::string> CPacketSaver::PackerCommand(const std::string& templ,
                                                     const std::string& arg1,
                                                     const std::string& arg2)
{
    if (templ.find("%1") == std::string::npos || templ.find("%2") == std::string::npos)
        return {};
    return fw::ExpandCommand(templ, {arg1, arg2});
}

bool CPacketSaver::ChooseQwkPath(std::string& qwkPath, bool bAutorun)
{
    std::string proposed = DefaultQwkPath();
    std::string chosen = proposed;
    if (!bAutorun && m_hooks.askPath && !m_hooks.askPath(proposed, chosen))
        return false;
    // An existing file of that name is replaced only once a new packet is
    // complete (see BuiltInZip), so a failed save never loses the old one.
    qwkPath = chosen;
    return true;
}

bool CPacketSaver::PreparePath(std::string& qwkPath, bool bAutorun)
{
    if (qwkPath.empty() && !ChooseQwkPath(qwkPath, bAutorun))
        return false;
    // An unattended save never replaces a packet: nobody may have read it
    // yet (two cron runs before the reader is started give two packets).
    if ((bAutorun || GetSetting("Directories", "OverwriteQwk", 1) == 0) && Exists(qwkPath))
        qwkPath = UniqueQwkName(qwkPath);
    return true;
}

int CPacketSaver::WritePacket()
{
    if (!Messages())
        return -1;
    fw::WaitCursor wait;
    QwkFile writer(m_hooks.pProgressWindow, WorkDir(), GetSetting("User", "Name", "Your Name Here"),
                   g_pStartup ? g_pStartup->m_szPacketName : std::string("Tolvan"), g_pNewsgroups,
                   GetSetting("Email", "ReplyTo", 1) != 0,
                   GetSetting("Articles", "LongNames", 1) != 0,
                   GetSetting("Articles", "ListAllGroups", 1) != 0);
    if (!writer.WritePacket(*Messages())) {
        Error("The packet could not be written: " + writer.LastError() +
              ". The messages are kept.");
        return -1;
    }
    return writer.ListedFileCount();
}

bool CPacketSaver::Save(std::string& qwkPath, bool bAutorun)
{
    if (!Messages()) {
        Error(823);
        return false;
    }
    if (GetSetting("Directories", "CopyFiles", 0) == 1)
        return CopyToReader(qwkPath, bAutorun);
    return ZipOrPack(qwkPath, bAutorun);
}

bool CPacketSaver::ZipOrPack(std::string& qwkPath, bool bAutorun)
{
    if (GetSetting("Directories", "Packer", "").empty())
        return BuiltInZip(qwkPath, bAutorun);
    return ExternalPacker(qwkPath, bAutorun);
}

namespace {
std::string Stamped(const std::string& dir, const char* pszWhat)
{
    std::time_t now = std::time(nullptr);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&now));
    std::string name = g_pStartup ? g_pStartup->m_szPacketName : std::string("Tolvan");
    return fw::JoinPath(dir, name + pszWhat + stamp + ".Qwk");
}
} // namespace

std::string CPacketSaver::RescuePath()
{
    return Stamped(g_pStartup ? g_pStartup->m_szHomeDir : std::string("."), "-unsaved-");
}

std::string CPacketSaver::RecoveryPath()
{
    return Stamped(fw::DirName(DefaultQwkPath()), "-recovered-");
}

bool CPacketSaver::SaveRescue(const std::string& path)
{
    if (!Messages())
        return false;
    std::string qwkPath = path;
    if (Exists(qwkPath))
        qwkPath = UniqueQwkName(qwkPath);
    return BuiltInZip(qwkPath, true);
}

bool CPacketSaver::BuiltInZip(std::string& qwkPath, bool bAutorun)
{
    if (!PreparePath(qwkPath, bAutorun))
        return false;
    int iListed = WritePacket();
    if (iListed < 0)
        return false;
    std::string error;
    int iZipped = ZipPacketFiles(WorkDir(), qwkPath, error, [&](int i, const std::string& file) {
        if (m_hooks.progress && iListed > 0)
            m_hooks.progress(i * 100 / iListed);
        if (m_hooks.status)
            m_hooks.status("Zipping " + file);
    });
    if (iZipped < 0) {
        // Losing the messages to a half-made archive is worse than keeping them.
        if (m_hooks.progress)
            m_hooks.progress(0);
        Error(LoadStringRes(831) + "\n" + error + ". The messages are kept.");
        return false;
    }
    // Only a packet in place gets its index; one that cannot be written
    // costs the replies their threading, never the packet.
    (void)InstallPacketIndex(WorkIndexPath(), IndexDirectory(), qwkPath);
    if (!CopyFiles(nullptr))
        return false;
    if (m_hooks.progress)
        m_hooks.progress(0);
    if (m_hooks.status)
        m_hooks.status("Done!");
    return true;
}

bool CPacketSaver::ExternalPacker(std::string& qwkPath, bool bAutorun)
{
    if (!PreparePath(qwkPath, bAutorun))
        return false;
    std::string templ = GetSetting("Directories", "Packer", "");
    if (PackerCommand(templ, qwkPath, ListPath()).empty()) {
        Error("The packer command must name the packet with %1 and the file list with %2.");
        return false;
    }
    if (WritePacket() < 0)
        return false;
    // The packer writes into a fresh directory beside the packet, under the
    // packet's own name; only a packet it really made replaces the old one.
    std::string tempDir = fw::JoinPath(fw::DirName(qwkPath).empty() ? "." : fw::DirName(qwkPath),
                                       "." + fw::BaseName(qwkPath) + "-XXXXXX");
    std::vector<char> buffer(tempDir.begin(), tempDir.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) {
        Error(LoadStringRes(831) + "\ncannot create a directory beside " + qwkPath + ": " +
              std::strerror(errno) + ". The messages are kept.");
        return false;
    }
    tempDir = buffer.data();
    std::string tempQwk = fw::JoinPath(tempDir, fw::BaseName(qwkPath));
    int iExit = 0;
    bool bStarted = LaunchProgram(PackerCommand(templ, tempQwk, ListPath()), true, &iExit);
    struct stat st;
    bool bMade = bStarted && iExit == 0 && ::lstat(tempQwk.c_str(), &st) == 0 &&
                 S_ISREG(st.st_mode) && st.st_size > 0;
    bool bPlaced = bMade && ::rename(tempQwk.c_str(), qwkPath.c_str()) == 0;
    int iRenameError = errno;
    fw::EmptyAndRemoveDirectory(tempDir);
    if (!bStarted) {
        Error(805);
        return false;
    }
    if (!bMade) {
        Error("The packer did not make " + qwkPath + " (exit status " + std::to_string(iExit) +
              "). The messages are kept.");
        return false;
    }
    if (!bPlaced) {
        Error("Cannot put the packet in place as " + qwkPath + ": " + std::strerror(iRenameError) +
              ". The messages are kept.");
        return false;
    }
    (void)InstallPacketIndex(WorkIndexPath(), IndexDirectory(), qwkPath);
    return CopyFiles(nullptr);
}

bool CPacketSaver::WriteAndCopy(const std::string& target)
{
    if (WritePacket() < 0)
        return false;
    return CopyFiles(&target);
}

bool CPacketSaver::CopyToReader(std::string& qwkPath, bool bAutorun)
{
    std::string readerIni = SettingPath(GetSetting("Directories", "VdrqwkIni", "VDRQWK.INI"));
    std::string vdrDir = fw::Profile::GetString(readerIni, "VDRQwk", "VdrDir", "", 260);
    if (vdrDir.empty()) {
        Confirm(832);
        // Nothing was written: the messages wait for another save.
        return false;
    }
    std::string workDir = fw::Profile::GetString(readerIni, "VDRQwk", "WorkDir", "", 260);
    if (workDir.empty()) {
        // "WORK" alone would be taken from whatever the current directory
        // is, where the reader never looks.
        Error("The reader's settings file " + readerIni +
              " names no work directory (\"WorkDir\"). The messages are kept.");
        return false;
    }
    std::string target = fw::JoinPath(workDir, "WORK");
    auto orZip = [&]() { return Confirm(829) ? ZipOrPack(qwkPath, bAutorun) : false; };
    // Unattended, files the reader may be reading or has not read yet are
    // never overwritten: the packet goes to a QWK file of its own instead.
    auto overwrite = [&](int iQuestion) { return !bAutorun && Confirm(iQuestion); };

    if (fw::FindFileNoCase(vdrDir, "VDREXIT.VDR").empty()) {
        if (overwrite(830))
            return WriteAndCopy(target);
        return orZip();
    }
    if (!Exists(target)) {
        if (!fw::MakeDirectories(target)) {
            Error("Cannot create the reader's work directory " + target + ": " +
                  std::strerror(errno));
            return false;
        }
        return WriteAndCopy(target);
    }
    if (fw::FindFileNoCase(target, "CONTROL.DAT").empty() || overwrite(828))
        return WriteAndCopy(target);
    return orZip();
}

bool CPacketSaver::CopyFiles(const std::string* pTarget)
{
    std::vector<std::string> files = ListedFiles(WorkDir());
    if (pTarget) {
        // Copy everything first; only a complete copy lets the sources go.
        for (const std::string& file : files) {
            std::string to = fw::JoinPath(*pTarget, fw::BaseName(file));
            if (!fw::CopyFile(file, to, false)) {
                Error("Cannot copy " + file + " to " + *pTarget + ": " + std::strerror(errno) +
                      ". The messages are kept.");
                return false;
            }
        }
    }
    for (const std::string& file : files)
        ::unlink(file.c_str());
    ::unlink(ListPath().c_str());
    ::unlink(WorkIndexPath().c_str());
    if (m_hooks.dropMessages)
        m_hooks.dropMessages();
    return true;
}

bool CPacketSaver::RunReader(std::string& qwkPath, bool bAutorun, bool bMaySave)
{
    // Messages waiting for a packet are saved first; when that fails the
    // reader would only show an old packet (or none) as if it were the news.
    if (Messages() && bMaySave && !Save(qwkPath, bAutorun))
        return false;
    std::string argument;
    if (GetSetting("Directories", "CopyFiles", 0) == 0)
        argument = qwkPath;
    std::string templ = GetSetting("Directories", "QwkReader", "");
    std::vector<std::string> command;
    for (std::string& word : fw::ExpandCommand(templ, {argument}))
        if (!word.empty()) // "%1" without a packet gives no argument at all
            command.push_back(word);
    if (!LaunchProgram(command, false)) {
        Error(805);
        return false;
    }
    return true;
}
