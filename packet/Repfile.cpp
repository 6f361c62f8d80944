#include "packet/Repfile.h"

#include "core/Startup.h"
#include "framework/Files.h"
#include "newsgroups/Newsgroups.h"
#include "packet/Et4Zip.h"
#include "packet/PacketIndex.h"
#include "packet/PacketSave.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr unsigned char kLineEnd = 0xE3;
// The longest attachment list line a reader writes.
constexpr std::size_t kMaxDatLine = 127;
// How much of a longer line is looked at (the rest is skipped).
constexpr std::size_t kDatLineLimit = 4096;

// Names of header lines the reader's replies use.
const char* const kKnownKeys[] = {"to", "cc", "subject", "newsgroups", "newsgroup", "from"};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A decimal field of a header block: leading blanks, a sign, digits up to
// the first other character; clamped to 32 bits.
std::int64_t NumberField(const unsigned char* p, int n)
{
    int i = 0;
    while (i < n && (p[i] == ' ' || p[i] == '\t'))
        ++i;
    bool bNegative = false;
    if (i < n && (p[i] == '-' || p[i] == '+'))
        bNegative = p[i++] == '-';
    std::int64_t v = 0;
    for (; i < n && p[i] >= '0' && p[i] <= '9'; ++i)
        v = std::min<std::int64_t>(v * 10 + (p[i] - '0'), INT32_MAX);
    return bNegative ? -v : v;
}

std::string TrimRight(std::string s)
{
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\0'))
        s.pop_back();
    return s;
}

// "Name:" at the start of a line: letters, digits and hyphens, then a colon.
bool HeaderName(std::string_view line, std::string_view& name)
{
    std::size_t i = 0;
    while (i < line.size() && i < 64 &&
           (std::isalnum(static_cast<unsigned char>(line[i])) || (i > 0 && line[i] == '-')))
        ++i;
    if (i == 0 || i >= line.size() || line[i] != ':')
        return false;
    name = line.substr(0, i);
    return true;
}

bool KnownKey(std::string_view name)
{
    for (const char* k : kKnownKeys)
        if (name.size() == std::strlen(k) && ::strncasecmp(name.data(), k, name.size()) == 0)
            return true;
    return false;
}

struct HeaderBlock {
    bool bFound = false;
    std::size_t iEnd = 0;   // just after the block's last line
    std::size_t iStart = 0; // where the body begins
};

HeaderBlock LeadingBlock(std::string_view text)
{
    HeaderBlock b;
    std::size_t pos = 0;
    int iLines = 0;
    bool bAllKnown = true, bAnyKnown = false;
    while (pos < text.size()) {
        std::size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos)
            eol = text.size();
        std::string_view line = text.substr(pos, eol - pos);
        std::string_view name;
        if (HeaderName(line, name)) {
            ++iLines;
            if (KnownKey(name))
                bAnyKnown = true;
            else
                bAllKnown = false;
        } else if (!(iLines > 0 && !line.empty() && IsBlank(line[0]))) {
            break;
        }
        pos = eol < text.size() ? eol + 1 : eol;
    }
    if (iLines == 0)
        return b;
    b.iEnd = pos;
    bool bEmptyLineFollows = pos < text.size() && text[pos] == '\n';
    if (bEmptyLineFollows && bAnyKnown) {
        b.bFound = true;
        b.iStart = pos + 1;
    } else if (bAllKnown) {
        b.bFound = true;
        b.iStart = pos;
    }
    return b;
}

// A digest of the reply's bytes: two 64-bit FNV-1a sums with different
// starting values.
std::string Digest(const std::string& a, const std::string& b)
{
    std::uint64_t h1 = 14695981039346656037ULL, h2 = 0x84222325CBF29CE4ULL;
    auto feed = [&](const std::string& s) {
        for (unsigned char c : s) {
            h1 = (h1 ^ c) * 1099511628211ULL;
            h2 = (h2 ^ c) * 0x100000001B3ULL;
            h2 ^= h2 >> 29;
        }
    };
    feed(a);
    feed(std::string(1, '\n'));
    feed(b);
    char out[40];
    std::snprintf(out, sizeof out, "%016llx%016llx", static_cast<unsigned long long>(h1),
                  static_cast<unsigned long long>(h2));
    return out;
}

