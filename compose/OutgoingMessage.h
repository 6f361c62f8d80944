// A reply of a REP packet made into the text a server takes: a header file
// with the header lines this program adds, and a body file with the body,
// its MIME structure and the encoded attachment.  Both are temporary files
// "TMP<hex>.TMP" in the REP work directory, deleted with the object.
//
// Text is never altered: a body with characters beyond 7-bit ASCII (or with
// lines too long or control characters that mail cannot carry as they are)
// goes as quoted-printable with its character set named, also when MIME is
// off; long lines continue with soft line breaks.  The character set is
// us-ascii, iso-8859-1 when every character is in Latin-1, else utf-8.
#pragma once

#include "util/CStringList.h"

#include <memory>
#include <string>

class mailxarticle;

// Address or group names, one per entry, in the order written.
class CAddrList : public CStringList {};

// Splits a text at commas into the list.  Blanks and tabs inside an entry
// are dropped; an entry "Name <address>" gives the address; empty entries
// are skipped.  An entry of 80 characters or more ends the parse with false
// (the entries before it stay).
bool ParseAddrList(const std::string& text, CAddrList& list);

class OutgoingMessage {
public:
    // Attachment encodings without MIME.
    enum { ENCODING_UUENCODE = 1, ENCODING_BASE64 = 2 };

    // Builds both files.  pszReplyTo and pszOrganization: null or empty for
    // none.  Without recipients nothing is built (Built() is false and
    // Error() says why); so it is when a file cannot be written or the
    // attached file cannot be read.
    OutgoingMessage(const mailxarticle& record, const std::string& dir, bool bMime, int iEncoding,
                    const char* pszReplyTo, const char* pszOrganization);
    ~OutgoingMessage();
    OutgoingMessage(const OutgoingMessage&) = delete;
    OutgoingMessage& operator=(const OutgoingMessage&) = delete;

    bool Built() const { return !m_szHeaderFile.empty(); }
    const std::string& Error() const { return m_szError; }

    std::unique_ptr<CAddrList> m_pRecipients; // To (mail) or the newsgroups (news)
    std::unique_ptr<CAddrList> m_pCopies;     // Cc (mail only)
    std::string m_szSubject;                  // UTF-8, at most 511 bytes
    std::string m_szHeaderFile;
    std::string m_szBodyFile;
    bool m_bMime = false;

    // A boundary: "=_ Boundary " and 17 characters, 29 in all; random, or
    // drawn from the seed (the reply's identity) so that a reply built again
    // by a later run has the boundary of the parts sent before.
    static std::string MakeBoundary(const std::string& seed = std::string());

private:
    bool Build(const mailxarticle& record, const std::string& dir, int iEncoding,
               const char* pszReplyTo, const char* pszOrganization);
    void Discard();

    std::string m_szError;
};
