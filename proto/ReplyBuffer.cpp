#include "proto/ReplyBuffer.h"

#include "util/Assert.h"

#include <cstring>

CReplyBuffer::CReplyBuffer(int iCapacity) : m_buf(static_cast<std::size_t>(iCapacity))
{
    MT_ASSERT(iCapacity >= 2);
}

char* CReplyBuffer::FreeSpace(int* piRoom)
{
    if (m_iStart > 0) {
        int n = m_iEnd - m_iStart;
        if (n > 0)
            std::memmove(m_buf.data(), m_buf.data() + m_iStart, static_cast<std::size_t>(n));
        m_iScan -= m_iStart;
        m_iEnd = n;
        m_iStart = 0;
    }
    *piRoom = Capacity() - m_iEnd;
    return m_buf.data() + m_iEnd;
}

void CReplyBuffer::Commit(int iCount)
{
    MT_ASSERT(iCount >= 0 && iCount <= Capacity() - m_iEnd);
    m_iEnd += iCount;
}

bool CReplyBuffer::NextLine(const char** ppLine, int* piLen)
{
    // The scan may stop on a CR whose LF has not arrived; it resumes there.
    const char* p = m_buf.data();
    int i = m_iScan < m_iStart ? m_iStart : m_iScan;
    for (; i + 1 < m_iEnd; ++i) {
        if (p[i] == '\r' && p[i + 1] == '\n') {
            *ppLine = p + m_iStart;
            *piLen = i - m_iStart;
            m_iStart = i + 2;
            m_iScan = m_iStart;
            return true;
        }
    }
    m_iScan = i;
    return false;
}

bool CReplyBuffer::Overlong() const
{
    if (m_iStart != 0 || m_iEnd != Capacity())
        return false;
    const char* p = m_buf.data();
    for (int i = 0; i + 1 < m_iEnd; ++i)
        if (p[i] == '\r' && p[i + 1] == '\n')
            return false;
    return true;
}

void CReplyBuffer::TakePiece(const char** ppPiece, int* piLen)
{
    int iEnd = m_iEnd;
    if (iEnd > m_iStart && m_buf[static_cast<std::size_t>(iEnd - 1)] == '\r')
        --iEnd;
    *ppPiece = m_buf.data() + m_iStart;
    *piLen = iEnd - m_iStart;
    m_iStart = iEnd;
    m_iScan = m_iStart;
}
