#include "proto/BodyIO.h"

#include "framework/Files.h"

#include <cerrno>
#include <cstring>
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
    m_name = fw::GetTempFileName(dir, pszPrefix);
    if (m_name.empty()) {
        m_iErrno = errno ? errno : EIO;
        return false;
    }
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

bool CBodyFile::WriteLine(const char* pLine, int iLen)
{
    if (!m_pFile)
        return false;
    if (iLen > 0 && pLine[0] == '.') {
        ++pLine;
        --iLen;
    }
    if ((iLen > 0 && std::fwrite(pLine, 1, static_cast<std::size_t>(iLen), m_pFile) !=
                         static_cast<std::size_t>(iLen)) ||
        std::fwrite("\r\n", 1, 2, m_pFile) != 2) {
        if (!m_iErrno)
            m_iErrno = errno ? errno : EIO;
        return false;
    }
    return true;
}

bool CBodyFile::Close()
{
    if (!m_pFile)
        return m_iErrno == 0;
    bool bFailed = std::ferror(m_pFile) != 0;
    if (std::fclose(m_pFile) != 0 || bFailed) {
        if (!m_iErrno)
            m_iErrno = errno ? errno : EIO;
    }
    m_pFile = nullptr;
    return m_iErrno == 0;
}

void CBodyFile::Discard()
{
    if (m_pFile) {
        std::fclose(m_pFile);
        m_pFile = nullptr;
    }
    if (!m_name.empty())
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
