// The POP3 client: one mail-retrieval session per RetrieveMail.
//
// Connects (with TLS at once, or after STLS as the security settings say),
// logs in with USER and PASS (or AUTH XOAUTH2 with an access token), counts the messages with STAT,
// asks for the messages' unique ids with UIDL (and their sizes with LIST when a size cap is set),
// fetches each with RETR into its own temporary file "PWZ<hex>.TMP" in the directory given at
// construction (dot-unstuffed, CR LF line ends), deletes it with DELE when asked (only when older
// than the cut-off, if one is given), and QUITs.  It reports to the owner's window with posted
// messages (wParam, lParam), the codes of Notification:
//   (NOTIFY_COUNT, count)     STAT answered
//   (NOTIFY_LINE, index)      one more line of message `index` (0-based)
//   (NOTIFY_MESSAGE, &record) a message is stored; the record names it, its
//                             file (which now belongs to the owner) and its
//                             unique id
//   (NOTIFY_SKIPPED, number)  message `number` (1-based) is over the size
//                             cap; it is not retrieved and stays on the server
//   (status, detail)          the session ended: NOTIFY_ABORTED, NOTIFY_DONE
//                             or NOTIFY_FAILED; detail 1 user name refused,
//                             2 password refused, else 0 (posted only when
//                             notifying; (NOTIFY_DONE, 0) is told from a
//                             message by its lParam)
// Records stay valid until the next RetrieveMail or the client's end.
//
// Deletions are sent only for messages that are safe: a message's file is
// complete and on the disk (file and directory synced) before its DELE goes
// out.  When a file cannot be created, written or synced, or is gone, the
// session ends as failed without committing any deletion: RSET and QUIT, or
// the connection is dropped without QUIT (inside message data, or when RSET
// is refused), which commits nothing either.
//
// A line of message data longer than the receive buffer is stored in
// pieces; only reply lines are limited to MAX_REPLY_SIZE - 2 characters.
//
// The age rule reads the Date header of the message's own header block
// (before its first empty line).  A message whose Date cannot be read (or
// that has none) is never deleted by it: keeping a copy on the server is
// better than losing mail.
#pragma once

#include "proto/BodyIO.h"
#include "proto/CProtoClient.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

class CPOP3 : public CProtoClient {
public:
    static constexpr int MAX_REPLY_SIZE = 4100;
    static constexpr int COMMAND_SIZE = 1029;
    static constexpr const char* TEMP_PREFIX = "PWZ";

    // What the owner's window receives as wParam.
    enum Notification : unsigned {
        NOTIFY_ABORTED = 0, // the session ended: aborted
        NOTIFY_MESSAGE = 1, // lParam != 0: a message is stored
        NOTIFY_DONE = 1,    // lParam == 0: the session ended, every message handled
        NOTIFY_FAILED = 2,  // the session ended: failed
        NOTIFY_LINE = 4,
        NOTIFY_COUNT = 5,
        NOTIFY_SKIPPED = 6,
    };
    enum Status {
        STATUS_ABORTED = NOTIFY_ABORTED,
        STATUS_DONE = NOTIFY_DONE,
        STATUS_FAILED = NOTIFY_FAILED
    };
    enum Detail { DETAIL_NONE = 0, DETAIL_USER = 1, DETAIL_PASSWORD = 2 };
    enum Event {
        EV_ENTER = 0,
        EV_CONNECTED = 1,
        EV_CLOSED = 2,
        EV_LINE = 3,
        EV_CONNECT_FAILED = 4,
        EV_ABORT = 5,
        EV_TLS = 6 // the STLS handshake ended (m_iTlsError)
    };

    // One stored message: its 1-based number, its file and the server's
    // unique id for it ("" when the server gave none).
    struct NotifyRecord {
        std::int32_t iMessage = 0;
        std::string strFile;
        std::string strUid;
    };

    // A message data stream that runs this far past the size cap is cut off
    // (room for a server whose sizes count a line end as one byte).
    static std::int64_t SizeLimit(std::int64_t iMaxSize) { return iMaxSize + iMaxSize / 4 + 65536; }

    // The third argument has no use; it is kept for the callers' sake.
    CPOP3(fw::Window* pNotifyWnd, unsigned uNotifyMsg, long lUnused, const char* pszTempDir);
    ~CPOP3() override;

    // Starts a session.  pszText is kept and released with the other texts
    // and has no other use.  tCutOff: seconds since 1970; 0 deletes every
    // retrieved message (when bDelete).  False when a session is running.
    bool RetrieveMail(const char* pszServer, std::uint16_t wPort, const char* pszUser,
                      const char* pszPassword, const char* pszText, bool bDelete,
                      std::int64_t tCutOff);
    // Ends the session with status 0; the end is reported only with bNotify.
    void Abort(bool bNotify);

