#include "session/WPost.h"

#include "proto/ServerSecurity.h"

#include "compose/WSend.h"
#include "core/Services.h"
#include "core/Strings.h"
#include "core/TnIni.h"
#include "framework/MessageBox.h"
#include "framework/Messages.h"
#include "net/WinsockError.h"
#include "packet/RepPacket.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

void RegisterPostStrings()
{
    static bool s_bDone = false;
    if (s_bDone)
        return;
    s_bDone = true;
    RegisterString(509, "Posted Messages");
    RegisterString(811, "Email posting has been aborted!");
    RegisterString(814, "News posting has been aborted!");
}

std::string Row(int iNumber, const std::string& who, const std::string& subject)
{
    char row[200];
    std::snprintf(row, sizeof row, "%6d\t%s\t%s", iNumber, who.substr(0, 24).c_str(),
                  subject.substr(0, 99).c_str());
    return row;
}

void AddRows(IPostView& view, int iNumber, CAddrList* pList, const std::string& subject)
{
    if (pList)
        for (const char* p = pList->First(); p; p = pList->Next())
            view.AddRow(Row(iNumber, p, subject));
}

} // namespace

void CSMTPWithWinMsg::NotifyDone() { Notify(static_cast<fw::WPARAM>(m_lValue), m_iStatus); }

void CNNTPPWithWinMsg::NotifyDone() { Notify(static_cast<fw::WPARAM>(m_lValue), m_iStatus); }

WPost::WPost(PostOwner owner, std::unique_ptr<IPostView> pView)
    : m_owner(std::move(owner)), m_pView(std::move(pView))
{
    RegisterPostStrings();
    if (!m_owner.mailSettings)
        m_owner.mailSettings = [] { return SendSettings::ForMail(); };
    if (!m_owner.newsSettings)
        m_owner.newsSettings = [] { return SendSettings::ForNews(); };
    m_pSmtp = std::make_unique<CSMTPWithWinMsg>(this, fw::WM_SMTP_EVENT);
    m_pSmtp->SetSecurity(SecurityFromSettings("SMTP"));
    m_pNntp = std::make_unique<CNNTPPWithWinMsg>(this, fw::WM_NNTPP_EVENT);
    m_pNntp->SetSecurity(SecurityFromSettings("NNTP"));
    OnMessage(fw::WM_SMTP_EVENT, [this](fw::WPARAM, fw::LPARAM lp) {
        OnEvent(true, lp);
        return 0;
    });
    OnMessage(fw::WM_NNTPP_EVENT, [this](fw::WPARAM, fw::LPARAM lp) {
        OnEvent(false, lp);
        return 0;
    });

    Repfile* pRep = m_owner.repfile ? m_owner.repfile() : nullptr;
    m_iTotal = pRep ? pRep->m_iEmailCount + pRep->m_iNewsCount : 0;
    m_pCurrent = pRep ? pRep->FirstUnsent() : nullptr;
    if (!m_pCurrent) {
        m_pView->SetStatus("Nothing to post!");
        Finish(false);
        m_pView->SetStatus("Nothing to post!");
        return;
    }
    SendCurrent();
}

WPost::~WPost()
{
    m_pMailJob.reset();
    m_pNewsJob.reset();
    m_pSmtp.reset();
    m_pNntp.reset();
    if (m_owner.gone)
        m_owner.gone();
}

bool WPost::Busy() const
{
    return (m_pSmtp && !m_pSmtp->IsIdle()) || (m_pNntp && !m_pNntp->IsIdle());
}

void WPost::SendCurrent()
{
    if (m_bFinished)
        return;
    Repfile* pRep = m_owner.repfile ? m_owner.repfile() : nullptr;
    if (!pRep)
        return;
    m_bStopped = false;
    // A job that Stop left behind is built again; the parts it got through
    // are in the ledger and are passed over.
    m_pMailJob.reset();
    m_pNewsJob.reset();
    while (m_pCurrent) {
        mailxarticle& record = *m_pCurrent;
        std::unique_ptr<CSendJob>* pJob = nullptr;
        if (record.IsEmail()) {
            m_pMailJob = std::make_unique<WSendSmtp>(record, *m_pSmtp, m_owner.mailSettings());
            pJob = &m_pMailJob;
            AddRows(*m_pView, m_iStarted + 1, m_pMailJob->Message().m_pRecipients.get(),
                    record.m_szSubject);
            AddRows(*m_pView, m_iStarted + 1, m_pMailJob->Message().m_pCopies.get(),
                    record.m_szSubject);
            m_pView->SetStatus("Sending email message");
        } else {
            SendSettings news = m_owner.newsSettings();
            if (news.server.empty()) {
                m_pView->SetStatus("Skipping news post");
                record.m_szProblem = "no news server is set (\"Servers\" \"NNTPServer\")";
                m_pCurrent = pRep->NextUnsent();
                continue;
            }
            m_pNewsJob = std::make_unique<WSendNntpp>(record, *m_pNntp, std::move(news));
            pJob = &m_pNewsJob;
            AddRows(*m_pView, m_iStarted + 1, m_pNewsJob->Message().m_pRecipients.get(),
                    record.m_szSubject);
            m_pView->SetStatus("Posting article");
        }
        ++m_iStarted;
        m_lLines = 0;
        SkipSentParts(**pJob);
        if ((*pJob)->NextPart())
            return; // the rest happens in OnEvent
        ReplyFailed(record, (*pJob)->Error());
        pJob->reset();
        m_pCurrent = pRep->NextUnsent();
    }
    Finish(false);
}

void WPost::Stop()
{
    m_pSmtp->Abort(false);
    m_pNntp->Abort(false);
    m_bStopped = true;
    m_pView->SetProgress(0);
    m_pView->SetStatus("Message posting stopped!");
}

