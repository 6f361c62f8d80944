// Uuencoding: a file encoder pulled one output line at a time by the
// composer, and a line decoder pushed by the converter.  Each object runs its
// state sequence once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class CUUENC {
public:
    enum State { Begin = 0, Body = 1, End = 2, Done = 3 };
    // NextLine results.
    enum { kLine = 0, kError = 1, kEnd = 2, kBufferTooSmall = 4 };
    static constexpr int kLineBytes = 45;

    // pszPath: the file to encode; pszName: the name for the "begin" line.
    CUUENC(const char* pszPath, const char* pszName);
    ~CUUENC();
    CUUENC(const CUUENC&) = delete;
    CUUENC& operator=(const CUUENC&) = delete;

    // The next line (no line break, NUL-terminated): "begin 600 name", the
    // data lines, a single grave accent, "end".  0 a line was produced; 2 the
    // "end" line was produced or the encoder is done; 1 the file cannot be
    // opened or read, or closing failed; 4 the line does not fit the buffer.
    // Every failure closes the file and ends the sequence.
    int NextLine(char* pszBuffer, int nSize);
    int GetState() const { return m_iState; }

private:
    int CloseFile();
    int m_iState = Begin;
    int m_fd = -1;
    std::string m_path;
    std::string m_name;
    unsigned char m_buffer[kLineBytes] = {};
};

class CUUDEC {
public:
    enum State { Seeking = 0, Body = 1, End = 2, Done = 3 };
    static constexpr int kMaxLineBytes = 63; // the most one line can declare
    static constexpr std::size_t kMaxName = 127;

    // Decodes one input line (its line end may be present and counts as
    // ordinary characters).  Lines before "begin <octal mode> <name>" are
    // ignored; a zero-length line ends the data; "end" and everything after
    // it give nothing.  Returns the bytes placed in pOut (at most the
    // line's declared length, never above nCapacity: a line declaring more
    // than fits gives 0 and ends the decoding).
    int DecodeLine(std::string_view line, unsigned char* pOut, int nCapacity = kMaxLineBytes);
    int DecodeLine(const char* pszLine, unsigned char* pOut, int nCapacity = kMaxLineBytes);

    // For a continuation of data whose "begin" line came in an earlier file.
    void StartInBody() { m_iState = Body; }
    // Whether the line, met in the Body state, is a data line or the
    // zero-length line; false when it is too short for the length its first
    // character declares (text, not data: DecodeLine would stop on it).
    static bool IsBodyLine(std::string_view line);
    // Whether the line (its CR LF may be present) is one an encoder writes:
    // every character from the blank to the grave accent, and the length
    // its first character declares is what the line holds (four characters
    // for every started group of three bytes, up to two more allowed for a
    // check character or padding); the zero-length line is the single
    // grave accent or blank.  Ordinary text almost never passes: lower-case
    // letters are outside the alphabet.
    static bool IsDataLine(std::string_view line);
    int GetState() const { return m_iState; }
    unsigned GetMode() const { return m_uMode; }
    // The file name of the "begin" line (at most 127 characters).
    const std::string& GetName() const { return m_name; }

    // True when the line is a "begin" line ("begin " then an octal mode and a
    // name); fills the mode and name.  Exact case unless bIgnoreCase.
    static bool ScanBeginLine(std::string_view line, bool bIgnoreCase, unsigned* puMode,
                              std::string* pName);

private:
    int m_iState = Seeking;
    unsigned m_uMode = 0;
    std::string m_name;
};