// Turns the raw text blocks into lines ended by LF: 0xE3 ends a line and the
// blanks before it are cut; NUL counts as a blank (some readers pad with
// it), a CR before a line end goes.  A last line without its line end is
// kept once the padding after it is cut.
std::string TextFromBlocks(const std::string& raw)
{
    std::string out;
    out.reserve(raw.size());
    auto cutBlanks = [&out] {
        std::size_t lineStart = out.rfind('\n');
        lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
        while (out.size() > lineStart &&
               (out.back() == ' ' || out.back() == '\t' || out.back() == '\r'))
            out.pop_back();
    };
    for (char ch : raw) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == kLineEnd || c == '\n') {
            cutBlanks();
            out += '\n';
        } else {
            out += c == 0 ? ' ' : ch;
        }
    }
    cutBlanks();
    if (!out.empty() && out.back() != '\n')
        out += '\n';
    return out;
}

// The attachment list's next line (without CR LF); false at its end.
bool ReadDatLine(std::FILE* pDat, std::string& line, bool& bTooLong)
{
    line.clear();
    bTooLong = false;
    int c = std::getc(pDat);
    if (c == EOF)
        return false;
    while (c != EOF && c != '\n') {
        if (line.size() < kDatLineLimit)
            line += static_cast<char>(c);
        else
            bTooLong = true;
        c = std::getc(pDat);
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.size() > kMaxDatLine)
        bTooLong = true;
    return true;
}

bool IsRegularFile(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// "Name <address>" gives the address (a name may hold commas, which would
// split it into several recipients); anything else stays whole.
std::string BareAddress(const std::string& sender)
{
    std::size_t open = sender.rfind('<');
    std::size_t close = sender.rfind('>');
    if (open != std::string::npos && close != std::string::npos && close > open + 1)
        return sender.substr(open + 1, close - open - 1);
    return sender;
}

bool ContainsGroup(const std::string& list, const std::string& group)
{
    std::size_t pos = 0;
    while (pos <= list.size()) {
        std::size_t comma = list.find(',', pos);
        if (comma == std::string::npos)
            comma = list.size();
        std::string entry;
        for (std::size_t i = pos; i < comma; ++i)
            if (!IsBlank(list[i]))
                entry += list[i];
        if (!entry.empty() && ::strcasecmp(entry.c_str(), group.c_str()) == 0)
            return true;
        pos = comma + 1;
    }
    return false;
}

// What the packet index knows of the message a reply answers.  The index
// may belong to a later packet than the one the reader showed, so the
// reply must fit the entry: a mail reply's To field is the start of the
// sender as the packet showed it, a news reply goes to one of its groups.
// A To field the reader cut to 25 characters gets the whole address back.
void ApplyIndex(mailxarticle& reply, const std::string& indexPath, bool bToFromField)
{
    std::optional<PacketIndexEntry> e =
        LookUpPacketIndex(indexPath, reply.m_iConference, reply.m_iReference);
    if (!e)
        return;
    bool bFits = false;
    if (reply.IsEmail()) {
        if (!bToFromField || !reply.m_szTo)
            return; // the user wrote the addresses: they stand as written
        const std::string& to = *reply.m_szTo;
        for (const std::string* pSender : {&e->replyTo, &e->from}) {
            // The packet's From field held the first 25 bytes.
            if (pSender->empty() || to != TrimRight(pSender->substr(0, 25)))
                continue;
            bFits = true;
            if (pSender->size() > 25)
                reply.m_szTo = BareAddress(*pSender);
            break;
        }
    } else if (reply.m_szNewsgroups) {
        bFits = e->newsgroups.empty() || ContainsGroup(e->newsgroups, *reply.m_szNewsgroups);
    }
    if (!bFits || e->messageId.empty())
        return;
    reply.m_szInReplyTo = e->messageId;
    reply.m_szReferences = CleanReferences(e->references + " " + e->messageId, 900);
}

} // namespace

