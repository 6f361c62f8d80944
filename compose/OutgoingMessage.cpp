#include "compose/OutgoingMessage.h"

#include "compose/HeaderText.h"
#include "core/Services.h"
#include "msg/Base64.h"
#include "msg/QuotedPrintable.h"
#include "msg/UuCodec.h"
#include "packet/Repfile.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <unistd.h>

namespace {

// Longer lines of plain text go quoted-printable (with soft breaks).
constexpr std::size_t kMaxPlainLine = 499;

// The body needs quoted-printable: 8-bit characters, long lines, or
// control characters other than tab.
bool NeedsQuotedPrintable(const std::string& text)
{
    std::size_t nLine = 0;
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == '\n') {
            nLine = 0;
            continue;
        }
        if (c >= 0x80 || (c < 0x20 && c != '\t') || c == 0x7F || ++nLine > kMaxPlainLine)
            return true;
    }
    return false;
}

// An attachment's name for a MIME header.
std::string FilenameParameter(const std::string& name)
{
    bool bPlain = true;
    for (char c : name)
        if (static_cast<unsigned char>(c) >= 0x80 || c == '"' || c == '\\')
            bPlain = false;
    if (bPlain)
        return "filename=\"" + name + "\"";
    // RFC 2231: the UTF-8 bytes, percent-encoded where needed.
    std::string out = "filename*=utf-8''";
    const char* hex = "0123456789ABCDEF";
    for (char ch : name) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) || std::strchr("!#$&+-.^_`|~", c))
            out += ch;
        else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

class Writer {
public:
    explicit Writer(std::FILE* f, bool bQP, const char* pszCharset)
        : m_f(f), m_bQP(bQP), m_pszCharset(pszCharset)
    {
    }
    // A line of the body text or of an encoded attachment.
    void Line(const std::string& utf8)
    {
        if (m_bQP)
            Raw(QPEncodeLine(InCharset(utf8, m_pszCharset)));
        else
            Raw(utf8);
    }
    // A structural line (boundaries, MIME headers): never encoded.
    void Raw(const std::string& line)
    {
        std::fwrite(line.data(), 1, line.size(), m_f);
        std::fputc('\n', m_f);
    }
    bool Ok() const { return std::ferror(m_f) == 0; }

private:
    std::FILE* m_f;
    bool m_bQP;
    const char* m_pszCharset;
};

void WriteText(Writer& w, const std::string& body)
{
    std::size_t pos = 0;
    while (pos < body.size()) {
        std::size_t eol = body.find('\n', pos);
        if (eol == std::string::npos)
            eol = body.size();
        w.Line(body.substr(pos, eol - pos));
        pos = eol + 1;
    }
}

bool WriteBase64(Writer& w, const std::string& path)
{
    CBase64Enc enc;
    if (enc.Open(path.c_str()) != 0)
        return false;
    char line[80];
    int rc;
    while ((rc = enc.NextLine(line, sizeof line)) == CBase64Enc::kLine)
        w.Line(line);
    return rc == CBase64Enc::kEnd;
}

bool WriteUuencoded(Writer& w, const std::string& path, const std::string& name)
{
    // The "begin" line carries the name as plain 7-bit text.
    std::string ascii;
    for (char c : name)
        ascii += static_cast<unsigned char>(c) >= 0x80 || c == ' ' ? '_' : c;
    CUUENC enc(path.c_str(), ascii.c_str());
    w.Line("");
    char line[400];
    for (;;) {
        int rc = enc.NextLine(line, sizeof line);
        if (rc == CUUENC::kLine || rc == CUUENC::kEnd)
            w.Line(line);
        if (rc == CUUENC::kLine)
            continue;
        return rc == CUUENC::kEnd;
    }
}

