#include "session/WEmail.h"

#include "proto/ServerSecurity.h"

#include "core/Services.h"
#include "core/Startup.h"
#include "core/TnIni.h"
#include "framework/MessageBox.h"
#include "framework/Messages.h"
#include "net/WinsockError.h"
#include "packet/MailSpool.h"
#include "packet/Rfcmsg.h"
#include "proto/CPOP3.h"

#include <cstdio>
#include <ctime>
#include <unistd.h>

WEmail::WEmail(EmailOwner owner, std::unique_ptr<IEmailView> pView)
    : m_owner(std::move(owner)), m_pView(std::move(pView))
{
    MailSpool* pSpool = Spool();
    std::string dir = pSpool ? pSpool->Dir() : std::string();
    m_pClient = std::make_unique<CPOP3>(this, fw::WM_POP3_EVENT, 0L, dir.c_str());
    // A message is recorded in the spool before the server may delete it,
    // and one the spool already holds is not fetched again.
    m_pClient->SetKeepCheck(
        [this](const CPOP3::NotifyRecord& record, bool bDeleting, std::string& why) {
            MailSpool* p = Spool();
            if (!p) {
                why = "there is no mail spool";
                return false;
            }
            return p->Add(record.strFile, record.strUid, bDeleting, why);
        });
    m_pClient->SetDeliveredCheck([this](const std::string& uid) {
        MailSpool* p = Spool();
        return p && p->Delivered(uid);
    });
    if (g_pIni)
        m_pClient->SetMaxMessageSize(std::int64_t(g_pIni->GetInt("Email", "MaxMessageKB", 65536)) *
                                     1024);
    OnMessage(fw::WM_POP3_EVENT, [this](fw::WPARAM wp, fw::LPARAM lp) {
        OnEvent(wp, lp);
        return 0;
    });
}

WEmail::~WEmail()
{
    m_pClient.reset();
    if (m_owner.mainProgress)
        m_owner.mainProgress(0);
    if (m_owner.gone)
        m_owner.gone();
}

void WEmail::Notice(const std::string& text)
{
    // Notices are kept quiet during Autorun; Warning() does that.
    Warning(text);
}

bool WEmail::ObtainPassword(std::string& password)
{
    password.clear();
    if (!g_pIni)
        return false;
    if (!g_pIni->GetString("Servers", "POP3PasswordCommand", "").empty())
        return true; // the client runs the command
    if (g_pIni->GetInt("Servers", "POP3SavePassword", 1) == 1) {
        password = g_pIni->GetPop3Password();
    } else if (m_owner.askPassword) {
        std::string typed;
        if (m_owner.askPassword("Email Password", typed))
            password = typed.substr(0, 255);
    }
    return !password.empty();
}

namespace {
std::string CutAtSign(const std::string& s)
{
    std::size_t at = s.find('@');
    return at == std::string::npos ? s : s.substr(0, at);
}
} // namespace

bool WEmail::PortOk(int& iPort)
{
    iPort = g_pIni->GetInt("Servers", "POP3Port", 110);
    if (iPort >= 1 && iPort <= 65535)
        return true;
    Error("The POP3 port " + std::to_string(iPort) + " is not a port number (1 to 65535).");
    if (m_owner.autorunRunning && m_owner.autorunRunning() && m_owner.stepDone)
        m_owner.stepDone();
    return false;
}

bool WEmail::Start()
{
    if (!Spool()) {
        Notice("Aborting email retrieval.");
        NoteFailure("Aborting email retrieval: there is no safe place for retrieved mail.");
        return false;
    }
    std::string password;
    if (!ObtainPassword(password)) {
        Notice("Aborting email retrieval.");
        NoteFailure("Aborting email retrieval: no POP3 password (set one with "
                    "mailtolvan-tool password pop3).");
        // During Autorun the step never reports; a headless run notices that
        // nothing is left in flight and ends.
        return false;
    }
    std::string server = g_pIni->GetString("Servers", "POP3Server", "mail");
    std::string host, user;
    std::size_t at = server.find('@');
    if (at != std::string::npos) {
        user = server.substr(0, at);
        host = server.substr(at + 1);
    } else {
        host = server;
        user = CutAtSign(g_pIni->GetString("Servers", "POP3Name", ""));
    }
    std::int64_t cutoff = 0;
    int days = g_pIni->GetInt("Email", "ClearAfterDays", 0);
    if (days != 0)
        cutoff =
            static_cast<std::int64_t>(std::time(nullptr)) - static_cast<std::int64_t>(days) * 86400;
    int iPort = 0;
    if (!PortOk(iPort))
        return true; // reported; the window stays open for another try
    std::string dir = g_pStartup ? g_pStartup->m_szWorkDir : std::string(".");
    m_pClient->SetSecurity(SecurityFromSettings("POP3"));
    m_pClient->RetrieveMail(host.c_str(), static_cast<std::uint16_t>(iPort), user.c_str(),
                            password.c_str(), dir.c_str(),
                            g_pIni->GetInt("Email", "ClearMailbox", 1) != 0, cutoff);
    return true;
}