std::size_t ReplyTextStart(std::string_view text) { return LeadingBlock(text).iStart; }

std::optional<std::string> FindHeaderLine(std::string_view key, std::string_view text)
{
    HeaderBlock b = LeadingBlock(text);
    if (!b.bFound)
        return std::nullopt;
    std::string_view block = text.substr(0, b.iEnd);
    std::size_t pos = 0;
    while (pos < block.size()) {
        std::size_t eol = block.find('\n', pos);
        if (eol == std::string_view::npos)
            eol = block.size();
        std::string_view line = block.substr(pos, eol - pos);
        pos = eol < block.size() ? eol + 1 : eol;
        if (line.size() < key.size() || ::strncasecmp(line.data(), key.data(), key.size()) != 0)
            continue;
        std::string_view rest = line.substr(key.size());
        while (!rest.empty() && IsBlank(rest.front()))
            rest.remove_prefix(1);
        std::string value(rest);
        while (pos < block.size() && IsBlank(block[pos])) {
            eol = block.find('\n', pos);
            if (eol == std::string_view::npos)
                eol = block.size();
            value += block.substr(pos, eol - pos);
            pos = eol < block.size() ? eol + 1 : eol;
        }
        return value;
    }
    return std::nullopt;
}

mailxarticle::~mailxarticle()
{
    if (!m_szAttachPath.empty())
        ::unlink(m_szAttachPath.c_str());
}

