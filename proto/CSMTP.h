// The SMTP client: one mail message per SendMail.
//
// HELO with the local host name, MAIL FROM, RCPT TO for every To address
// and then every Cc address (a refused recipient fails the whole message),
// DATA, the header lines it composes (To, Cc, Subject, From, Date,
// Message-ID), the rest of the message from the stream, ".", QUIT.  See
// CMessageSender for the status, progress and end notices.  Abstract: the
// owner's variant implements NotifyDone.
#pragma once

#include "proto/CMessageSender.h"

class CStringList;

class CSMTP : public CMessageSender {
public:
    CSMTP(fw::Window* pNotifyWnd, unsigned uNotifyMsg);

    // Server, subject and sender address must be given, and at least one
    // recipient in the two lists together.  Texts and lists are copied;
    // the stream stays the caller's until NotifyDone.  The subject and the
    // name go out as given (the composer encodes them).  False when a
    // session is running.
    bool SendMail(const char* pszServer, std::uint16_t wPort, std::FILE* pStream,
                  const char* pszSubject, const char* pszAddress, const char* pszName,
                  CStringList* pTo, CStringList* pCc);

    // The header lines a message gets, each with CR LF ("To:" and "Cc:"
    // only when they have addresses).
    static std::vector<std::string>
    HeaderLines(const std::vector<std::string>& to, const std::vector<std::string>& cc,
                const std::string& subject, const std::string& address, const std::string& name,
                const std::string& date, const std::string& messageId);
};
