#include "framework/Files.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fw {

std::string JoinPath(const std::string& dir, const std::string& name)
{
    if (dir.empty())
        return name;
    if (dir.back() == '/')
        return dir + name;
    return dir + "/" + name;
}

std::string DirName(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string BaseName(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Extension(const std::string& path)
{
    std::string base = BaseName(path);
    std::size_t dot = base.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return std::string();
    return base.substr(dot);
}

std::string StemName(const std::string& path)
{
    std::string base = BaseName(path);
    std::size_t dot = base.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return base;
    return base.substr(0, dot);
}

std::vector<std::string> ListDirectory(const std::string& dir)
{
    std::vector<std::string> names;
    DIR* pDir = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!pDir)
        return names;
    while (dirent* pEntry = ::readdir(pDir)) {
        if (std::strcmp(pEntry->d_name, ".") == 0 || std::strcmp(pEntry->d_name, "..") == 0)
            continue;
        names.emplace_back(pEntry->d_name);
    }
    ::closedir(pDir);
    return names;
}

std::string GetTempFileName(const std::string& dir, const std::string& prefix, unsigned uUnique)
{
    std::string pre = prefix.substr(0, 3);
    auto nameFor = [&](unsigned u) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%X", u & 0xFFFFu);
        return JoinPath(dir, pre + hex + ".TMP");
    };
    if (uUnique != 0)
        return nameFor(uUnique);

    unsigned u = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count() ^
                                       ::getpid());
    for (unsigned tries = 0; tries < 0x10000u; ++tries, ++u) {
        if ((u & 0xFFFFu) == 0)
            continue; // 0 is not a valid unique number
        std::string path = nameFor(u);
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST)
            return std::string();
    }
    errno = EEXIST;
    return std::string();
}

bool FileExists(const std::string& path)
{
    std::string name = BaseName(path);
    if (name.empty() || name == "." || name == "..")
        return false;
    for (const std::string& entry : ListDirectory(DirName(path)))
        if (entry == name)
            return true;
    return false;
}

std::string FindFileNoCase(const std::string& dir, const std::string& name)
{
    if (!IsSafeEntryName(name))
        return std::string();
    std::string found;
    for (const std::string& entry : ListDirectory(dir)) {
        if (entry == name)
            return entry;
        if (found.empty() && ::strcasecmp(entry.c_str(), name.c_str()) == 0)
            found = entry;
    }
    return found;
}

bool IsSafeEntryName(const std::string& name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    for (unsigned char c : name)
        if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F)
            return false;
    return true;
}

bool CopyFile(const std::string& from, const std::string& to, bool bFailIfExists)
{
    struct stat st;
    if (bFailIfExists && ::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    std::string tmpl = to + ".cpyXXXXXX";
    std::vector<char> tmp(tmpl.begin(), tmpl.end());
    tmp.push_back('\0');
    int out = ::mkstemp(tmp.data());
    if (out < 0) {
        int saved = errno;
        ::close(in);
        errno = saved;
        return false;
    }
    bool ok = true;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = (n == 0);
            break;
        }
        for (ssize_t off = 0; off < n;) {
            ssize_t w = ::write(out, buf + off, static_cast<std::size_t>(n - off));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            off += w;
        }
        if (!ok)
            break;
    }
    int saved = errno;
    if (::fstat(in, &st) == 0)
        ::fchmod(out, st.st_mode & 0777);
    ::close(in);
    if (::close(out) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && bFailIfExists) {
        // link() refuses an existing target, so a race cannot overwrite one.
        ok = ::link(tmp.data(), to.c_str()) == 0;
        saved = errno;
        ::unlink(tmp.data());
    } else if (ok) {
        ok = ::rename(tmp.data(), to.c_str()) == 0;
        saved = errno;
        if (!ok)
            ::unlink(tmp.data());
    } else {
        ::unlink(tmp.data());
    }
    errno = saved;
    return ok;
}

bool MakeDirectories(const std::string& dir)
{
    if (dir.empty())
        return false;
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    std::string parent = DirName(dir);
    if (!parent.empty() && parent != dir && parent != "/")
        MakeDirectories(parent);
    if (::mkdir(dir.c_str(), 0700) == 0)
        return true;
    return errno == EEXIST && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool EmptyAndRemoveDirectory(const std::string& dir)
{
    // Only a real directory: through a link we would delete someone else's
    // files.
    struct stat self;
    if (::lstat(dir.c_str(), &self) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(self.st_mode))
        return false;
    for (const std::string& name : ListDirectory(dir)) {
        std::string path = JoinPath(dir, name);
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            continue;
        ::unlink(path.c_str());
    }
    return ::rmdir(dir.c_str()) == 0 || errno == ENOENT;
}

} // namespace fw
