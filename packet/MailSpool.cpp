#include "packet/MailSpool.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

namespace {

constexpr const char* kIndexName = "spool.idx";

std::string Reason(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

bool SyncPath(const std::string& path, int flags)
{
    int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

std::string NameOf(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A uid as POP3 servers give it: 1-70 printable characters without blanks.
bool PlainUid(const std::string& uid)
{
    if (uid.empty() || uid.size() > 70)
        return false;
    return std::all_of(uid.begin(), uid.end(), [](char c) { return c > ' ' && c < 127; });
}

} // namespace

MailSpool::MailSpool(std::string dir) : m_dir(std::move(dir)) {}

std::string MailSpool::IndexPath() const { return m_dir + "/" + kIndexName; }

bool MailSpool::Open(std::string& error)
{
    m_messages.clear();
    m_delivered.clear();
    struct stat st {};
    if (::lstat(m_dir.c_str(), &st) != 0) {
        if (errno != ENOENT || ::mkdir(m_dir.c_str(), 0700) != 0) {
            error = Reason("cannot create the mail spool", m_dir);
            return false;
        }
        std::string parent = m_dir.substr(0, m_dir.rfind('/'));
        SyncPath(parent.empty() ? "/" : parent, O_RDONLY | O_DIRECTORY);
    } else if (!S_ISDIR(st.st_mode)) {
        error = "the mail spool " + m_dir + " is " +
                (S_ISLNK(st.st_mode) ? "a symbolic link" : "not a directory") + "; it is not used";
        return false;
    }

    std::ifstream in(IndexPath());
    std::string line;
    std::vector<std::string> names;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string kind, a, b;
        words >> kind >> a >> b;
        if (kind == "M" && !a.empty() && a.find('/') == std::string::npos && a != "." &&
            a != "..") {
            std::string path = m_dir + "/" + a;
            if (::access(path.c_str(), R_OK) == 0) {
                m_messages.push_back({path, b == "-" ? std::string() : b});
                names.push_back(a);
            }
        } else if (kind == "U" && PlainUid(a)) {
            m_delivered.push_back(a);
        }
    }

    // Anything else of ours is a message whose retrieval did not finish.
    if (DIR* d = ::opendir(m_dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            bool bOurs = name.rfind("PWZ", 0) == 0 || name == std::string(kIndexName) + ".new";
            if (bOurs && std::find(names.begin(), names.end(), name) == names.end())
                ::unlinkat(::dirfd(d), name.c_str(), 0);
        }
        ::closedir(d);
    }
    return true;
}

bool MailSpool::Delivered(const std::string& uid) const
{
    return !uid.empty() &&
           std::find(m_delivered.begin(), m_delivered.end(), uid) != m_delivered.end();
}

bool MailSpool::Add(const std::string& path, const std::string& uid, bool bDeleting,
                    std::string& error)
{
    // The message itself first: the index must never name a file that a
    // power loss could leave empty.
    if (!SyncPath(path, O_RDONLY)) {
        error = Reason("cannot sync", path);
        return false;
    }
    std::string id = PlainUid(uid) ? uid : std::string();
    m_messages.push_back({path, id});
    bool bNewUid = bDeleting && !id.empty() && !Delivered(id);
    if (bNewUid)
        m_delivered.push_back(id);
    if (!WriteIndex(error)) {
        m_messages.pop_back();
        if (bNewUid)
            m_delivered.pop_back();
        return false;
    }
    return true;
}

void MailSpool::Converted(const std::string& path)
{
    for (Message& m : m_messages)
        if (m.path == path)
            m.bConverted = true;
}

bool MailSpool::PacketSaved(std::string& error)
{
    std::vector<Message> saved, kept;
    for (Message& m : m_messages)
        (m.bConverted ? saved : kept).push_back(std::move(m));
    m_messages.swap(kept);
    // The index first: a crash after it leaves files nobody names, which the
    // next start removes; the other order would deliver them twice.
    if (!WriteIndex(error)) {
        m_messages.insert(m_messages.end(), saved.begin(), saved.end());
        return false;
    }
    for (const Message& m : saved)
        ::unlink(m.path.c_str());
    return true;
}

bool MailSpool::ServerCommitted(const std::vector<std::string>& listed,
                                const std::vector<std::string>& deleted, std::string& error)
{
    auto has = [](const std::vector<std::string>& v, const std::string& s) {
        return std::find(v.begin(), v.end(), s) != v.end();
    };
    std::vector<std::string> keep;
    for (const std::string& uid : m_delivered)
        if (has(listed, uid) && !has(deleted, uid))
            keep.push_back(uid);
    if (keep == m_delivered)
        return true;
    m_delivered.swap(keep);
    return WriteIndex(error);
}

bool MailSpool::WriteIndex(std::string& error)
{
    std::string text;
    for (const Message& m : m_messages)
        text += "M " + NameOf(m.path) + " " + (m.uid.empty() ? "-" : m.uid) + "\n";
    for (const std::string& uid : m_delivered)
        text += "U " + uid + "\n";

    std::string tmp = IndexPath() + ".new";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = Reason("cannot write", tmp);
        return false;
    }
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = Reason("cannot write", tmp);
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        error = Reason("cannot write", tmp);
        ::unlink(tmp.c_str());
        return false;
    }
    if (::rename(tmp.c_str(), IndexPath().c_str()) != 0 ||
        !SyncPath(m_dir, O_RDONLY | O_DIRECTORY)) {
        error = Reason("cannot write", IndexPath());
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}
