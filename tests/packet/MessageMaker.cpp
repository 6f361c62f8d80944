#include "MessageMaker.h"

#include <QByteArray>

#include <cctype>

namespace testmsg {

std::string Base64(const std::string& bytes, std::size_t nLineChars)
{
    // Qt's encoder, so that the decoders under test never check themselves.
    std::string text =
        QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())).toBase64().toStdString();
    std::size_t nLine = (nLineChars + 3) / 4 * 4;
    std::string lines;
    for (std::size_t at = 0; at < text.size(); at += nLine)
        lines += text.substr(at, nLine) + "\r\n";
    return lines;
}

std::string Uuencode(const std::string& bytes, const std::string& name)
{
    auto enc = [](unsigned v) { return static_cast<char>(v == 0 ? '`' : v + 32); };
    std::string out = "begin 644 " + name + "\r\n";
    for (std::size_t i = 0; i < bytes.size(); i += 45) {
        std::size_t n = std::min<std::size_t>(45, bytes.size() - i);
        std::string line(1, enc(static_cast<unsigned>(n)));
        for (std::size_t j = 0; j < n; j += 3) {
            unsigned b0 = static_cast<unsigned char>(bytes[i + j]);
            unsigned b1 = j + 1 < n ? static_cast<unsigned char>(bytes[i + j + 1]) : 0;
            unsigned b2 = j + 2 < n ? static_cast<unsigned char>(bytes[i + j + 2]) : 0;
            line += enc(b0 >> 2);
            line += enc(((b0 & 3) << 4) | (b1 >> 4));
            line += enc(((b1 & 15) << 2) | (b2 >> 6));
            line += enc(b2 & 63);
        }
        out += line + "\r\n";
    }
    out += "`\r\nend\r\n";
    return out;
}

std::string QuotedPrintable(const std::string& bytes)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (char c : bytes) {
        unsigned char u = static_cast<unsigned char>(c);
        if (std::isalnum(u)) {
            out += c;
        } else {
            out += '=';
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    return out;
}

std::string Bytes(std::size_t n, unsigned seed)
{
    std::string s(n, '\0');
    unsigned x = seed * 2654435761u + 7;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

} // namespace testmsg
