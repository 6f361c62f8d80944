// Reading a REP packet: the replies an offline reader wrote, one outgoing
// record (`mailxarticle`) each, kept in one list (`Repfile`) until the
// posting session has sent them.
//
// The message file is 128-byte blocks: block 1 names the packet, then per
// reply a header block and its text blocks (lines ended by byte 0xE3).  The
// attachment list holds one line per reply: empty, or "file in the
// packet,name as given".  Both are untrusted: a block count that is below 1
// or runs past the end of the file ends the packet, and an attachment file
// name that could leave the REP work directory gives no attachment.
//
// Texts are turned into UTF-8 from the reader's character set as they are
// read.  Every reply the packet holds stays in the Repfile, also those that
// cannot be sent (no group for its conference, no destination): each carries
// the reason, so the caller can say which replies are left and keep them.
#pragma once

#include "packet/ReaderCharset.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class Newsgroups;

constexpr int REP_BLOCK_SIZE = 128;

// Where the body of a reply text begins.  A reply may open with header-style
// lines ("To:", "Subject:", "Newsgroups:" ... with continuation lines): such
// a leading block is skipped, together with the empty line that ends it.  A
// block whose names are all ones the reader uses may also end at the first
// line of text.  Anything else is body from the first line on, so a reply
// that opens "Hi Bob," or "Note: see below" loses nothing.
std::size_t ReplyTextStart(std::string_view text);

// The value of a header-style line of the reply's leading header block: the
// first line starting with `key` ("Subject:", any case), leading blanks
// removed, with every following line that starts with a blank or a tab
// appended whole.  None when the block has no such line, or the text opens
// with no header block at all.
std::optional<std::string> FindHeaderLine(std::string_view key, std::string_view text);

struct RepReadOptions {
    std::string repWorkDir;
    const Newsgroups* pGroups = nullptr;
    std::int32_t iMailingLists = 0;
    ReaderCharset charset = ReaderCharset::Cp437;
    // The packet index that tells what the replies answer: none means the
    // newest index of the packet name in the index directory (when the
    // program's settings are loaded), "" means no index.
    std::optional<std::string> indexPath;
};

// One reply.
class mailxarticle {
public:
    mailxarticle() = default;
    // Deletes the attached file (it lies in the REP work directory).
    ~mailxarticle();
    mailxarticle(const mailxarticle&) = delete;
    mailxarticle& operator=(const mailxarticle&) = delete;

    enum ReadResult {
        READ_REPLY,   // a reply was read
        READ_SKIPPED, // a reply was read that cannot be posted (m_szProblem says why)
        READ_END,     // the end of the packet
        READ_DAMAGED, // the packet ends in a broken reply; `why` says how
    };
    // Reads the next reply from the message file (and its line from the
    // attachment list, when there is one and it has lines left).
    static ReadResult Read(std::FILE* pMsg, std::FILE* pDat, const RepReadOptions& options,
                           std::unique_ptr<mailxarticle>& out, std::string& why);

    std::string Body() const { return m_szText.substr(m_iTextStart); }
    bool IsEmail() const { return m_iEmail != 0; }

    std::optional<std::string> m_szTo; // mail: the addresses; news: the header's To
    std::optional<std::string> m_szCc;
    std::string m_szSubject;
    std::optional<std::string> m_szNewsgroups;
    std::string m_szAttachPath; // full path in the REP work directory, "" for none
    std::string m_szAttachName; // the name the reader gave it
    std::int32_t m_iConference = 0;
    std::int32_t m_iEmail = 0;
    std::int32_t m_iSent = 0;
    std::string m_szText; // UTF-8, lines ended by LF
    std::size_t m_iTextStart = 0;

    // The number of the message answered (the header's reference field),
    // 0 for none.
    std::int32_t m_iReference = 0;
    // From the packet index, when it knows the message answered: its
    // Message-ID, and the References a reply carries ("" when unknown).
    std::string m_szInReplyTo;
    std::string m_szReferences;

    // Position in the packet, from 1.
    std::int32_t m_iNumber = 0;
    // The same for the same reply each time the packet is read (a digest of
    // its blocks and its attachment line), so a reply once sent is known.
    std::string m_szIdentity;
    // Why the reply cannot be sent as it stands ("" when it can).
    std::string m_szProblem;
    // Why an attachment line gave no attachment ("" when fine or none).
    std::string m_szAttachProblem;
};

class Repfile {
public:
    // Reads the whole packet, then deletes both files.  datPath "" for
    // none.  Replies are read only when block 1 starts with the first three
    // letters of the packet name (any case).
    Repfile(const std::string& msgPath, const std::string& datPath, const RepReadOptions& options,
            const std::string& packetName);
    ~Repfile();
    Repfile(const Repfile&) = delete;
    Repfile& operator=(const Repfile&) = delete;

    // The list of replies to post, with its cursor.
    mailxarticle* First() const { return m_list.empty() ? nullptr : m_list.front(); }
    mailxarticle* Current() const;
    mailxarticle* FirstUnsent();
    mailxarticle* NextUnsent();
    // Takes the cursor's reply off the list (it stays among All() with the
    // reason, and its files stay until the Repfile goes); the cursor moves
    // to the reply that followed it.
    void DeleteCurrent(const std::string& reason);

    std::int32_t m_iEmailCount = 0;
    std::int32_t m_iNewsCount = 0;

    // Every reply the packet holds, in order, also those not on the list.
    const std::vector<std::unique_ptr<mailxarticle>>& All() const { return m_all; }
    // Block 1 named this packet.
    bool Belongs() const { return m_bBelongs; }
    // Why reading stopped before the end of the file ("" when it did not).
    const std::string& Damage() const { return m_szDamage; }
    // Every reply of the packet is sent (and the packet was read whole).
    bool AllSent() const;

private:
    std::vector<std::unique_ptr<mailxarticle>> m_all;
    std::vector<mailxarticle*> m_list;
    std::size_t m_iCursor = 0;
    bool m_bBelongs = false;
    std::string m_szDamage;
};
