#include "proto/CNNTP.h"

#include "net/CTls.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <strings.h>

namespace {

const CProtoClient::EventCodes kNntpEvents = {CNNTP::EV_CONNECTED, CNNTP::EV_CLOSED,
                                              CNNTP::EV_OTHER, CNNTP::EV_ABORT};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The iIndex-th blank-separated word of a line (0 = the first), as a number
// from 0 to 2^31-1.  False when it is missing or not such a number.
bool WordNumber(std::string_view line, int iIndex, std::int32_t* piValue)
{
    std::size_t i = 0;
    for (int w = 0;; ++w) {
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        if (i >= line.size())
            return false;
        std::size_t start = i;
        while (i < line.size() && !IsBlank(line[i]))
            ++i;
        if (w < iIndex)
            continue;
        std::string_view word = line.substr(start, i - start);
        if (word.empty() || word.size() > 10)
            return false;
        long long n = 0;
        for (char c : word) {
            if (c < '0' || c > '9')
                return false;
            n = n * 10 + (c - '0');
        }
        if (n > 0x7FFFFFFF)
            return false;
        *piValue = static_cast<std::int32_t>(n);
        return true;
    }
}

bool Missing(bool bSet, const std::string& text) { return !bSet || text.empty(); }

bool HasLineEnd(const char* psz)
{
    return psz && (std::strchr(psz, '\r') || std::strchr(psz, '\n'));
}

} // namespace

CNNTP::CNNTP(const char* pszTempDir)
    : CProtoClient("CNNTP", MAX_REPLY_SIZE, COMMAND_SIZE, kNntpEvents, nullptr, 0),
      m_strTempDir(pszTempDir ? pszTempDir : ".")
{
}

CNNTP::~CNNTP()
{
    // A reply that was never handed over belongs to nobody.
    m_output.Discard();
}

// ------------------------------------------------------------- checks

bool CNNTP::CheckGroupName(std::string_view name, std::string* pReason)
{
    const char* pszWhy = nullptr;
    if (name.empty())
        pszWhy = "it is empty";
    else if (name.size() > 497)
        pszWhy = "it is too long";
    for (char c : name) {
        if (pszWhy)
            break;
        unsigned char u = static_cast<unsigned char>(c);
        if (c == ',')
            pszWhy = "it holds a comma";
        else if (c == '\r' || c == '\n')
            pszWhy = "it holds a line end";
        else if (u <= 0x20 || u == 0x7F)
            pszWhy = "it holds a blank or a control character";
        else if (std::strchr("*?[]\\!", c))
            pszWhy = "it holds a pattern character (* ? [ ] \\ !)";
    }
    if (!pszWhy)
        return true;
    if (pReason)
        *pReason = "The group name \"" + std::string(name.substr(0, 200)) +
                   "\" cannot be used: " + pszWhy + ".";
    return false;
}

bool CNNTP::CheckGroupLogin(std::string_view text, const char* pszWhat, std::string* pReason)
{
    const char* pszWhy = nullptr;
    for (char c : text) {
        if (c == ',')
            pszWhy = "a comma";
        else if (c == '\r' || c == '\n')
            pszWhy = "a line end";
        if (pszWhy)
            break;
    }
    if (!pszWhy)
        return true;
    if (pReason)
        *pReason = std::string("The ") + pszWhat + " cannot be used: it holds " + pszWhy +
                   ", which the group list cannot store.";
    return false;
}

bool CNNTP::ParseGroupLine(std::string_view line, std::string* pName, std::int32_t* piLast,
                           std::int32_t* piFirst, std::string* pReason)
{
    std::size_t i = 0;
    while (i < line.size() && !IsBlank(line[i]))
        ++i;
    std::string_view name = line.substr(0, i);
    if (!CheckGroupName(name, pReason))
        return false;
    std::int32_t iLast = 0, iFirst = 0;
    if (!WordNumber(line, 1, &iLast) || !WordNumber(line, 2, &iFirst)) {
        if (pReason)
            *pReason = "The group list line \"" + std::string(line.substr(0, 200)) +
                       "\" has no article numbers.";
        return false;
    }
    *pName = std::string(name);
    *piLast = iLast;
    *piFirst = iFirst;
    return true;
}

// ------------------------------------------------------------- operations

