#include "packet/PacketIndex.h"

#include "framework/Files.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char kFirstLine[] = "MTIDX 1";
constexpr std::size_t kMaxAddress = 512;
constexpr std::size_t kMaxId = 250;
constexpr std::size_t kMaxReferences = 2000;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::vector<std::string_view> SplitTabs(std::string_view line)
{
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (;;) {
        std::size_t tab = line.find('\t', start);
        out.push_back(line.substr(start, tab == std::string_view::npos ? line.npos : tab - start));
        if (tab == std::string_view::npos)
            return out;
        start = tab + 1;
    }
}

// A decimal number of at most nine digits, nothing else.
bool SmallNumber(std::string_view text, std::int32_t& value)
{
    if (text.empty() || text.size() > 9)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

// A line without its end, at most kMaxIndexLine bytes; bTooLong when more.
bool ReadLine(std::FILE* f, std::string& line, bool& bTooLong)
{
    line.clear();
    bTooLong = false;
    int c = std::getc(f);
    if (c == EOF)
        return false;
    for (; c != EOF && c != '\n'; c = std::getc(f)) {
        if (line.size() < kMaxIndexLine)
            line += static_cast<char>(c);
        else
            bTooLong = true;
    }
    return true;
}

} // namespace

std::string IndexField(std::string_view text, std::size_t nMax)
{
    std::string out;
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u == 0x7F) ? ' ' : c;
    }
    while (!out.empty() && IsBlank(out.back()))
        out.pop_back();
    std::size_t i = 0;
    while (i < out.size() && IsBlank(out[i]))
        ++i;
    out.erase(0, i);
    if (out.size() > nMax) {
        std::size_t n = nMax;
        while (n > 0 && (static_cast<unsigned char>(out[n]) & 0xC0) == 0x80)
            --n;
        out.resize(n);
    }
    return out;
}

std::string CleanMessageId(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    if (text.size() < 5 || text.size() > kMaxId || text.front() != '<' || text.back() != '>')
        return {};
    std::string_view inner = text.substr(1, text.size() - 2);
    std::size_t at = inner.find('@');
    if (at == 0 || at == inner.npos || at + 1 == inner.size())
        return {};
    for (char c : inner) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || c == '<' || c == '>')
            return {};
    }
    return std::string(text);
}

std::string CleanReferences(std::string_view text, std::size_t nMax)
{
    std::vector<std::string> ids;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t open = text.find('<', pos);
        if (open == text.npos)
            break;
        std::size_t close = text.find('>', open);
        if (close == text.npos)
            break;
        std::string id = CleanMessageId(text.substr(open, close - open + 1));
        if (!id.empty())
            ids.push_back(std::move(id));
        pos = close + 1;
    }
    auto length = [&] {
        std::size_t n = 0;
        for (const auto& id : ids)
            n += id.size() + 1;
        return n == 0 ? 0 : n - 1;
    };
    // The first identifier names the thread's start: it stays.
    while (ids.size() > 1 && length() > nMax)
        ids.erase(ids.begin() + 1);
    if (length() > nMax)
        ids.clear();
    std::string out;
    for (const auto& id : ids)
        out += (out.empty() ? "" : " ") + id;
    return out;
}

PacketIndexWriter::~PacketIndexWriter()
{
    if (m_f) {
        std::fclose(m_f);
        ::unlink(m_path.c_str());
    }
}

bool PacketIndexWriter::Open(const std::string& path)
{
    m_path = path;
    m_bFailed = false;
    m_f = std::fopen(path.c_str(), "wb");
    if (!m_f || std::fprintf(m_f, "%s\n", kFirstLine) < 0)
        m_bFailed = true;
    return !m_bFailed;
}