// "In-Reply-To:" and "References:" of a reply whose answered message is
// known; References folded between identifiers so no line passes 78
// characters (an identifier longer than a line gets a line of its own).
void WriteThreading(Writer& head, const mailxarticle& record)
{
    if (record.m_szInReplyTo.empty())
        return;
    head.Raw("In-Reply-To: " + PlainHeaderText(record.m_szInReplyTo));
    std::string line = "References:";
    std::string refs = PlainHeaderText(record.m_szReferences);
    std::size_t pos = 0;
    bool bAny = false;
    while (pos < refs.size()) {
        std::size_t end = refs.find(' ', pos);
        if (end == std::string::npos)
            end = refs.size();
        std::string id = refs.substr(pos, end - pos);
        pos = end + 1;
        if (id.empty())
            continue;
        if (bAny && line.size() + 1 + id.size() > 78) {
            head.Raw(line);
            line.clear();
        }
        line += " " + id;
        bAny = true;
    }
    if (bAny)
        head.Raw(line);
}

} // namespace

bool ParseAddrList(const std::string& text, CAddrList& list)
{
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t comma = text.find(',', pos);
        if (comma == std::string::npos)
            comma = text.size();
        std::string entry = text.substr(pos, comma - pos);
        std::size_t open = entry.rfind('<');
        std::size_t close = entry.rfind('>');
        if (open != std::string::npos && close != std::string::npos && close > open)
            entry = entry.substr(open + 1, close - open - 1);
        std::string clean;
        for (char c : entry)
            if (c != ' ' && c != '\t')
                clean += c;
        if (clean.size() >= 80)
            return false;
        if (!clean.empty())
            list.Add(clean);
        pos = comma + 1;
    }
    return true;
}

std::string OutgoingMessage::MakeBoundary(const std::string& seed)
{
    static const char kChars[] =
        "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ'()+_,-./:=?";
    std::string b = "=_ Boundary ";
    if (seed.empty()) {
        static std::mt19937 s_rng{std::random_device{}()};
        std::uniform_int_distribution<int> pick(0, 73);
        while (b.size() < 29)
            b += kChars[pick(s_rng)];
        return b;
    }
    // FNV-1a of the seed, then a 64-bit LCG: the same on every platform and
    // in every version of the program.
    std::uint64_t x = 14695981039346656037ULL;
    for (unsigned char c : seed)
        x = (x ^ c) * 1099511628211ULL;
    while (b.size() < 29) {
        x = x * 6364136223846793005ULL + 1442695040888963407ULL;
        b += kChars[(x >> 33) % 74];
    }
    return b;
}

OutgoingMessage::OutgoingMessage(const mailxarticle& record, const std::string& dir, bool bMime,
                                 int iEncoding, const char* pszReplyTo, const char* pszOrganization)
    : m_bMime(bMime)
{
    if (!Build(record, dir, iEncoding, pszReplyTo, pszOrganization))
        Discard();
}

OutgoingMessage::~OutgoingMessage() { Discard(); }

void OutgoingMessage::Discard()
{
    if (!m_szHeaderFile.empty())
        ::unlink(m_szHeaderFile.c_str());
    if (!m_szBodyFile.empty())
        ::unlink(m_szBodyFile.c_str());
    m_szHeaderFile.clear();
    m_szBodyFile.clear();
}