mailxarticle::ReadResult mailxarticle::Read(std::FILE* pMsg, std::FILE* pDat,
                                            const RepReadOptions& options,
                                            std::unique_ptr<mailxarticle>& out, std::string& why)
{
    out.reset();
    why.clear();
    unsigned char header[REP_BLOCK_SIZE];
    std::size_t n = std::fread(header, 1, sizeof header, pMsg);
    auto padding = [&](std::size_t count) {
        return std::all_of(header, header + count,
                           [](unsigned char c) { return c == 0 || c == ' ' || c == 0x1A; });
    };
    if (n == 0 || (n < sizeof header && padding(n)))
        return READ_END;
    if (n < sizeof header) {
        why = "the file ends inside a reply's header block";
        return READ_DAMAGED;
    }
    if (padding(n))
        return READ_END; // padding blocks after the last reply
    std::int64_t iBlocks = NumberField(header + 116, 6);
    if (iBlocks < 1) {
        why = "a reply's header gives " + std::to_string(iBlocks) + " blocks";
        return READ_DAMAGED;
    }
    struct stat st {};
    long lPos = std::ftell(pMsg);
    std::int64_t iLeft =
        ::fstat(::fileno(pMsg), &st) == 0 && lPos >= 0 ? st.st_size - lPos : INT64_MAX;
    std::int64_t iTextBytes = (iBlocks - 1) * REP_BLOCK_SIZE;
    if (iTextBytes > iLeft) {
        why = "a reply's header gives " + std::to_string(iBlocks) +
              " blocks, more than the file holds";
        return READ_DAMAGED;
    }
    std::string raw(static_cast<std::size_t>(iTextBytes), '\0');
    if (iTextBytes > 0 && std::fread(raw.data(), 1, raw.size(), pMsg) != raw.size()) {
        why = "a reply's text cannot be read";
        return READ_DAMAGED;
    }

    auto p = std::make_unique<mailxarticle>();
    p->m_iConference = static_cast<std::int32_t>(NumberField(header + 1, 7));
    p->m_iEmail = (header[0] == '*' || header[0] == '+' || p->m_iConference == 0) ? 1 : 0;
    p->m_szText = ReaderTextToUtf8(TextFromBlocks(raw), options.charset);
    p->m_iTextStart = ReplyTextStart(p->m_szText);
    auto field = [&](int iOffset) {
        return TrimRight(
            ReaderTextToUtf8(std::string_view(reinterpret_cast<const char*>(header) + iOffset, 25),
                             options.charset));
    };

    std::string datLine;
    bool bHaveDatLine = false, bTooLong = false;
    if (pDat)
        bHaveDatLine = ReadDatLine(pDat, datLine, bTooLong);
    p->m_szIdentity =
        Digest(std::string(reinterpret_cast<const char*>(header), sizeof header) + raw,
               bHaveDatLine ? datLine : std::string("\x01"));

    ReadResult result = READ_REPLY;
    if (!p->IsEmail()) {
        p->m_szNewsgroups = FindHeaderLine("Newsgroups:", p->m_szText);
        if (!p->m_szNewsgroups) {
            std::int32_t iPosition = p->m_iConference - 1 - options.iMailingLists;
            const char* pszGroup = options.pGroups && iPosition >= 0
                                       ? options.pGroups->NameOfNumber(iPosition)
                                       : nullptr;
            if (pszGroup) {
                p->m_szNewsgroups = pszGroup;
            } else {
                result = READ_SKIPPED;
                p->m_szProblem = p->m_iConference >= 1 && p->m_iConference <= options.iMailingLists
                                     ? "it is a public reply in mailing-list conference " +
                                           std::to_string(p->m_iConference) +
                                           "; write it as a private (e-mail) reply"
                                     : "conference " + std::to_string(p->m_iConference) +
                                           " is no newsgroup of this packet";
            }
        }
    }
    p->m_szTo = FindHeaderLine("To:", p->m_szText);
    bool bToFromField = false;
    if (!p->m_szTo) {
        std::string to = field(21);
        if (!to.empty()) {
            p->m_szTo = to;
            bToFromField = true;
        }
    }
    std::int64_t iReference = NumberField(header + 108, 8);
    p->m_iReference = iReference > 0 ? static_cast<std::int32_t>(iReference) : 0;
    if (options.indexPath && !options.indexPath->empty() && p->m_iReference > 0)
        ApplyIndex(*p, *options.indexPath, bToFromField);
    p->m_szCc = FindHeaderLine("Cc:", p->m_szText);
    std::optional<std::string> subject = FindHeaderLine("Subject:", p->m_szText);
    p->m_szSubject = subject ? *subject : field(71);

    if (bHaveDatLine && !datLine.empty()) {
        std::size_t comma = datLine.find(',');
        std::string file = TrimRight(datLine.substr(0, comma));
        if (bTooLong) {
            p->m_szAttachProblem = "its attachment line is longer than 127 characters";
        } else if (comma == std::string::npos) {
            p->m_szAttachProblem = "its attachment line has no comma";
        } else if (!Et4SafeEntryName(file.c_str())) {
            p->m_szAttachProblem = "its attachment names a file outside the packet";
        } else {
            std::string found = fw::FindFileNoCase(options.repWorkDir, file);
            std::string path = fw::JoinPath(options.repWorkDir, found.empty() ? file : found);
            if (!found.empty() && IsRegularFile(path)) {
                p->m_szAttachPath = path;
            } else {
                p->m_szAttachProblem = "its attached file " + file + " is not in the packet";
            }
            // The name as given: no control characters, no quotes, bounded.
            std::string name;
            for (char c : ReaderTextToUtf8(datLine.substr(comma + 1), options.charset)) {
                unsigned char u = static_cast<unsigned char>(c);
                if (u < 0x20 || u == 0x7F)
                    continue;
                name += (c == '"' || c == '\\' || c == '/') ? '_' : c;
            }
            name = TrimRight(name);
            while (!name.empty() && IsBlank(name.front()))
                name.erase(0, 1);
            p->m_szAttachName = name.empty() ? found : name.substr(0, 255);
        }
    }
    if (p->m_szAttachPath.empty())
        p->m_szAttachName.clear();
    if (result == READ_REPLY) {
        bool bDestination = p->IsEmail() ? (p->m_szTo || p->m_szCc) : p->m_szNewsgroups.has_value();
        if (!bDestination)
            p->m_szProblem = "it has no destination";
    }
    out = std::move(p);
    return result;
}

