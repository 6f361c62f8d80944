// Base64 (RFC 2045): a file encoder pulled one output line at a time by the
// composer, and a decoder pushed one input line at a time by the converter.
#pragma once

#include <cstddef>

class CBase64Enc {
public:
    // NextLine results.
    enum { kLine = 0, kError = 1, kEnd = 2, kBufferTooSmall = 3 };
    static constexpr int kMinBuffer = 69; // a full line (68 characters) and its NUL
    static constexpr int kLineBytes = 51; // bytes per line, a multiple of 3

    CBase64Enc() = default;
    ~CBase64Enc();
    CBase64Enc(const CBase64Enc&) = delete;
    CBase64Enc& operator=(const CBase64Enc&) = delete;

    // 0 opened; 1 the file cannot be opened.
    int Open(const char* pszPath);
    // The next line (no line break, NUL-terminated): 0 a line was produced;
    // 2 end of file, the file closed and the line empty; 1 a read error or a
    // failing close (the file is closed); 3 the buffer is under 69 characters.
    int NextLine(char* pszBuffer, int nSize);

private:
    int m_fd = -1;
    bool m_bEnded = false;
    unsigned char m_uchBuffer[kLineBytes] = {};
};

class CBase64Dec {
public:
    // Decodes base64 characters; anything outside the alphabet (line breaks,
    // blanks) is skipped, and a group may be split across calls.  A group
    // that ends in padding ends the call: the rest of that input is not
    // looked at.  Returns the number of bytes placed in pOut, or -1 when a
    // group would not fit in nCapacity bytes.  A capacity of nLen + 3 always
    // suffices (up to three characters may be left from the last call).
    int Decode(const char* pszIn, int nLen, unsigned char* pOut, int nCapacity);
    // Characters of an unfinished group kept for the next call (0..3).
    int Pending() const { return m_nQuad; }

private:
    unsigned char m_quad[4] = {};
    int m_nQuad = 0;
};
