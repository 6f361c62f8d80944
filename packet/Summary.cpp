#include "packet/Summary.h"

#include "framework/Files.h"

#include <unistd.h>

void DeleteWorkFile(const std::string& dir, const std::string& name)
{
    if (name.empty() || !fw::IsSafeEntryName(name))
        return;
    ::unlink(fw::JoinPath(dir, name).c_str());
}

SummaryInfo::SummaryInfo(const std::string& dir) : m_szDir(dir) {}

SummaryInfo::~SummaryInfo()
{
    DeleteWorkFile(m_szDir, m_szBodyFile);
    DeleteWorkFile(m_szDir, m_szAttachFile);
}

std::unique_ptr<SummaryInfo> SummaryInfo::CopyHeaders() const
{
    auto p = std::make_unique<SummaryInfo>(m_szDir);
    p->m_iNumber = m_iNumber;
    p->m_szMessageId = m_szMessageId;
    p->m_szFrom = m_szFrom;
    p->m_szReplyTo = m_szReplyTo;
    p->m_szSubject = m_szSubject;
    p->m_szNewsgroups = m_szNewsgroups;
    p->m_szReferences = m_szReferences;
    p->m_szConference = m_szConference;
    p->m_tDate = m_tDate;
    return p;
}

std::string SummaryInfo::BodyPath() const
{
    return m_szBodyFile.empty() ? std::string() : fw::JoinPath(m_szDir, m_szBodyFile);
}

std::string SummaryInfo::AttachPath() const
{
    return m_szAttachFile.empty() ? std::string() : fw::JoinPath(m_szDir, m_szAttachFile);
}

CSummaryList::~CSummaryList() { ReleaseAll(); }

SummaryInfo* CSummaryList::Add(std::unique_ptr<SummaryInfo> pRecord)
{
    SummaryInfo* p = pRecord.release();
    Append(p);
    return p;
}

void CSummaryList::Release(void* pItem)
{
    std::unique_ptr<SummaryInfo> owned(static_cast<SummaryInfo*>(pItem));
}
