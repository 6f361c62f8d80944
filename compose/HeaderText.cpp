#include "compose/HeaderText.h"

#include <cstdint>
#include <vector>

namespace {

// Decodes one UTF-8 character at i; a malformed byte counts as itself
// (and as outside Latin-1).  Returns the code point and moves i on.
std::uint32_t NextChar(std::string_view s, std::size_t& i, std::size_t& nLen)
{
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) {
        nLen = 1;
        ++i;
        return 0x110000; // not a character
    }
    std::uint32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
        unsigned char d = static_cast<unsigned char>(s[i + k]);
        if ((d & 0xC0) != 0x80) {
            nLen = 1;
            ++i;
            return 0x110000;
        }
        cp = (cp << 6) | (d & 0x3F);
    }
    nLen = n;
    i += n;
    return cp;
}

const char kHex[] = "0123456789ABCDEF";
const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string QWord(std::string_view bytes)
{
    std::string out;
    for (char ch : bytes) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == ' ')
            out += '_';
        else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '!' || c == '*' || c == '+' || c == '-' || c == '/')
            out += ch;
        else {
            out += '=';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string BWord(std::string_view bytes)
{
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        std::uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                          (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                          static_cast<unsigned char>(bytes[i + 2]);
        for (int k = 18; k >= 0; k -= 6)
            out += kB64[(v >> k) & 63];
    }
    if (i < bytes.size()) {
        std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kB64[(v >> 18) & 63];
        out += kB64[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kB64[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// Splits the text into encoded words of at most 75 characters each (the
// first one short enough to follow nUsed characters on its line), never
// splitting a character.
std::vector<std::string> Words(std::string_view utf8, const char* pszCharset, bool bBase64,
                               std::size_t nUsed)
{
    std::string prefix = std::string("=?") + pszCharset + (bBase64 ? "?B?" : "?Q?");
    std::vector<std::string> words;
    std::string chunk; // bytes in the charset
    auto encode = [&](std::string_view b) { return bBase64 ? BWord(b) : QWord(b); };
    std::size_t i = 0;
    while (i < utf8.size()) {
        std::size_t start = i, n = 0;
        NextChar(utf8, i, n);
        std::string piece = InCharset(utf8.substr(start, n), pszCharset);
        std::size_t nMax = words.empty() && nUsed < 56 ? 76 - nUsed : 75;
        if (!chunk.empty() && prefix.size() + encode(chunk + piece).size() + 2 > nMax) {
            words.push_back(prefix + encode(chunk) + "?=");
            chunk.clear();
        }
        chunk += piece;
    }
    if (!chunk.empty())
        words.push_back(prefix + encode(chunk) + "?=");
    return words;
}

} // namespace

const char* CharsetFor(std::string_view utf8)
{
    bool bAscii = true;
    std::size_t i = 0, n = 0;
    while (i < utf8.size()) {
        std::uint32_t cp = NextChar(utf8, i, n);
        if (cp >= 0x80)
            bAscii = false;
        if (cp > 0xFF)
            return "utf-8";
    }
    return bAscii ? "us-ascii" : "iso-8859-1";
}

std::string InCharset(std::string_view utf8, const char* pszCharset)
{
    if (std::string_view(pszCharset) != "iso-8859-1")
        return std::string(utf8);
    std::string out;
    std::size_t i = 0, n = 0;
    while (i < utf8.size()) {
        std::uint32_t cp = NextChar(utf8, i, n);
        out += static_cast<char>(cp <= 0xFF ? cp : '?');
    }
    return out;
}

std::string CutUtf8(std::string_view utf8, std::size_t nMax)
{
    if (utf8.size() <= nMax)
        return std::string(utf8);
    std::size_t cut = nMax;
    while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80)
        --cut;
    return std::string(utf8.substr(0, cut));
}

std::string PlainHeaderText(std::string_view text)
{
    std::string out;
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        out += (u < 0x20 && c != '\t') || u == 0x7F ? ' ' : c;
    }
    return out;
}

std::string EncodeHeaderText(std::string_view utf8, std::size_t nUsed)
{
    std::string text = PlainHeaderText(utf8);
    const char* pszCharset = CharsetFor(text);
    if (std::string_view(pszCharset) == "us-ascii")
        return text;
    std::vector<std::string> q = Words(text, pszCharset, false, nUsed);
    std::vector<std::string> b = Words(text, pszCharset, true, nUsed);
    std::size_t nq = 0, nb = 0;
    for (const auto& w : q)
        nq += w.size() + 3;
    for (const auto& w : b)
        nb += w.size() + 3;
    // Quoted-printable words stay readable; base64 only when clearly shorter.
    const std::vector<std::string>& words = nb * 4 < nq * 3 ? b : q;
    std::string out;
    std::size_t nLine = nUsed;
    for (std::size_t k = 0; k < words.size(); ++k) {
        if (k > 0) {
            if (nLine + 1 + words[k].size() > 76) {
                out += "\r\n ";
                nLine = 1;
            } else {
                out += ' ';
                ++nLine;
            }
        }
        out += words[k];
        nLine += words[k].size();
    }
    return out;
}
