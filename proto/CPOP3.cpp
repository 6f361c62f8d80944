#include "proto/CPOP3.h"

#include "msg/Rfc822.h"
#include "net/CTls.h"
#include "proto/Sasl.h"

#include <cctype>
#include <cstring>
#include <string_view>
#include <strings.h>

namespace {
const CProtoClient::EventCodes kPop3Events = {CPOP3::EV_CONNECTED, CPOP3::EV_CLOSED,
                                              CPOP3::EV_CONNECT_FAILED, CPOP3::EV_ABORT};

// Reads a number after blanks, at most iMax; p moves past it.
bool ReadNumber(const char*& p, std::int64_t iMax, std::int64_t& n)
{
    while (*p == ' ' || *p == '\t')
        ++p;
    n = 0;
    const char* pStart = p;
    while (std::isdigit(static_cast<unsigned char>(*p))) {
        n = n * 10 + (*p++ - '0');
        if (n > iMax)
            return false;
    }
    return p != pStart;
}
} // namespace

CPOP3::CPOP3(fw::Window* pNotifyWnd, unsigned uNotifyMsg, long, const char* pszTempDir)
    : CProtoClient("CPOP3", MAX_REPLY_SIZE, COMMAND_SIZE, kPop3Events, pNotifyWnd, uNotifyMsg),
      m_strTempDir(pszTempDir ? pszTempDir : ".")
{
}

CPOP3::~CPOP3()
{
    // A message that was never reported belongs to nobody: remove it.
    m_output.Discard();
}

bool CPOP3::RetrieveMail(const char* pszServer, std::uint16_t wPort, const char* pszUser,
                         const char* pszPassword, const char* pszText, bool bDelete,
                         std::int64_t tCutOff)
{
    if (!IsIdle())
        return false;
    BeginSession(pszServer, wPort);
    m_strUser = pszUser ? pszUser : "";
    m_strPassword = pszPassword ? pszPassword : "";
    m_strText = pszText ? pszText : "";
    m_bDelete = bDelete;
    m_tCutOff = tCutOff;
    m_tDate = -1;
    m_iStatus = STATUS_ABORTED;
    m_iDetail = DETAIL_NONE;
    m_iMessageCount = 0;
    m_iIndex = 0;
    m_szReply.clear();
    m_strFailure.clear();
    m_records.clear();
    m_listed.clear();
    m_bQuitAnswered = false;
    m_deletedUids.clear();
    m_iSkipped = 0;
    m_oversized.clear();
    m_strAuthLine.clear();
    if (!ResolvePassword(m_strPassword)) {
        m_strFailure = m_strLocalError;
        m_iStatus = STATUS_FAILED;
        m_iDetail = DETAIL_PASSWORD;
        SetState(&CPOP3::End);
    } else {
        SetState(&CPOP3::Connect);
    }
    Run(EV_ENTER);
    return true;
}

void CPOP3::Abort(bool bNotify)
{
    if (IsIdle())
        return;
    m_bNotify = bNotify;
    Run(EV_ABORT);
}

void CPOP3::OnReplyLine(const char* pLine, int iLen)
{
    m_szReply.assign(pLine, static_cast<std::size_t>(iLen));
    m_bPiece = false;
    Run(EV_LINE);
}

bool CPOP3::OnLinePiece(const char* pPiece, int iLen)
{
    if (!InState(&CPOP3::ReceiveMessage))
        return false;
    m_szReply.assign(pPiece, static_cast<std::size_t>(iLen));
    m_bPiece = true;
    Run(EV_LINE);
    return true;
}

void CPOP3::OnOverlongLine()
{
    // The line cannot be held; the rest of the session cannot be trusted.
    m_strFailure =
        "The server sent a line longer than " + std::to_string(MAX_REPLY_SIZE - 2) + " characters.";
    m_iStatus = STATUS_FAILED;
    m_iDetail = DETAIL_NONE;
    SetState(&CPOP3::End);
    Run(EV_ENTER);
}

