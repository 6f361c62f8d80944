#include "newsgroups/Newsgroups.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

Newsgroups* g_pNewsgroups = nullptr;

newsgr::newsgr(const std::string& name, std::uint32_t uFlags, std::int32_t lPointer,
               std::int32_t lDate, const std::string& user, const std::string& password)
    : m_szName(name), m_uFlags(uFlags), m_lPointer(lPointer), m_lLoadedPointer(lPointer),
      m_lDate(lDate), m_lLoadedDate(lDate), m_szUser(user), m_szPassword(password)
{
}

namespace {

std::int32_t Now()
{
    std::time_t t = std::time(nullptr);
    return t > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(t);
}

// Byte order, case-sensitive, bytes compared as unsigned values.
int CompareNames(const newsgr* a, const newsgr* b)
{
    std::size_t n = std::min(a->m_szName.size(), b->m_szName.size());
    int c = n ? std::memcmp(a->m_szName.data(), b->m_szName.data(), n) : 0;
    if (c != 0)
        return c;
    return a->m_szName.size() < b->m_szName.size()   ? -1
           : a->m_szName.size() > b->m_szName.size() ? 1
                                                     : 0;
}

// The list's quicksort.  Its exact partitioning decides which of two equal
// names ends up first (and so survives the duplicate removal), so it is kept
// as it is; only the recursion goes into the smaller half and loops over the
// larger one, so a hostile group list cannot exhaust the stack.
void QuickSort(std::vector<newsgr*>& a, long lo, long hi)
{
    while (lo < hi) {
        if (hi - lo > 2)
            std::swap(a[static_cast<std::size_t>(lo + (hi - lo) / 2)],
                      a[static_cast<std::size_t>(hi)]);
        const newsgr* pPivot = a[static_cast<std::size_t>(hi)];
        long i = lo, j = hi;
        for (;;) {
            while (CompareNames(a[static_cast<std::size_t>(i)], pPivot) <= 0 && i < j)
                ++i;
            while (CompareNames(a[static_cast<std::size_t>(j)], pPivot) >= 0 && i < j)
                --j;
            if (j > i) {
                std::swap(a[static_cast<std::size_t>(i)], a[static_cast<std::size_t>(j)]);
            } else {
                std::swap(a[static_cast<std::size_t>(i)], a[static_cast<std::size_t>(hi)]);
                break;
            }
        }
        if (i - lo < hi - i) {
            QuickSort(a, lo, i - 1);
            lo = i + 1;
        } else {
            QuickSort(a, i + 1, hi);
            hi = i - 1;
        }
    }
}

bool ReadLine(std::FILE* f, std::string& line)
{
    line.clear();
    int c;
    bool bAny = false;
    while ((c = std::fgetc(f)) != EOF) {
        bAny = true;
        if (c == '\n')
            break;
        line.push_back(static_cast<char>(c));
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return bAny;
}

} // namespace

std::int32_t Newsgroups::ParseNumber(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool bNegative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        bNegative = text[i++] == '-';
    long long v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > static_cast<long long>(INT32_MAX) + 1)
            v = static_cast<long long>(INT32_MAX) + 1;
    }
    if (bNegative)
        v = -v;
    return static_cast<std::int32_t>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
}

bool Newsgroups::IsStorableText(const std::string& text)
{
    return text.find_first_of(",\r\n") == std::string::npos;
}

Newsgroups::Newsgroups(const std::string& path) : m_path(path) { Load(); }

Newsgroups::~Newsgroups()
{
    if (!m_bSaved)
        Save();
}

void Newsgroups::BuildDefault()
{
    m_records.clear();
    std::int32_t now = Now();
    m_records.push_back(std::make_unique<newsgr>("news.answers", NG_SELECTED, 1, now, "", ""));
    m_records.push_back(
        std::make_unique<newsgr>("news.newusers.questions", NG_SELECTED, 1, now, "", ""));
}

void Newsgroups::Load()
{
    m_bResult = true;
    m_bSaveCurrent = true;
    m_iPosition = -1;
    std::FILE* f = m_path.empty() ? nullptr : std::fopen(m_path.c_str(), "rb");
    std::string line;
    if (!f || !ReadLine(f, line)) {
        if (f)
            std::fclose(f);
        BuildDefault();
        return;
    }
    do {
        if (std::count(line.begin(), line.end(), ',') != 5)
            continue;
        std::string field[6];
        std::size_t start = 0;
        for (int k = 0; k < 6; ++k) {
            std::size_t comma = k < 5 ? line.find(',', start) : line.size();
            field[k] = line.substr(start, comma - start);
            start = comma + 1;
        }
        auto p = std::make_unique<newsgr>(
            field[0], static_cast<std::uint32_t>(ParseNumber(field[1])), ParseNumber(field[2]),
            ParseNumber(field[3]), field[4], field[5]);
        p->m_uFlags &= ~NG_INPACKET;
        p->m_iConference = static_cast<std::int32_t>(m_records.size());
        m_records.push_back(std::move(p));
    } while (ReadLine(f, line));
    std::fclose(f);
}

