// The news-reading client.
//
// Unlike the other clients it stays connected between operations: the main
// window connects it once, and the group list, article and header windows
// then run one operation at a time on it.  Each operation names the window
// and message number that hear of it from then on (the program uses the
// NntpMessage numbers below) and returns at once; the outcome comes as a
// posted message (wParam, lParam):
//
//   (1, stop value)     Connect: the greeting was positive and the client is
//                       ready.  0 after Connect, 1 after the reconnection that
//                       follows a stopped transfer.
//   (1, &GroupRecord)   Group done: count, first, last, and the first article
//                       that arrived after the since-time (0: none found).
//   (1, &Completion)    GroupList, Xover, Head, Article, NextHead and
//                       NextArticle: the reply is stored in a temporary file
//                       "NWZ<hex>.TMP" in the client's directory (dot-
//                       unstuffed, CR LF line ends), which now belongs to the
//                       owner.  With iStop non-zero the transfer was stopped:
//                       the file is incomplete, and the client is connecting
//                       again (the next notification is (1, 1) or the end).
//   (2, 0)              refused: the server's reply (ReplyLine()) was
//                       negative, a login was needed and failed or no
//                       credentials were set, or the client refused the
//                       arguments (ReplyLine() says why).  The client stays
//                       connected and ready.
//   (4, article)        one more data line of a reply written to the file
//                       (the article number, or an overview range's first).
//   (status, &text)     the connection has ended (only when notifying):
//                       Status below; lParam points at the last command sent
//                       (a password masked), as IsEnd() recognises.
// Records and the command text stay valid until the next operation.
//
// The owner starts one operation at a time and waits for its notification.
// An operation started while the client cannot take it (not connected, busy,
// reconnecting) is not run and returns false.  Abort may come at any time.
//
// A login is answered when a command gets 480: AUTHINFO USER and PASS with
// the connection's credentials, then the interrupted command is sent again.
// A GROUP refusal mentioning "ermission" logs in with the group's own
// credentials.  At most kMaxLogins logins are tried per operation.
//
// The first new article of a group since a time: NEWNEWS for the group (the
// time in UTC, marked GMT), then STAT of each identifier in turn until one
// gives an article number.  Servers that answer STAT by identifier with the
// number 0 (every server following the current NNTP standard) are asked for
// the identifier's header instead, whose Xref field holds the number.
#pragma once

#include "proto/BodyIO.h"
#include "proto/CProtoClient.h"

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

class CNNTP : public CProtoClient {
public:
    static constexpr int MAX_REPLY_SIZE = 4100;
    static constexpr int COMMAND_SIZE = 1029;
    static constexpr const char* TEMP_PREFIX = "NWZ";
    // Logins one operation may try before it is refused.
    static constexpr int kMaxLogins = 3;
    // Identifiers kept from one NEWNEWS reply (the search needs the first).
    static constexpr int kMaxNewIds = 10000;

    // The message numbers the program's windows use for the client.
    enum NntpMessage {
        MSG_CONNECT = 1228,          // main window: Connect
        MSG_GROUP_LIST = 1229,       // main window: GroupList
        MSG_GROUP = 1230,            // groups and article windows: Group
        MSG_XOVER = 1231,            // article window: Xover
        MSG_HEADER = 1232,           // article window: Head, NextHead
        MSG_ARTICLE_ONE = 1233,      // article window: one article by hand
        MSG_ARTICLE_SELECTED = 1234, // article window: selected articles
        MSG_ARTICLE = 1235,          // article window: automatic retrieval
        MSG_QUIT = 1236              // main window: Quit
    };
    enum Notification { NOTIFY_DONE = 1, NOTIFY_REFUSED = 2, NOTIFY_LINE = 4 };
    enum Status {
        STATUS_ABORTED = 0,
        STATUS_QUIT = 1,           // ended after QUIT
        STATUS_CONNECT_FAILED = 2, // connection or greeting failed, or QUIT not sent
        STATUS_FAILED = 3,         // a command could not be sent, or the server
                                   // answered out of protocol
        STATUS_CLOSED = 5          // the server closed the connection
    };
    enum Event {
        EV_ENTER = 0,
        EV_CONNECTED = 1,
        EV_CLOSED = 2,
        EV_DATA = 3, // a line of a multi-line reply
        EV_CLASS1 = 4,
        EV_CLASS2 = 5,
        EV_CLASS3 = 6,
        EV_CLASS4 = 7,
        EV_CLASS5 = 8,
        EV_OTHER = 9, // a line that starts with no class digit, or connecting failed
        EV_ABORT = 10,
        EV_GROUP = 11,
        EV_GROUPLIST = 12,
        EV_NEXTHEAD = 13,
        EV_NEXTARTICLE = 14,
        EV_XOVER = 15,
        EV_HEAD = 16,
        EV_ARTICLE = 17,
        EV_QUIT = 18,
        EV_TLS = 19 // the STARTTLS handshake ended (m_iTlsError)
    };