bool CNNTP::Connect(fw::Window* pWnd, unsigned uMsg, const char* pszServer, std::uint16_t wPort,
                    const char* pszUser, const char* pszPassword)
{
    if (!IsIdle() || !pszServer)
        return false;
    BeginSession(pszServer, wPort);
    m_pNotifyWnd = pWnd;
    m_uNotifyMsg = uMsg;
    m_bConnUser = pszUser != nullptr;
    m_strConnUser = pszUser ? pszUser : "";
    m_bConnPass = pszPassword != nullptr;
    m_strConnPass = pszPassword ? pszPassword : "";
    ResetSession();
    m_iStatus = STATUS_ABORTED;
    if (!m_security.strPasswordCommand.empty()) {
        if (!ResolvePassword(m_strConnPass)) {
            m_strFailure = m_strLocalError;
            m_iStatus = STATUS_CONNECT_FAILED;
            SetState(&CNNTP::End);
            Run(EV_ENTER);
            return true;
        }
        m_bConnPass = true;
    }
    if (HasLineEnd(pszUser) || HasLineEnd(m_strConnPass.c_str())) {
        // It would end the login command early and send the rest as a
        // command of its own.
        m_strFailure = "The news server's user name or password holds a line end.";
        m_iStatus = STATUS_CONNECT_FAILED;
        SetState(&CNNTP::End);
    } else {
        SetState(&CNNTP::ConnectStep);
    }
    Run(EV_ENTER);
    return true;
}

void CNNTP::ResetSession()
{
    m_bMultiLine = false;
    m_bPiece = false;
    m_bStop = false;
    m_bStatGivesZero = false;
    m_ids.clear();
    m_strReply.clear();
    m_strFailure.clear();
    m_strLastCommand.clear();
    m_iArticle = -1;
}

bool CNNTP::BeginOperation(fw::Window* pWnd, unsigned uMsg)
{
    if (!IsReady())
        return false;
    m_pNotifyWnd = pWnd;
    m_uNotifyMsg = uMsg;
    m_bNotify = true;
    m_bStop = false;
    m_iLogins = 0;
    m_strFailure.clear();
    return true;
}

bool CNNTP::IsReady() const { return InState(&CNNTP::Ready); }

bool CNNTP::Group(fw::Window* pWnd, unsigned uMsg, const char* pszGroup, std::int64_t tSince,
                  const char* pszUser, const char* pszPassword)
{
    if (!pszGroup || !BeginOperation(pWnd, uMsg))
        return false;
    m_strGroup = pszGroup;
    m_tSince = tSince > 0 ? tSince : 0;
    m_bGroupUser = pszUser != nullptr;
    m_strGroupUser = pszUser ? pszUser : "";
    m_bGroupPass = pszPassword != nullptr;
    m_strGroupPass = pszPassword ? pszPassword : "";
    m_group = GroupRecord{};
    std::string reason;
    if (!CheckGroupName(m_strGroup, &reason) ||
        !CheckGroupLogin(m_strGroupUser, "group's user name", &reason) ||
        !CheckGroupLogin(m_strGroupPass, "group's password", &reason)) {
        RefusedBecause(reason);
        return true;
    }
    m_iOperation = EV_GROUP;
    Run(EV_GROUP);
    return true;
}

bool CNNTP::GroupList(fw::Window* pWnd, unsigned uMsg, std::int64_t tSince)
{
    if (!BeginOperation(pWnd, uMsg))
        return false;
    m_tSince = tSince > 0 ? tSince : 0;
    m_iOperation = EV_GROUPLIST;
    Run(EV_GROUPLIST);
    return true;
}

bool CNNTP::NextHead(fw::Window* pWnd, unsigned uMsg)
{
    if (!BeginOperation(pWnd, uMsg))
        return false;
    m_iOperation = EV_NEXTHEAD;
    Run(EV_NEXTHEAD);
    return true;
}

bool CNNTP::NextArticle(fw::Window* pWnd, unsigned uMsg)
{
    if (!BeginOperation(pWnd, uMsg))
        return false;
    m_iArticle = -1; // so the article, not the header, follows NEXT
    m_iOperation = EV_NEXTARTICLE;
    Run(EV_NEXTARTICLE);
    return true;
}