bool CPOP3::Positive() const
{
    return m_szReply.size() >= 3 && m_szReply[0] == '+' &&
           std::toupper(static_cast<unsigned char>(m_szReply[1])) == 'O' &&
           std::toupper(static_cast<unsigned char>(m_szReply[2])) == 'K';
}

bool CPOP3::CommonEvent(int iEvent)
{
    if (iEvent != EV_CLOSED && iEvent != EV_ABORT)
        return false;
    m_iStatus = iEvent == EV_CLOSED ? STATUS_FAILED : STATUS_ABORTED;
    if (iEvent == EV_ABORT)
        m_iDetail = DETAIL_NONE;
    SetState(&CPOP3::End);
    return true;
}

bool CPOP3::SendFailed()
{
    if (!m_strLocalError.empty())
        m_strFailure = m_strLocalError;
    m_iStatus = STATUS_FAILED;
    SetState(&CPOP3::End);
    return true;
}

bool CPOP3::LocalFailure(const std::string& text, bool bDrop)
{
    m_output.Discard();
    m_strFailure = text;
    m_iStatus = STATUS_FAILED;
    m_iDetail = DETAIL_NONE;
    if (bDrop || !SendCommand("RSET\r\n")) {
        SetState(&CPOP3::End);
        return true;
    }
    SetState(&CPOP3::AwaitRset);
    return false;
}

bool CPOP3::Refused(int iDetail)
{
    m_strFailure = m_szReply;
    m_iStatus = STATUS_FAILED;
    m_iDetail = iDetail;
    SetState(&CPOP3::Quit);
    return true;
}

bool CPOP3::Connect(int)
{
    // The outcome may arrive before StartConnect returns; the wait state
    // must be in place to receive it.
    SetState(&CPOP3::AwaitConnection);
    StartConnect();
    return false;
}

bool CPOP3::AwaitConnection(int iEvent)
{
    switch (iEvent) {
    case EV_CONNECTED:
        SetState(&CPOP3::AwaitGreeting);
        return false;
    case EV_CONNECT_FAILED:
        m_iStatus = STATUS_FAILED;
        SetState(&CPOP3::End);
        return true;
    case EV_ABORT:
        CancelConnect();
        m_iStatus = STATUS_ABORTED;
        SetState(&CPOP3::End);
        return true;
    }
    return false;
}

bool CPOP3::AwaitGreeting(int iEvent)
{
    if (CommonEvent(iEvent))
        return true;
    if (iEvent != EV_LINE)
        return false;
    if (Encrypted() || m_security.iMode == ServerSecurity::NONE ||
        m_security.iMode == ServerSecurity::TLS)
        return Login();
    // STLS is simply asked for: a server without it says no.
    if (!SendCommand("STLS\r\n"))
        return SendFailed();
    SetState(&CPOP3::AwaitStls);
    return false;
}

bool CPOP3::AwaitStls(int iEvent)
{
    if (CommonEvent(iEvent))
        return true;
    if (iEvent != EV_LINE)
        return false;
    if (!Positive()) {
        if (!WantStartTls(false))
            return Login(); // auto: the server offers no encryption
        m_iLastError = TLS_E_NOT_OFFERED;
        Refused(DETAIL_NONE);
        m_strFailure = "The server does not offer encryption (STLS): " + m_szReply;
        return true;
    }
    if (!BeginStartTls(EV_TLS)) {
        m_iStatus = STATUS_FAILED;
        SetState(&CPOP3::End);
        return true;
    }
    SetState(&CPOP3::AwaitTls);
    return false;
}

bool CPOP3::AwaitTls(int iEvent)
{
    if (CommonEvent(iEvent))
        return true;
    if (iEvent != EV_TLS)
        return false;
    if (m_iTlsError) {
        // Nothing more may be said on a connection that failed its check.
        m_iStatus = STATUS_FAILED;
        SetState(&CPOP3::End);
        return true;
    }
    return Login();
}

