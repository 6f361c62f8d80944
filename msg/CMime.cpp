#include "msg/CMime.h"

#include "msg/Rfc822.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace {

bool EqualsNoCase(const std::string& a, const char* b)
{
    return ::strcasecmp(a.c_str(), b) == 0 && std::strlen(b) == a.size();
}

// Tokens of a header value with comments skipped.
class FieldTokens {
public:
    FieldTokens(const char* pszValue, int iMode)
        : m_p(pszValue), m_end(pszValue + std::strlen(pszValue)), m_iMode(iMode),
          m_buf(static_cast<std::size_t>(m_end - m_p) + 2)
    {
    }
    TokenKind Next()
    {
        TokenKind k;
        do {
            m_p = NextToken(m_iMode, m_p, m_buf.data(), static_cast<int>(m_buf.size()), &k, m_end);
        } while (k == TokenKind::Comment);
        return k;
    }
    const char* Text() const { return m_buf.data(); }
    bool Is(TokenKind k, TokenKind want, char c) const
    {
        return k == want && m_buf[0] == c && m_buf[1] == 0;
    }

private:
    const char* m_p;
    const char* m_end;
    int m_iMode;
    std::vector<char> m_buf;
};

const char* ValueOf(const char* pszHeader)
{
    const char* colon = std::strchr(pszHeader, ':');
    return colon ? colon + 1 : nullptr;
}

} // namespace

// ------------------------------------------------------------------ params

void CMIMEParamList::Add(std::string name, std::string value)
{
    m_items.push_back({std::move(name), std::move(value)});
}

const char* CMIMEParamList::Find(const char* pszName) const
{
    for (const CMIMEParamTuple& t : m_items)
        if (EqualsNoCase(t.name, pszName))
            return t.value.c_str();
    return nullptr;
}

// ------------------------------------------------------------------ fields

bool CMIMEBodyPart::HeaderNameIs(const std::string& line, const char* pszName)
{
    std::size_t colon = line.find(':');
    if (colon == std::string::npos)
        return false;
    std::size_t n = colon;
    while (n > 0 && (line[n - 1] == ' ' || line[n - 1] == '\t'))
        --n;
    return n == std::strlen(pszName) && ::strncasecmp(line.data(), pszName, n) == 0;
}

bool CMIMEBodyPart::ParseMimeVersion(const char* pszHeader)
{
    MT_ASSERT(pszHeader != NULL);
    const char* value = ValueOf(pszHeader);
    if (!value)
        return false;
    FieldTokens t(value, kTokenRfc822);
    TokenKind k = t.Next();
    if (k != TokenKind::Atom || std::strcmp(t.Text(), "1") != 0)
        return false;
    if (!t.Is(t.Next(), TokenKind::Special, '.'))
        return false;
    k = t.Next();
    if (k != TokenKind::Atom || std::strcmp(t.Text(), "0") != 0)
        return false;
    return t.Next() == TokenKind::End;
}

bool CMIMEBodyPart::ParseContentType(const char* pszHeader, std::string& type, std::string& subtype,
                                     CMIMEParamList& params)
{
    return ParseContentTypeFields(pszHeader, type, subtype, params, false);
}

bool CMIMEBodyPart::ParseContentTypeLenient(const char* pszHeader, std::string& type,
                                            std::string& subtype, CMIMEParamList& params)
{
    return ParseContentTypeFields(pszHeader, type, subtype, params, true);
}

bool CMIMEBodyPart::ParseContentTypeFields(const char* pszHeader, std::string& type,
                                           std::string& subtype, CMIMEParamList& params,
                                           bool bLenient)
{
    MT_ASSERT(pszHeader != NULL);
    const char* value = ValueOf(pszHeader);
    if (!value)
        return false;
    FieldTokens t(value, kTokenMime);
    if (t.Next() != TokenKind::Token)
        return false;
    std::string newType = t.Text();
    if (!t.Is(t.Next(), TokenKind::TSpecial, '/'))
        return false;
    if (t.Next() != TokenKind::Token)
        return false;
    std::string newSubtype = t.Text();
    CMIMEParamList newParams;
    bool bBad = false;
    for (;;) {
        TokenKind k = t.Next();
        if (k == TokenKind::End)
            break;
        if (!t.Is(k, TokenKind::TSpecial, ';')) {
            bBad = true;
            break;
        }
        k = t.Next();
        // A ";" after the last parameter is common enough to allow.
        if (k == TokenKind::End)
            break;
        if (k != TokenKind::Token) {
            bBad = true;
            break;
        }
        std::string name = t.Text();
        if (!t.Is(t.Next(), TokenKind::TSpecial, '=')) {
            bBad = true;
            break;
        }
        k = t.Next();
        if (k != TokenKind::Token && k != TokenKind::QuotedString) {
            bBad = true;
            break;
        }
        newParams.Add(std::move(name), t.Text());
    }
    if (bBad && !bLenient)
        return false;
    type = std::move(newType);
    subtype = std::move(newSubtype);
    params = std::move(newParams);
    return true;
}

