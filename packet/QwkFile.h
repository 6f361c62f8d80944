// The QWK packet writer: turns the records gathered in a session into
// messages.dat, control.dat, one index file per conference, personal.ndx,
// attached.lst and qwkfiles.lst (the list of every packet file) in the
// packet work directory.
#pragma once

#include "framework/Messages.h"
#include "framework/Window.h"
#include "packet/PacketIndex.h"
#include "packet/Summary.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class Newsgroups;
class Rfcmsg;

class QwkFile {
public:
    // The progress message to the progress window:
    //   (0, total)  once, after control.dat is written;
    //   (n, text)   after each message: n within its conference, lParam the
    //               address of "Saving %d messages in conference %s", valid
    //               until the next progress message (pending messages are
    //               dispatched right after each post, so the window sees it);
    //   (0, 0)      once at the end.
    static constexpr unsigned WM_QWKPROGRESS = fw::WM_QWK_PROGRESS;

    static constexpr std::size_t kBlock = 128;
    static constexpr unsigned char kLineSep = 0xE3;
    static constexpr unsigned char kActive = 0xE1;
    // The packet index as the writer leaves it in the work directory (not
    // part of the packet); it goes beside the packet once that is saved.
    static constexpr const char* kWorkIndexName = "packet.idx";

    QwkFile(fw::Window* pProgress, const std::string& dir, const std::string& user,
            const std::string& packetName, Newsgroups* pGroups, bool bUseReplyTo, bool bLongNames,
            bool bListAllGroups);
    QwkFile(const QwkFile&) = delete;
    QwkFile& operator=(const QwkFile&) = delete;

    // Writes the whole packet.  Returns false when a packet file could not be
    // written completely (LastError() says which and why): the packet is then
    // incomplete and must not be handed on as if it were whole.
    bool WritePacket(Rfcmsg& converter);
    // Writes every record of one conference; true when at least one message
    // was written.  Used by WritePacket.
    bool WriteConference(std::FILE* pList, const std::string& conference, std::int32_t iConference,
                         Rfcmsg& converter);
    // Makes the record's packet-ready message file (header block and text
    // blocks) and sets its block count.
    void BuildMessageFile(SummaryInfo& record, bool bUseReplyTo, std::int32_t iNumber);

    std::int32_t ListedFileCount() const { return m_iListed; }
    const std::string& LastError() const { return m_error; }

    // Helpers with fixed results, public for their tests.
    static std::uint32_t ToMsbin(std::int32_t n);
    static std::string FoldHeaderList(const std::string& text, char chSeparator);
    static std::string ShortName(const SummaryInfo& record);
    static std::string ConferenceName(const std::string& name, bool bLongNames);
    // The 128-byte header block of a message.
    static std::string HeaderBlock(const SummaryInfo& record, const std::string& to,
                                   const std::string& from, std::int32_t iNumber,
                                   std::int32_t iBlocks, bool bPrivate);

private:
    void Fail(const std::string& what);
    void ListFile(std::FILE* pList, const std::string& name);
    void Progress(fw::WPARAM wParam, fw::LPARAM lParam);
    void RemoveStalePacketFiles();
    bool WriteControl(std::int32_t iTotal, const std::vector<std::string>& mailingLists,
                      std::int32_t iGroupsInPacket);

    fw::Window* m_pProgress;
    std::string m_szDir;
    std::string m_szUser;
    std::string m_szPacketName;
    Newsgroups* m_pGroups;
    std::int32_t m_iListed = 0;
    bool m_bUseReplyTo;
    bool m_bLongNames;
    bool m_bListAllGroups;

    PacketIndexWriter m_index;
    std::string m_progressText;
    std::string m_error;
};
