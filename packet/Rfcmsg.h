// The retrieved-message converter: turns a retrieved mail or article (CR LF
// text as fetched) into packet records with a body file (decoded text, LF
// line ends) and a saved attachment file (decoded bytes) in the packet work
// directory.  One converter collects the records of a whole online session.
#pragma once

#include "packet/Summary.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CMIMEMsg;
class CMIMEBodyPart;
class RfcLineSource;
struct RfcPart;

class Rfcmsg {
public:
    // bNoPartDetection is set only for header-list use (no split-post logic).
    explicit Rfcmsg(const std::string& dir, bool bNoPartDetection = false);
    ~Rfcmsg();
    Rfcmsg(const Rfcmsg&) = delete;
    Rfcmsg& operator=(const Rfcmsg&) = delete;

    // Converts one retrieved message file and deletes it.  pszGroup is
    // "email" for mail, else the newsgroup's name.  Afterwards Current() is
    // the last record made for the message, or nullptr when none was kept.
    void ConvertFile(const std::string& path, std::int32_t iNumber, const std::string& group);
    // Reads the header fields into a new record and converts every leaf part
    // of the message file (which it does not delete).
    void Convert(const std::string& path, std::int32_t iNumber, const std::string& group);
    // Converts the current leaf part of the message being converted into the
    // record; answers the record current afterwards (a new one when the part
    // was split by the line limit).
    SummaryInfo* ConvertPart(SummaryInfo* pRecord);
    // The value of a header field (name with its colon, case ignored) of a
    // message file, unfolded; nothing when absent.
    static std::optional<std::string> GetHeader(const char* pszName, const std::string& path);
    // Makes a header-only record from one overview line (number, subject,
    // From, date, Message-ID, references, bytes, lines; tab-separated).
    void AddOverview(const std::string& line);

    CSummaryList& List() { return m_list; }
    SummaryInfo* Current() const { return m_pCurrent; }
    void SetCurrent(SummaryInfo* p) { m_pCurrent = p; }
    const std::string& Directory() const { return m_szDir; }
    bool SplitHappened() const { return m_bSplit; }
    bool NewMessages() const { return m_bNewMessages; }
    // Whether a body or attachment file of the last message could not be
    // created or written completely (a full disk), or the message file could
    // not be read to its end; ConvertFile then keeps the retrieved message
    // file.
    bool WriteFailed() const { return m_bWriteFailed; }
    void SetNewMessages(bool b) { m_bNewMessages = b; }

private:
    std::int32_t LineLimit(const std::string& group) const;
    // Converts the lines of one part (header block first) into the current
    // record's files, or into the earlier part's file it continues.
    void ConvertLines(RfcLineSource& source, const RfcPart& part);
    // A message marked as part n (2 or more) of a split post: when it is a
    // continuation whose previous part is in the list, its data is appended
    // to that part's attachment and true is answered.  Otherwise it stays a
    // message of its own.
    bool JoinContinuation(CMIMEMsg& msg, const std::string& base);
    // Lists the current record and makes a copy of its headers current.
    void StartNewRecord();
    // A new, empty work file; its bare name, or empty when none was made.
    // With ppFile the file is handed back open for writing.
    std::string NewFile(const char* pszExtension, std::FILE** ppFile = nullptr);

    CSummaryList m_list;
    CMIMEMsg* m_pMsg = nullptr;       // only during a conversion
    CMIMEBodyPart* m_pPart = nullptr; // the walk's current leaf
    std::string m_szDir;
    SummaryInfo* m_pCurrent = nullptr;
    std::unique_ptr<SummaryInfo> m_pPending; // the record being filled, not yet listed
    bool m_bSplit = false;
    bool m_bNoPartDetection = false;
    bool m_bNewMessages = false;
    std::string m_szGroup;
    std::int32_t m_iLineLimit = 0; // read once per message
    bool m_bWriteFailed = false;
    // The multipart/alternative parts of this message whose text is taken.
    std::vector<const CMIMEBodyPart*> m_altTaken;
};

// The process-wide converter (null while no messages wait for a packet).