bool CMIMEBodyPart::ParseContentTransferEncoding(const char* pszHeader, std::string& encoding)
{
    MT_ASSERT(pszHeader != NULL);
    const char* value = ValueOf(pszHeader);
    if (!value)
        return false;
    FieldTokens t(value, kTokenMime);
    if (t.Next() != TokenKind::Token)
        return false;
    std::string enc = t.Text();
    if (t.Next() != TokenKind::End)
        return false;
    encoding = std::move(enc);
    return true;
}

bool CMIMEBodyPart::ParseContentDisposition(const char* pszHeader, bool& bHasName,
                                            std::string& name)
{
    MT_ASSERT(pszHeader != NULL);
    bHasName = false;
    const char* value = ValueOf(pszHeader);
    if (!value)
        return false;
    FieldTokens t(value, kTokenMime);
    if (t.Next() != TokenKind::Token)
        return false;
    if (!t.Is(t.Next(), TokenKind::TSpecial, ';'))
        return true;
    if (t.Next() != TokenKind::Token)
        return true;
    if (!t.Is(t.Next(), TokenKind::TSpecial, '='))
        return true;
    TokenKind k = t.Next();
    if (k != TokenKind::Token && k != TokenKind::QuotedString)
        return true;
    name = t.Text();
    bHasName = true;
    return true;
}

// ------------------------------------------------------------------ part

CMIMEBodyPart::CMIMEBodyPart(CMIMEBodyPart* pParent, const char* pszPath, std::int64_t iStart,
                             std::int64_t iEnd)
    : m_path(pszPath ? pszPath : ""), m_map(kWindowSize), m_iStart(iStart), m_iEnd(iEnd),
      m_iPosition(iStart), m_pParent(pParent)
{
    MT_ASSERT(pszPath != NULL);
}

CMIMEBodyPart::~CMIMEBodyPart()
{
    // Children and siblings are taken apart one by one: a deep or long
    // structure must not recurse once per part.
    std::vector<std::unique_ptr<CMIMEBodyPart>> pending;
    if (m_pFirstChild)
        pending.push_back(std::move(m_pFirstChild));
    if (m_pNextSibling)
        pending.push_back(std::move(m_pNextSibling));
    while (!pending.empty()) {
        std::unique_ptr<CMIMEBodyPart> p = std::move(pending.back());
        pending.pop_back();
        if (p->m_pFirstChild)
            pending.push_back(std::move(p->m_pFirstChild));
        if (p->m_pNextSibling)
            pending.push_back(std::move(p->m_pNextSibling));
    }
    m_map.Close();
}

bool CMIMEBodyPart::Open() { return m_map.IsOpen() || m_map.Open(m_path.c_str()) == CFileMap::kOk; }

int CMIMEBodyPart::Close() { return m_map.Close(); }

bool CMIMEBodyPart::IsMultipart() const { return EqualsNoCase(m_type, "multipart"); }

std::int64_t CMIMEBodyPart::FindLineEnd(std::int64_t iFrom)
{
    std::int64_t q = iFrom + 1;
    int prev = iFrom >= 0 ? m_map.Byte(iFrom) : -1;
    for (;;) {
        const unsigned char* p;
        std::int64_t n = m_map.Run(q, &p);
        if (n <= 0)
            return -1;
        while (n > 0) {
            const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(n));
            if (!lf) {
                prev = p[n - 1];
                q += n;
                n = 0;
                break;
            }
            std::int64_t idx = static_cast<const unsigned char*>(lf) - p;
            int before = idx > 0 ? p[idx - 1] : prev;
            if (before == '\r')
                return q + idx - 1;
            prev = '\n';
            p += idx + 1;
            q += idx + 1;
            n -= idx + 1;
        }
    }
}

