#include "proto/BodyIO.h"

#include "framework/Files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CBodyFile::~CBodyFile()
{
    if (m_pFile)
        std::fclose(m_pFile);
}

bool CBodyFile::Create(const std::string& dir, const char* pszPrefix)
{
    if (m_pFile)
        Discard();
    m_iErrno = 0;
    m_bLost = false;
    m_name = fw::GetTempFileName(dir, pszPrefix);
    if (m_name.empty()) {
        m_iErrno = errno ? errno : EIO;
        return false;
    }
    m_iSize = 0;
    m_pFile = std::fopen(m_name.c_str(), "wb");
    if (!m_pFile) {
        m_iErrno = errno;
        ::unlink(m_name.c_str());
        m_name.clear();
        return false;
    }
    // Lines are short; a large buffer keeps the writes few.
    std::setvbuf(m_pFile, nullptr, _IOFBF, 64 * 1024);
    return true;
}

bool CBodyFile::Write(const char* pData, int iLen, bool bLineStart, bool bLineEnd)
{
    if (!m_pFile)
        return false;
    if (bLineStart && iLen > 0 && pData[0] == '.') {
        ++pData;
        --iLen;
    }
    auto put = [this](const char* p, int n) {
        if (n > 0 && std::fwrite(p, 1, static_cast<std::size_t>(n), m_pFile) !=
                         static_cast<std::size_t>(n)) {
            if (!m_iErrno)
                m_iErrno = errno ? errno : EIO;
            return false;
        }
        m_iSize += n;
        return true;
    };
    return put(pData, iLen) && (!bLineEnd || put("\r\n", 2));
}

bool CBodyFile::Close()
{
    if (!m_pFile)
        return m_iErrno == 0;
    auto fail = [this](int iErr) {
        if (!m_iErrno)
            m_iErrno = iErr ? iErr : EIO;
    };
    int fd = ::fileno(m_pFile);
    struct stat stOpen {
    }, stNamed{};
    if (std::fflush(m_pFile) != 0 || std::ferror(m_pFile))
        fail(errno);
    else if (::fsync(fd) != 0)
        fail(errno);
    // Someone removed or replaced the file while we wrote it: what we wrote
    // is not where the owner will look.
    else if (::fstat(fd, &stOpen) != 0 || ::stat(m_name.c_str(), &stNamed) != 0 ||
             stOpen.st_nlink == 0 || stOpen.st_ino != stNamed.st_ino ||
             stOpen.st_dev != stNamed.st_dev) {
        fail(ENOENT);
        m_bLost = true; // whatever has the name now is not ours to delete
    }
    if (std::fclose(m_pFile) != 0)
        fail(errno);
    m_pFile = nullptr;
    // The new name must survive a crash as well as the data.
    if (m_iErrno == 0) {
        std::string dir = fw::DirName(m_name);
        int dirFd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0 || ::fsync(dirFd) != 0)
            fail(errno);
        if (dirFd >= 0)
            ::close(dirFd);
    }
    return m_iErrno == 0;
}

void CBodyFile::Discard()
{
    if (m_pFile) {
        std::fclose(m_pFile);
        m_pFile = nullptr;
    }
    if (!m_name.empty() && !m_bLost)
        ::unlink(m_name.c_str());
    m_name.clear();
}

CBodyLineSource::Result CBodyLineSource::Next(std::string& out)
{
    out.clear();
    if (m_bEndSent)
        return END;
    int c = std::getc(m_pStream);
    if (c == EOF) {
        if (std::ferror(m_pStream))
            return READ_ERROR;
        m_bEndSent = true;
        out = ".\r\n";
        return END;
    }
    std::string line;
    while (c != EOF && c != '\n') {
        if (line.size() > static_cast<std::size_t>(kMaxLine))
            return TOO_LONG; // stop reading: the line cannot be sent anyway
        line += static_cast<char>(c);
        c = std::getc(m_pStream);
    }
    if (c == EOF && std::ferror(m_pStream))
        return READ_ERROR;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.size() > static_cast<std::size_t>(kMaxLine))
        return TOO_LONG;
    if (!line.empty() && line[0] == '.')
        out = ".";
    out += line;
    out += "\r\n";
    ++m_iLines;
    return LINE;
}
