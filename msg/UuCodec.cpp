#include "msg/UuCodec.h"

#include "util/Assert.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

namespace {

const char kBeginPrefix[] = "begin 600 ";

char UuChar(unsigned v) { return v == 0 ? '`' : static_cast<char>(v + 32); }

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

// ------------------------------------------------------------------ encoder

CUUENC::CUUENC(const char* pszPath, const char* pszName)
{
    MT_ASSERT(pszPath != NULL);
    MT_ASSERT(pszName != NULL);
    m_path = pszPath;
    m_name = pszName;
}

CUUENC::~CUUENC()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int CUUENC::CloseFile()
{
    int rc = 0;
    if (m_fd >= 0)
        rc = ::close(m_fd);
    m_fd = -1;
    return rc;
}

int CUUENC::NextLine(char* pszBuffer, int nSize)
{
    MT_ASSERT(pszBuffer != NULL);
    if (nSize > 0)
        pszBuffer[0] = 0;
    switch (m_iState) {
    case Begin: {
        std::size_t need = std::strlen(kBeginPrefix) + m_name.size() + 1;
        if (nSize < 0 || need > static_cast<std::size_t>(nSize)) {
            m_iState = Done;
            return kBufferTooSmall;
        }
        m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0) {
            m_iState = Done;
            return kError;
        }
        std::memcpy(pszBuffer, kBeginPrefix, std::strlen(kBeginPrefix));
        std::memcpy(pszBuffer + std::strlen(kBeginPrefix), m_name.data(), m_name.size());
        pszBuffer[need - 1] = 0;
        m_iState = Body;
        return kLine;
    }
    case Body: {
        std::memset(m_buffer, 0, sizeof m_buffer);
        std::size_t n = 0;
        while (n < sizeof m_buffer) {
            ssize_t r = ::read(m_fd, m_buffer + n, sizeof m_buffer - n);
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0) {
                CloseFile();
                m_iState = Done;
                return kError;
            }
            if (r == 0)
                break;
            n += static_cast<std::size_t>(r);
        }
        std::size_t need = (n + 2) / 3 * 4 + 2;
        if (nSize < 0 || need > static_cast<std::size_t>(nSize)) {
            int rc = CloseFile();
            m_iState = Done;
            return rc == 0 ? kBufferTooSmall : kError;
        }
        char* out = pszBuffer;
        *out++ = UuChar(static_cast<unsigned>(n));
        for (std::size_t i = 0; i < n; i += 3) {
            // The buffer was cleared, so a short last group is padded with 0
            // (45 is a multiple of 3: i + 2 stays inside the buffer).
            unsigned b0 = m_buffer[i], b1 = m_buffer[i + 1], b2 = m_buffer[i + 2];
            *out++ = UuChar(b0 >> 2);
            *out++ = UuChar(((b0 & 3) << 4) | (b1 >> 4));
            *out++ = UuChar(((b1 & 15) << 2) | (b2 >> 6));
            *out++ = UuChar(b2 & 63);
        }
        *out = 0;
        if (n == 0) {
            int rc = CloseFile();
            m_iState = End;
            return rc == 0 ? kLine : kError;
        }
        return kLine;
    }
    case End:
        m_iState = Done;
        if (nSize < 4)
            return kBufferTooSmall;
        std::memcpy(pszBuffer, "end", 4);
        return kEnd;
    default:
        return kEnd;
    }
}

// ------------------------------------------------------------------ decoder

bool CUUDEC::ScanBeginLine(std::string_view line, bool bIgnoreCase, unsigned* puMode,
                           std::string* pName)
{
    if (line.size() < 6)
        return false;
    if (bIgnoreCase ? ::strncasecmp(line.data(), "begin ", 6) != 0 : line.substr(0, 6) != "begin ")
        return false;
    std::size_t i = 6;
    while (i < line.size() && IsSpace(line[i]))
        ++i;
    // The mode: an octal number, a sign allowed as a scan would.
    bool bNegative = false;
    if (i < line.size() && (line[i] == '+' || line[i] == '-')) {
        bNegative = line[i] == '-';
        ++i;
    }
    std::size_t digits = i;
    unsigned mode = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '7') {
        mode = mode * 8 + static_cast<unsigned>(line[i] - '0');
        ++i;
    }
    if (i == digits)
        return false;
    while (i < line.size() && IsSpace(line[i]))
        ++i;
    std::size_t start = i;
    while (i < line.size() && !IsSpace(line[i]) && line[i] != 0)
        ++i;
    if (i == start)
        return false;
    if (puMode)
        *puMode = bNegative ? 0u - mode : mode;
    if (pName)
        pName->assign(line.substr(start, std::min(i - start, kMaxName)));
    return true;
}

bool CUUDEC::IsBodyLine(std::string_view line)
{
    line = line.substr(0, line.find('\0'));
    unsigned char c0 = line.empty() ? 0 : static_cast<unsigned char>(line[0]);
    std::size_t declared = static_cast<std::size_t>((c0 - 32) & 63);
    // Four characters for every started group of three bytes.
    return declared == 0 || 1 + (declared + 2) / 3 * 4 <= line.size();
}

bool CUUDEC::IsDataLine(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    if (line.empty())
        return false;
    for (char c : line) {
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 96)
            return false;
    }
    std::size_t declared =
        static_cast<std::size_t>((static_cast<unsigned char>(line[0]) - 32) & 63);
    if (declared == 0)
        return line.size() == 1;
    std::size_t need = 1 + (declared + 2) / 3 * 4;
    return line.size() >= need && line.size() <= need + 2;
}

int CUUDEC::DecodeLine(const char* pszLine, unsigned char* pOut, int nCapacity)
{
    MT_ASSERT(pszLine != NULL);
    return DecodeLine(std::string_view(pszLine), pOut, nCapacity);
}

int CUUDEC::DecodeLine(std::string_view line, unsigned char* pOut, int nCapacity)
{
    // A NUL byte ends the line, as the terminator of a C string would.
    line = line.substr(0, line.find('\0'));
    switch (m_iState) {
    case Seeking:
        if (ScanBeginLine(line, false, &m_uMode, &m_name))
            m_iState = Body;
        return 0;
    case Body: {
        // The terminator of a C string counts as the line's first character
        // when the line is empty: it then declares 32 bytes and runs out.
        unsigned char c0 = line.empty() ? 0 : static_cast<unsigned char>(line[0]);
        int declared = (c0 - 32) & 63;
        if (declared == 0) {
            m_iState = End;
            return 0;
        }
        unsigned char bytes[kMaxLineBytes + 3];
        int got = 0;
        std::size_t i = 1;
        while (got < declared) {
            if (i + 4 > line.size()) {
                m_iState = Done;
                return 0;
            }
            unsigned v[4];
            for (int k = 0; k < 4; ++k)
                v[k] = (static_cast<unsigned char>(line[i + k]) - 32u) & 63u;
            bytes[got++] = static_cast<unsigned char>((v[0] << 2) | (v[1] >> 4));
            bytes[got++] = static_cast<unsigned char>(((v[1] & 15) << 4) | (v[2] >> 2));
            bytes[got++] = static_cast<unsigned char>(((v[2] & 3) << 6) | v[3]);
            i += 4;
        }
        if (declared > nCapacity) {
            m_iState = Done;
            return 0;
        }
        MT_ASSERT(pOut != NULL);
        std::memcpy(pOut, bytes, static_cast<std::size_t>(declared));
        return declared;
    }
    case End:
        m_iState = Done;
        return 0;
    default:
        return 0;
    }
}