bool CMIMEBodyPart::AppendRange(std::int64_t iFrom, std::int64_t iTo, std::string& out,
                                std::size_t max)
{
    while (iFrom < iTo) {
        const unsigned char* p;
        std::int64_t n = m_map.Run(iFrom, &p);
        if (n <= 0)
            return false;
        n = std::min(n, iTo - iFrom);
        std::size_t room = max > out.size() ? max - out.size() : 0;
        if (static_cast<std::size_t>(n) > room) {
            out.append(reinterpret_cast<const char*>(p), room);
            return false;
        }
        out.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n));
        iFrom += n;
    }
    return true;
}

int CMIMEBodyPart::ReadHeaderLine(std::string& line, bool& bTooLong)
{
    line.clear();
    bTooLong = false;
    if (m_iPosition >= m_iEnd)
        return -1;
    std::int64_t start = m_iPosition;
    std::int64_t e = FindLineEnd(m_iPosition);
    if (e < 0)
        return -1;
    if (e == m_iPosition) {
        m_iPosition = e + 2;
        return 0;
    }
    std::int64_t last = e;
    for (;;) {
        m_iPosition = e + 2;
        // A continuation belongs to the part only while it starts inside it.
        if (m_iPosition >= m_iEnd)
            break;
        int b = m_map.Byte(m_iPosition);
        if (b != ' ' && b != '\t')
            break;
        e = FindLineEnd(m_iPosition);
        if (e < 0)
            break;
        last = e;
    }
    std::string raw;
    if (!AppendRange(start, last + 2, raw, kMaxHeaderLine + 2))
        bTooLong = true;
    // Unfolding takes out each CR LF (the continuation keeps its own leading
    // blank), so that a quoted value folded across lines, such as a
    // boundary with a blank in it, keeps exactly the characters written.  A
    // CR before anything else stays.
    std::size_t w = 0;
    for (std::size_t r = 0; r < raw.size(); ++r) {
        if (raw[r] == '\r' && r + 1 < raw.size() && raw[r + 1] == '\n') {
            ++r;
        } else {
            raw[w++] = raw[r];
        }
    }
    raw.resize(w);
    while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\t'))
        raw.pop_back();
    line = std::move(raw);
    return 1;
}

void CMIMEBodyPart::ParseHeaderBlock()
{
    bool bHaveType = false, bHaveEncoding = false;
    m_iPosition = m_iStart;
    std::string line;
    bool bTooLong = false;
    while (ReadHeaderLine(line, bTooLong) > 0) {
        if (bTooLong)
            continue; // nothing we read is that long; treat it as malformed
        // A NUL inside a field would cut it short: such a field is malformed.
        if (line.find('\0') != std::string::npos)
            continue;
        if (HeaderNameIs(line, "MIME-Version")) {
            m_bMimeVersion = ParseMimeVersion(line.c_str());
        } else if (HeaderNameIs(line, "Content-Type")) {
            if (ParseContentType(line.c_str(), m_type, m_subtype, m_params)) {
                bHaveType = true;
            } else {
                // Senders write unquoted file names with "(" or "=?", or
                // forget a ";": the type itself still says what the part is,
                // and taking a PDF for plain text would pour it into the
                // message text.  A multipart needs its boundary, though.
                std::string type, subtype;
                CMIMEParamList params;
                if (ParseContentTypeLenient(line.c_str(), type, subtype, params) &&
                    (!EqualsNoCase(type, "multipart") || params.Find("boundary"))) {
                    m_type = std::move(type);
                    m_subtype = std::move(subtype);
                    m_params = std::move(params);
                    bHaveType = true;
                }
            }
        } else if (HeaderNameIs(line, "Content-Transfer-Encoding")) {
            if (ParseContentTransferEncoding(line.c_str(), m_encoding))
                bHaveEncoding = true;
        } else if (HeaderNameIs(line, "Content-Disposition")) {
            bool bHasName = false;
            std::string name;
            if (ParseContentDisposition(line.c_str(), bHasName, name) && bHasName) {
                m_dispositionName = std::move(name);
                m_bHasDispositionName = true;
            }
        }
    }
    if (!bHaveType) {
        m_type = "text";
        m_subtype = "plain";
        m_params.Clear();
    }
    if (!bHaveEncoding)
        m_encoding = "7bit";
}

