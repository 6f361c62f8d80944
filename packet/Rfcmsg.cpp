#include "packet/Rfcmsg.h"

#include "core/TnIni.h"
#include "framework/Files.h"
#include "msg/Base64.h"
#include "msg/CMime.h"
#include "msg/QuotedPrintable.h"
#include "msg/Rfc822.h"
#include "msg/UuCodec.h"
#include "packet/WorkFiles.h"
#include "util/Assert.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <strings.h>
#include <unistd.h>
#include <vector>

// Where the message text comes from: a MIME leaf, or (when the message's
// MIME structure is broken) the whole file read as one plain part.
class RfcLineSource {
public:
    virtual ~RfcLineSource() = default;
    // Like CMIMEBodyPart::ReadLine: up to and including CR LF, at most
    // nCapacity - 1 bytes; -1 at the end.
    virtual int ReadLine(char* pszBuffer, int nCapacity) = 0;
};

class PartSource : public RfcLineSource {
public:
    explicit PartSource(CMIMEBodyPart* pPart) : m_pPart(pPart) { m_pPart->Rewind(); }
    int ReadLine(char* pszBuffer, int nCapacity) override
    {
        return m_pPart->ReadLine(pszBuffer, nCapacity);
    }

private:
    CMIMEBodyPart* m_pPart;
};

class FileSource : public RfcLineSource {
public:
    explicit FileSource(const std::string& path) : m_pFile(std::fopen(path.c_str(), "rb")) {}
    ~FileSource() override
    {
        if (m_pFile)
            std::fclose(m_pFile);
    }
    bool IsOpen() const { return m_pFile != nullptr; }
    int ReadLine(char* pszBuffer, int nCapacity) override
    {
        if (!m_pFile)
            return -1;
        int n = 0;
        int c;
        while (n < nCapacity - 1 && (c = std::fgetc(m_pFile)) != EOF) {
            pszBuffer[n++] = static_cast<char>(c);
            if (c == '\n' && n >= 2 && pszBuffer[n - 2] == '\r')
                break;
        }
        pszBuffer[n] = '\0';
        return n == 0 ? -1 : n;
    }

private:
    std::FILE* m_pFile;
};

namespace {

// Lines are read with this buffer (999 bytes and a NUL): a longer line comes
// in pieces.
constexpr int kLineBuffer = 1000;
constexpr std::size_t kMaxPiece = kLineBuffer - 1;

} // namespace

