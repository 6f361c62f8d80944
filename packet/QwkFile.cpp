#include "packet/QwkFile.h"

#include "core/TnIni.h"
#include "framework/Files.h"
#include "newsgroups/Newsgroups.h"
#include "packet/Rfcmsg.h"
#include "packet/WorkFiles.h"
#include "util/TimeZone.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The first block of messages.dat.
const char kBanner[] = "Produced by Qmail...Copyright (c) 1987 by Sparkware.  All Rights Reserved"
                       "       Above for Compatibility with Qmail              ";
static_assert(sizeof kBanner - 1 == QwkFile::kBlock, "the banner fills one block");

const char kSep = static_cast<char>(QwkFile::kLineSep);

struct FileCloser {
    void operator()(std::FILE* f) const
    {
        if (f)
            std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File Open(const std::string& path, const char* pszMode)
{
    return File(std::fopen(path.c_str(), pszMode));
}

// Closes and reports whether everything written reached the file.
bool Close(File& f)
{
    if (!f)
        return true;
    bool bOk = std::fflush(f.get()) == 0 && !std::ferror(f.get());
    bOk = std::fclose(f.release()) == 0 && bOk;
    return bOk;
}

void Put(std::string& block, std::size_t iOffset, std::size_t nWidth, const std::string& text)
{
    std::size_t n = std::min(nWidth, text.size());
    std::memcpy(&block[iOffset], text.data(), n);
}

std::string TwoDigits(int v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

long long FileSize(const std::string& path)
{
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<long long>(st.st_size);
}

std::string Upper(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

bool IsShortNameChar(unsigned char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return c != 0 && std::strchr("$%'-_@{}~`!#()", c) != nullptr;
}

std::int32_t Setting(const char* pszSection, const char* pszKey, std::int32_t iDefault)
{
    return g_pIni ? g_pIni->GetInt(pszSection, pszKey, iDefault) : iDefault;
}

} // namespace

QwkFile::QwkFile(fw::Window* pProgress, const std::string& dir, const std::string& user,
                 const std::string& packetName, Newsgroups* pGroups, bool bUseReplyTo,
                 bool bLongNames, bool bListAllGroups)
    : m_pProgress(pProgress), m_szDir(dir), m_szUser(user), m_szPacketName(packetName),
      m_pGroups(pGroups), m_bUseReplyTo(bUseReplyTo), m_bLongNames(bLongNames),
      m_bListAllGroups(bListAllGroups)
{
}

// ---------------------------------------------------------------------------
// Fixed-format helpers

std::uint32_t QwkFile::ToMsbin(std::int32_t n)
{
    float f = static_cast<float>(n);
    std::uint32_t ieee;
    std::memcpy(&ieee, &f, sizeof ieee);
    if ((ieee & 0x7FFFFFFFu) == 0)
        return 0;
    std::uint32_t sign = ieee >> 31;
    std::uint32_t exponent = (ieee >> 23) & 0xFFu;
    std::uint32_t mantissa = ieee & 0x7FFFFFu;
    return ((exponent + 2) << 24) | (sign << 23) | mantissa;
}

std::string QwkFile::FoldHeaderList(const std::string& text, char chSeparator)
{
    std::string out, line;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(chSeparator, start);
        if (end == std::string::npos)
            end = text.size();
        std::string piece;
        for (std::size_t i = start; i < end; ++i)
            if (text[i] != ' ' && text[i] != '\t')
                piece.push_back(text[i]);
        start = end + 1;
        if (piece.empty())
            continue;
        // A piece never holds more than 79 characters.
        if (piece.size() > 79)
            piece.resize(79);
        if (line.empty() || line.size() + piece.size() <= 70) {
            line += piece;
        } else {
            out += line;
            out += kSep;
            out += ' ';
            line = piece;
        }
        line += chSeparator;
    }
    out += line;
    if (!out.empty())
        out.pop_back();
    return out;
}

std::string QwkFile::ShortName(const SummaryInfo& record)
{
    if (!record.m_szGivenName || record.m_szGivenName->empty())
        return record.m_szAttachFile;
    const std::string& name = *record.m_szGivenName;
    std::size_t firstDot = name.find('.');
    std::size_t lastDot = name.rfind('.');
    bool bShorten;
    if (firstDot == std::string::npos)
        bShorten = name.size() > 8;
    else
        bShorten = firstDot > 8 || name.size() - lastDot - 1 > 3 || name.size() > 12;
    std::string result;
    if (!bShorten) {
        result = name;
    } else if (lastDot == std::string::npos) {
        result = name.substr(0, 4) + name.substr(name.size() - 4) + ".BIN";
    } else if (lastDot < 4) {
        // Too short a stem for four plus four characters: keep it whole.
        result = name.substr(0, lastDot) + name.substr(lastDot, 4);
    } else {
        result = name.substr(0, 4) + name.substr(lastDot - 4, 4) + name.substr(lastDot, 4);
    }
    // Only characters that are safe in a DOS file name (and that cannot break
    // attached.lst's comma-separated line) survive.
    std::size_t keepDot = result.rfind('.');
    for (std::size_t i = 0; i < result.size(); ++i)
        if (i != keepDot && !IsShortNameChar(static_cast<unsigned char>(result[i])))
            result[i] = '~';
    return result;
}

std::string QwkFile::ConferenceName(const std::string& name, bool bLongNames)
{
    if (bLongNames || name.size() < 14)
        return name;
    return name.substr(0, 6) + "~" + name.substr(name.size() - 6);
}

std::string QwkFile::HeaderBlock(const SummaryInfo& record, const std::string& to,
                                 const std::string& from, std::int32_t iNumber,
                                 std::int32_t iBlocks, bool bPrivate)
{
    std::string block(kBlock, ' ');
    block[0] = bPrivate ? '*' : ' ';
    Put(block, 1, 7, std::to_string(iNumber));
    LocalTime t = tz::ToProcessLocal(record.m_tDate);
    Put(block, 8, 8,
        TwoDigits(t.iMonth) + "-" + TwoDigits(t.iDay) + "-" + TwoDigits(t.iYear % 100));
    Put(block, 16, 5, TwoDigits(t.iHour) + ":" + TwoDigits(t.iMinute));
    Put(block, 21, 25, to);
    Put(block, 46, 25, from);
    Put(block, 71, 25, record.m_szSubject);
    Put(block, 116, 6, std::to_string(iBlocks));
    block[122] = static_cast<char>(kActive);
    block[123] = block[124] = block[125] = block[126] = block[127] = '\0';
    return block;
}

// ---------------------------------------------------------------------------
// Writing

void QwkFile::Fail(const std::string& what)
{
    if (m_error.empty())
        m_error = what;
}

void QwkFile::ListFile(std::FILE* pList, const std::string& name)
{
    std::string path = fw::JoinPath(m_szDir, name);
    if (pList && std::fprintf(pList, "%s\r\n", path.c_str()) < 0)
        Fail("cannot write qwkfiles.lst: " + std::string(std::strerror(errno)));
    ++m_iListed;
}

void QwkFile::Progress(fw::WPARAM wParam, fw::LPARAM lParam)
{
    if (!m_pProgress)
        return;
    m_pProgress->Post(WM_QWKPROGRESS, wParam, lParam);
    if (wParam != 0)
        fw::MessageLoop::DispatchPending();
}

void QwkFile::RemoveStalePacketFiles()
{
    // A packet written earlier from the same records (when handing it on
    // failed) is written again from scratch: messages.dat is only ever
    // appended to.
    for (const std::string& name : fw::ListDirectory(m_szDir)) {
        std::string lower = name;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        bool bNdx = lower.size() >= 7 && lower.compare(lower.size() - 4, 4, ".ndx") == 0 &&
                    std::all_of(lower.begin(), lower.end() - 4,
                                [](char c) { return c >= '0' && c <= '9'; });
        if (bNdx || lower == "messages.dat" || lower == "control.dat" || lower == "attached.lst" ||
            lower == "personal.ndx" || lower == "qwkfiles.lst" || lower == kWorkIndexName)
            ::unlink(fw::JoinPath(m_szDir, name).c_str());
    }
}

bool QwkFile::WritePacket(Rfcmsg& converter)
{
    m_error.clear();
    m_iListed = 0;
    RemoveStalePacketFiles();
    CSummaryList& list = converter.List();
    // Without an index the packet is still whole: replies then go out as
    // the reader wrote them.
    std::string indexPath = fw::JoinPath(m_szDir, kWorkIndexName);
    bool bIndex = m_index.Open(indexPath);

    if (m_pGroups)
        for (bool b = m_pGroups->First(); b; b = m_pGroups->Next())
            m_pGroups->Current()->m_uFlags &= ~NG_INPACKET;

    std::int32_t iTotal = 0;
    bool bAttachments = false, bEmail = false;
    std::vector<std::string> mailingLists;
    for (SummaryInfo* p = list.First(); p; p = list.Next()) {
        converter.SetCurrent(p);
        ++iTotal;
        if (!p->m_szAttachFile.empty())
            bAttachments = true;
        if (p->m_szConference == "email")
            bEmail = true;
        else if (m_pGroups && m_pGroups->Find(p->m_szConference))
            m_pGroups->Current()->m_uFlags |= NG_INPACKET;
        else if (std::find(mailingLists.begin(), mailingLists.end(), p->m_szConference) ==
                 mailingLists.end())
            mailingLists.push_back(p->m_szConference);
    }
    converter.SetCurrent(nullptr);
    std::int32_t iGroupsInPacket = 0;
    if (m_pGroups)
        for (bool b = m_pGroups->First(); b; b = m_pGroups->Next())
            if (m_pGroups->Current()->m_uFlags & NG_INPACKET)
                ++iGroupsInPacket;

    File list_(Open(fw::JoinPath(m_szDir, "qwkfiles.lst"), "wb"));
    if (!list_)
        Fail("cannot create qwkfiles.lst in " + m_szDir + ": " + std::strerror(errno));
    if (bAttachments)
        ListFile(list_.get(), "attached.lst");
    ListFile(list_.get(), "messages.dat");
    ListFile(list_.get(), "control.dat");

    WriteControl(iTotal, mailingLists, iGroupsInPacket);
    Progress(0, iTotal);

    std::int32_t L = static_cast<std::int32_t>(mailingLists.size());
    if (bEmail) {
        WriteConference(list_.get(), "email", 0, converter);
        // Every e-mail record may have been discarded as partial: the index
        // files are listed all the same, so they must exist.
        std::string ndx = fw::JoinPath(m_szDir, "000.ndx");
        if (FileSize(ndx) < 0) {
            File f(Open(ndx, "wb"));
            if (!Close(f))
                Fail("cannot create 000.ndx");
        }
        ListFile(list_.get(), "000.ndx");
        ListFile(list_.get(), "personal.ndx");
        if (!fw::CopyFile(ndx, fw::JoinPath(m_szDir, "personal.ndx"), false))
            Fail("cannot write personal.ndx: " + std::string(std::strerror(errno)));
    }
    char szNdx[32];
    for (std::int32_t i = 0; i < L; ++i) {
        if (WriteConference(list_.get(), mailingLists[static_cast<std::size_t>(i)], i + 1,
                            converter)) {
            std::snprintf(szNdx, sizeof szNdx, "%03d.ndx", i + 1);
            ListFile(list_.get(), szNdx);
        }
    }
    if (m_pGroups) {
        std::vector<std::pair<std::string, std::int32_t>> groups;
        for (bool b = m_pGroups->First(); b; b = m_pGroups->Next())
            if (m_pGroups->Current()->m_uFlags & NG_INPACKET)
                groups.emplace_back(m_pGroups->Current()->m_szName, m_pGroups->Position());
        for (const auto& [name, position] : groups) {
            std::int32_t iConference = position + L + 1;
            if (WriteConference(list_.get(), name, iConference, converter)) {
                std::snprintf(szNdx, sizeof szNdx, "%03d.ndx", iConference);
                ListFile(list_.get(), szNdx);
            }
        }
    }
    // A packet without messages still gets its messages.dat (the banner):
    // it is listed, and readers expect it.
    std::string messages = fw::JoinPath(m_szDir, "messages.dat");
    if (FileSize(messages) <= 0) {
        File f(Open(messages, "wb"));
        if (!f || std::fwrite(kBanner, 1, kBlock, f.get()) != kBlock || !Close(f))
            Fail("cannot write messages.dat: " + std::string(std::strerror(errno)));
    }
    if (!Close(list_))
        Fail("cannot write qwkfiles.lst: " + std::string(std::strerror(errno)));
    if (!m_index.Close() || !bIndex || !m_error.empty())
        ::unlink(indexPath.c_str());
    Progress(0, 0);
    return m_error.empty();
}

bool QwkFile::WriteControl(std::int32_t iTotal, const std::vector<std::string>& mailingLists,
                           std::int32_t iGroupsInPacket)
{
    File f(Open(fw::JoinPath(m_szDir, "control.dat"), "wb"));
    if (!f) {
        Fail("cannot create control.dat: " + std::string(std::strerror(errno)));
        return false;
    }
    std::FILE* out = f.get();
    LocalTime now = tz::ToProcessLocal(static_cast<std::int64_t>(std::time(nullptr)));
    std::int32_t L = static_cast<std::int32_t>(mailingLists.size());
    std::int32_t iGroups =
        m_pGroups ? (m_bListAllGroups ? m_pGroups->Count() : iGroupsInPacket) : 0;
    std::fprintf(out, "Mail Tolvan - An Internet mail gathering utility\r\n");
    std::fprintf(out, "Internet\r\n");
    std::fprintf(out, "000-000-0000\r\n");
    std::fprintf(out, "Mail Tolvan\r\n");
    std::fprintf(out, "00000,%s\r\n", m_szPacketName.c_str());
    std::fprintf(out, "%02d-%02d-%04d,%02d:%02d:%02d\r\n", now.iMonth, now.iDay, now.iYear,
                 now.iHour, now.iMinute, now.iSecond);
    std::fprintf(out, "%s\r\n", m_szUser.c_str());
    std::fprintf(out, "\r\n");
    std::fprintf(out, "0\r\n");
    std::fprintf(out, "%d\r\n", iTotal);
    std::fprintf(out, "%d\r\n", L + iGroups);
    std::fprintf(out, "0\r\nemail\r\n");
    for (std::int32_t i = 0; i < L; ++i)
        std::fprintf(
            out, "%d\r\n%s\r\n", i + 1,
            ConferenceName(mailingLists[static_cast<std::size_t>(i)], m_bLongNames).c_str());
    if (g_pIni)
        g_pIni->WriteInt("Groups", "MailingLists", L);
    if (m_pGroups) {
        m_pGroups->Renumber();
        for (bool b = m_pGroups->First(); b; b = m_pGroups->Next()) {
            const newsgr* g = m_pGroups->Current();
            if (m_bListAllGroups || (g->m_uFlags & NG_INPACKET))
                std::fprintf(out, "%d\r\n%s\r\n", g->m_iConference + L + 1,
                             ConferenceName(g->m_szName, m_bLongNames).c_str());
        }
    }
    if (!Close(f)) {
        Fail("cannot write control.dat: " + std::string(std::strerror(errno)));
        return false;
    }
    return true;
}

bool QwkFile::WriteConference(std::FILE* pList, const std::string& conference,
                              std::int32_t iConference, Rfcmsg& converter)
{
    std::string messagesPath = fw::JoinPath(m_szDir, "messages.dat");
    File messages(Open(messagesPath, "ab"));
    if (!messages) {
        Fail("cannot open messages.dat: " + std::string(std::strerror(errno)));
        return false;
    }
    std::fseek(messages.get(), 0, SEEK_END);
    long long iBlocks = std::ftell(messages.get()) / static_cast<long long>(kBlock);
    if (iBlocks <= 0) {
        std::fwrite(kBanner, 1, kBlock, messages.get());
        iBlocks = 1;
    }
    char szNdx[32];
    std::snprintf(szNdx, sizeof szNdx, "%03d.ndx", iConference);
    File ndx, attached;
    bool bWritten = false;
    std::int32_t n = 1;
    const bool bEmail = iConference == 0;
    CSummaryList& list = converter.List();
    std::vector<char> buffer(64 * 1024);
    for (SummaryInfo* p = list.First(); p; p = list.Next()) {
        converter.SetCurrent(p);
        if (p->m_szConference != conference)
            continue;
        // Only articles: an e-mail that looks like one part of a split file
        // is gone from the server, and a subject such as "1/2 price sale"
        // can look like one.
        if (!bEmail && !p->m_szAttachFile.empty() && p->m_iPartNumber != p->m_iPartsTotal &&
            Setting("Articles", "DiscardPartial", 0) == 1)
            continue;
        bWritten = true;
        BuildMessageFile(*p, m_bUseReplyTo, n);
        m_index.Add({n, iConference, p->m_szFrom, p->m_szReplyTo, p->m_szMessageId,
                     p->m_szReferences, p->m_szNewsgroups});
        if (!ndx) {
            ndx = Open(fw::JoinPath(m_szDir, szNdx), "ab");
            if (!ndx)
                Fail(std::string("cannot create ") + szNdx + ": " + std::strerror(errno));
        }
        if (ndx) {
            std::uint32_t v = ToMsbin(static_cast<std::int32_t>(iBlocks + 1));
            unsigned char record[5] = {
                static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24),
                static_cast<unsigned char>(iConference & 0xFF)};
            std::fwrite(record, 1, sizeof record, ndx.get());
        }
        if (!p->m_szAttachFile.empty()) {
            if (!attached) {
                attached = Open(fw::JoinPath(m_szDir, "attached.lst"), "ab");
                if (!attached)
                    Fail("cannot create attached.lst: " + std::string(std::strerror(errno)));
            }
            if (attached)
                std::fprintf(attached.get(), "%d,%ld,%s,%s\r\n", iConference, static_cast<long>(n),
                             p->m_szAttachFile.c_str(), ShortName(*p).c_str());
            ListFile(pList, p->m_szAttachFile);
        }
        iBlocks += p->m_iBlocks;

        // Append exactly the record's blocks, so that a damaged message file
        // can never shift the messages after it.
        std::size_t nWant = static_cast<std::size_t>(p->m_iBlocks) * kBlock;
        File in(Open(p->BodyPath(), "rb"));
        bool bFirst = true;
        while (nWant > 0) {
            std::size_t nChunk = std::min(nWant, buffer.size());
            std::size_t nGot = in ? std::fread(buffer.data(), 1, nChunk, in.get()) : 0;
            if (nGot < nChunk) {
                Fail("the message file " + p->m_szBodyFile + " is shorter than its blocks");
                std::fill(buffer.begin() + static_cast<long>(nGot),
                          buffer.begin() + static_cast<long>(nChunk), ' ');
            }
            if (bFirst && nChunk >= kBlock) {
                buffer[123] = static_cast<char>(iConference & 0xFF);
                buffer[124] = static_cast<char>((iConference >> 8) & 0xFF);
                bFirst = false;
            }
            std::fwrite(buffer.data(), 1, nChunk, messages.get());
            nWant -= nChunk;
        }

        m_progressText = "Saving " + std::to_string(n) + " messages in conference " + conference;
        Progress(static_cast<fw::WPARAM>(n), reinterpret_cast<fw::LPARAM>(m_progressText.c_str()));
        ++n;
    }
    converter.SetCurrent(nullptr);
    if (!Close(messages))
        Fail("cannot write messages.dat: " + std::string(std::strerror(errno)));
    if (!Close(ndx))
        Fail(std::string("cannot write ") + szNdx + ": " + std::strerror(errno));
    if (!Close(attached))
        Fail("cannot write attached.lst: " + std::string(std::strerror(errno)));
    return bWritten;
}

void QwkFile::BuildMessageFile(SummaryInfo& record, bool bUseReplyTo, std::int32_t iNumber)
{
    const bool bEmail = record.m_szConference == "email";
    const std::string& sender = bUseReplyTo ? record.m_szReplyTo : record.m_szFrom;
    const std::string to = bEmail ? m_szUser : std::string("ALL");

    if (record.m_bPacketReady) {
        // Written once already: only the number may differ.
        std::string block = HeaderBlock(record, to, sender, iNumber, record.m_iBlocks, bEmail);
        File f(Open(record.BodyPath(), "r+b"));
        if (!f || std::fwrite(block.data(), 1, kBlock, f.get()) != kBlock || !Close(f))
            Fail("cannot update the message file " + record.m_szBodyFile);
        return;
    }

    std::string text =
        "From: " + sender + kSep + "Subject: " + FoldHeaderList(record.m_szSubject, ' ') + kSep;
    if (!bEmail) {
        if (record.m_szConference.find('@') != std::string::npos)
            text += "Mailing-List: " + record.m_szConference + kSep;
        else
            text += "Newsgroups: " + FoldHeaderList(record.m_szNewsgroups, ',') + kSep;
    }
    text += kSep;

    std::string note;
    if (!record.m_szAttachFile.empty()) {
        // The packet names attachments in upper case; the file follows its
        // name on this case-sensitive file system.
        std::string upper = Upper(record.m_szAttachFile);
        if (upper != record.m_szAttachFile && fw::IsSafeEntryName(record.m_szAttachFile) &&
            fw::IsSafeEntryName(upper)) {
            std::string from = fw::JoinPath(record.m_szDir, record.m_szAttachFile);
            std::string toPath = fw::JoinPath(record.m_szDir, upper);
            if (FileSize(from) >= 0 && std::rename(from.c_str(), toPath.c_str()) != 0)
                Fail("cannot rename the attachment " + record.m_szAttachFile);
        }
        record.m_szAttachFile = upper;
        const std::string& shown = record.m_szGivenName && !record.m_szGivenName->empty()
                                       ? *record.m_szGivenName
                                       : record.m_szAttachFile;
        if (record.m_iPartNumber == record.m_iPartsTotal)
            note = std::string(1, kSep) +
                   ("File " + shown + " has been attached to this message as") + kSep +
                   "*Enclosed file: " + record.m_szAttachFile + kSep;
        else
            note = std::string(1, kSep) + std::string("* * INCOMPLETE FILE ATTACHMENT * *") + kSep +
                   "File " + shown + " has been attached to this message" + kSep +
                   "*Enclosed file: " + record.m_szAttachFile + kSep;
    }

    long long nBody = std::max(0LL, FileSize(record.BodyPath()));
    long long T = static_cast<long long>(text.size() + note.size()) + nBody;
    long long B = (T + static_cast<long long>(kBlock) - 1) / static_cast<long long>(kBlock);
    record.m_iBlocks = static_cast<std::int32_t>(B + 1);

    std::string name;
    File out;
    std::FILE* pNew = nullptr;
    if (!NewWorkFile(m_szDir, "dat", name, &pNew))
        Fail("cannot create a message file in " + m_szDir + ": " + std::strerror(errno));
    out.reset(pNew);
    if (out) {
        std::string block = HeaderBlock(record, to, sender, iNumber, record.m_iBlocks, bEmail);
        std::fwrite(block.data(), 1, kBlock, out.get());
        std::fwrite(text.data(), 1, text.size(), out.get());
        // The body: LF ends a line in the work files, 0xE3 in the packet.
        File body(nBody > 0 ? Open(record.BodyPath(), "rb") : File());
        std::vector<char> buffer(64 * 1024);
        long long nLeft = nBody;
        while (nLeft > 0) {
            std::size_t nGot = body ? std::fread(buffer.data(), 1,
                                                 static_cast<std::size_t>(std::min<long long>(
                                                     nLeft, static_cast<long long>(buffer.size()))),
                                                 body.get())
                                    : 0;
            if (nGot == 0)
                break;
            std::replace(buffer.begin(), buffer.begin() + static_cast<long>(nGot), '\n', kSep);
            std::fwrite(buffer.data(), 1, nGot, out.get());
            nLeft -= static_cast<long long>(nGot);
        }
        // A body that shrank while we read it still fills its reserved room.
        for (; nLeft > 0; --nLeft)
            std::fputc(' ', out.get());
        std::fwrite(note.data(), 1, note.size(), out.get());
        for (long long pad = B * static_cast<long long>(kBlock) - T; pad > 0; --pad)
            std::fputc(' ', out.get());
        if (!Close(out))
            Fail("cannot write the message file " + name + ": " + std::strerror(errno));
    }
    if (!name.empty()) {
        DeleteWorkFile(record.m_szDir, record.m_szBodyFile);
        record.m_szBodyFile = name;
        record.m_szDir = m_szDir;
        record.m_bPacketReady = true;
    }
}
