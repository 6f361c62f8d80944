// A read-only view of a file through one fixed window.  Byte access answers
// a value 0..255 or -1 past the end of the file; hot loops take whole runs
// of the window instead of single bytes.
#pragma once

#include "util/Assert.h"

#include <cstdint>
#include <vector>

class CFileMap {
public:
    enum {
        kOk = 0,
        kOpenFailed = -3,
        kReadFailed = -5,
        kCloseFailed = -6,
        kSeekFailed = -7,
    };

    explicit CFileMap(std::uint32_t uWindowSize = 1024);
    ~CFileMap();
    CFileMap(const CFileMap&) = delete;
    CFileMap& operator=(const CFileMap&) = delete;

    // Opens the file for reading and loads the window at offset 0: 0 or -3.
    int Open(const char* pszPath);
    // Frees the window and closes the file: 0 or -6.
    int Close();
    // The file's length, or -7.
    std::int64_t Size();

    // The byte at the offset (0..255), -1 past the end of the file (or
    // before its start), -5 or -7 when the window cannot be loaded.
    int Byte(std::int64_t off)
    {
        MT_ASSERT(m_bIsOpen);
        std::uint64_t rel = static_cast<std::uint64_t>(off - m_iStart);
        if (off >= m_iStart && rel < m_uWindowSize)
            return rel < m_uFill ? m_window[rel] : -1;
        return Reload(off);
    }

    // The bytes of the window from the offset to the end of the data held:
    // *ppData points at the byte at the offset and the result is how many
    // follow it in the window (loading the window that holds the offset
    // when needed); 0 past the end of the file, -5 or -7 on failure.  The
    // pointer stays valid until the next call that loads another window.
    std::int64_t Run(std::int64_t off, const unsigned char** ppData);

    int LastError() const { return m_iLastError; }
    bool IsOpen() const { return m_bIsOpen; }
    std::uint32_t WindowSize() const { return m_uWindowSize; }

private:
    int Reload(std::int64_t off);
    int Load(std::int64_t off);

    std::vector<unsigned char> m_window;
    std::uint32_t m_uWindowSize;
    std::int64_t m_iStart = 0;
    std::uint32_t m_uFill = 0;
    int m_fd = -1;
    int m_iLastError = kOk;
    bool m_bIsOpen = false;
};
