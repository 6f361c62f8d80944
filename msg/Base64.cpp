#include "msg/Base64.h"

#include "util/Assert.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr unsigned char kSkip = 0xFF;
constexpr unsigned char kPad = 0xFE;

struct DecodeTable {
    unsigned char v[256];
    constexpr DecodeTable() : v()
    {
        for (int i = 0; i < 256; ++i)
            v[i] = kSkip;
        for (int i = 0; i < 64; ++i)
            v[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
        v[static_cast<unsigned char>('=')] = kPad;
    }
};
constexpr DecodeTable kDecode;

// Reads until the buffer is full or the file ends; -1 on a read error.
long ReadFull(int fd, unsigned char* p, std::size_t n)
{
    std::size_t got = 0;
    while (got < n) {
        ssize_t r = ::read(fd, p + got, n - got);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (r == 0)
            break;
        got += static_cast<std::size_t>(r);
    }
    return static_cast<long>(got);
}

} // namespace

CBase64Enc::~CBase64Enc()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int CBase64Enc::Open(const char* pszPath)
{
    MT_ASSERT(pszPath != NULL);
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_bEnded = false;
    m_fd = ::open(pszPath, O_RDONLY | O_CLOEXEC);
    return m_fd >= 0 ? 0 : 1;
}

int CBase64Enc::NextLine(char* pszBuffer, int nSize)
{
    MT_ASSERT(pszBuffer != NULL);
    if (nSize < kMinBuffer)
        return kBufferTooSmall;
    pszBuffer[0] = 0;
    if (m_fd < 0)
        return m_bEnded ? kEnd : kError;
    std::memset(m_uchBuffer, 0, sizeof m_uchBuffer);
    long n = ReadFull(m_fd, m_uchBuffer, sizeof m_uchBuffer);
    if (n < 0) {
        ::close(m_fd);
        m_fd = -1;
        return kError;
    }
    if (n == 0) {
        int rc = ::close(m_fd);
        m_fd = -1;
        m_bEnded = true;
        return rc == 0 ? kEnd : kError;
    }
    char* out = pszBuffer;
    for (long i = 0; i < n; i += 3) {
        unsigned b0 = m_uchBuffer[i];
        unsigned b1 = i + 1 < n ? m_uchBuffer[i + 1] : 0;
        unsigned b2 = i + 2 < n ? m_uchBuffer[i + 2] : 0;
        *out++ = kAlphabet[b0 >> 2];
        *out++ = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        *out++ = i + 1 < n ? kAlphabet[((b1 & 15) << 2) | (b2 >> 6)] : '=';
        *out++ = i + 2 < n ? kAlphabet[b2 & 63] : '=';
    }
    *out = 0;
    return kLine;
}

int CBase64Dec::Decode(const char* pszIn, int nLen, unsigned char* pOut, int nCapacity)
{
    MT_ASSERT(nLen == 0 || pszIn != NULL);
    MT_ASSERT(nCapacity == 0 || pOut != NULL);
    const unsigned char* in = reinterpret_cast<const unsigned char*>(pszIn);
    const unsigned char* end = in + (nLen > 0 ? nLen : 0);
    int count = 0;
    while (in < end) {
        // Whole groups of four alphabet characters go straight through.
        if (m_nQuad == 0) {
            while (end - in >= 4) {
                unsigned a = kDecode.v[in[0]], b = kDecode.v[in[1]], c = kDecode.v[in[2]],
                         d = kDecode.v[in[3]];
                if ((a | b | c | d) & 0xC0)
                    break;
                if (count + 3 > nCapacity)
                    return -1;
                pOut[count] = static_cast<unsigned char>((a << 2) | (b >> 4));
                pOut[count + 1] = static_cast<unsigned char>(((b & 15) << 4) | (c >> 2));
                pOut[count + 2] = static_cast<unsigned char>(((c & 3) << 6) | d);
                count += 3;
                in += 4;
            }
            if (in >= end)
                break;
        }
        unsigned char v = kDecode.v[*in++];
        if (v == kSkip)
            continue;
        m_quad[m_nQuad++] = v;
        if (m_nQuad < 4)
            continue;
        m_nQuad = 0;
        // A pad mark in the first two places counts as the value 0.
        unsigned a = m_quad[0] == kPad ? 0 : m_quad[0];
        unsigned b = m_quad[1] == kPad ? 0 : m_quad[1];
        int need = m_quad[2] == kPad ? 1 : (m_quad[3] == kPad ? 2 : 3);
        if (count + need > nCapacity)
            return -1;
        pOut[count++] = static_cast<unsigned char>((a << 2) | (b >> 4));
        if (need == 1)
            return count;
        unsigned c = m_quad[2];
        pOut[count++] = static_cast<unsigned char>(((b & 15) << 4) | (c >> 2));
        if (need == 2)
            return count;
        pOut[count++] = static_cast<unsigned char>(((c & 3) << 6) | m_quad[3]);
    }
    return count;
}