std::int64_t CMIMEBodyPart::FindDelimiter(const std::string& pattern)
{
    const std::int64_t m = static_cast<std::int64_t>(pattern.size());
    if (m == 0)
        return m_iPosition;
    const unsigned char* pat = reinterpret_cast<const unsigned char*>(pattern.data());
    std::int64_t skip[256];
    for (std::int64_t& s : skip)
        s = m;
    for (std::int64_t i = 0; i + 1 < m; ++i)
        skip[pat[i]] = m - 1 - i;

    std::int64_t pos = m_iPosition; // candidate start
    while (pos + m <= m_iEnd) {
        const unsigned char* p;
        std::int64_t n = m_map.Run(pos, &p);
        if (n <= 0)
            return -1;
        if (n >= m) {
            // The whole candidate lies in the window: compare in place, and
            // keep shifting while the next candidate does too.
            std::int64_t limit = std::min(n, m_iEnd - pos); // bytes usable from pos
            std::int64_t off = 0;                           // candidate start relative to p
            while (off + m <= limit) {
                std::int64_t j = m - 1;
                while (j >= 0 && p[off + j] == pat[j])
                    --j;
                if (j < 0) {
                    m_iPosition = pos + off + m;
                    return pos + off;
                }
                std::int64_t matched = m - 1 - j;
                std::int64_t shift = skip[p[off + j]] - matched;
                off += shift < 1 ? 1 : shift;
            }
            pos += off;
            continue;
        }
        // The candidate crosses the window's end: compare byte by byte.
        std::int64_t j = m - 1;
        int b = 0;
        while (j >= 0) {
            b = m_map.Byte(pos + j);
            if (b < 0)
                return -1;
            if (b != pat[j])
                break;
            --j;
        }
        if (j < 0) {
            m_iPosition = pos + m;
            return pos;
        }
        std::int64_t matched = m - 1 - j;
        std::int64_t shift = skip[b] - matched;
        pos += shift < 1 ? 1 : shift;
    }
    return -1;
}

bool CMIMEBodyPart::ParseSelf(std::vector<CMIMEBodyPart*>& newChildren)
{
    if (!m_map.IsOpen() || m_iStart < 0)
        return false;
    if (m_iEnd == -1) {
        std::int64_t size = m_map.Size();
        if (size < 0)
            return false;
        m_iEnd = size;
    }
    if (m_iEnd < m_iStart)
        m_iEnd = m_iStart;
    ParseHeaderBlock();
    if (!IsMultipart())
        return true;
    const char* boundary = m_params.Find("boundary");
    if (!boundary)
        return BrokenMultipart();
    const std::string pattern = std::string("\r\n--") + boundary;

    // The CR LF of the empty line that ended the header block may begin the
    // first delimiter.
    m_iPosition = std::max(m_iStart, m_iPosition - 2);
    bool bFirst = true;
    std::int64_t contentStart = 0;
    CMIMEBodyPart* pLast = nullptr;
    auto addChild = [&](std::int64_t iEnd) {
        auto child = std::make_unique<CMIMEBodyPart>(this, m_path.c_str(), contentStart,
                                                     std::max(contentStart, iEnd));
        child->m_bCloseAtEnd = m_bCloseAtEnd;
        CMIMEBodyPart* pChild = child.get();
        if (pLast)
            pLast->m_pNextSibling = std::move(child);
        else
            m_pFirstChild = std::move(child);
        pLast = pChild;
        newChildren.push_back(pChild);
    };
    for (;;) {
        std::int64_t match = FindDelimiter(pattern);
        if (match < 0) {
            // No closing delimiter: a truncated message.  Tolerated, the
            // end of this part closes the part that is still open.
            if (bFirst || !m_bCloseAtEnd)
                return BrokenMultipart();
            if (contentStart < m_iEnd)
                addChild(m_iEnd);
            break;
        }
        int b1 = m_map.Byte(m_iPosition), b2 = m_map.Byte(m_iPosition + 1);
        bool bClosing = b1 == '-' && b2 == '-';
        // The boundary must end there: a line such as "--outer_alt" of a
        // nested multipart whose boundary merely begins with ours is no
        // delimiter of this part.  After the boundary only "--", blanks or
        // the line end may follow.
        if (!bClosing && b1 >= 0 && b1 != ' ' && b1 != '\t' && b1 != '\r' && b1 != '\n') {
            m_iPosition = match + 1;
            continue;
        }
        std::int64_t e = FindLineEnd(m_iPosition);
        if (!bClosing && (e < 0 || e + 2 >= m_iEnd)) {
            // A delimiter line at the very end: nothing can follow it.
            if (bFirst || !m_bCloseAtEnd)
                return BrokenMultipart();
            addChild(match);
            break;
        }
        if (bFirst) {
            if (bClosing)
                return BrokenMultipart();
            contentStart = e + 2;
            bFirst = false;
            continue;
        }
        addChild(match);
        if (bClosing)
            break;
        contentStart = e + 2;
    }
    return m_pFirstChild ? true : BrokenMultipart();
}

