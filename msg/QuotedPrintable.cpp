#include "msg/QuotedPrintable.h"

#include "util/Assert.h"

namespace {

const char kHex[] = "0123456789ABCDEF";

int HexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

std::string QPEncodeLine(std::string_view line)
{
    std::string out;
    out.reserve(line.size() + line.size() / 4 + 8);
    // Where the trailing run of blanks and tabs begins.
    std::size_t trailing = line.size();
    while (trailing > 0 && (line[trailing - 1] == ' ' || line[trailing - 1] == '\t'))
        --trailing;
    std::size_t lineStart = 0; // offset in out of the current output line
    for (std::size_t i = 0; i < line.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        bool bLiteral = (c >= 33 && c <= 60) || (c >= 62 && c <= 126) ||
                        ((c == ' ' || c == '\t') && i < trailing);
        if (bLiteral) {
            out += static_cast<char>(c);
        } else {
            out += '=';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
        if (out.size() - lineStart >= 75 && i + 1 < line.size()) {
            out += "=\n";
            lineStart = out.size();
        }
    }
    return out;
}

int QPDecodeLine(std::string_view line, char* pOut, int nCapacity)
{
    MT_ASSERT(pOut != NULL);
    MT_ASSERT(nCapacity >= 1);
    const std::size_t max = static_cast<std::size_t>(nCapacity - 1);
    std::size_t n = 0;
    std::size_t i = 0;
    while (i < line.size() && n < max) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        if (c != '=') {
            pOut[n++] = static_cast<char>(c);
            ++i;
            continue;
        }
        // "=" before the line end (blanks that a transport added may stand
        // between them) is a soft line break.
        std::size_t j = i + 1;
        while (j < line.size() && (line[j] == ' ' || line[j] == '\t'))
            ++j;
        if (j == line.size() || line[j] == '\r' || line[j] == '\n')
            break;
        if (i + 2 < line.size() && HexValue(static_cast<unsigned char>(line[i + 1])) >= 0 &&
            HexValue(static_cast<unsigned char>(line[i + 2])) >= 0) {
            pOut[n++] = static_cast<char>(HexValue(static_cast<unsigned char>(line[i + 1])) * 16 +
                                          HexValue(static_cast<unsigned char>(line[i + 2])));
            i += 3;
            continue;
        }
        pOut[n++] = '=';
        ++i;
    }
    pOut[n] = 0;
    return static_cast<int>(n);
}