    struct GroupRecord {
        std::int32_t iCount = 0;
        std::int32_t iFirst = 0;
        std::int32_t iLast = 0;
        std::int32_t iFirstNew = 0;
    };
    struct Completion {
        std::int32_t iArticle = -1;
        std::string strFile;
        int iStop = 0;
    };

    explicit CNNTP(const char* pszTempDir);
    ~CNNTP() override;

    // Connects and waits for the greeting.  User name and password (either
    // may be null) answer a login demand.
    [[nodiscard]] bool Connect(fw::Window* pWnd, unsigned uMsg, const char* pszServer,
                               std::uint16_t wPort, const char* pszUser, const char* pszPassword);
    // GROUP; with a since-time (seconds since 1970, 0 = none) also the
    // search for the first article that arrived since.  The group's user
    // name and password (may be null) answer a refusal for permission.
    [[nodiscard]] bool Group(fw::Window* pWnd, unsigned uMsg, const char* pszGroup,
                             std::int64_t tSince, const char* pszUser, const char* pszPassword);
    // LIST (since-time 0), or NEWGROUPS since that time.
    [[nodiscard]] bool GroupList(fw::Window* pWnd, unsigned uMsg, std::int64_t tSince);
    // NEXT, then the header of the new current article (after Head), or
    // else the article NEXT names.
    [[nodiscard]] bool NextHead(fw::Window* pWnd, unsigned uMsg);
    // NEXT, then the article it names.
    [[nodiscard]] bool NextArticle(fw::Window* pWnd, unsigned uMsg);
    [[nodiscard]] bool Xover(fw::Window* pWnd, unsigned uMsg, std::int32_t iFirst,
                             std::int32_t iLast);
    // HEAD of that number, of the current article when negative.
    [[nodiscard]] bool Head(fw::Window* pWnd, unsigned uMsg, std::int32_t iArticle);
    [[nodiscard]] bool Article(fw::Window* pWnd, unsigned uMsg, std::int32_t iArticle);
    [[nodiscard]] bool Quit(fw::Window* pWnd, unsigned uMsg);
    // Closes at once without QUIT; the end is posted only with bNotify.
    void Abort(fw::Window* pWnd, unsigned uMsg, bool bNotify);
    // Stops the reply being stored: at its next data line the client hands
    // over what it has and connects again (the server cannot be told to stop
    // sending otherwise).
    void Stop() { m_bStop = true; }
    bool StopRequested() const { return m_bStop; }

    // Connected, with no operation running.
    bool IsReady() const;
    // The notification (wParam, lParam) is the end of the connection.
    bool IsEnd(fw::LPARAM lParam) const
    {
        return lParam == reinterpret_cast<fw::LPARAM>(m_strLastCommand.c_str());
    }
    // The line to show after a refusal or failure: our own reason when the
    // client refused, else the server's reply.
    const char* ReplyLine() const
    {
        return m_strFailure.empty() ? m_strReply.c_str() : m_strFailure.c_str();
    }
    // The last command sent, as posted with the end (CR LF included).
    const char* LastCommand() const { return m_strLastCommand.c_str(); }
    int Status() const { return m_iStatus; }
    const GroupRecord& GroupInfo() const { return m_group; }

