// The send jobs: one reply of the REP packet on its way to a server.  A job
// owns the reply's OutgoingMessage, cuts its body into parts of at most the
// configured post size, writes each part into a part file (the header file,
// then a slice of the body file), chooses the part's subject and starts the
// client on it.  WSendSmtp sends mail (settings of section "Email"),
// WSendNntpp news articles (section "Articles").
#pragma once

#include "compose/OutgoingMessage.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

class mailxarticle;
class CSMTP;
class CNNTPP;

// What a job needs from the settings (read by the constructors from the
// settings object; tests and the compose tool fill it themselves).
struct SendSettings {
    bool bMime = true;
    int iEncoding = 0;
    int iPostSize = 0; // units of 1024 bytes; 0 = one part
    std::string replyTo;
    std::string organization;
    std::string senderName;
    std::string senderAddress;
    std::string server;
    int iPort = 0;
    std::string workDir; // where the message and part files go

    static SendSettings ForMail();
    static SendSettings ForNews();
};

class CSendJob {
public:
    virtual ~CSendJob();
    CSendJob(const CSendJob&) = delete;
    CSendJob& operator=(const CSendJob&) = delete;

    // Builds the next part file and starts the client on it.  False when
    // the message could not be built, the part file cannot be written or
    // the client would not start (Error() says why; nothing was sent).
    bool NextPart();
    // Passes over the next part without sending it (a part an earlier run
    // got through).  False when the message cannot be read.
    bool SkipPart();
    // How this job cuts the reply: the settings that shape the body, the
    // body's size and the part size.  Equal cuts give equal parts.
    std::string Cut() const;
    // The body has lines left after the part last built.
    bool MoreParts() const { return m_bMoreParts; }
    int PartsTotal() const { return m_iPartsTotal; }
    // The number of the part last built, from 1.
    int PartNumber() const { return m_iNextPart - 1; }
    const std::string& Error() const { return m_szError; }
    // The subject of the part last built, as a text (not yet encoded).
    const std::string& PartSubject() const { return m_szPartSubject; }
    const std::string& PartFile() const { return m_szPartFile; }

    mailxarticle& Record() { return m_record; }
    OutgoingMessage& Message() { return *m_pMessage; }

    // The next job of a chain; destroying a job destroys the rest.
    std::unique_ptr<CSendJob> m_pNext;

protected:
    CSendJob(mailxarticle& record, SendSettings settings);
    // Starts the client on the part file (open for reading at its start).
    virtual bool StartClient(std::FILE* pPart, const std::string& wireSubject) = 0;

    SendSettings m_settings;

private:
    void ClosePart();
    // Reads the next part's slice of the body, copying it to pOut (if any).
    void ReadSlice(std::FILE* pOut);

    mailxarticle& m_record;
    std::unique_ptr<OutgoingMessage> m_pMessage;
    std::FILE* m_pBodyReader = nullptr;
    std::FILE* m_pPartReader = nullptr;
    std::int64_t m_lBodySize = 0;
    std::int32_t m_iPartsTotal = 1;
    std::int32_t m_iNextPart = 1;
    bool m_bMoreParts = false;
    std::string m_szPartFile;
    std::string m_szPartSubject;
    std::string m_szError;
};

class WSendSmtp : public CSendJob {
public:
    WSendSmtp(mailxarticle& record, CSMTP& client, SendSettings settings = SendSettings::ForMail());

protected:
    bool StartClient(std::FILE* pPart, const std::string& wireSubject) override;

private:
    CSMTP& m_client;
};

class WSendNntpp : public CSendJob {
public:
    WSendNntpp(mailxarticle& record, CNNTPP& client,
               SendSettings settings = SendSettings::ForNews());

protected:
    bool StartClient(std::FILE* pPart, const std::string& wireSubject) override;

private:
    CNNTPP& m_client;
};

// The part's subject as the jobs name it: the subject alone for a message
// of one part, else "subject - attachment name [n/total]".
std::string PartSubjectText(const std::string& subject, const std::string& attachName, int iPart,
                            int iTotal);
