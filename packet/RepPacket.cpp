#include "packet/RepPacket.h"

#include "core/Services.h"
#include "core/Startup.h"
#include "core/TnIni.h"
#include "framework/Files.h"
#include "framework/Process.h"
#include "packet/Et4Zip.h"
#include "packet/PacketSave.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool IsRegularFile(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Removes everything inside a directory, never following a link out of it.
bool EmptyDirectory(const std::string& dir)
{
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return false;
    bool ok = true;
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        std::string path = dir + "/" + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            ok = EmptyDirectory(path) && ::rmdir(path.c_str()) == 0 && ok;
        else
            ok = ::unlink(path.c_str()) == 0 && ok;
    }
    ::closedir(d);
    return ok;
}

bool SyncDirectoryOf(const std::string& path)
{
    std::string dir = fw::DirName(path);
    int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

std::string Cut(const std::string& text, std::size_t n)
{
    return text.size() <= n ? text : text.substr(0, n) + "...";
}

} // namespace

std::string DefaultRepPath()
{
    std::string dir = g_pIni ? g_pIni->GetString("Directories", "Rep", "") : std::string();
    if (!dir.empty() && dir[0] != '/' && g_pStartup)
        dir = fw::JoinPath(g_pStartup->m_szHomeDir, dir);
    if (dir.empty())
        dir = g_pStartup ? g_pStartup->m_szHomeDir : std::string(".");
    std::string name = (g_pStartup ? g_pStartup->m_szPacketName : std::string("Tolvan")) + ".Rep";
    std::string found = fw::FindFileNoCase(dir, name);
    return fw::JoinPath(dir, found.empty() ? name : found);
}

RepUnpack UnpackRep(const std::string& repPath, const std::string& workDir,
                    const std::string& unpackerTemplate, const RepUnpackHooks& hooks)
{
    struct stat st {};
    if (::lstat(workDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return RepUnpack::WorkDirUnusable;
    // Emptying the work directory must never take the packet with it.
    struct stat rep {};
    std::string repDir = fw::DirName(repPath);
    if (::stat(repDir.empty() ? "." : repDir.c_str(), &rep) == 0 && rep.st_dev == st.st_dev &&
        rep.st_ino == st.st_ino)
        return RepUnpack::WorkDirUnusable;
    if (!EmptyDirectory(workDir))
        return RepUnpack::WorkDirUnusable;
    if (!unpackerTemplate.empty()) {
        std::vector<std::string> command =
            CPacketSaver::PackerCommand(unpackerTemplate, repPath, workDir);
        if (command.empty() || !LaunchProgram(command, true))
            return RepUnpack::CannotStart;
        return RepUnpack::Done;
    }
    ET4HANDLE hZip = 0;
    Et4ZipOpen(repPath.c_str(), ET4_MODE_READ, &hZip);
    std::vector<std::string> entries;
    ET4FIND find;
    char name[ET4_MAX_NAME] = "*.*";
    for (std::int16_t r = Et4ZipFindFirst(hZip, &find, name, "", 0xFFFF, "", 0xFFFF); r == ET4_OK;
         r = Et4ZipFindNext(hZip, &find, name, "", 0xFFFF, "", 0xFFFF))
        entries.push_back(name);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (hooks.status)
            hooks.status("Unzipping " + entries[i]);
        if (hooks.progress)
            hooks.progress(static_cast<int>((i + 1) * 100 / entries.size()));
        // Entries whose names would leave the directory are refused here.
        if (Et4UnZip(&hZip, workDir.c_str(), entries[i].c_str(), "", "") == ET4_DISK_FULL &&
            hooks.diskFull)
            hooks.diskFull(entries[i]);
    }
    Et4ZipClose(&hZip);
    if (hooks.progress)
        hooks.progress(0);
    if (hooks.status)
        hooks.status("Done!");
    return RepUnpack::Done;
}

std::string RepMemberPath(const std::string& workDir, const std::string& repPath,
                          const std::string& ext)
{
    std::string name = fw::StemName(repPath) + ext;
    if (!Et4SafeEntryName(name.c_str()))
        return std::string();
    std::string found = fw::FindFileNoCase(workDir, name);
    if (found.empty())
        return std::string();
    std::string path = fw::JoinPath(workDir, found);
    return IsRegularFile(path) ? path : std::string();
}

bool RepLedger::Load(std::string& error)
{
    m_ids.clear();
    std::ifstream in(m_path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT || !fw::FileExists(m_path))
            return true;
        error = "cannot read " + m_path + ": " + std::strerror(errno);
        return false;
    }
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            m_ids.insert(line);
    return true;
}

bool RepLedger::Record(const std::string& identity, std::string& error)
{
    int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot write " + m_path + ": " + std::strerror(errno);
        return false;
    }
    std::string line = identity + "\n";
    bool ok = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
              ::fsync(fd) == 0;
    int saved = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        error = "cannot write " + m_path + ": " + std::strerror(saved ? saved : errno);
        return false;
    }
    m_ids.insert(identity);
    return true;
}

std::string RepLedger::PartIdentity(const std::string& identity, int iPart, const std::string& cut)
{
    return identity + " part " + std::to_string(iPart) + " " + cut;
}

bool RepLedger::Forget(const std::vector<std::string>& identities, std::string& error)
{
    for (const std::string& id : identities) {
        m_ids.erase(id);
        std::string parts = id + " part ";
        auto it = m_ids.lower_bound(parts);
        while (it != m_ids.end() && it->compare(0, parts.size(), parts) == 0)
            it = m_ids.erase(it);
    }
    if (m_ids.empty()) {
        if (::unlink(m_path.c_str()) != 0 && errno != ENOENT) {
            error = "cannot delete " + m_path + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    std::string temp = m_path + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        for (const std::string& id : m_ids)
            out << id << '\n';
        if (!out.flush()) {
            error = "cannot write " + temp;
            ::unlink(temp.c_str());
            return false;
        }
    }
    int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
    bool ok = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    if (!ok || ::rename(temp.c_str(), m_path.c_str()) != 0) {
        error = "cannot replace " + m_path + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    SyncDirectoryOf(m_path);
    return true;
}

int MarkSentFromLedger(Repfile& rep, const RepLedger& ledger)
{
    int n = 0;
    for (const auto& p : rep.All())
        if (!p->m_iSent && ledger.Contains(p->m_szIdentity)) {
            p->m_iSent = 1;
            ++n;
        }
    return n;
}

std::string DescribeReply(const mailxarticle& reply)
{
    std::string where;
    if (reply.IsEmail())
        where = "mail to " + Cut(reply.m_szTo.value_or(reply.m_szCc.value_or("nobody")), 60);
    else if (reply.m_szNewsgroups)
        where = "news to " + Cut(*reply.m_szNewsgroups, 60);
    else
        where = "news in conference " + std::to_string(reply.m_iConference);
    return "reply " + std::to_string(reply.m_iNumber) + " (" + where + ", \"" +
           Cut(reply.m_szSubject, 60) + "\")";
}

std::string UnsentReport(const Repfile& rep, const std::string& defaultReason)
{
    std::string out;
    for (const auto& p : rep.All()) {
        if (p->m_iSent)
            continue;
        out += DescribeReply(*p) + ": " +
               (p->m_szProblem.empty() ? defaultReason : p->m_szProblem) + "\n";
    }
    if (!rep.Damage().empty())
        out += "The packet is damaged at " + rep.Damage() + "\n";
    return out;
}