bool CNNTP::Xover(fw::Window* pWnd, unsigned uMsg, std::int32_t iFirst, std::int32_t iLast)
{
    if (!BeginOperation(pWnd, uMsg))
        return false;
    m_iXoverFirst = iFirst;
    m_iXoverLast = iLast;
    m_iOperation = EV_XOVER;
    Run(EV_XOVER);
    return true;
}

bool CNNTP::Head(fw::Window* pWnd, unsigned uMsg, std::int32_t iArticle)
{
    if (!BeginOperation(pWnd, uMsg))
        return false;
    m_iArticle = iArticle < 0 ? -1 : iArticle;
    m_iOperation = EV_HEAD;
    Run(EV_HEAD);
    return true;
}

bool CNNTP::Article(fw::Window* pWnd, unsigned uMsg, std::int32_t iArticle)
{
    if (!BeginOperation(pWnd, uMsg))
        return false;
    m_iArticle = iArticle;
    m_iOperation = EV_ARTICLE;
    Run(EV_ARTICLE);
    return true;
}

bool CNNTP::Quit(fw::Window* pWnd, unsigned uMsg)
{
    if (!BeginOperation(pWnd, uMsg))
        return false;
    m_iOperation = EV_QUIT;
    Run(EV_QUIT);
    return true;
}

void CNNTP::Abort(fw::Window* pWnd, unsigned uMsg, bool bNotify)
{
    m_pNotifyWnd = pWnd;
    m_uNotifyMsg = uMsg;
    m_bNotify = bNotify;
    Run(EV_ABORT);
}

// ------------------------------------------------------------- lines

void CNNTP::OnReplyLine(const char* pLine, int iLen)
{
    if (m_bMultiLine) {
        m_pData = pLine;
        m_iDataLen = iLen;
        Run(EV_DATA);
        m_pData = nullptr;
        return;
    }
    m_strReply.assign(pLine, static_cast<std::size_t>(iLen));
    int iEvent =
        iLen > 0 && pLine[0] >= '1' && pLine[0] <= '5' ? EV_CLASS1 + (pLine[0] - '1') : EV_OTHER;
    Run(iEvent);
}

bool CNNTP::OnLinePiece(const char* pPiece, int iLen)
{
    if (!m_bMultiLine)
        return false; // a status line that long
    // Only a stored data line can be taken in pieces; an identifier or a
    // header field that long is of no use and is dropped whole.
    if (m_sink == SINK_FILE && m_output.IsOpen()) {
        if (!m_bPiece && iLen > 0 && pPiece[0] == '.') {
            ++pPiece;
            --iLen;
        }
        if (!m_output.Write(pPiece, iLen))
            FileFailure("write");
    }
    m_bPiece = true;
    return true;
}

void CNNTP::OnOverlongLine()
{
    // A status line that does not fit: nothing that follows can be trusted.
    m_strFailure =
        "The server sent a line longer than " + std::to_string(MAX_REPLY_SIZE - 2) + " characters.";
    m_iStatus = STATUS_FAILED;
    SetState(&CNNTP::End);
    Run(EV_ENTER);
}

int CNNTP::ReplyCode() const
{
    int iCode = 0;
    if (std::sscanf(m_strReply.c_str(), "%d", &iCode) != 1)
        return 0;
    return iCode;
}