bool Newsgroups::Save()
{
    m_bSaved = true;
    m_lastError.clear();
    if (m_records.empty()) {
        if (!m_path.empty() && ::unlink(m_path.c_str()) != 0 && errno != ENOENT) {
            m_lastError = "cannot delete " + m_path + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    if (m_path.empty())
        return true;

    // Write a new file beside the old one and put it in place only when it
    // is complete, so a full disk never leaves a truncated list behind.
    std::string temp = m_path + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        m_lastError = "cannot write " + m_path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    ::fchmod(fd, ::stat(m_path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
    std::FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        m_lastError = "cannot write " + m_path + ": " + std::strerror(errno);
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    std::string refused;
    for (const auto& p : m_records) {
        // A comma or a line break would break the line apart (and a line
        // break could forge another group's line): such a group is not
        // written, and the caller hears of it.
        if (!IsStorableText(p->m_szName) || !IsStorableText(p->m_szUser) ||
            !IsStorableText(p->m_szPassword)) {
            if (refused.empty())
                refused = p->m_szName;
            continue;
        }
        std::fprintf(f, "%s,%u,%d,%d,%s,%s\r\n", p->m_szName.c_str(), p->m_uFlags & ~NG_INPACKET,
                     m_bSaveCurrent ? p->m_lPointer : p->m_lLoadedPointer,
                     m_bSaveCurrent ? p->m_lDate : p->m_lLoadedDate, p->m_szUser.c_str(),
                     p->m_szPassword.c_str());
    }
    bool bOk = std::fflush(f) == 0 && !std::ferror(f);
    int iErr = errno;
    if (std::fclose(f) != 0 && bOk) {
        bOk = false;
        iErr = errno;
    }
    if (bOk && std::rename(temp.c_str(), m_path.c_str()) != 0) {
        bOk = false;
        iErr = errno;
    }
    if (!bOk) {
        ::unlink(temp.c_str());
        m_lastError = "cannot write " + m_path + ": " + std::strerror(iErr);
        return false;
    }
    if (!refused.empty()) {
        m_lastError =
            "the group " + refused.substr(0, 100) +
            " was not saved: its name, user name or password holds a comma or a line break";
        return false;
    }
    return true;
}

void Newsgroups::Add(const std::string& name, std::uint32_t uFlags, std::int32_t lPointer,
                     std::int32_t lDate, const std::string& user, const std::string& password)
{
    m_records.push_front(std::make_unique<newsgr>(name, uFlags, lPointer, lDate, user, password));
    m_iPosition = -1;
    m_bResult = true;
    m_bSaved = false;
}

bool Newsgroups::Remove(const std::string& name)
{
    m_bResult = true;
    m_bSaved = false;
    for (auto it = m_records.begin(); it != m_records.end(); ++it) {
        if ((*it)->m_szName == name) {
            m_records.erase(it);
            m_iPosition = -1;
            return true;
        }
    }
    return false;
}

bool Newsgroups::Find(const std::string& name)
{
    m_bSaved = false;
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        if (m_records[i]->m_szName == name) {
            m_iPosition = static_cast<std::int32_t>(i);
            return m_bResult = true;
        }
    }
    m_iPosition = -1;
    return m_bResult = false;
}

bool Newsgroups::StepTo(std::size_t iIndex, bool bSelectedOnly)
{
    m_bSaved = false;
    while (iIndex < m_records.size() && bSelectedOnly &&
           !(m_records[iIndex]->m_uFlags & NG_SELECTED))
        ++iIndex;
    if (iIndex >= m_records.size()) {
        m_iPosition = -1;
        return m_bResult = false;
    }
    m_iPosition = static_cast<std::int32_t>(iIndex);
    return m_bResult = true;
}

bool Newsgroups::First() { return StepTo(0, false); }
bool Newsgroups::Next()
{
    return m_iPosition < 0 ? StepTo(m_records.size(), false)
                           : StepTo(static_cast<std::size_t>(m_iPosition) + 1, false);
}
bool Newsgroups::FirstSelected() { return StepTo(0, true); }
bool Newsgroups::NextSelected()
{
    return m_iPosition < 0 ? StepTo(m_records.size(), true)
                           : StepTo(static_cast<std::size_t>(m_iPosition) + 1, true);
}

void Newsgroups::Renumber()
{
    for (std::size_t i = 0; i < m_records.size(); ++i)
        m_records[i]->m_iConference = static_cast<std::int32_t>(i);
}

const char* Newsgroups::NameOfNumber(std::int32_t iConference) const
{
    for (const auto& p : m_records)
        if (p->m_iConference == iConference)
            return p->m_szName.c_str();
    return nullptr;
}

void Newsgroups::Sort()
{
    m_bResult = true;
    m_bSaved = false;
    if (m_records.size() < 2)
        return;
    m_iPosition = -1;
    std::vector<newsgr*> array;
    array.reserve(m_records.size());
    for (auto& p : m_records)
        array.push_back(p.release());
    m_records.clear();
    QuickSort(array, 0, static_cast<long>(array.size()) - 1);
    for (newsgr* p : array) {
        std::unique_ptr<newsgr> owned(p);
        if (!m_records.empty() && m_records.back()->m_szName == p->m_szName)
            continue; // a duplicate: freed here
        m_records.push_back(std::move(owned));
    }
}

newsgr* Newsgroups::Current()
{
    m_bSaved = false;
    return m_iPosition >= 0 && static_cast<std::size_t>(m_iPosition) < m_records.size()
               ? m_records[static_cast<std::size_t>(m_iPosition)].get()
               : nullptr;
}

const newsgr* Newsgroups::Current() const
{
    return m_iPosition >= 0 && static_cast<std::size_t>(m_iPosition) < m_records.size()
               ? m_records[static_cast<std::size_t>(m_iPosition)].get()
               : nullptr;
}

newsgr* Newsgroups::At(std::int32_t iIndex)
{
    m_bSaved = false;
    return iIndex >= 0 && static_cast<std::size_t>(iIndex) < m_records.size()
               ? m_records[static_cast<std::size_t>(iIndex)].get()
               : nullptr;
}