    // Asked for each message with a unique id before it is retrieved: true
    // when the message was delivered already (by an earlier session that did
    // not end cleanly).  Such a message is not retrieved and not reported; it
    // is deleted when deleting is on without a cut-off (with a cut-off its
    // date is unknown, so it stays).  Kept across sessions.
    void SetDeliveredCheck(std::function<bool(const std::string& uid)> fn)
    {
        m_fnDelivered = std::move(fn);
    }
    // Asked for each retrieved message once its file is complete and synced,
    // before the server may delete it (bDeleting: DELE follows).  False
    // (with the reason) when the owner cannot keep the message safe: the
    // session then ends without committing any deletion and the file goes.
    // Kept across sessions.
    void SetKeepCheck(
        std::function<bool(const NotifyRecord& record, bool bDeleting, std::string& why)> fn)
    {
        m_fnKeep = std::move(fn);
    }
    // After a session that ended with its QUIT answered: the unique ids the
    // server listed, and those it has now deleted for good.
    bool QuitAnswered() const { return m_bQuitAnswered; }
    std::vector<std::string> ListedUids() const;
    const std::vector<std::string>& DeletedUids() const { return m_deletedUids; }
    // Messages larger than this are left on the server (NOTIFY_SKIPPED), and
    // a message whose data runs past SizeLimit() ends the session as failed.
    // 0: no cap.  Kept across sessions.
    void SetMaxMessageSize(std::int64_t iBytes)
    {
        m_iMaxSize = std::clamp<std::int64_t>(iBytes, 0, std::int64_t(1) << 50);
    }

    // The line to show after a failure: the server's refusal, or our own
    // reason (a file we could not write); otherwise the last reply line.  A
    // refusal stays readable although the QUIT reply comes after it.
    const char* ReplyLine() const
    {
        return m_strFailure.empty() ? m_szReply.c_str() : m_strFailure.c_str();
    }
    int Status() const { return m_iStatus; }
    int Detail() const { return m_iDetail; }
    int MessageCount() const { return m_iMessageCount; }
    // Messages of this session passed over as delivered already.
    int SkippedCount() const { return m_iSkipped; }
    // Messages of this session left on the server as too large (1-based).
    const std::vector<int>& OversizedMessages() const { return m_oversized; }

protected:
    void OnReplyLine(const char* pLine, int iLen) override;
    bool OnLinePiece(const char* pPiece, int iLen) override;
    void OnOverlongLine() override;

private:
    bool Connect(int iEvent);
    bool AwaitConnection(int iEvent);
    bool AwaitGreeting(int iEvent);
    bool AwaitStls(int iEvent);
    bool AwaitTls(int iEvent);
    bool AwaitAuth(int iEvent);
    // The login after the greeting (and STLS): USER and PASS, or AUTH
    // XOAUTH2 with a token.
    bool Login();
    bool AwaitUser(int iEvent);
    bool AwaitPass(int iEvent);
    bool AwaitStat(int iEvent);
    bool AwaitListing(int iEvent);
    bool ReceiveListing(int iEvent);
    bool NextMessage(int iEvent);
    bool AwaitRetr(int iEvent);
    bool ReceiveMessage(int iEvent);
    bool AwaitDele(int iEvent);
    bool AwaitRset(int iEvent);
    bool Quit(int iEvent);
    bool AwaitQuit(int iEvent);
    bool End(int iEvent);

    // Events every connected state treats alike: closed and abort.  True
    // when the event was one of them (the state is then End).
    bool CommonEvent(int iEvent);
    bool Positive() const;
    // A failed send or a command we refused to send: status failed, End.
    bool SendFailed();
    // Our own failure (a file we cannot write): status failed, say why, and
    // end without committing a deletion: RSET, or with bDrop (the server is
    // still sending) close without QUIT.
    bool LocalFailure(const std::string& text, bool bDrop = false);
    // The UIDL or LIST listing is complete (or refused): the next listing,
    // or the first message.
    bool ListingDone();
    // One line of a listing: "<number> <unique id>" or "<number> <size>".
    void ReadListingLine();
    // Moves past the current message, sending its DELE first when bDele;
    // false when the DELE could not be sent.
    bool LeaveMessage(bool bDele);
    // The "." after a message's data: store it, DELE it when due, report it.
    bool MessageEnd();
    std::string WriteFailure() const;
    // A header line of the message being received (the Date and the end of
    // the header block).
    void ReadHeaderLine();
    // A refusal: status failed with the detail, the line kept, QUIT.
    bool Refused(int iDetail);

    int m_iStatus = STATUS_ABORTED;
    std::string m_strTempDir;
    int m_iDetail = DETAIL_NONE;
    std::string m_strUser, m_strPassword, m_strText;
    std::string m_strAuthLine; // AUTH XOAUTH2: too long for the command buffer
    int m_iMessageCount = 0;
    int m_iIndex = 0;
    CBodyFile m_output;
    bool m_bDelete = false;
    std::int64_t m_tCutOff = 0;
    std::int64_t m_tDate = -1; // -1: the current message has no readable date
    std::string m_szReply;
    bool m_bPiece = false;    // m_szReply is a piece of an overlong data line
    bool m_bMidLine = false;  // a piece was written: the data line goes on
    bool m_bInHeader = false; // the message's header block is being received
    std::string m_strFailure;
    std::deque<NotifyRecord> m_records;

    // What UIDL and LIST said about a message (by 1-based number).
    struct Listed {
        std::string strUid;
        std::int64_t iSize = -1;
    };
    std::unordered_map<int, Listed> m_listed;
    bool m_bListingSizes = false; // the listing under way is LIST's, not UIDL's
    std::function<bool(const std::string&)> m_fnDelivered;
    std::function<bool(const NotifyRecord&, bool, std::string&)> m_fnKeep;
    bool m_bQuitAnswered = false;
    std::vector<std::string> m_deletedUids; // DELE answered in this session
    std::int64_t m_iMaxSize = 0;
    int m_iSkipped = 0;
    std::vector<int> m_oversized;
};