std::string CNNTP::SinceText(std::int64_t tSince)
{
    // The standard's form, understood by every server since the first: two
    // year digits, the time in UTC, and GMT to say so.
    std::time_t t = static_cast<std::time_t>(tSince);
    std::tm tm{};
    if (!::gmtime_r(&t, &tm))
        tm = std::tm{};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d%02d%02d %02d%02d%02d GMT", (tm.tm_year + 1900) % 100,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

// ------------------------------------------------------------- shared steps

bool CNNTP::Common(int iEvent)
{
    return EndOnCloseOrAbort(iEvent, &m_iStatus, STATUS_CLOSED, STATUS_ABORTED, &CNNTP::End);
}

bool CNNTP::Send(const char* pszFormat, ...)
{
    std::va_list args;
    va_start(args, pszFormat);
    char text[COMMAND_SIZE];
    int n = std::vsnprintf(text, sizeof text, pszFormat, args);
    va_end(args);
    if (n < 0 || n >= static_cast<int>(sizeof text)) {
        m_strFailure = "The command is too long to send.";
        return false;
    }
    if (!SendCommand("%s", text)) {
        if (!m_strLocalError.empty())
            m_strFailure = m_strLocalError;
        return false;
    }
    // What the owner may show after a closed connection: never the password.
    static const char kPass[] = "AUTHINFO PASS ";
    if (std::strncmp(text, kPass, sizeof kPass - 1) == 0)
        m_strLastCommand = "AUTHINFO PASS ********\r\n";
    else
        m_strLastCommand = text;
    return true;
}

bool CNNTP::SendFailed()
{
    m_iStatus = STATUS_FAILED;
    SetState(&CNNTP::End);
    return true;
}

bool CNNTP::Refused()
{
    m_ids.clear();
    SetState(&CNNTP::Ready);
    Notify(NOTIFY_REFUSED, 0);
    return false;
}

bool CNNTP::RefusedBecause(const std::string& reason)
{
    m_strFailure = reason;
    return Refused();
}

bool CNNTP::Negative(int iEvent, bool bGroup)
{
    if (iEvent == EV_CLASS4) {
        if (ReplyCode() == 480)
            return StartLogin(false);
        if (bGroup && m_strReply.find("ermission") != std::string::npos)
            return StartLogin(true);
        return Refused();
    }
    if (iEvent == EV_CLASS5)
        return Refused(); // e.g. 500: the command is not known here
    if (iEvent == EV_CLASS1 || iEvent == EV_CLASS3 || iEvent == EV_OTHER)
        return OutOfProtocol();
    return false;
}

bool CNNTP::OutOfProtocol()
{
    // The exchange can no longer be followed: say goodbye.  The reply that
    // broke it stays readable after the QUIT reply.
    m_strFailure = m_strReply;
    m_ids.clear();
    m_bMultiLine = false;
    m_output.Discard();
    m_iStatus = STATUS_FAILED;
    if (!Send("QUIT\r\n"))
        return SendFailed();
    SetState(&CNNTP::AwaitQuit);
    return false;
}

// ------------------------------------------------------------- connection

bool CNNTP::ConnectStep(int)
{
    // The outcome may come before StartConnect returns.
    SetState(&CNNTP::AwaitConnection);
    StartConnect();
    return false;
}

bool CNNTP::AwaitConnection(int iEvent)
{
    switch (iEvent) {
    case EV_CONNECTED:
        SetState(&CNNTP::AwaitGreeting);
        return false;
    case EV_OTHER:
        m_iStatus = STATUS_CONNECT_FAILED;
        SetState(&CNNTP::End);
        return true;
    case EV_ABORT:
        CancelConnect();
        m_iStatus = STATUS_ABORTED;
        SetState(&CNNTP::End);
        return true;
    }
    return false;
}

bool CNNTP::AwaitGreeting(int iEvent)
{
    if (Common(iEvent))
        return true;
    if ((iEvent == EV_CLASS2 || iEvent == EV_CLASS4) && !Encrypted() &&
        (m_security.iMode == ServerSecurity::AUTO ||
         m_security.iMode == ServerSecurity::STARTTLS)) {
        // STARTTLS is simply asked for: a server without it says no.
        m_iGreeting = iEvent;
        if (!Send("STARTTLS\r\n"))
            return SendFailed();
        SetState(&CNNTP::AwaitStartTls);
        return false;
    }
    m_iGreeting = iEvent;
    return Greeted();
}

bool CNNTP::AwaitStartTls(int iEvent)
{
    if (Common(iEvent))
        return true;
    if (iEvent == EV_CLASS3) {
        if (!BeginStartTls(EV_TLS)) {
            m_iStatus = STATUS_CONNECT_FAILED;
            SetState(&CNNTP::End);
            return true;
        }
        SetState(&CNNTP::AwaitTls);
        return false;
    }
    if (iEvent < EV_CLASS1 || iEvent > EV_OTHER)
        return false;
    if (WantStartTls(false) || iEvent == EV_OTHER) {
        m_iLastError = TLS_E_NOT_OFFERED;
        m_strFailure = "The news server does not offer encryption (STARTTLS): " + m_strReply;
        m_iStatus = STATUS_CONNECT_FAILED;
        SetState(&CNNTP::End);
        return true;
    }
    return Greeted(); // auto: the server offers no encryption
}

bool CNNTP::AwaitTls(int iEvent)
{
    if (Common(iEvent))
        return true;
    if (iEvent != EV_TLS)
        return false;
    if (m_iTlsError) {
        m_iStatus = STATUS_CONNECT_FAILED;
        SetState(&CNNTP::End);
        return true;
    }
    return Greeted();
}

bool CNNTP::Greeted()
{
    switch (m_iGreeting) {
    case EV_CLASS2: {
        fw::LPARAM lValue = m_bStop ? 1 : 0;
        m_bStop = false;
        SetState(&CNNTP::Ready);
        Notify(NOTIFY_DONE, lValue);
        return false;
    }
    case EV_CLASS4:
        m_bStop = false;
        SetState(&CNNTP::Ready);
        Notify(NOTIFY_REFUSED, 0);
        return false;
    case EV_CLASS1:
    case EV_CLASS3:
    case EV_CLASS5:
    case EV_OTHER:
        m_iStatus = STATUS_CONNECT_FAILED;
        SetState(&CNNTP::End);
        return true;
    }
    return false;
}

bool CNNTP::Ready(int iEvent)
{
    switch (iEvent) {
    case EV_GROUP:
        SetState(&CNNTP::SendGroup);
        return true;
    case EV_GROUPLIST:
        SetState(&CNNTP::SendGroupList);
        return true;
    case EV_NEXTHEAD:
    case EV_NEXTARTICLE:
        SetState(&CNNTP::SendNext);
        return true;
    case EV_XOVER:
        SetState(&CNNTP::SendXover);
        return true;
    case EV_HEAD:
        SetState(&CNNTP::SendHead);
        return true;
    case EV_ARTICLE:
        SetState(&CNNTP::SendArticle);
        return true;
    case EV_QUIT:
        SetState(&CNNTP::SendQuit);
        return true;
    }
    return Common(iEvent);
}

// ------------------------------------------------------------- login

bool CNNTP::StartLogin(bool bGroupLogin)
{
    if (++m_iLogins > kMaxLogins)
        return Refused(); // the server asks again and again: give up
    m_bGroupLogin = bGroupLogin;
    bool bMissing =
        bGroupLogin ? Missing(m_bGroupUser, m_strGroupUser) || Missing(m_bGroupPass, m_strGroupPass)
                    : Missing(m_bConnUser, m_strConnUser) || Missing(m_bConnPass, m_strConnPass);
    if (bMissing)
        return Refused();
    m_ids.clear();
    SetState(&CNNTP::SendAuthUser);
    return true;
}

bool CNNTP::SendAuthUser(int)
{
    const std::string& user = m_bGroupLogin ? m_strGroupUser : m_strConnUser;
    NoteClearPassword("news");
    if (!Send("AUTHINFO USER %s\r\n", user.c_str()))
        return SendFailed();
    SetState(&CNNTP::AwaitAuthUser);
    return false;
}

bool CNNTP::AwaitAuthUser(int iEvent)
{
    if (Common(iEvent))
        return true;
    switch (iEvent) {
    case EV_CLASS2:
        SetState<CProtoClient>(m_pSaved);
        return true;
    case EV_CLASS3: {
        const std::string& pass = m_bGroupLogin ? m_strGroupPass : m_strConnPass;
        if (!Send("AUTHINFO PASS %s\r\n", pass.c_str()))
            return SendFailed();
        SetState(&CNNTP::AwaitAuthPass);
        return false;
    }
    case EV_CLASS4:
    case EV_CLASS5:
        return Refused();
    case EV_CLASS1:
    case EV_OTHER:
        return OutOfProtocol();
    }
    return false;
}

bool CNNTP::AwaitAuthPass(int iEvent)
{
    if (Common(iEvent))
        return true;
    switch (iEvent) {
    case EV_CLASS2:
        // Logged in: the interrupted command goes again.
        SetState<CProtoClient>(m_pSaved);
        return true;
    case EV_CLASS4:
    case EV_CLASS5:
        return Refused();
    case EV_CLASS1:
    case EV_CLASS3:
    case EV_OTHER:
        return OutOfProtocol();
    }
    return false;
}

// ------------------------------------------------------------- GROUP

bool CNNTP::SendGroup(int)
{
    m_pSaved = static_cast<State>(&CNNTP::SendGroup);
    if (!Send("GROUP %s\r\n", m_strGroup.c_str()))
        return SendFailed();
    SetState(&CNNTP::AwaitGroup);
    return false;
}

bool CNNTP::AwaitGroup(int iEvent)
{
    if (Common(iEvent))
        return true;
    if (iEvent != EV_CLASS2)
        return Negative(iEvent, true);
    // "211 count first last name"
    m_group = GroupRecord{};
    WordNumber(m_strReply, 1, &m_group.iCount);
    WordNumber(m_strReply, 2, &m_group.iFirst);
    WordNumber(m_strReply, 3, &m_group.iLast);
    if (m_tSince == 0)
        return GroupDone(0);
    if (!Send("NEWNEWS %s %s\r\n", m_strGroup.c_str(), SinceText(m_tSince).c_str()))
        return SendFailed();
    SetState(&CNNTP::AwaitNewnews);
    return false;
}

bool CNNTP::AwaitNewnews(int iEvent)
{
    if (Common(iEvent))
        return true;
    if (iEvent != EV_CLASS2)
        return Negative(iEvent, false);
    m_ids.clear();
    return StartData(SINK_IDS);
}

bool CNNTP::NextId(int)
{
    if (m_ids.empty())
        return GroupDone(0);
    if (m_bStatGivesZero) {
        SetState(&CNNTP::SendHeadId);
        return true;
    }
    if (!Send("STAT %s\r\n", m_ids.front().c_str()))
        return SendFailed();
    SetState(&CNNTP::AwaitStat);
    return false;
}

bool CNNTP::AwaitStat(int iEvent)
{
    if (Common(iEvent))
        return true;
    if (iEvent != EV_CLASS2)
        return Negative(iEvent, false);
    // "223 number <id>"
    std::int32_t n = 0;
    WordNumber(m_strReply, 1, &n);
    if (n != 0)
        return GroupDone(n);
    // Numbers for identifiers are not given here; the header's Xref field
    // tells where the article lies.
    m_bStatGivesZero = true;
    SetState(&CNNTP::SendHeadId);
    return true;
}

bool CNNTP::SendHeadId(int)
{
    if (!Send("HEAD %s\r\n", m_ids.front().c_str()))
        return SendFailed();
    SetState(&CNNTP::AwaitHeadId);
    return false;
}

bool CNNTP::AwaitHeadId(int iEvent)
{
    if (Common(iEvent))
        return true;
    if (iEvent == EV_CLASS2) {
        m_iXref = 0;
        m_bInXref = false;
        return StartData(SINK_XREF);
    }
    if (iEvent == EV_CLASS4 && ReplyCode() != 480) {
        // Gone since NEWNEWS listed it: the next one may be there.
        m_ids.pop_front();
        SetState(&CNNTP::NextId);
        return true;
    }
    return Negative(iEvent, false);
}

void CNNTP::ParseXref(const char* pLine, int iLen)
{
    std::string_view line(pLine, static_cast<std::size_t>(iLen));
    if (line.empty())
        return;
    if (IsBlank(line[0])) {
        if (!m_bInXref)
            return; // a folded field other than Xref
    } else {
        m_bInXref = line.size() >= 5 && ::strncasecmp(line.data(), "xref:", 5) == 0;
        if (!m_bInXref)
            return;
        m_bSawXref = true;
        line.remove_prefix(5);
    }
    // "host group:number group:number ..."
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        std::size_t start = i;
        while (i < line.size() && !IsBlank(line[i]))
            ++i;
        std::string_view word = line.substr(start, i - start);
        std::size_t colon = word.rfind(':');
        if (colon == std::string_view::npos || word.substr(0, colon) != m_strGroup)
            continue;
        std::int32_t n = 0;
        std::string number(word.substr(colon + 1));
        if (WordNumber(number, 0, &n) && n > 0 && m_iXref == 0)
            m_iXref = n;
    }
}