    // What a group list may hold: a name usable in commands and storable in
    // the group list file (no blank, comma, line end or pattern character).
    // False with the reason when not.
    static bool CheckGroupName(std::string_view name, std::string* pReason);
    // A user name or password storable with a group (no comma, no line end).
    static bool CheckGroupLogin(std::string_view text, const char* pszWhat, std::string* pReason);
    // One line of a LIST or NEWGROUPS reply: "name last first ...".  False
    // with the reason when the name cannot be used or the numbers are missing.
    static bool ParseGroupLine(std::string_view line, std::string* pName, std::int32_t* piLast,
                               std::int32_t* piFirst, std::string* pReason);

protected:
    void OnReplyLine(const char* pLine, int iLen) override;
    void OnOverlongLine() override;
    bool OnLinePiece(const char* pPiece, int iLen) override;

private:
    enum Sink { SINK_FILE, SINK_DISCARD, SINK_IDS, SINK_XREF };

    bool BeginOperation(fw::Window* pWnd, unsigned uMsg);

    // States.
    bool ConnectStep(int iEvent);
    bool AwaitConnection(int iEvent);
    bool AwaitGreeting(int iEvent);
    bool AwaitStartTls(int iEvent);
    bool AwaitTls(int iEvent);
    // The greeting's news for the owner (after STARTTLS, when it was used).
    bool Greeted();
    int m_iGreeting = 0; // the greeting's class event
    bool Ready(int iEvent);
    bool SendGroup(int iEvent);
    bool AwaitGroup(int iEvent);
    bool AwaitNewnews(int iEvent);
    bool NextId(int iEvent);
    bool AwaitStat(int iEvent);
    bool SendHeadId(int iEvent);
    bool AwaitHeadId(int iEvent);
    bool SendGroupList(int iEvent);
    bool SendXover(int iEvent);
    bool SendHead(int iEvent);
    bool SendArticle(int iEvent);
    bool SendNext(int iEvent);
    bool AwaitNext(int iEvent);
    bool AwaitListing(int iEvent);
    bool ReceiveData(int iEvent);
    bool SendAuthUser(int iEvent);
    bool AwaitAuthUser(int iEvent);
    bool AwaitAuthPass(int iEvent);
    bool SendQuit(int iEvent);
    bool AwaitQuit(int iEvent);
    bool End(int iEvent);

    // Shared steps; each returns what the state returns.
    bool Common(int iEvent);
    bool Send(const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));
    bool SendFailed();
    bool Refused();
    bool RefusedBecause(const std::string& reason);
    // A negative reply to a command that may need a login.
    bool Negative(int iEvent, bool bGroup);
    bool StartLogin(bool bGroupLogin);
    bool OutOfProtocol();
    bool GroupDone(std::int32_t iFirstNew);
    bool StartData(Sink sink);
    bool DataEnd();
    bool StopTransfer();
    bool FileFailure(const std::string& what);
    void ParseXref(const char* pLine, int iLen);
    void ResetSession();
    int ReplyCode() const;
    // The since-time as NNTP's "yymmdd hhmmss GMT".
    static std::string SinceText(std::int64_t tSince);

    int m_iStatus = STATUS_ABORTED;
    std::string m_strTempDir;
    GroupRecord m_group;
    State m_pSaved = nullptr; // the command to send again after a login

    std::string m_strConnUser, m_strConnPass;
    bool m_bConnUser = false, m_bConnPass = false;
    std::string m_strGroupUser, m_strGroupPass;
    bool m_bGroupUser = false, m_bGroupPass = false;
    int m_iLogins = 0;
    bool m_bGroupLogin = false; // this login uses the group's credentials

    bool m_bMultiLine = false;
    bool m_bPiece = false; // a data line arrives in pieces
    bool m_bLineStart = true;
    Sink m_sink = SINK_DISCARD;
    const char* m_pData = nullptr; // the data line of an EV_DATA
    int m_iDataLen = 0;
    bool m_bStop = false;

    int m_iOperation = 0; // the event of the operation running
    std::string m_strGroup;
    std::int32_t m_iArticle = -1;
    std::int32_t m_iXoverFirst = 0, m_iXoverLast = 0;
    std::int64_t m_tSince = 0;
    Completion m_completion;
    CBodyFile m_output;

    std::deque<std::string> m_ids;
    bool m_bStatGivesZero = false; // STAT <id> answers with number 0 here
    bool m_bSawXref = false;
    bool m_bInXref = false;
    std::int32_t m_iXref = 0;

    std::string m_strReply;
    std::string m_strFailure;
    std::string m_strLastCommand;
};