bool CPOP3::Login()
{
    if (m_security.bOAuth2) {
        m_strAuthLine = "AUTH XOAUTH2 " + SaslXOAuth2(m_strUser, m_strPassword) + "\r\n";
        if (SendBytes(m_strAuthLine.data(), static_cast<int>(m_strAuthLine.size())) != 0)
            return SendFailed();
        SetState(&CPOP3::AwaitAuth);
        return false;
    }
    NoteClearPassword("POP3");
    if (!SendCommand("USER %s\r\n", m_strUser.c_str()))
        return SendFailed();
    SetState(&CPOP3::AwaitUser);
    return false;
}

bool CPOP3::AwaitAuth(int iEvent)
{
    if (CommonEvent(iEvent))
        return true;
    if (iEvent != EV_LINE)
        return false;
    if (m_szReply.size() >= 1 && m_szReply[0] == '+' && !Positive()) {
        // "+ <error details>": the token was refused; an empty line ends
        // the exchange and the refusal follows.
        if (!SendCommand("\r\n"))
            return SendFailed();
        return false;
    }
    if (!Positive())
        return Refused(DETAIL_PASSWORD);
    if (!SendCommand("STAT\r\n"))
        return SendFailed();
    SetState(&CPOP3::AwaitStat);
    return false;
}

bool CPOP3::AwaitUser(int iEvent)
{
    if (CommonEvent(iEvent))
        return true;
    if (iEvent != EV_LINE)
        return false;
    if (!Positive())
        return Refused(DETAIL_USER);
    if (!SendCommand("PASS %s\r\n", m_strPassword.c_str()))
        return SendFailed();
    SetState(&CPOP3::AwaitPass);
    return false;
}

bool CPOP3::AwaitPass(int iEvent)
{
    if (CommonEvent(iEvent))
        return true;
    if (iEvent != EV_LINE)
        return false;
    if (!Positive())
        return Refused(DETAIL_PASSWORD);
    if (!SendCommand("STAT\r\n"))
        return SendFailed();
    SetState(&CPOP3::AwaitStat);
    return false;
}

bool CPOP3::AwaitStat(int iEvent)
{
    if (CommonEvent(iEvent))
        return true;
    if (iEvent != EV_LINE)
        return false;
    if (!Positive())
        return Refused(DETAIL_NONE);
    // "+OK <count> <octets>": the count must be there, and not negative.
    const char* p = m_szReply.c_str() + 3;
    std::int64_t n = 0;
    if (!ReadNumber(p, 0x7FFFFFFF, n)) {
        m_strFailure = m_szReply;
        m_iStatus = STATUS_FAILED;
        SetState(&CPOP3::End);
        return true;
    }
    m_iMessageCount = static_cast<int>(n);
    m_iIndex = 0;
    m_bListingSizes = false;
    if (n > 0 && !SendCommand("UIDL\r\n"))
        return SendFailed();
    SetState(n > 0 ? &CPOP3::AwaitListing : &CPOP3::NextMessage);
    Notify(NOTIFY_COUNT, m_iMessageCount);
    return n == 0;
}

bool CPOP3::AwaitListing(int iEvent)
{
    if (CommonEvent(iEvent))
        return true;
    if (iEvent != EV_LINE)
        return false;
    // A server without UIDL (or LIST) gives no ids (or sizes); that is all.
    if (!Positive())
        return ListingDone();
    SetState(&CPOP3::ReceiveListing);
    return false;
}

bool CPOP3::ReceiveListing(int iEvent)
{
    if (CommonEvent(iEvent))
        return true;
    if (iEvent != EV_LINE)
        return false;
    if (m_szReply == ".")
        return ListingDone();
    ReadListingLine();
    return false;
}