bool CNNTP::GroupDone(std::int32_t iFirstNew)
{
    m_ids.clear();
    m_group.iFirstNew = iFirstNew;
    SetState(&CNNTP::Ready);
    Notify(NOTIFY_DONE, reinterpret_cast<fw::LPARAM>(&m_group));
    return false;
}

// ------------------------------------------------------------- listings

bool CNNTP::SendGroupList(int)
{
    m_pSaved = static_cast<State>(&CNNTP::SendGroupList);
    bool bSent =
        m_tSince == 0 ? Send("LIST\r\n") : Send("NEWGROUPS %s\r\n", SinceText(m_tSince).c_str());
    if (!bSent)
        return SendFailed();
    SetState(&CNNTP::AwaitListing);
    return false;
}

bool CNNTP::SendXover(int)
{
    m_pSaved = static_cast<State>(&CNNTP::SendXover);
    m_iArticle = m_iXoverFirst;
    if (!Send("XOVER %ld-%ld\r\n", static_cast<long>(m_iXoverFirst),
              static_cast<long>(m_iXoverLast)))
        return SendFailed();
    SetState(&CNNTP::AwaitListing);
    return false;
}

bool CNNTP::SendHead(int)
{
    m_pSaved = static_cast<State>(&CNNTP::SendHead);
    bool bSent =
        m_iArticle < 0 ? Send("HEAD\r\n") : Send("HEAD %ld\r\n", static_cast<long>(m_iArticle));
    if (!bSent)
        return SendFailed();
    SetState(&CNNTP::AwaitListing);
    return false;
}

