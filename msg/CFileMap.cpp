#include "msg/CFileMap.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CFileMap::CFileMap(std::uint32_t uWindowSize) : m_uWindowSize(uWindowSize)
{
    MT_ASSERT(uWindowSize > 0);
}

CFileMap::~CFileMap()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int CFileMap::Open(const char* pszPath)
{
    MT_ASSERT(pszPath != NULL);
    MT_ASSERT(!m_bIsOpen);
    m_fd = ::open(pszPath, O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        return m_iLastError = kOpenFailed;
    struct stat st;
    // A directory or device is no message file.
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(m_fd);
        m_fd = -1;
        return m_iLastError = kOpenFailed;
    }
    m_window.assign(m_uWindowSize, 0);
    m_bIsOpen = true;
    if (Load(0) != kOk) {
        m_bIsOpen = false;
        m_window.clear();
        m_window.shrink_to_fit();
        ::close(m_fd);
        m_fd = -1;
        return m_iLastError = kOpenFailed;
    }
    m_iLastError = kOk;
    return kOk;
}

int CFileMap::Close()
{
    m_window.clear();
    m_window.shrink_to_fit();
    m_bIsOpen = false;
    m_uFill = 0;
    m_iStart = 0;
    if (m_fd < 0)
        return kOk;
    int rc = ::close(m_fd);
    m_fd = -1;
    return m_iLastError = (rc == 0 ? kOk : kCloseFailed);
}

std::int64_t CFileMap::Size()
{
    MT_ASSERT(m_bIsOpen);
    struct stat st;
    if (::fstat(m_fd, &st) != 0)
        return m_iLastError = kSeekFailed;
    return static_cast<std::int64_t>(st.st_size);
}

int CFileMap::Load(std::int64_t off)
{
    std::int64_t start = off - off % m_uWindowSize;
    std::uint32_t fill = 0;
    while (fill < m_uWindowSize) {
        ssize_t r = ::pread(m_fd, m_window.data() + fill, m_uWindowSize - fill,
                            static_cast<off_t>(start + fill));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            // Nothing valid is held after a failed load.
            m_iStart = start;
            m_uFill = 0;
            std::memset(m_window.data(), 0, m_uWindowSize);
            return m_iLastError = (errno == EINVAL || errno == ESPIPE ? kSeekFailed : kReadFailed);
        }
        if (r == 0)
            break;
        fill += static_cast<std::uint32_t>(r);
    }
    if (fill < m_uWindowSize)
        std::memset(m_window.data() + fill, 0, m_uWindowSize - fill);
    m_iStart = start;
    m_uFill = fill;
    return kOk;
}

int CFileMap::Reload(std::int64_t off)
{
    if (off < 0)
        return -1;
    int rc = Load(off);
    if (rc != kOk)
        return rc;
    std::uint64_t rel = static_cast<std::uint64_t>(off - m_iStart);
    return rel < m_uFill ? m_window[rel] : -1;
}

std::int64_t CFileMap::Run(std::int64_t off, const unsigned char** ppData)
{
    MT_ASSERT(m_bIsOpen);
    MT_ASSERT(ppData != NULL);
    *ppData = nullptr;
    if (off < 0)
        return 0;
    if (!(off >= m_iStart && static_cast<std::uint64_t>(off - m_iStart) < m_uWindowSize)) {
        int rc = Load(off);
        if (rc != kOk)
            return rc;
    }
    std::uint64_t rel = static_cast<std::uint64_t>(off - m_iStart);
    if (rel >= m_uFill)
        return 0;
    *ppData = m_window.data() + rel;
    return static_cast<std::int64_t>(m_uFill - rel);
}