void WEmail::RetrieveAgain()
{
    std::string password;
    int iPort = 0;
    if (!Spool() || !ObtainPassword(password) || Busy() || !PortOk(iPort))
        return;
    std::string dir = g_pStartup ? g_pStartup->m_szWorkDir : std::string(".");
    m_pClient->SetSecurity(SecurityFromSettings("POP3"));
    m_pClient->RetrieveMail(g_pIni->GetString("Servers", "POP3Server", "mail").c_str(),
                            static_cast<std::uint16_t>(iPort),
                            g_pIni->GetString("Servers", "POP3Name", "").c_str(), password.c_str(),
                            dir.c_str(), g_pIni->GetInt("Email", "ClearMailbox", 1) != 0, 0);
}

void WEmail::Stop()
{
    m_pClient->Abort(false);
    m_pView->SetProgress(0);
    m_pView->SetStatus("Email retrieval stopped!");
}

bool WEmail::Busy() const { return m_pClient && !m_pClient->IsIdle(); }

void WEmail::Stored(std::int32_t iMessage, const std::string& file)
{
    // Recorded in the spool already (the client's keep check).
    MailSpool* pSpool = Spool();
    if (!pSpool)
        return;
    Rfcmsg& messages = m_owner.messages();
    SummaryInfo* pBefore = messages.Current();
    messages.Convert(file, iMessage, "email");
    messages.SetNewMessages(true);
    if (messages.WriteFailed()) {
        // The message itself stays in the spool for the next start.
        LocalFailure("Retrieved message " + std::to_string(iMessage) +
                     " could not be converted completely (is the disk full?); it is kept in " +
                     pSpool->Dir() + ".");
        return;
    }
    pSpool->Converted(file);
    SummaryInfo* pCurrent = messages.Current();
    if (pCurrent && pCurrent != pBefore) {
        char row[160];
        std::snprintf(row, sizeof row, "%6d\t%s\t%s", iMessage,
                      pCurrent->m_szFrom.substr(0, 24).c_str(),
                      pCurrent->m_szSubject.substr(0, 99).c_str());
        m_pView->AddRow(row);
    }
}

void WEmail::LocalFailure(const std::string& text)
{
    // Dropping the connection without QUIT: the server commits none of the
    // session's deletions.
    m_pClient->Abort(false);
    m_pView->SetProgress(0);
    m_pView->SetStatus("Email retrieval stopped!");
    Error(text);
    if (m_owner.autorunRunning && m_owner.autorunRunning() && m_owner.stepDone)
        m_owner.stepDone();
}

void WEmail::OnEvent(std::uintptr_t wParam, std::intptr_t lParam)
{
    bool bAutorun = m_owner.autorunRunning && m_owner.autorunRunning();
    switch (wParam) {
    case CPOP3::NOTIFY_COUNT:
        m_iTotal = static_cast<std::int32_t>(lParam);
        m_iDone = 0;
        m_lLines = 0; // a stopped retrieval may have left a message half counted
        m_pView->SetStatus(std::to_string(m_iTotal) + " new email messages");
        m_pView->SetProgress(1);
        break;
    case CPOP3::NOTIFY_SKIPPED:
        Warning("Email message " + std::to_string(lParam) + " is larger than " +
                std::to_string(g_pIni->GetInt("Email", "MaxMessageKB", 65536)) +
                " KB (\"Email\" \"MaxMessageKB\") and stays on the server.");
        break;
    case CPOP3::NOTIFY_LINE:
        ++m_lLines;
        if (m_lLines % 10 == 0)
            m_pView->SetStatus("Receiving " + std::to_string(m_lLines) + " lines");
        break;
    case CPOP3::NOTIFY_MESSAGE: // with lParam 0: STATUS_DONE, the end
        if (lParam != 0) {
            const auto* pRecord = reinterpret_cast<const CPOP3::NotifyRecord*>(lParam);
            ++m_iDone;
            m_lLines = 0;
            if (m_iTotal > 0)
                m_pView->SetProgress(m_iDone * 100 / m_iTotal);
            Stored(pRecord->iMessage, pRecord->strFile);
            break;
        }
        if (MailSpool* pSpool = Spool(); pSpool && m_pClient->QuitAnswered()) {
            std::string error;
            if (!pSpool->ServerCommitted(m_pClient->ListedUids(), m_pClient->DeletedUids(), error))
                Warning("The mail spool's index could not be updated: " + error + ".");
        }
        if (m_iTotal == 0) {
            m_pView->SetStatus("You have no Email to retrieve");
        } else {
            m_pView->SetStatus("Done!");
            PlayDoneBeep();
        }
        if (bAutorun && m_owner.stepDone)
            m_owner.stepDone();
        m_pView->SetProgress(0);
        break;
    case CPOP3::STATUS_FAILED: {
        std::string text;
        if (m_pClient->m_iLastError != 0) {
            ShowWinsockError("POP3 Winsock error", m_pClient->m_iLastError, this);
            text = WinsockErrorMessage("POP3 Winsock error", m_pClient->m_iLastError);
        } else {
            text = lParam == CPOP3::DETAIL_USER       ? "Unknown user."
                   : lParam == CPOP3::DETAIL_PASSWORD ? "Bad Password."
                                                      : std::string(m_pClient->ReplyLine());
            fw::MessageBoxes().Show(text, "POP3 Connect Error", fw::MbIcon::Exclamation,
                                    fw::MbButtons::Ok);
        }
        NoteFailure("POP3: " + text);
        if (bAutorun && m_owner.stepDone)
            m_owner.stepDone();
        break;
    }
    case CPOP3::STATUS_ABORTED:
        Notice("Email retrieval has been aborted!");
        break;
    default:
        break;
    }
}