bool CNNTP::SendArticle(int)
{
    m_pSaved = static_cast<State>(&CNNTP::SendArticle);
    if (!Send("ARTICLE %ld\r\n", static_cast<long>(m_iArticle)))
        return SendFailed();
    SetState(&CNNTP::AwaitListing);
    return false;
}

bool CNNTP::SendNext(int)
{
    m_pSaved = static_cast<State>(&CNNTP::SendNext);
    if (!Send("NEXT\r\n"))
        return SendFailed();
    SetState(&CNNTP::AwaitNext);
    return false;
}

bool CNNTP::AwaitNext(int iEvent)
{
    if (Common(iEvent))
        return true;
    if (iEvent != EV_CLASS2)
        return Negative(iEvent, false);
    if (m_iArticle >= 0) {
        // After a header, the header of the new current article.
        m_iArticle = -1;
        SetState(&CNNTP::SendHead);
        return true;
    }
    // "223 number <id>": the article NEXT moved to.
    std::int32_t n = 0;
    if (!WordNumber(m_strReply, 1, &n))
        return OutOfProtocol();
    m_iArticle = n;
    SetState(&CNNTP::SendArticle);
    return true;
}

bool CNNTP::AwaitListing(int iEvent)
{
    if (Common(iEvent))
        return true;
    if (iEvent != EV_CLASS2)
        return Negative(iEvent, false);
    if (m_iOperation != EV_GROUPLIST && m_iOperation != EV_XOVER) {
        // "220 number <id>" (a HEAD of the current article learns its number)
        std::int32_t n = 0;
        if (WordNumber(m_strReply, 1, &n))
            m_iArticle = n;
    }
    if (!m_output.Create(m_strTempDir, TEMP_PREFIX)) {
        // The reply still has to be read to its end; then it is refused.
        m_strFailure = "Cannot create a temporary file in " + m_strTempDir + ": " +
                       std::strerror(m_output.Error());
        return StartData(SINK_DISCARD);
    }
    return StartData(SINK_FILE);
}

