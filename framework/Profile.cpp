#include "framework/Profile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace fw {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x += 32;
        if (y >= 'A' && y <= 'Z')
            y += 32;
        if (x != y)
            return false;
    }
    return true;
}

// One physical line of the file, with its terminator kept apart so that
// untouched lines are written back byte for byte.
struct Line {
    std::string text;       // without terminator
    std::string terminator; // "\n", "\r\n" or "" on a last line without one
};

// Reads the file as lines.  Returns false (errno set) when it exists but
// cannot be read; a missing file gives no lines.
bool ReadLines(const std::string& file, std::vector<Line>& lines, bool& bExists)
{
    lines.clear();
    bExists = false;
    struct stat st;
    if (::stat(file.c_str(), &st) != 0)
        return errno == ENOENT;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        errno = EACCES;
        return false;
    }
    bExists = true;
    std::string text;
    while (std::getline(in, text)) {
        Line line;
        if (in.eof()) {
            line.terminator = "";
        } else if (!text.empty() && text.back() == '\r') {
            text.pop_back();
            line.terminator = "\r\n";
        } else {
            line.terminator = "\n";
        }
        line.text = std::move(text);
        lines.push_back(std::move(line));
        text.clear();
    }
    return !in.bad();
}

// "[name]" gives name; anything else gives false.
bool SectionName(const std::string& text, std::string_view& name)
{
    std::string_view t = Trim(text);
    // A UTF-8 byte order mark that some editors put at the start of a file.
    if (t.substr(0, 3) == "\xEF\xBB\xBF")
        t = Trim(t.substr(3));
    if (t.size() < 2 || t.front() != '[')
        return false;
    std::size_t close = t.find(']');
    if (close == std::string_view::npos)
        return false;
    name = Trim(t.substr(1, close - 1));
    return true;
}

// "key=value" gives both, trimmed; a line without '=' gives false.
bool KeyValue(const std::string& text, std::string_view& key, std::string_view& value)
{
    std::size_t eq = text.find('=');
    if (eq == std::string::npos)
        return false;
    std::string_view t(text);
    key = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    return true;
}

struct Found {
    long section = -1; // index of the section header
    long lastKey = -1; // last non-blank line inside the section
    long key = -1;     // index of the key line
    std::string_view value;
};

Found Find(const std::vector<Line>& lines, std::string_view section, std::string_view key)
{
    Found f;
    bool bInside = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view name;
        if (SectionName(lines[i].text, name)) {
            if (bInside)
                break; // only the first section of that name counts
            if (EqualNoCase(name, section)) {
                bInside = true;
                f.section = static_cast<long>(i);
                f.lastKey = static_cast<long>(i);
            }
            continue;
        }
        if (!bInside)
            continue;
        if (!Trim(lines[i].text).empty())
            f.lastKey = static_cast<long>(i);
        std::string_view k, v;
        if (f.key < 0 && KeyValue(lines[i].text, k, v) && EqualNoCase(k, key)) {
            f.key = static_cast<long>(i);
            f.value = v;
        }
    }
    return f;
}

// A value wholly in one pair of quotes loses them.  One that merely starts
// and ends with a quote ("/opt/my packer" "%1") is a command template with
// quoted words, kept as it is.
std::string Unquote(std::string_view v)
{
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front() &&
        v.substr(1, v.size() - 2).find(v.front()) == std::string_view::npos)
        v = v.substr(1, v.size() - 2);
    return std::string(v);
}

bool WriteAll(int fd, const std::string& data)
{
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// Replaces the file's content.  A temporary file beside it is renamed over
// it, so readers see the old or the new file, never half of one.  Where the
// directory refuses new files but the file itself is writable, it is
// rewritten in place.
bool ReplaceFile(const std::string& file, const std::string& data)
{
    std::string target = file;
    char resolved[PATH_MAX];
    if (::realpath(file.c_str(), resolved))
        target = resolved; // keep a symlinked settings file a symlink
    // A file the user made read-only stays as it is, even where the directory
    // would let a new file take its place.
    if (::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0)
        return false;

    mode_t mode = 0600; // settings may hold passwords
    struct stat st;
    if (::stat(target.c_str(), &st) == 0)
        mode = st.st_mode & 07777;

    std::string tmp = target + ".tmpXXXXXX";
    std::vector<char> name(tmp.begin(), tmp.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd >= 0) {
        int saved = 0;
        bool ok = WriteAll(fd, data) && ::fchmod(fd, mode) == 0;
        if (!ok)
            saved = errno;
        if (::close(fd) != 0 && ok) {
            ok = false;
            saved = errno;
        }
        if (ok && ::rename(name.data(), target.c_str()) == 0)
            return true;
        if (ok)
            saved = errno;
        ::unlink(name.data());
        errno = saved;
        return false;
    }
    int saved = errno;
    if (::access(target.c_str(), W_OK) != 0) {
        errno = saved;
        return false;
    }
    fd = ::open(target.c_str(), O_WRONLY | O_TRUNC);
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, data);
    saved = errno;
    ::close(fd);
    errno = saved;
    return ok;
}

bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

std::string DirectoryOf(const std::string& file)
{
    std::size_t slash = file.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : file.substr(0, slash);
}

} // namespace

std::string Profile::GetString(const std::string& file, const std::string& section,
                               const std::string& key, const std::string& def, std::size_t nSize)
{
    std::vector<Line> lines;
    bool bExists = false;
    std::string result;
    if (!ReadLines(file, lines, bExists)) {
        result = std::string(Trim(def));
    } else {
        Found f = Find(lines, section, key);
        result = f.key >= 0 ? Unquote(f.value) : std::string(Trim(def));
    }
    if (nSize == 0)
        return std::string();
    if (result.size() > nSize - 1)
        result.resize(nSize - 1);
    return result;
}

bool Profile::WriteString(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& value)
{
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value) ||
        section.find(']') != std::string::npos || key.find('=') != std::string::npos ||
        Trim(key).empty()) {
        errno = EINVAL;
        return false;
    }
    std::vector<Line> lines;
    bool bExists = false;
    if (!ReadLines(file, lines, bExists))
        return false;

    // New lines follow the file's own line ends.
    std::string eol = "\n";
    if (!lines.empty() && lines.front().terminator == "\r\n")
        eol = "\r\n";

    std::string entry = key + "=" + value;
    Found f = Find(lines, section, key);
    if (f.key >= 0) {
        if (lines[f.key].text == entry)
            return true; // nothing changes: leave the file alone
        lines[f.key].text = entry;
    } else if (f.section >= 0) {
        Line line{entry, eol};
        Line& before = lines[f.lastKey];
        if (before.terminator.empty())
            before.terminator = eol;
        lines.insert(lines.begin() + f.lastKey + 1, line);
    } else {
        if (!lines.empty()) {
            if (lines.back().terminator.empty())
                lines.back().terminator = eol;
            if (!Trim(lines.back().text).empty())
                lines.push_back(Line{"", eol});
        }
        lines.push_back(Line{"[" + section + "]", eol});
        lines.push_back(Line{entry, eol});
    }

    // The new file would be renamed over the old one, which a writable
    // directory allows even for a read-only file: ask the file itself.
    if (bExists && !CanWrite(file))
        return false;
    std::string data;
    for (const Line& l : lines) {
        data += l.text;
        data += l.terminator;
    }
    return ReplaceFile(file, data);
}

bool Profile::CanWrite(const std::string& file)
{
    struct stat st;
    if (::stat(file.c_str(), &st) != 0) {
        if (errno != ENOENT)
            return false;
        return ::access(DirectoryOf(file).c_str(), W_OK | X_OK) == 0;
    }
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    // Root may write anything; a file without any write bit was still made
    // read-only on purpose.
    if ((st.st_mode & 0222) == 0) {
        errno = EACCES;
        return false;
    }
    return ::access(file.c_str(), W_OK) == 0;
}

std::vector<std::string> Profile::GetKeys(const std::string& file, const std::string& section)
{
    std::vector<std::string> keys;
    std::vector<Line> lines;
    bool bExists = false;
    if (!ReadLines(file, lines, bExists))
        return keys;
    bool bInside = false;
    for (const Line& l : lines) {
        std::string_view name;
        if (SectionName(l.text, name)) {
            if (bInside)
                break;
            bInside = EqualNoCase(name, section);
            continue;
        }
        std::string_view k, v;
        if (bInside && KeyValue(l.text, k, v) && !k.empty())
            keys.emplace_back(k);
    }
    return keys;
}

std::vector<std::string> Profile::GetSections(const std::string& file)
{
    std::vector<std::string> sections;
    std::vector<Line> lines;
    bool bExists = false;
    if (!ReadLines(file, lines, bExists))
        return sections;
    for (const Line& l : lines) {
        std::string_view name;
        if (SectionName(l.text, name))
            sections.emplace_back(name);
    }
    return sections;
}

} // namespace fw