bool CMIMEBodyPart::BrokenMultipart()
{
    if (!m_bCloseAtEnd)
        return false;
    // No part can be told apart: the whole body is one text part, so that
    // none of it is lost.
    m_type = "text";
    m_subtype = "plain";
    m_params.Clear();
    m_bRepaired = true;
    return true;
}

bool CMIMEBodyPart::Parse()
{
    MT_ASSERT(m_map.IsOpen());
    // Depth first with a list of parts still to parse instead of recursion,
    // so that nesting depth costs no stack.
    std::vector<CMIMEBodyPart*> work{this};
    std::vector<CMIMEBodyPart*> children;
    while (!work.empty()) {
        CMIMEBodyPart* part = work.back();
        work.pop_back();
        bool bOwnMap = part != this;
        if (bOwnMap && !part->Open())
            return false;
        children.clear();
        bool ok = part->ParseSelf(children);
        if (bOwnMap)
            part->Close();
        if (!ok)
            return false;
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            work.push_back(*it);
    }
    return true;
}

int CMIMEBodyPart::ReadLine(char* pszBuffer, int nCapacity)
{
    MT_ASSERT(pszBuffer != NULL);
    MT_ASSERT(nCapacity >= 1);
    MT_ASSERT(m_map.IsOpen());
    pszBuffer[0] = 0;
    if (m_iPosition >= m_iEnd)
        return -1;
    std::int64_t room = nCapacity - 1;
    std::int64_t count = 0;
    while (count < room && m_iPosition < m_iEnd) {
        const unsigned char* p;
        std::int64_t n = m_map.Run(m_iPosition, &p);
        if (n < 0) {
            pszBuffer[count] = 0;
            return static_cast<int>(n);
        }
        if (n == 0)
            break; // the file is shorter than the part claims
        n = std::min({n, room - count, m_iEnd - m_iPosition});
        const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(n));
        std::int64_t take = n;
        bool bLineEnd = false;
        while (lf) {
            std::int64_t idx = static_cast<const unsigned char*>(lf) - p;
            int before = idx > 0
                             ? p[idx - 1]
                             : (count > 0 ? static_cast<unsigned char>(pszBuffer[count - 1]) : -1);
            if (before == '\r') {
                take = idx + 1;
                bLineEnd = true;
                break;
            }
            lf = std::memchr(p + idx + 1, '\n', static_cast<std::size_t>(n - idx - 1));
        }
        std::memcpy(pszBuffer + count, p, static_cast<std::size_t>(take));
        count += take;
        m_iPosition += take;
        if (bLineEnd)
            break;
    }
    pszBuffer[count] = 0;
    return static_cast<int>(count);
}

// ------------------------------------------------------------------ message

bool CMIMEMsg::Open(const char* pszPath, bool bCloseAtEnd)
{
    MT_ASSERT(pszPath != NULL);
    m_pCursor = nullptr;
    m_pRoot = std::make_unique<CMIMEBodyPart>(nullptr, pszPath, 0, -1);
    m_pRoot->m_bCloseAtEnd = bCloseAtEnd;
    if (!m_pRoot->Open()) {
        m_pRoot.reset();
        return false;
    }
    bool ok = m_pRoot->Parse();
    m_pRoot->Close();
    if (!ok)
        m_pRoot.reset();
    return ok;
}

CMIMEBodyPart* CMIMEMsg::FirstPart()
{
    CMIMEBodyPart* p = m_pRoot.get();
    while (p && p->FirstChild())
        p = p->FirstChild();
    m_pCursor = p;
    return p;
}

CMIMEBodyPart* CMIMEMsg::NextPart()
{
    CMIMEBodyPart* p = m_pCursor;
    while (p && !p->NextSibling())
        p = p->Parent();
    if (!p) {
        m_pCursor = nullptr;
        return nullptr;
    }
    p = p->NextSibling();
    while (p->FirstChild())
        p = p->FirstChild();
    m_pCursor = p;
    return p;
}