// ------------------------------------------------------------- data lines

bool CNNTP::StartData(Sink sink)
{
    m_sink = sink;
    m_bMultiLine = true;
    m_bPiece = false;
    m_bSawXref = m_sink == SINK_XREF ? false : m_bSawXref;
    SetState(&CNNTP::ReceiveData);
    return false;
}

bool CNNTP::FileFailure(const std::string& what)
{
    m_strFailure =
        "Cannot " + what + " " + m_output.Name() + ": " + std::strerror(m_output.Error());
    m_output.Discard();
    m_sink = SINK_DISCARD;
    return false;
}

bool CNNTP::ReceiveData(int iEvent)
{
    if (Common(iEvent))
        return true;
    if (iEvent != EV_DATA)
        return false;
    const char* p = m_pData;
    int n = m_iDataLen;

    if (m_bPiece) {
        // The rest of a line that came in pieces: never the end mark.
        m_bPiece = false;
        if (m_sink != SINK_FILE)
            return false;
        if (m_bStop)
            return StopTransfer();
        if (!m_output.Write(p, n) || !m_output.Write("\r\n", 2))
            return FileFailure("write");
        Notify(NOTIFY_LINE, m_iArticle);
        return false;
    }
    if (m_sink == SINK_FILE && m_bStop)
        return StopTransfer();
    if (n == 1 && p[0] == '.')
        return DataEnd();

    switch (m_sink) {
    case SINK_FILE:
        if (!m_output.WriteLine(p, n))
            return FileFailure("write");
        Notify(NOTIFY_LINE, m_iArticle);
        return false;
    case SINK_DISCARD:
        return false;
    case SINK_IDS: {
        // One identifier a line; anything that is not one cannot be asked for.
        std::string_view id(p, static_cast<std::size_t>(n));
        if (!id.empty() && id[0] == '.')
            id.remove_prefix(1);
        bool bUsable = id.size() >= 3 && id.size() <= 250 && id.front() == '<' &&
                       id.back() == '>' && static_cast<int>(m_ids.size()) < kMaxNewIds;
        for (char c : id)
            if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F)
                bUsable = false;
        if (bUsable)
            m_ids.emplace_back(id);
        return false;
    }
    case SINK_XREF:
        ParseXref(p, n);
        return false;
    }
    return false;
}

