// One packet message made from a retrieved mail or article, and the list of
// them in arrival order.
//
// A record owns its files: destroying it deletes its body file and its saved
// attachment file from its directory.
#pragma once

#include "util/CList.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// How the last part of a record was decoded.
enum : std::int32_t {
    ENC_PLAIN = 0,
    ENC_BASE64 = 1,
    ENC_UUENCODE = 2,
    ENC_QUOTED = 3,
    ENC_BINARY = 4,
};

class SummaryInfo {
public:
    explicit SummaryInfo(const std::string& dir = std::string());
    ~SummaryInfo();
    SummaryInfo(const SummaryInfo&) = delete;
    SummaryInfo& operator=(const SummaryInfo&) = delete;

    // A record for a further part of the same message: number, the six
    // header texts, date and directory copied; no files.
    std::unique_ptr<SummaryInfo> CopyHeaders() const;

    std::string BodyPath() const;   // empty when there is no body file
    std::string AttachPath() const; // empty when there is no attachment

    std::int32_t m_iNumber = 0;
    std::string m_szMessageId;
    std::string m_szFrom;
    std::string m_szReplyTo;
    std::string m_szSubject;
    std::string m_szNewsgroups;
    std::string m_szReferences; // the message's References, as they came
    std::string m_szConference; // "email", a mailing-list address or a group
    std::string m_szBodyFile;   // bare name in m_szDir
    std::int32_t m_iBlocks = 0; // blocks in messages.dat; the row mark for overview records
    std::string m_szAttachFile; // bare name in m_szDir
    std::optional<std::string> m_szGivenName; // the attachment's name as the sender gave it
    std::int32_t m_iPartsTotal = 0;
    std::int32_t m_iPartNumber = 0; // -1: a continuation that could not be joined
    std::int32_t m_iEncoding = ENC_PLAIN;
    std::string m_szDir;
    std::int64_t m_tDate = 0;   // seconds since 1970, UTC
    std::int32_t m_iLines = -1; // only overview records know it
    // Set once the body file holds the packet-ready message (header block
    // and text blocks), so a second packet from the same records only
    // renumbers it.
    bool m_bPacketReady = false;
};

// The records in the order they were added; the list owns them.
class CSummaryList : public CList {
public:
    CSummaryList() = default;
    ~CSummaryList() override;

    SummaryInfo* Add(std::unique_ptr<SummaryInfo> pRecord);
    SummaryInfo* First() { return static_cast<SummaryInfo*>(CList::First()); }
    SummaryInfo* Next() { return static_cast<SummaryInfo*>(CList::Next()); }

    void Release(void* pItem) override;
};

// Deletes a work file given by its bare name; names that could leave the
// directory are never touched.
void DeleteWorkFile(const std::string& dir, const std::string& name);
