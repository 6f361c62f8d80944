// The NNTP posting client: one article per PostArticle, on a connection of
// its own.
//
// POST after the greeting, the header lines it composes (Newsgroups,
// Subject, From, Date, Message-ID, Path), the rest of the article from the
// stream, ".", QUIT.  See CMessageSender for the status, progress and end
// notices.  Abstract: the owner's variant implements NotifyDone.
#pragma once

#include "proto/CMessageSender.h"

class CStringList;

class CNNTPP : public CMessageSender {
public:
    CNNTPP(fw::Window* pNotifyWnd, unsigned uNotifyMsg);

    // Server, subject, sender address and at least one group must be given.
    // As CSMTP::SendMail otherwise.
    bool PostArticle(const char* pszServer, std::uint16_t wPort, std::FILE* pStream,
                     const char* pszSubject, const char* pszAddress, const char* pszName,
                     CStringList* pGroups);

    static std::vector<std::string>
    HeaderLines(const std::vector<std::string>& groups, const std::string& subject,
                const std::string& address, const std::string& name, const std::string& date,
                const std::string& messageId, const std::string& host);
};