void CPOP3::ReadListingLine()
{
    const char* p = m_szReply.c_str();
    std::int64_t n = 0;
    if (!ReadNumber(p, m_iMessageCount, n) || n == 0 || (*p != ' ' && *p != '\t'))
        return;
    if (m_bListingSizes) {
        std::int64_t iSize = 0;
        if (ReadNumber(p, INT64_MAX / 10, iSize))
            m_listed[static_cast<int>(n)].iSize = iSize;
        return;
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    // An id is 1 to 70 printable characters; anything else is no id.
    const char* pEnd = p;
    while (*pEnd > ' ' && *pEnd < 0x7F)
        ++pEnd;
    if (pEnd > p && pEnd - p <= 70 && (*pEnd == '\0' || *pEnd == ' '))
        m_listed[static_cast<int>(n)].strUid.assign(p, pEnd);
}

bool CPOP3::ListingDone()
{
    if (!m_bListingSizes) {
        // An id given to two messages identifies neither: passing one over
        // as delivered could drop the other.
        std::unordered_map<std::string, int> uses;
        for (const auto& [n, listed] : m_listed)
            ++uses[listed.strUid];
        for (auto& [n, listed] : m_listed)
            if (uses[listed.strUid] > 1)
                listed.strUid.clear();
        if (m_iMaxSize > 0) {
            m_bListingSizes = true;
            if (!SendCommand("LIST\r\n"))
                return SendFailed();
            SetState(&CPOP3::AwaitListing);
            return false;
        }
    }
    SetState(&CPOP3::NextMessage);
    return true;
}

bool CPOP3::LeaveMessage(bool bDele)
{
    if (bDele && !SendCommand("DELE %d\r\n", m_iIndex + 1))
        return false;
    ++m_iIndex;
    SetState(bDele ? &CPOP3::AwaitDele : &CPOP3::NextMessage);
    return true;
}

bool CPOP3::NextMessage(int)
{
    if (m_iIndex >= m_iMessageCount) {
        m_iStatus = STATUS_DONE;
        SetState(&CPOP3::Quit);
        return true;
    }
    auto it = m_listed.find(m_iIndex + 1);
    const Listed* pListed = it == m_listed.end() ? nullptr : &it->second;
    if (pListed && !pListed->strUid.empty() && m_fnDelivered && m_fnDelivered(pListed->strUid)) {
        ++m_iSkipped;
        bool bDele = m_bDelete && m_tCutOff == 0;
        return LeaveMessage(bDele) ? !bDele : SendFailed();
    }
    if (m_iMaxSize > 0 && pListed && pListed->iSize > m_iMaxSize) {
        LeaveMessage(false);
        m_oversized.push_back(m_iIndex);
        Notify(NOTIFY_SKIPPED, m_iIndex);
        return true;
    }
    if (!m_output.Create(m_strTempDir, TEMP_PREFIX))
        return LocalFailure("Cannot create a temporary file in " + m_strTempDir + ": " +
                            std::strerror(m_output.Error()));
    m_tDate = -1;
    m_bInHeader = true;
    m_bMidLine = false;
    if (!SendCommand("RETR %d\r\n", m_iIndex + 1)) {
        m_output.Discard();
        return SendFailed();
    }
    SetState(&CPOP3::AwaitRetr);
    return false;
}

bool CPOP3::AwaitRetr(int iEvent)
{
    if (iEvent == EV_CLOSED || iEvent == EV_ABORT)
        m_output.Discard();
    if (CommonEvent(iEvent))
        return true;
    if (iEvent != EV_LINE)
        return false;
    if (!Positive()) {
        // Nothing was stored: the empty file goes.
        m_output.Discard();
        return Refused(DETAIL_NONE);
    }
    SetState(&CPOP3::ReceiveMessage);
    return false;
}

bool CPOP3::ReceiveMessage(int iEvent)
{
    if (iEvent == EV_CLOSED || iEvent == EV_ABORT)
        m_output.Discard(); // incomplete, and never reported
    if (CommonEvent(iEvent))
        return true;
    if (iEvent != EV_LINE)
        return false;
    bool bLineStart = !m_bMidLine;
    m_bMidLine = m_bPiece;
    if (bLineStart && !m_bPiece && m_szReply == ".")
        return MessageEnd();
    // A write that fails, or a server that never stops sending, ends the
    // session while the server is still talking: hang up.
    if (!m_output.Write(m_szReply.data(), static_cast<int>(m_szReply.size()), bLineStart,
                        !m_bPiece))
        return LocalFailure(WriteFailure(), true);
    if (m_iMaxSize > 0 && m_output.Size() > SizeLimit(m_iMaxSize))
        return LocalFailure("Message " + std::to_string(m_iIndex + 1) + " is larger than " +
                                std::to_string(SizeLimit(m_iMaxSize)) + " bytes.",
                            true);
    if (m_bPiece)
        return false;
    if (bLineStart && m_bInHeader)
        ReadHeaderLine();
    Notify(NOTIFY_LINE, m_iIndex);
    return false;
}

bool CPOP3::MessageEnd()
{
    // The file is complete and on the disk before the server may drop its
    // copy.
    if (!m_output.Close())
        return LocalFailure(WriteFailure());
    // Deleted when asked, and either every message goes or this one is
    // older than the cut-off.  Without a readable date it stays.
    bool bDele = m_bDelete && (m_tCutOff == 0 || (m_tDate >= 0 && m_tCutOff > m_tDate));
    auto it = m_listed.find(m_iIndex + 1);
    NotifyRecord record{m_iIndex + 1, m_output.Name(),
                        it == m_listed.end() ? std::string() : it->second.strUid};
    if (std::string why; m_fnKeep && !m_fnKeep(record, bDele, why)) {
        m_output.Discard(); // the server keeps it: nothing was deleted
        return LocalFailure(why);
    }
    if (!LeaveMessage(bDele)) {
        m_output.Discard(); // still on the server, which keeps it
        return SendFailed();
    }
    m_records.push_back(std::move(record));
    m_output.Release();
    Notify(NOTIFY_MESSAGE, reinterpret_cast<fw::LPARAM>(&m_records.back()));
    return !bDele;
}

std::string CPOP3::WriteFailure() const
{
    return "Cannot write " + m_output.Name() + ": " + std::strerror(m_output.Error());
}

void CPOP3::ReadHeaderLine()
{
    if (m_szReply.empty()) {
        m_bInHeader = false; // a "Date:" in the body is no date of this message
    } else if (::strncasecmp(m_szReply.c_str(), "date:", 5) == 0) {
        std::int64_t t = ParseRfc822Date(std::string_view(m_szReply).substr(5));
        m_tDate = t >= 0 ? t : -1;
    }
}

bool CPOP3::AwaitDele(int iEvent)
{
    if (CommonEvent(iEvent))
        return true;
    if (iEvent != EV_LINE)
        return false;
    if (!Positive())
        return Refused(DETAIL_NONE);
    if (auto it = m_listed.find(m_iIndex); it != m_listed.end() && !it->second.strUid.empty())
        m_deletedUids.push_back(it->second.strUid);
    SetState(&CPOP3::NextMessage);
    return true;
}

std::vector<std::string> CPOP3::ListedUids() const
{
    std::vector<std::string> uids;
    for (const auto& [n, listed] : m_listed)
        if (!listed.strUid.empty())
            uids.push_back(listed.strUid);
    return uids;
}

bool CPOP3::AwaitRset(int iEvent)
{
    if (CommonEvent(iEvent))
        return true;
    if (iEvent != EV_LINE)
        return false;
    // Deletions that RSET did not undo must not be committed by QUIT.
    SetState(Positive() ? &CPOP3::Quit : &CPOP3::End);
    return true;
}

bool CPOP3::Quit(int)
{
    if (!SendCommand("QUIT\r\n"))
        return SendFailed();
    SetState(&CPOP3::AwaitQuit);
    return false;
}

bool CPOP3::AwaitQuit(int iEvent)
{
    if (iEvent == EV_LINE && Positive() && m_iStatus == STATUS_DONE)
        m_bQuitAnswered = true;
    if (iEvent == EV_CLOSED || iEvent == EV_LINE) {
        SetState(&CPOP3::End);
        return true;
    }
    if (iEvent == EV_ABORT) {
        m_iStatus = STATUS_ABORTED;
        m_iDetail = DETAIL_NONE;
        SetState(&CPOP3::End);
        return true;
    }
    return false;
}

bool CPOP3::End(int)
{
    m_output.Discard();
    CloseSession();
    m_strUser.clear();
    m_strPassword.clear();
    m_strText.clear();
    if (m_bNotify)
        Notify(static_cast<fw::WPARAM>(m_iStatus), m_iDetail);
    return false;
}