void WPost::ReplySent(mailxarticle& record)
{
    record.m_iSent = 1;
    record.m_szProblem.clear();
    RepLedger* pLedger = m_owner.ledger ? m_owner.ledger() : nullptr;
    std::string error;
    if (pLedger && !pLedger->Record(record.m_szIdentity, error))
        Error(DescribeReply(record) + " was sent but cannot be noted as sent (" + error +
              "); a later run may send it again.");
}

void WPost::PartSent(CSendJob& job)
{
    RepLedger* pLedger = m_owner.ledger ? m_owner.ledger() : nullptr;
    std::string error;
    std::string id =
        RepLedger::PartIdentity(job.Record().m_szIdentity, job.PartNumber(), job.Cut());
    if (pLedger && !pLedger->Record(id, error))
        Error("Part " + std::to_string(job.PartNumber()) + " of " + DescribeReply(job.Record()) +
              " was sent but cannot be noted as sent (" + error +
              "); a later run may send it again.");
}

void WPost::SkipSentParts(CSendJob& job)
{
    RepLedger* pLedger = m_owner.ledger ? m_owner.ledger() : nullptr;
    while (pLedger && (job.PartNumber() == 0 || job.MoreParts()) &&
           pLedger->Contains(RepLedger::PartIdentity(job.Record().m_szIdentity,
                                                     job.PartNumber() + 1, job.Cut())) &&
           job.SkipPart()) {
    }
}

void WPost::ReplyFailed(mailxarticle& record, const std::string& why)
{
    record.m_szProblem = why.empty() ? std::string("it was not sent") : why;
}

void WPost::NextReply()
{
    Repfile* pRep = m_owner.repfile ? m_owner.repfile() : nullptr;
    m_pCurrent = pRep ? pRep->NextUnsent() : nullptr;
    if (m_bStopped)
        return;
    if (m_pCurrent)
        SendCurrent();
    else
        Finish(true);
}

void WPost::OnEvent(bool bMail, std::intptr_t lEvent)
{
    std::unique_ptr<CSendJob>& job = bMail ? m_pMailJob : m_pNewsJob;
    CMessageSender& client = bMail ? static_cast<CMessageSender&>(*m_pSmtp) : *m_pNntp;
    switch (lEvent) {
    case CMessageSender::PROGRESS_LINE:
        ++m_lLines;
        if (m_lLines % 10 == 0)
            m_pView->SetStatus("Sending " + std::to_string(m_lLines) + " lines");
        break;
    case CMessageSender::STATUS_ABORTED:
        Warning(bMail ? 811 : 814);
        break;
    case CMessageSender::STATUS_SENT: {
        m_pView->SetStatus("Message sent!");
        m_lLines = 0;
        if (m_iTotal > 0)
            m_pView->SetProgress(m_iStarted * 100 / m_iTotal);
        if (!job)
            break;
        if (job->MoreParts()) {
            PartSent(*job);
            if (m_bStopped) {
                job.reset(); // resumed later from the first part not sent
            } else if (!job->NextPart()) {
                ReplyFailed(job->Record(), job->Error());
                job.reset();
                NextReply();
            }
            break;
        }
        mailxarticle& record = job->Record();
        job.reset();
        ReplySent(record);
        NextReply();
        break;
    }
    case CMessageSender::STATUS_FAILED: {
        if (!job)
            break;
        std::string why;
        if (client.m_iLastError != 0) {
            const char* caption = bMail ? "SMTP Winsock error" : "NNTP Winsock error";
            ShowWinsockError(caption, client.m_iLastError, this);
            why = WinsockErrorMessage(caption, client.m_iLastError);
        } else {
            why = client.FailureText().empty() ? std::string(client.LastReply())
                                               : client.FailureText();
            fw::MessageBoxes().Show(why, bMail ? "SMTP send Error" : "NNTP Post Error",
                                    fw::MbIcon::Exclamation, fw::MbButtons::Ok);
        }
        ReplyFailed(job->Record(), "the server did not take it: " + why);
        job.reset();
        NextReply();
        break;
    }
    default:
        break;
    }
}

void WPost::Finish(bool bSound)
{
    m_bFinished = true;
    m_pView->SetProgress(0);
    m_pView->SetStatus("Done!");
    if (m_owner.enableOpen)
        m_owner.enableOpen(true);
    if (bSound)
        PlayDoneBeep();
    Repfile* pRep = m_owner.repfile ? m_owner.repfile() : nullptr;
    if (pRep) {
        std::string path = m_owner.repPath ? m_owner.repPath() : std::string();
        RepLedger* pLedger = m_owner.ledger ? m_owner.ledger() : nullptr;
        if (pRep->AllSent()) {
            if (!g_pIni || g_pIni->GetInt("Directories", "DeleteRep", 1) == 1) {
                std::string error;
                if (!path.empty() && ::unlink(path.c_str()) != 0 && errno != ENOENT)
                    Error("The posted REP file " + path +
                          " cannot be deleted: " + std::strerror(errno) + ".");
                std::vector<std::string> ids;
                for (const auto& p : pRep->All())
                    ids.push_back(p->m_szIdentity);
                if (pLedger && !pLedger->Forget(ids, error))
                    Error(error);
            }
        } else {
            Error("Not every reply was sent: " + path +
                  " is kept, and a later run sends only what is left:\n" +
                  UnsentReport(*pRep, "it was not sent"));
        }
        if (m_owner.dropRepfile)
            m_owner.dropRepfile();
    }
    if (AutorunRunning() && m_owner.stepDone)
        m_owner.stepDone();
}