bool CNNTP::DataEnd()
{
    m_bMultiLine = false;
    switch (m_sink) {
    case SINK_FILE:
        if (!m_output.Close()) {
            FileFailure("write");
            return Refused();
        }
        m_completion.iArticle = m_iArticle;
        m_completion.strFile = m_output.Name();
        m_completion.iStop = 0;
        m_output.Release();
        SetState(&CNNTP::Ready);
        Notify(NOTIFY_DONE, reinterpret_cast<fw::LPARAM>(&m_completion));
        return false;
    case SINK_DISCARD:
        return Refused();
    case SINK_IDS:
        SetState(&CNNTP::NextId);
        return true;
    case SINK_XREF:
        if (m_iXref > 0)
            return GroupDone(m_iXref);
        if (!m_bSawXref)
            return GroupDone(0); // no Xref here: no header will tell
        m_ids.pop_front();
        SetState(&CNNTP::NextId);
        return true;
    }
    return false;
}

bool CNNTP::StopTransfer()
{
    // The only way to stop a server in the middle of a reply is to hang up.
    m_socket.Close();
    m_rx.Clear();
    m_bMultiLine = false;
    m_bPiece = false;
    m_bNotify = true;
    m_output.Close();
    m_completion.iArticle = m_iArticle;
    m_completion.strFile = m_output.Name();
    m_completion.iStop = 1;
    m_output.Release();
    SetState(&CNNTP::ConnectStep);
    Notify(NOTIFY_DONE, reinterpret_cast<fw::LPARAM>(&m_completion));
    return true;
}

// ------------------------------------------------------------- the end

bool CNNTP::SendQuit(int)
{
    m_iStatus = STATUS_QUIT;
    if (!Send("QUIT\r\n")) {
        m_iStatus = STATUS_CONNECT_FAILED;
        SetState(&CNNTP::End);
        return true;
    }
    SetState(&CNNTP::AwaitQuit);
    return false;
}

bool CNNTP::AwaitQuit(int iEvent)
{
    switch (iEvent) {
    case EV_ABORT:
        m_iStatus = STATUS_ABORTED;
        SetState(&CNNTP::End);
        return true;
    case EV_CLOSED:
    case EV_CLASS1:
    case EV_CLASS2:
    case EV_CLASS3:
    case EV_CLASS4:
    case EV_CLASS5:
    case EV_OTHER:
        SetState(&CNNTP::End);
        return true;
    }
    return false;
}

bool CNNTP::End(int)
{
    m_output.Discard(); // unfinished, and never handed over
    m_ids.clear();
    m_bMultiLine = false;
    m_bPiece = false;
    CloseSession();
    if (m_bNotify)
        Notify(static_cast<fw::WPARAM>(m_iStatus),
               reinterpret_cast<fw::LPARAM>(m_strLastCommand.c_str()));
    return false;
}
