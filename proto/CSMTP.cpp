#include "proto/CSMTP.h"

#include "proto/SendHeaders.h"
#include "util/Assert.h"
#include "util/CStringList.h"

namespace {
std::vector<std::string> Entries(CStringList* pList)
{
    std::vector<std::string> out;
    if (pList)
        for (const char* p = pList->First(); p; p = pList->Next())
            out.emplace_back(p);
    return out;
}

std::string JoinedHeader(const char* pszName, const std::vector<std::string>& list)
{
    std::string line = pszName;
    for (std::size_t i = 0; i < list.size(); ++i)
        line += (i ? "," : " ") + list[i];
    return line + "\r\n";
}
} // namespace

CSMTP::CSMTP(fw::Window* pNotifyWnd, unsigned uNotifyMsg)
    : CMessageSender("CSMTP", pNotifyWnd, uNotifyMsg)
{
}

std::vector<std::string> CSMTP::HeaderLines(const std::vector<std::string>& to,
                                            const std::vector<std::string>& cc,
                                            const std::string& subject, const std::string& address,
                                            const std::string& name, const std::string& date,
                                            const std::string& messageId)
{
    std::vector<std::string> lines;
    if (!to.empty())
        lines.push_back(JoinedHeader("To:", to));
    if (!cc.empty())
        lines.push_back(JoinedHeader("Cc:", cc));
    lines.push_back("Subject: " + subject + "\r\n");
    lines.push_back(FromLine(address, name));
    lines.push_back("Date: " + date + "\r\n");
    lines.push_back("Message-ID: <" + messageId + ">\r\n");
    return lines;
}

bool CSMTP::SendMail(const char* pszServer, std::uint16_t wPort, std::FILE* pStream,
                     const char* pszSubject, const char* pszAddress, const char* pszName,
                     CStringList* pTo, CStringList* pCc)
{
    MT_ASSERT(pszServer && pszSubject && pszAddress);
    std::vector<std::string> to = Entries(pTo), cc = Entries(pCc);
    MT_ASSERT(!to.empty() || !cc.empty());
    std::string host = HostName();
    std::vector<Command> commands;
    std::string password = m_security.strPassword;
    if (m_security.iMode != ServerSecurity::NONE || !m_security.strUser.empty()) {
        std::string failure;
        if (!m_security.strUser.empty() && !ResolvePassword(password))
            failure = m_strLocalError;
        SetExtendedStart(true, host, m_security.strUser, password, failure);
    } else {
        SetExtendedStart(false, std::string(), std::string(), std::string(), std::string());
        commands.push_back({"HELO " + host + "\r\n", 2});
    }
    commands.push_back({"MAIL FROM:<" + std::string(pszAddress) + ">\r\n", 2});
    for (const auto* pList : {&to, &cc})
        for (const std::string& a : *pList)
            commands.push_back({"RCPT TO:<" + a + ">\r\n", 2});
    commands.push_back({"DATA\r\n", 3});
    std::int64_t tNow = Now();
    return Start(pszServer, wPort, pStream, std::move(commands),
                 HeaderLines(to, cc, pszSubject, pszAddress, pszName ? pszName : "",
                             MessageDate(tNow), NewId(tNow, host)));
}
