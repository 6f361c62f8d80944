// What the two sending clients (SMTP and NNTP posting) add to the client
// base: replies are judged by their class only, and the message body goes
// out line by line through the one command buffer.
//
// Reply lines: a line whose fourth character is "-" continues a multi-line
// reply and is only taken off the buffer; any other line runs the machine
// with event 3 to 7 for classes "1" to "5".  A line starting with anything
// else goes to OnInvalidReply (the client ends the session as failed).  The
// last reply line stays readable in LastReply() for the owner to show.
//
// The command buffer: a line that the socket had to queue keeps the buffer
// busy until its WRITE event, which runs the machine with event 8; a state
// that wants to format the next line waits for that event first.
#pragma once

#include "proto/BodyIO.h"
#include "proto/CProtoClient.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

class CSendingClient : public CProtoClient {
public:
    static constexpr int MAX_REPLY_SIZE = 512;
    static constexpr int COMMAND_SIZE = 1001;
    enum Event {
        EV_ENTER = 0,
        EV_CONNECTED = 1,
        EV_CLOSED = 2,
        EV_CLASS1 = 3,
        EV_CLASS2 = 4,
        EV_CLASS3 = 5,
        EV_CLASS4 = 6,
        EV_CLASS5 = 7,
        EV_BUFFER_SENT = 8,
        EV_CONNECT_FAILED = 9,
        EV_ABORT = 10,
        EV_TLS = 11 // a STARTTLS handshake ended (m_iTlsError)
    };

    CSendingClient(const char* pszName, fw::Window* pNotifyWnd, unsigned uNotifyMsg);

    const char* LastReply() const { return m_strLastReply.c_str(); }
    // The command buffer waits for its WRITE event.
    bool CommandBusy() const { return m_bBusy; }

protected:
    void OnReplyLine(const char* pLine, int iLen) override;
    void OnWriteDone(const char* pBuffer, int iError) override;
    virtual void OnInvalidReply() = 0;

    // Sends one line that is already complete with CR LF through the command
    // buffer; marks it busy when the socket queued it.  False on a send
    // error (in m_iLastError).
    bool SendLine(const std::string& line);

    // The body: the stream stays the caller's.
    void BeginBody(std::FILE* pStream);
    enum BodyStep {
        BODY_LINE_SENT,
        BODY_END_SENT,
        BODY_TOO_LONG,
        BODY_READ_ERROR,
        BODY_SEND_FAILED
    };
    // Sends the next body line, or the final "." line after the last one.
    BodyStep SendNextBodyLine();
    int BodyLines() const { return m_pBody ? m_pBody->Lines() : 0; }

    std::string m_strLastReply;
    // Every line of the last (or current) reply.
    std::vector<std::string> m_replyLines;

private:
    bool m_bReplyDone = true;
    bool m_bBusy = false;
    std::unique_ptr<CBodyLineSource> m_pBody;
};