bool OutgoingMessage::Build(const mailxarticle& record, const std::string& dir, int iEncoding,
                            const char* pszReplyTo, const char* pszOrganization)
{
    if (!record.IsEmail()) {
        if (!record.m_szNewsgroups) {
            m_szError = "it names no newsgroup";
            return false;
        }
        m_pRecipients = std::make_unique<CAddrList>();
        ParseAddrList(*record.m_szNewsgroups, *m_pRecipients);
        if (m_pRecipients->IsEmpty()) {
            m_szError = "it names no usable newsgroup";
            return false;
        }
    } else {
        if (!record.m_szTo && !record.m_szCc) {
            m_szError = "it has no destination";
            return false;
        }
        for (auto [pText, pList] :
             {std::pair{&record.m_szTo, &m_pRecipients}, std::pair{&record.m_szCc, &m_pCopies}}) {
            if (!*pText)
                continue;
            *pList = std::make_unique<CAddrList>();
            if (!ParseAddrList(**pText, **pList) || (*pList)->IsEmpty())
                pList->reset();
        }
        if (!m_pRecipients && !m_pCopies) {
            m_szError = "it has no usable address (an address of 80 characters or more?)";
            return false;
        }
    }
    m_szSubject = CutUtf8(record.m_szSubject, 511);

    m_szHeaderFile = TempFileName(dir);
    m_szBodyFile = m_szHeaderFile.empty() ? std::string() : TempFileName(dir);
    std::FILE* h = m_szHeaderFile.empty() ? nullptr : std::fopen(m_szHeaderFile.c_str(), "wb");
    std::FILE* b = m_szBodyFile.empty() ? nullptr : std::fopen(m_szBodyFile.c_str(), "wb");
    if (!h || !b) {
        if (h)
            std::fclose(h);
        if (b)
            std::fclose(b);
        m_szError = "cannot create work files in " + dir;
        return false;
    }

    const std::string body = record.Body();
    const bool bAttach = !record.m_szAttachPath.empty();
    const bool bMimeAttach = bAttach && m_bMime;
    const bool bQP = NeedsQuotedPrintable(body);
    const char* pszCharset = CharsetFor(body);
    const std::string textHeaders =
        std::string("Content-Type: text/plain; charset=") + pszCharset +
        "\nContent-Transfer-Encoding: " + (bQP ? "quoted-printable" : "7bit");

    Writer head(h, false, "us-ascii");
    if (pszReplyTo && *pszReplyTo)
        head.Raw("Reply-To: " + PlainHeaderText(pszReplyTo));
    if (pszOrganization && *pszOrganization)
        head.Raw("Organization: " + EncodeHeaderText(pszOrganization, 14));
    if (m_bMime || bQP)
        head.Raw("MIME-Version: 1.0");
    head.Raw("X-Mail-Agent: Mail Tolvan version 1.00a");
    WriteThreading(head, record);
    std::string boundary;
    if (bMimeAttach) {
        boundary = MakeBoundary(record.m_szIdentity);
        head.Raw("Content-Type: multipart/mixed;");
        head.Raw("    boundary=\"" + boundary + "\"");
        head.Raw("");
    } else if (m_bMime || bQP) {
        // In the header file, so that every part of a cut message has them.
        head.Raw(textHeaders);
    }

    Writer text(b, bQP, pszCharset);
    bool bAttachOk = true;
    if (bMimeAttach) {
        text.Raw("");
        text.Raw("--" + boundary);
        text.Raw(textHeaders);
        text.Raw("");
        WriteText(text, body);
        text.Raw("");
        text.Raw("--" + boundary);
        text.Raw("Content-Type: application/octet-stream");
        text.Raw("Content-Transfer-Encoding: Base64");
        text.Raw("Content-Disposition: attachment; " + FilenameParameter(record.m_szAttachName));
        text.Raw("");
        Writer plain(b, false, "us-ascii");
        bAttachOk = WriteBase64(plain, record.m_szAttachPath);
        text.Raw("");
        text.Raw("--" + boundary + "--");
    } else {
        text.Raw("");
        WriteText(text, body);
        if (bAttach && (iEncoding == ENCODING_UUENCODE || iEncoding == ENCODING_BASE64)) {
            text.Line("");
            bAttachOk = iEncoding == ENCODING_UUENCODE
                            ? WriteUuencoded(text, record.m_szAttachPath, record.m_szAttachName)
                            : WriteBase64(text, record.m_szAttachPath);
        }
    }
    bool bWritten = head.Ok() && text.Ok();
    bWritten = std::fclose(h) == 0 && bWritten;
    bWritten = std::fclose(b) == 0 && bWritten;
    if (!bAttachOk) {
        m_szError = "An error occurred during encoding: the attached file " +
                    record.m_szAttachName + " cannot be read.";
        return false;
    }
    if (!bWritten) {
        m_szError = "cannot write the work files in " + dir + " (is the disk full?)";
        return false;
    }
    return true;
}