void PacketIndexWriter::Add(const PacketIndexEntry& e)
{
    if (!m_f)
        return;
    std::string line = std::to_string(e.iNumber) + '\t' + std::to_string(e.iConference) + '\t' +
                       IndexField(e.from, kMaxAddress) + '\t' + IndexField(e.replyTo, kMaxAddress) +
                       '\t' + CleanMessageId(e.messageId) + '\t' +
                       CleanReferences(e.references, kMaxReferences) + '\t' +
                       IndexField(e.newsgroups, kMaxAddress) + '\n';
    if (std::fwrite(line.data(), 1, line.size(), m_f) != line.size())
        m_bFailed = true;
}

bool PacketIndexWriter::Close()
{
    if (!m_f)
        return false;
    bool bOk = std::fflush(m_f) == 0 && !std::ferror(m_f) && !m_bFailed;
    bOk = std::fclose(m_f) == 0 && bOk;
    m_f = nullptr;
    if (!bOk)
        ::unlink(m_path.c_str());
    return bOk;
}

std::string PacketIndexPath(const std::string& indexDir, const std::string& packetPath)
{
    return fw::JoinPath(indexDir, fw::BaseName(packetPath) + ".idx");
}

bool InstallPacketIndex(const std::string& workIndex, const std::string& indexDir,
                        const std::string& packetPath)
{
    ::mkdir(indexDir.c_str(), 0700);
    std::string target = PacketIndexPath(indexDir, packetPath);
    std::string temp = target + ".partial";
    bool bOk = !workIndex.empty() && ::access(workIndex.c_str(), R_OK) == 0 &&
               fw::CopyFile(workIndex, temp, false) && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!bOk) {
        ::unlink(temp.c_str());
        ::unlink(target.c_str());
    }
    return bOk;
}

std::string LatestPacketIndex(const std::string& dir, const std::string& packetName)
{
    std::string best;
    struct timespec bestTime {};
    for (const std::string& name : fw::ListDirectory(dir)) {
        std::size_t n = packetName.size();
        if (n == 0 || name.size() < n + 5 ||
            ::strncasecmp(name.c_str(), packetName.c_str(), n) != 0 ||
            (name[n] != '.' && name[n] != '-') ||
            ::strcasecmp(name.c_str() + name.size() - 4, ".idx") != 0)
            continue;
        std::string path = fw::JoinPath(dir, name);
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        bool bNewer = best.empty() || st.st_mtim.tv_sec > bestTime.tv_sec ||
                      (st.st_mtim.tv_sec == bestTime.tv_sec &&
                       (st.st_mtim.tv_nsec > bestTime.tv_nsec ||
                        (st.st_mtim.tv_nsec == bestTime.tv_nsec && path > best)));
        if (bNewer) {
            best = path;
            bestTime = st.st_mtim;
        }
    }
    return best;
}

std::optional<PacketIndexEntry> LookUpPacketIndex(const std::string& indexPath,
                                                  std::int32_t iConference, std::int32_t iNumber)
{
    if (indexPath.empty() || iNumber <= 0)
        return std::nullopt;
    std::FILE* f = std::fopen(indexPath.c_str(), "rb");
    if (!f)
        return std::nullopt;
    std::optional<PacketIndexEntry> found;
    std::string line;
    bool bTooLong = false;
    bool bFirst = true;
    while (!found && ReadLine(f, line, bTooLong)) {
        if (bFirst) {
            bFirst = false;
            if (line != kFirstLine)
                break; // not an index of ours
            continue;
        }
        if (bTooLong)
            continue;
        std::vector<std::string_view> v = SplitTabs(line);
        PacketIndexEntry e;
        if (v.size() != 7 || !SmallNumber(v[0], e.iNumber) || !SmallNumber(v[1], e.iConference) ||
            e.iNumber != iNumber || e.iConference != iConference)
            continue;
        e.from = IndexField(v[2], kMaxAddress);
        e.replyTo = IndexField(v[3], kMaxAddress);
        e.messageId = CleanMessageId(v[4]);
        e.references = CleanReferences(v[5], kMaxReferences);
        e.newsgroups = IndexField(v[6], kMaxAddress);
        found = std::move(e);
    }
    std::fclose(f);
    return found;
}