Repfile::Repfile(const std::string& msgPath, const std::string& datPath,
                 const RepReadOptions& options, const std::string& packetName)
{
    std::FILE* pMsg = std::fopen(msgPath.c_str(), "rb");
    std::FILE* pDat = datPath.empty() ? nullptr : std::fopen(datPath.c_str(), "rb");
    char block1[REP_BLOCK_SIZE];
    if (pMsg && std::fread(block1, 1, sizeof block1, pMsg) == sizeof block1) {
        std::size_t nCompare = std::min<std::size_t>(3, packetName.size());
        m_bBelongs = nCompare > 0 && ::strncasecmp(block1, packetName.c_str(), nCompare) == 0;
    }
    RepReadOptions resolved = options;
    if (!resolved.indexPath)
        resolved.indexPath = g_pStartup
                                 ? LatestPacketIndex(CPacketSaver::IndexDirectory(), packetName)
                                 : std::string();
    std::map<std::string, int> seen;
    while (m_bBelongs) {
        std::unique_ptr<mailxarticle> p;
        std::string why;
        mailxarticle::ReadResult r = mailxarticle::Read(pMsg, pDat, resolved, p, why);
        if (r == mailxarticle::READ_END)
            break;
        if (r == mailxarticle::READ_DAMAGED) {
            m_szDamage = "reply " + std::to_string(m_all.size() + 1) + " and any after it: " + why;
            break;
        }
        p->m_iNumber = static_cast<std::int32_t>(m_all.size() + 1);
        // Two replies of the same bytes are still two replies.
        int iSeen = seen[p->m_szIdentity]++;
        if (iSeen > 0)
            p->m_szIdentity += "#" + std::to_string(iSeen);
        if (r == mailxarticle::READ_REPLY) {
            m_list.push_back(p.get());
            ++(p->IsEmail() ? m_iEmailCount : m_iNewsCount);
        }
        m_all.push_back(std::move(p));
    }
    if (pMsg)
        std::fclose(pMsg);
    if (pDat)
        std::fclose(pDat);
    ::unlink(msgPath.c_str());
    if (!datPath.empty())
        ::unlink(datPath.c_str());
}

Repfile::~Repfile() = default;

mailxarticle* Repfile::Current() const
{
    return m_iCursor < m_list.size() ? m_list[m_iCursor] : nullptr;
}

mailxarticle* Repfile::FirstUnsent()
{
    m_iCursor = 0;
    while (m_iCursor < m_list.size() && m_list[m_iCursor]->m_iSent)
        ++m_iCursor;
    return Current();
}

mailxarticle* Repfile::NextUnsent()
{
    if (m_iCursor < m_list.size())
        ++m_iCursor;
    while (m_iCursor < m_list.size() && m_list[m_iCursor]->m_iSent)
        ++m_iCursor;
    return Current();
}

void Repfile::DeleteCurrent(const std::string& reason)
{
    mailxarticle* p = Current();
    if (!p)
        return;
    if (p->m_szProblem.empty())
        p->m_szProblem = reason;
    --(p->IsEmail() ? m_iEmailCount : m_iNewsCount);
    m_list.erase(m_list.begin() + static_cast<long>(m_iCursor));
}

bool Repfile::AllSent() const
{
    return m_bBelongs && m_szDamage.empty() &&
           std::all_of(m_all.begin(), m_all.end(), [](const auto& p) { return p->m_iSent != 0; });
}
