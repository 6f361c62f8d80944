// The POP3 client: one mail-retrieval session per RetrieveMail.
//
// Connects, logs in with USER and PASS, counts the messages with STAT,
// fetches each with RETR into its own temporary file "PWZ<hex>.TMP" in the
// directory given at construction (dot-unstuffed, CR LF line ends), deletes
// it with DELE when asked (only when older than the cut-off, if one is
// given), and QUITs.  It reports to the owner's window with posted messages
// (wParam, lParam):
//   (5, count)        STAT answered
//   (4, index)        one more line of message `index` (0-based) written
//   (1, &record)      a message is stored; the record names it and its file,
//                     which now belong to the owner
//   (status, detail)  the session ended: status 0 aborted, 1 done, 2 failed;
//                     detail 1 user name refused, 2 password refused, else 0
//                     (posted only when notifying; (1, 0) is the end, told
//                     from a message by its lParam)
// Records stay valid until the next RetrieveMail or the client's end.
//
// A message whose Date: cannot be read (or that has none) is never deleted
// by the age rule: keeping a copy on the server is better than losing mail.
#pragma once

#include "proto/BodyIO.h"
#include "proto/CProtoClient.h"

#include <cstdint>
#include <deque>
#include <string>

class CPOP3 : public CProtoClient {
public:
    static constexpr int MAX_REPLY_SIZE = 4100;
    static constexpr int COMMAND_SIZE = 1029;
    static constexpr const char* TEMP_PREFIX = "PWZ";

    enum Status { STATUS_ABORTED = 0, STATUS_DONE = 1, STATUS_FAILED = 2 };
    enum Detail { DETAIL_NONE = 0, DETAIL_USER = 1, DETAIL_PASSWORD = 2 };
    enum Notification { NOTIFY_MESSAGE = 1, NOTIFY_LINE = 4, NOTIFY_COUNT = 5 };
    enum Event {
        EV_ENTER = 0,
        EV_CONNECTED = 1,
        EV_CLOSED = 2,
        EV_LINE = 3,
        EV_CONNECT_FAILED = 4,
        EV_ABORT = 5
    };

    // One stored message: its 1-based number and its file.
    struct NotifyRecord {
        std::int32_t iMessage = 0;
        std::string strFile;
    };

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

protected:
    void OnReplyLine(const char* pLine, int iLen) override;
    void OnOverlongLine() override;

private:
    bool Connect(int iEvent);
    bool AwaitConnection(int iEvent);
    bool AwaitGreeting(int iEvent);
    bool AwaitUser(int iEvent);
    bool AwaitPass(int iEvent);
    bool AwaitStat(int iEvent);
    bool NextMessage(int iEvent);
    bool AwaitRetr(int iEvent);
    bool ReceiveMessage(int iEvent);
    bool AwaitDele(int iEvent);
    bool Quit(int iEvent);
    bool AwaitQuit(int iEvent);
    bool End(int iEvent);

    // Events every connected state treats alike: closed and abort.  True
    // when the event was one of them (the state is then End).
    bool CommonEvent(int iEvent);
    bool Positive() const;
    // A failed send or a command we refused to send: status failed, End.
    bool SendFailed();
    // Our own failure (a file we cannot write): status failed, say why, QUIT.
    bool LocalFailure(const std::string& text);
    // A refusal: status failed with the detail, the line kept, QUIT.
    bool Refused(int iDetail);

    int m_iStatus = STATUS_ABORTED;
    std::string m_strTempDir;
    int m_iDetail = DETAIL_NONE;
    std::string m_strUser, m_strPassword, m_strText;
    int m_iMessageCount = 0;
    int m_iIndex = 0;
    CBodyFile m_output;
    bool m_bDelete = false;
    std::int64_t m_tCutOff = 0;
    std::int64_t m_tDate = -1; // -1: the current message has no readable date
    std::string m_szReply;
    std::string m_strFailure;
    std::deque<NotifyRecord> m_records;
};
