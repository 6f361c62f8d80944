// The packet index: a small text file kept for each saved packet
// ("<packet file name>.idx" in the index directory, so that the directories
// holding packets hold only packets) that remembers, per message, what the packet itself
// cannot carry: the full sender address, Reply-To, Message-ID, References
// and groups.  A reader puts only the first 25 characters of the sender and
// the message's number in the packet into a reply; with the index the reply
// goes to the whole address and threads under the message it answers.
//
// One line per message, fields separated by tabs:
//   number, conference, from, reply-to, message-id, references, newsgroups
// after a first line "MTIDX 1".  Fields never hold tabs or line ends and
// are bounded in length.  The file is ours but read as untrusted: a line
// that does not parse is skipped, and identifiers that are not well formed
// are dropped.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

struct PacketIndexEntry {
    std::int32_t iNumber = 0;
    std::int32_t iConference = 0;
    std::string from;
    std::string replyTo;
    std::string messageId;  // "<...>" or ""
    std::string references; // "<a> <b>" or ""
    std::string newsgroups;
};

// The longest line that is read (longer ones are skipped whole).
constexpr std::size_t kMaxIndexLine = 4096;

// The text made safe for one field: control characters become blanks,
// cut to nMax bytes (never inside a UTF-8 character).
std::string IndexField(std::string_view text, std::size_t nMax);
// A message identifier "<left@right>" without blanks or controls, or "".
std::string CleanMessageId(std::string_view text);
// The well-formed identifiers of a References text, blank-separated, the
// oldest dropped (the first kept) while the whole passes nMax bytes.
std::string CleanReferences(std::string_view text, std::size_t nMax);

// Writes an index line by line.
class PacketIndexWriter {
public:
    PacketIndexWriter() = default;
    ~PacketIndexWriter();
    PacketIndexWriter(const PacketIndexWriter&) = delete;
    PacketIndexWriter& operator=(const PacketIndexWriter&) = delete;

    [[nodiscard]] bool Open(const std::string& path);
    void Add(const PacketIndexEntry& entry);
    // True when every line reached the file; a failed index is deleted.
    [[nodiscard]] bool Close();

private:
    std::FILE* m_f = nullptr;
    std::string m_path;
    bool m_bFailed = false;
};

// "<indexDir>/<packet file name>.idx".
std::string PacketIndexPath(const std::string& indexDir, const std::string& packetPath);
// Puts the index written in the work directory in place for the saved
// packet: a copy under a temporary name in indexDir (made when missing),
// renamed over its index path.  Without a work index (or when the copy fails) an older
// index of that packet name is removed, so it cannot speak for the new
// packet.  False when no index is in place afterwards.
bool InstallPacketIndex(const std::string& workIndex, const std::string& indexDir,
                        const std::string& packetPath);
// The newest index in dir belonging to the packet name ("Tolvan.Qwk.idx",
// "Tolvan.Qwa.idx", "Tolvan-2.Qwk.idx", any case); "" when there is none.
std::string LatestPacketIndex(const std::string& dir, const std::string& packetName);
// The entry of (conference, number), streamed from the file; none when the
// file or the entry is missing.
std::optional<PacketIndexEntry> LookUpPacketIndex(const std::string& indexPath,
                                                  std::int32_t iConference, std::int32_t iNumber);
