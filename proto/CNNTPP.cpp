#include "proto/CNNTPP.h"

#include "proto/SendHeaders.h"
#include "util/Assert.h"
#include "util/CStringList.h"

CNNTPP::CNNTPP(fw::Window* pNotifyWnd, unsigned uNotifyMsg)
    : CMessageSender("CNNTPP", pNotifyWnd, uNotifyMsg)
{
    AskStartTlsAfterGreeting();
}

std::vector<std::string> CNNTPP::HeaderLines(const std::vector<std::string>& groups,
                                             const std::string& subject, const std::string& address,
                                             const std::string& name, const std::string& date,
                                             const std::string& messageId, const std::string& host)
{
    std::string line = "Newsgroups:";
    for (std::size_t i = 0; i < groups.size(); ++i)
        line += (i ? "," : " ") + groups[i];
    return {line + "\r\n",
            "Subject: " + subject + "\r\n",
            FromLine(address, name),
            "Date: " + date + "\r\n",
            "Message-ID: <" + messageId + ">\r\n",
            "Path: " + host + "\r\n"};
}

bool CNNTPP::PostArticle(const char* pszServer, std::uint16_t wPort, std::FILE* pStream,
                         const char* pszSubject, const char* pszAddress, const char* pszName,
                         CStringList* pGroups)
{
    MT_ASSERT(pszServer && pszSubject && pszAddress && pGroups);
    std::vector<std::string> groups;
    for (const char* p = pGroups->First(); p; p = pGroups->Next())
        groups.emplace_back(p);
    MT_ASSERT(!groups.empty());
    std::string host = HostName();
    std::int64_t tNow = Now();
    return Start(pszServer, wPort, pStream, {{"POST\r\n", 3}},
                 HeaderLines(groups, pszSubject, pszAddress, pszName ? pszName : "",
                             MessageDate(tNow), NewId(tNow, host), host));
}