// Cuts the text of a part into pieces of at most kMaxPiece bytes: a whole
// line with its CR LF, or the next bytes of a longer line.  A CR LF is never
// cut in two (a line end read as two halves would be lost), and the next
// piece can be looked at before it is taken.
class PieceReader {
public:
    explicit PieceReader(RfcLineSource& source) : m_source(source) {}
    // The next piece without taking it; empty at the end of the part.
    std::string_view Peek()
    {
        Fill();
        std::size_t avail = m_end - m_begin;
        if (avail == 0)
            return {};
        std::size_t n = std::min(avail, kMaxPiece);
        const char* p = m_buf + m_begin;
        std::size_t piece = n;
        const void* lf = std::memchr(p + 1, '\n', n - 1);
        while (lf) {
            std::size_t i = static_cast<std::size_t>(static_cast<const char*>(lf) - p);
            if (p[i - 1] == '\r') {
                piece = i + 1;
                break;
            }
            lf = std::memchr(p + i + 1, '\n', n - i - 1);
        }
        if (piece == kMaxPiece && p[piece - 1] == '\r')
            --piece; // the LF may be the next byte: keep the pair together
        m_piece = piece;
        return std::string_view(p, piece);
    }
    // Takes the piece that Peek answered.
    void Take()
    {
        m_begin += m_piece;
        m_piece = 0;
    }
    // Whether the part could not be read to its end.
    bool Failed() const { return m_bFailed; }

private:
    void Fill()
    {
        if (m_bEof || m_end - m_begin > kMaxPiece)
            return;
        std::memmove(m_buf, m_buf + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
        while (!m_bEof && m_end <= kMaxPiece) {
            int k = m_source.ReadLine(m_buf + m_end, static_cast<int>(sizeof m_buf - m_end));
            if (k <= 0) {
                // -1 is the end; anything else (a read error, a file
                // shorter than its parts claim) leaves text unread.
                m_bEof = true;
                m_bFailed = k != -1;
            } else {
                m_end += static_cast<std::size_t>(k);
            }
        }
    }

    RfcLineSource& m_source;
    char m_buf[3 * kLineBuffer];
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    std::size_t m_piece = 0;
    bool m_bEof = false;
    bool m_bFailed = false;
};

// What ConvertLines needs to know about a part.
struct RfcPart {
    std::string type;
    std::string subtype;
    std::string encoding;
    std::optional<std::string> given; // the name the sender gave it
    bool bAttachment = false;         // a text part kept as an attachment
    SummaryInfo* pJoin = nullptr;     // the earlier part whose file it continues
};

namespace {

// The longest header value kept (a hostile message cannot make us hold more).
constexpr std::size_t kMaxHeaderValue = 64 * 1024;

bool IEquals(const std::string& a, const char* b) { return ::strcasecmp(a.c_str(), b) == 0; }

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::string RemoveQuotes(std::string s)
{
    s.erase(std::remove(s.begin(), s.end(), '"'), s.end());
    return s;
}

struct FileCloser {
    void operator()(std::FILE* f) const
    {
        if (f)
            std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Closes an output file; false when anything written did not reach it.
bool CloseOutput(File& f)
{
    if (!f)
        return true;
    bool bOk = std::fflush(f.get()) == 0 && !std::ferror(f.get());
    return std::fclose(f.release()) == 0 && bOk;
}

// Reads the values of several header fields in one pass over the header
// block: for each name (with its colon, case ignored) the first field's
// value, unfolded by appending each continuation line as it stands.
std::vector<std::optional<std::string>> ReadHeaders(const std::string& path,
                                                    const std::vector<const char*>& names)
{
    std::vector<std::optional<std::string>> values(names.size());
    File f(std::fopen(path.c_str(), "rb"));
    if (!f)
        return values;
    std::string line;
    int iOpen = -1; // index of the field being unfolded
    for (;;) {
        line.clear();
        int c;
        bool bAny = false;
        while ((c = std::fgetc(f.get())) != EOF) {
            bAny = true;
            if (c == '\n')
                break;
            if (line.size() < kMaxHeaderValue)
                line.push_back(static_cast<char>(c));
        }
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!bAny || line.empty())
            break; // end of file or the empty line ending the header block
        if (line[0] == ' ' || line[0] == '\t') {
            if (iOpen >= 0) {
                std::string& v = *values[static_cast<std::size_t>(iOpen)];
                v.append(line, 0, kMaxHeaderValue - std::min(kMaxHeaderValue, v.size()));
            }
            continue;
        }
        iOpen = -1;
        for (std::size_t i = 0; i < names.size(); ++i) {
            std::size_t n = std::strlen(names[i]);
            if (values[i] || line.size() < n || ::strncasecmp(line.c_str(), names[i], n) != 0)
                continue;
            std::size_t start = n;
            while (start < line.size() && (line[start] == ' ' || line[start] == '\t'))
                ++start;
            values[i] = line.substr(start);
            iOpen = static_cast<int>(i);
            break;
        }
    }
    return values;
}

// The part marker n/N of a subject: from the last "/" back to the nearest
// "[", "(" or blank, then "[n/N]", "(n/N)" or " n/N ".  The base is the
// subject without the marker, the same for every part of one series.
struct PartMarker {
    std::int32_t iPart = 0;
    std::int32_t iTotal = 0;
    std::string base;
};

bool ParsePartMarker(const std::string& subject, PartMarker& marker)
{
    std::size_t slash = subject.rfind('/');
    if (slash == std::string::npos)
        return false;
    std::size_t start = subject.find_last_of("[( ", slash);
    if (start == std::string::npos)
        start = 0;
    const char* p = subject.c_str() + start;
    int a = 0, b = 0, len = 0;
    char close = 0;
    if (std::sscanf(p, "[%d/%d%n", &a, &b, &len) == 2)
        close = ']';
    else if (std::sscanf(p, "(%d/%d%n", &a, &b, &len) == 2)
        close = ')';
    else if (std::sscanf(p, " %d/%d%n", &a, &b, &len) == 2)
        close = ' ';
    else
        return false;
    // "25/12" is no n of N.
    if (a < 0 || b < 1 || a > b)
        return false;
    std::size_t end = start + static_cast<std::size_t>(len);
    while (end < subject.size() && subject[end] == close) {
        ++end;
        if (close != ' ')
            break;
    }
    marker.iPart = a;
    marker.iTotal = b;
    marker.base = subject.substr(0, start) + subject.substr(end);
    return true;
}

// The encoding that continues an earlier part's attachment, by the way that
// attachment was decoded; null when it cannot be continued.
const char* ContinuationEncoding(std::int32_t iEncoding)
{
    switch (iEncoding) {
    case ENC_BASE64:
        return "base64";
    case ENC_UUENCODE:
        return "uuencode";
    case ENC_QUOTED:
        return "quoted-printable";
    case ENC_BINARY:
        return "binary";
    default:
        return nullptr;
    }
}

// The name the sender gave a part: its Content-Disposition parameter, else
// its Content-Type parameter "name" or "filename".
std::optional<std::string> GivenName(const CMIMEBodyPart& part)
{
    if (const char* psz = part.DispositionName())
        return std::string(psz);
    for (const CMIMEParamTuple& t : part.Params()) {
        if (IEquals(t.name, "name") || IEquals(t.name, "filename"))
            return t.value;
    }
    return std::nullopt;
}

// A "begin" line of a uuencoded file: "begin", an octal mode and a name.
bool IsBeginLine(std::string_view line, std::string* pName)
{
    if (line.size() < 6 || ::strncasecmp(line.data(), "begin ", 6) != 0)
        return false;
    std::size_t i = line.find_first_not_of(" \t", 6);
    if (i == std::string_view::npos || line[i] < '0' || line[i] > '7')
        return false;
    unsigned uMode = 0;
    return CUUDEC::ScanBeginLine(line, true, &uMode, pName);
}

void Append(std::FILE* f, const void* p, std::size_t n)
{
    if (f && n)
        std::fwrite(p, 1, n, f);
}

// Whether a uuencoded block inside text is over before this line: the
// decoder has passed its "end" line or stopped on a broken line, or it has
// seen the zero-length line and this line is not "end", or this line cannot
// be data.  The line is then text.
bool UuBlockOver(const CUUDEC& uu, std::string_view line)
{
    switch (uu.GetState()) {
    case CUUDEC::Body:
        return !CUUDEC::IsBodyLine(line);
    case CUUDEC::End: {
        std::size_t e = line.size();
        while (e > 0 && (line[e - 1] == '\r' || line[e - 1] == '\n' || line[e - 1] == ' ' ||
                         line[e - 1] == '\t'))
            --e;
        return line.substr(0, e) != "end";
    }
    default:
        return true;
    }
}

// Decoded text of a text part: MIME text has CR LF line ends, the body file
// LF ones, so each CR LF becomes an LF (also when the pair is split between
// two pieces: bPendingCr carries a CR from the end of the last one).  A CR
// standing alone is data and stays.
void AppendText(std::FILE* f, const unsigned char* p, std::size_t n, bool& bPendingCr)
{
    std::string out;
    out.reserve(n + 1);
    for (std::size_t i = 0; i < n; ++i) {
        if (bPendingCr && p[i] != '\n')
            out += '\r';
        bPendingCr = p[i] == '\r';
        if (!bPendingCr)
            out += static_cast<char>(p[i]);
    }
    Append(f, out.data(), out.size());
}

} // namespace

// ---------------------------------------------------------------------------

Rfcmsg::Rfcmsg(const std::string& dir, bool bNoPartDetection)
    : m_szDir(dir), m_bNoPartDetection(bNoPartDetection)
{
}

Rfcmsg::~Rfcmsg() = default;

std::optional<std::string> Rfcmsg::GetHeader(const char* pszName, const std::string& path)
{
    MT_ASSERT(pszName != nullptr);
    return ReadHeaders(path, {pszName})[0];
}

std::int32_t Rfcmsg::LineLimit(const std::string& group) const
{
    if (!g_pIni)
        return 0;
    return g_pIni->GetInt(group == "email" ? "Email" : "Articles", "ReceiveSize", 0);
}

void Rfcmsg::ConvertFile(const std::string& path, std::int32_t iNumber, const std::string& group)
{
    // A file we cannot read is left where it is (the work directory is
    // emptied at exit); deleting it would lose a message we never saw.
    if (::access(path.c_str(), R_OK) != 0) {
        m_pCurrent = nullptr;
        return;
    }
    Convert(path, iNumber, group);
    if (!m_bWriteFailed)
        ::unlink(path.c_str());
}

void Rfcmsg::Convert(const std::string& path, std::int32_t iNumber, const std::string& group)
{
    m_szGroup = group;
    m_bWriteFailed = false;
    m_altTaken.clear();
    auto pRecord = std::make_unique<SummaryInfo>(m_szDir);
    auto values = ReadHeaders(path, {"Message-ID:", "From:", "Reply-To:", "Subject:", "Newsgroups:",
                                     "Date:", "Sender:", "References:"});
    pRecord->m_szMessageId = values[0].value_or("");
    pRecord->m_szFrom = values[1].value_or("");
    pRecord->m_szReplyTo = values[2] ? *values[2] : pRecord->m_szFrom;
    pRecord->m_szSubject = values[3].value_or("");
    PartMarker marker;
    if (!m_bNoPartDetection && pRecord->m_szSubject.find('/') != std::string::npos &&
        ParsePartMarker(pRecord->m_szSubject, marker)) {
        pRecord->m_iPartNumber = marker.iPart;
        pRecord->m_iPartsTotal = marker.iTotal;
    }
    pRecord->m_szNewsgroups = values[4].value_or("");
    pRecord->m_szReferences = values[7].value_or("");
    std::int64_t tDate = values[5] ? ParseRfc822Date(*values[5]) : -1;
    pRecord->m_tDate = tDate < 0 ? Now() : tDate;
    if (group == "email")
        pRecord->m_szConference = values[6] ? *values[6] : std::string("email");
    else
        pRecord->m_szConference = group;
    pRecord->m_iNumber = iNumber;
    // A message without an identifier is kept under one of our own: dropping
    // it would lose it for good once the server has deleted it.
    if (pRecord->m_szMessageId.empty())
        pRecord->m_szMessageId = "<" + MakeMessageId() + ">";

    m_pPending = std::move(pRecord);
    m_pCurrent = m_pPending.get();
    m_iLineLimit = LineLimit(group);

    // A truncated message (no closing delimiter) still has its parts; one
    // whose parts cannot be found at all is read as text.
    CMIMEMsg msg;
    bool bJoined = false;
    if (msg.Open(path.c_str(), true)) {
        m_pMsg = &msg;
        m_pPart = msg.FirstPart();
        if (m_pPending->m_iPartNumber >= 2)
            bJoined = JoinContinuation(msg, marker.base);
        if (!bJoined && m_pPart)
            ConvertPart(m_pCurrent);
        if (!bJoined && m_pPart && (m_pPart = msg.NextPart()) != nullptr)
            ConvertPart(m_pCurrent);
        while (!bJoined && m_pPart && (m_pPart = msg.NextPart()) != nullptr) {
            std::unique_ptr<SummaryInfo> pNext = m_pPending->CopyHeaders();
            m_list.Add(std::move(m_pPending));
            m_pPending = std::move(pNext);
            m_pCurrent = m_pPending.get();
            ConvertPart(m_pCurrent);
        }
        m_pMsg = nullptr;
        m_pPart = nullptr;
    } else {
        // The file cannot be mapped: read it as plain text, so that the
        // body is kept rather than dropped.
        if (m_pPending->m_iPartNumber >= 2) {
            m_pPending->m_iPartNumber = 0;
            m_pPending->m_iPartsTotal = 0;
        }
        FileSource source(path);
        RfcPart part;
        part.type = "text";
        part.subtype = "plain";
        part.encoding = "7bit";
        if (source.IsOpen())
            ConvertLines(source, part);
        else
            m_bWriteFailed = true;
    }

    std::unique_ptr<SummaryInfo> pLast = std::move(m_pPending);
    if (bJoined) {
        m_pCurrent = nullptr; // its data went into the earlier part's file
    } else {
        m_pCurrent = m_list.Add(std::move(pLast));
    }
}

bool Rfcmsg::JoinContinuation(CMIMEMsg& msg, const std::string& base)
{
    SummaryInfo* r = m_pPending.get();
    // A continuation of a split post is a single part that is not a
    // multipart and carries no file name of its own; anything else is a
    // message whose subject merely looks like a part marker.
    CMIMEBodyPart* pRoot = msg.Root();
    bool bShape = pRoot && !pRoot->FirstChild() && !pRoot->IsMultipart() && !pRoot->IsRepaired() &&
                  !GivenName(*pRoot);
    if (!bShape) {
        r->m_iPartNumber = 0;
        r->m_iPartsTotal = 0;
        return false;
    }
    // The earlier part must really be here: the same series (same base
    // subject, sender, place and total) with the previous part number, and
    // an attachment that can be continued.
    SummaryInfo* pEarlier = nullptr;
    for (SummaryInfo* p = m_list.First(); p; p = m_list.Next()) {
        PartMarker other;
        if (p->m_iPartNumber == r->m_iPartNumber - 1 && p->m_iPartsTotal == r->m_iPartsTotal &&
            p->m_szFrom == r->m_szFrom && p->m_szConference == r->m_szConference &&
            !p->m_szAttachFile.empty() && ContinuationEncoding(p->m_iEncoding) &&
            ParsePartMarker(p->m_szSubject, other) && other.base == base) {
            pEarlier = p;
            break;
        }
    }
    if (!pEarlier) {
        r->m_iPartNumber = -1; // kept as a message of its own
        return false;
    }
    if (!m_pPart || !m_pPart->Open()) {
        m_bWriteFailed = true;
        r->m_iPartNumber = -1;
        return false;
    }
    pEarlier->m_iPartNumber = r->m_iPartNumber;
    RfcPart part;
    part.type = m_pPart->Type();
    part.subtype = m_pPart->SubType();
    part.encoding = m_pPart->Encoding();
    part.pJoin = pEarlier;
    PartSource source(m_pPart);
    ConvertLines(source, part);
    m_pPart->Close();
    return true;
}

SummaryInfo* Rfcmsg::ConvertPart(SummaryInfo* pRecord)
{
    MT_ASSERT(pRecord != nullptr && pRecord == m_pPending.get());
    if (!m_pPart)
        return pRecord;
    if (!m_pPart->Open()) {
        m_bWriteFailed = true; // the part's text could not be read
        return pRecord;
    }
    MT_ASSERT(!m_pPart->IsMultipart());
    RfcPart part;
    part.type = m_pPart->Type();
    part.subtype = m_pPart->SubType();
    part.encoding = m_pPart->Encoding();
    part.given = GivenName(*m_pPart);
    if (IEquals(part.type, "text")) {
        // Alternatives are one message in several forms: the first text
        // part is the message, the other forms are attachments of it.
        bool bInAlternative = false, bTaken = false;
        for (CMIMEBodyPart* p = m_pPart->Parent(); p; p = p->Parent()) {
            if (p->IsMultipart() && IEquals(p->SubType(), "alternative")) {
                bInAlternative = true;
                bTaken = bTaken ||
                         std::find(m_altTaken.begin(), m_altTaken.end(), p) != m_altTaken.end();
            }
        }
        if (bTaken) {
            part.bAttachment = true;
        } else if (bInAlternative) {
            for (CMIMEBodyPart* p = m_pPart->Parent(); p; p = p->Parent()) {
                if (p->IsMultipart() && IEquals(p->SubType(), "alternative"))
                    m_altTaken.push_back(p);
            }
        }
    }
    PartSource source(m_pPart);
    ConvertLines(source, part);
    m_pPart->Close();
    return m_pCurrent;
}

void Rfcmsg::StartNewRecord()
{
    std::unique_ptr<SummaryInfo> pNext = m_pPending->CopyHeaders();
    m_list.Add(std::move(m_pPending));
    m_pPending = std::move(pNext);
    m_pCurrent = m_pPending.get();
}

std::string Rfcmsg::NewFile(const char* pszExtension, std::FILE** ppFile)
{
    std::string name;
    if (!NewWorkFile(m_szDir, pszExtension, name, ppFile)) {
        m_bWriteFailed = true;
        return std::string();
    }
    return name;
}

void Rfcmsg::ConvertLines(RfcLineSource& source, const RfcPart& part)
{
    std::string encoding = part.encoding;
    // A text part becomes body text (LF line ends); a joined continuation
    // and a text kept as an attachment keep their bytes.
    const bool bTextPart = IEquals(part.type, "text") && !part.bAttachment && !part.pJoin;
    CUUDEC uu;
    CBase64Dec b64;
    bool bUuMode = false;
    std::string outPath;
    bool bOutIsBody = false; // the output is the current record's body file
    SummaryInfo* r = m_pCurrent;
    std::FILE* pNew = nullptr; // a file made here, already open

    if (part.pJoin) {
        // The data and its encoding kind belong to the earlier part.
        r = part.pJoin;
        outPath = r->AttachPath();
        encoding = ContinuationEncoding(r->m_iEncoding);
        if (r->m_iEncoding == ENC_UUENCODE)
            uu.StartInBody(); // its "begin" line came with the first part
    } else if (bTextPart) {
        // A second text part never replaces the first: it gets a record of
        // its own.
        if (!r->m_szBodyFile.empty()) {
            StartNewRecord();
            r = m_pCurrent;
        }
        r->m_szBodyFile = NewFile("txt", &pNew);
        outPath = r->BodyPath();
        bOutIsBody = true;
    } else {
        if (!r->m_szAttachFile.empty()) {
            StartNewRecord();
            r = m_pCurrent;
        }
        r->m_szAttachFile = NewFile("att", &pNew);
        outPath = r->AttachPath();
        std::string given = part.given.value_or(r->m_szAttachFile);
        if (!part.given && part.bAttachment && !r->m_szAttachFile.empty()) {
            // Another form of the text: named so that a reader opens it.
            given = r->m_szAttachFile.substr(0, r->m_szAttachFile.rfind('.')) +
                    (IEquals(part.subtype, "html") ? ".htm" : ".txt");
        }
        r->m_szGivenName = RemoveQuotes(given);
    }

    File out(pNew ? pNew : outPath.empty() ? nullptr : std::fopen(outPath.c_str(), "ab"));
    if (!out)
        m_bWriteFailed = true;
    auto finish = [&]() {
        if (!CloseOutput(out))
            m_bWriteFailed = true;
    };
    const bool bBase64 = IEquals(encoding, "base64");
    const bool bQuoted = IEquals(encoding, "quoted-printable");
    const bool bUuencode = IEquals(encoding, "uuencode") || IEquals(encoding, "x-uuencode");
    const bool bBinary =
        IEquals(encoding, "8bit") || IEquals(encoding, "8-bit") || IEquals(encoding, "binary");
    const std::int32_t iLimit = m_iLineLimit;

    PieceReader reader(source);
    char line[kLineBuffer];
    unsigned char bytes[kLineBuffer + 4];
    std::string qp;          // quoted-printable text of the line so far
    std::vector<char> qpOut; // its decoded bytes
    bool bInHeader = true;
    bool bAtLineStart = true; // the piece read starts a line
    bool bOpenLine = false;   // a text line was begun but not yet ended
    bool bTextMode = false;
    bool bPendingCr = false; // decoded text ended in a CR: an LF may follow
    std::int32_t iCount = 0;
    for (;;) {
        std::string_view piece = reader.Peek();
        if (piece.empty())
            break;
        reader.Take();
        const int n = static_cast<int>(piece.size());
        std::memcpy(line, piece.data(), piece.size());
        line[n] = '\0';
        const bool bWholeLine = n >= 2 && line[n - 2] == '\r' && line[n - 1] == '\n';
        const bool bStartsLine = bAtLineStart;
        bAtLineStart = bWholeLine;
        if (bInHeader) {
            if (bStartsLine && n == 2 && bWholeLine)
                bInHeader = false;
            continue;
        }
        std::size_t nBytes = 0;
        bool bCountLine = false;
        if (bUuMode && UuBlockOver(uu, std::string_view(line, static_cast<std::size_t>(n)))) {
            // The uuencoded file inside the text has ended: what follows is
            // text again (and may hold another file), so it goes on in the
            // record's body file instead of being thrown away.
            bUuMode = false;
            finish();
            std::FILE* pBody = nullptr;
            if (r->m_szBodyFile.empty()) {
                r->m_szBodyFile = NewFile("txt", &pBody);
            } else {
                pBody = std::fopen(r->BodyPath().c_str(), "ab");
            }
            out.reset(pBody);
            if (!pBody)
                m_bWriteFailed = true;
            outPath = r->BodyPath();
            bOutIsBody = true;
        }
        if (bBase64) {
            r->m_iEncoding = ENC_BASE64;
            int k = b64.Decode(line, n, bytes, n + 3);
            nBytes = k > 0 ? static_cast<std::size_t>(k) : 0;
            if (bTextPart)
                AppendText(out.get(), bytes, nBytes, bPendingCr);
            else
                Append(out.get(), bytes, nBytes);
        } else if (bQuoted) {
            r->m_iEncoding = ENC_QUOTED;
            // A line longer than a piece is decoded as it comes, but an
            // escape or a soft break cut by the end of the piece waits for
            // the rest of it in the next one.
            const bool bLast = !bWholeLine && reader.Peek().empty();
            qp.append(line, static_cast<std::size_t>(n));
            std::size_t e = qp.size();
            std::size_t keep = e;
            if (bWholeLine || bLast) {
                // The line end is taken off before decoding, so that an
                // encoded CR or LF ("=0D", "=0A") stays data.
                while (e > 0 && (qp[e - 1] == '\r' || qp[e - 1] == '\n'))
                    --e;
                keep = e;
            } else {
                std::size_t eq = qp.rfind('=');
                if (eq != std::string::npos && e - eq < 256 &&
                    (e - eq <= 2 || qp.find_first_not_of(" \t", eq + 1) == std::string::npos))
                    keep = eq;
            }
            qpOut.resize(std::max(qpOut.size(), keep + 1));
            int k = QPDecodeLine(std::string_view(qp.data(), keep), qpOut.data(),
                                 static_cast<int>(keep + 1));
            Append(out.get(), qpOut.data(), k > 0 ? static_cast<std::size_t>(k) : 0);
            if (bWholeLine || bLast) {
                // A soft line break ("=" at the end) joins this line to the
                // next; a hard one ends a text line, or is CR LF inside an
                // attachment.
                while (e > 0 && (qp[e - 1] == ' ' || qp[e - 1] == '\t'))
                    --e;
                bool bSoft = e > 0 && qp[e - 1] == '=';
                if (bSoft) {
                    bOpenLine = false;
                } else if (bWholeLine) {
                    if (bTextPart)
                        Append(out.get(), "\n", 1);
                    else
                        Append(out.get(), "\r\n", 2);
                    bOpenLine = false;
                } else {
                    // The part's last line (its CR LF belongs to the
                    // delimiter) still ends a text line; an attachment's
                    // bytes end here.
                    bOpenLine = bTextPart;
                }
                qp.clear();
            } else {
                qp.erase(0, keep);
                bOpenLine = bTextPart;
            }
        } else if (bUuencode || bUuMode) {
            r->m_iEncoding = ENC_UUENCODE;
            int k = uu.DecodeLine(std::string_view(line, static_cast<std::size_t>(n)), bytes,
                                  static_cast<int>(sizeof bytes));
            Append(out.get(), bytes, k > 0 ? static_cast<std::size_t>(k) : 0);
        } else if (bBinary && !bTextPart) {
            r->m_iEncoding = ENC_BINARY;
            Append(out.get(), line, static_cast<std::size_t>(n));
        } else {
            if (bBinary)
                r->m_iEncoding = ENC_BINARY;
            std::string beginName;
            // A "begin" line starts a uuencoded file only when uuencoded
            // data follows it; "begin 10 minutes early" is text.
            if (!bBinary && bStartsLine && bWholeLine &&
                IsBeginLine(std::string_view(line, static_cast<std::size_t>(n)), &beginName) &&
                CUUDEC::IsDataLine(reader.Peek())) {
                // A uuencoded file inside the text: its bytes go to an
                // attachment of their own.
                bUuMode = true;
                bTextMode = false;
                if (bOpenLine) {
                    Append(out.get(), "\n", 1);
                    bOpenLine = false;
                }
                finish();
                if (!r->m_szAttachFile.empty() && r == m_pCurrent) {
                    StartNewRecord();
                    r = m_pCurrent;
                }
                // A file with a name of its own: whatever the subject says,
                // this message is not a part of a split post.
                if (r->m_iPartNumber < 0) {
                    r->m_iPartNumber = 0;
                    r->m_iPartsTotal = 0;
                }
                r->m_iEncoding = ENC_UUENCODE;
                std::FILE* pAtt = nullptr;
                r->m_szAttachFile = NewFile("att", &pAtt);
                r->m_szGivenName = beginName;
                outPath = r->AttachPath();
                bOutIsBody = false;
                out.reset(pAtt);
                if (!pAtt)
                    m_bWriteFailed = true;
                uu.StartInBody();
                continue;
            }
            bTextMode = true;
            std::size_t m = static_cast<std::size_t>(n);
            while (m > 0 && (line[m - 1] == '\r' || line[m - 1] == '\n'))
                --m;
            Append(out.get(), line, m);
            if (bWholeLine) {
                Append(out.get(), "\n", 1);
                bOpenLine = false;
                bCountLine = true;
            } else {
                bOpenLine = true; // a longer line continues in the next piece
            }
        }
        if (!bCountLine)
            continue;
        ++iCount;
        if (bTextMode && bOutIsBody && iLimit > 0 && iCount > iLimit && r == m_pCurrent) {
            // The line limit: the rest of the text goes on in a new record.
            m_bSplit = true;
            finish();
            StartNewRecord();
            r = m_pCurrent;
            std::FILE* pBody = nullptr;
            r->m_szBodyFile = NewFile("txt", &pBody);
            outPath = r->BodyPath();
            out.reset(pBody);
            if (!pBody)
                m_bWriteFailed = true;
            iCount = 0;
        }
    }
    if (reader.Failed())
        m_bWriteFailed = true;
    if (bOpenLine)
        Append(out.get(), "\n", 1);
    if (bBase64 && b64.Pending() >= 2) {
        // The last group lacked its padding: its bytes are still data.
        const char* pad = b64.Pending() == 2 ? "==" : "=";
        int k = b64.Decode(pad, static_cast<int>(std::strlen(pad)), bytes, 4);
        std::size_t m = k > 0 ? static_cast<std::size_t>(k) : 0;
        if (bTextPart)
            AppendText(out.get(), bytes, m, bPendingCr);
        else
            Append(out.get(), bytes, m);
    }
    if (bPendingCr)
        Append(out.get(), "\r", 1); // a CR at the very end is data
    finish();
    if (bUuencode && !uu.GetName().empty())
        r->m_szGivenName = uu.GetName();
}

void Rfcmsg::AddOverview(const std::string& line)
{
    std::vector<std::string> f;
    std::size_t start = 0;
    for (;;) {
        std::size_t tab = line.find('\t', start);
        f.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            break;
        start = tab + 1;
    }
    f.resize(std::max<std::size_t>(f.size(), 8));
    auto p = std::make_unique<SummaryInfo>(m_szDir);
    p->m_iNumber = static_cast<std::int32_t>(std::strtol(f[0].c_str(), nullptr, 10));
    p->m_szSubject = f[1];
    p->m_szFrom = f[2];
    std::int64_t t = f[3].empty() ? -1 : ParseRfc822Date(f[3]);
    p->m_tDate = t < 0 ? Now() : t;
    p->m_szMessageId = f[4];
    p->m_szReferences = f[5];
    p->m_iLines = static_cast<std::int32_t>(std::strtol(f[7].c_str(), nullptr, 10));
    p->m_iBlocks = 32;
    if (p->m_szMessageId.empty()) {
        m_pCurrent = nullptr;
        return;
    }
    m_pCurrent = m_list.Add(std::move(p));
}
