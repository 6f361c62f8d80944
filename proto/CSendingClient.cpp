#include "proto/CSendingClient.h"

#include "net/Wsa.h"
#include "util/Assert.h"

#include <cstring>

namespace {
const CProtoClient::EventCodes kSendingEvents = {
    CSendingClient::EV_CONNECTED, CSendingClient::EV_CLOSED, CSendingClient::EV_CONNECT_FAILED,
    CSendingClient::EV_ABORT};
}

CSendingClient::CSendingClient(const char* pszName, fw::Window* pNotifyWnd, unsigned uNotifyMsg)
    : CProtoClient(pszName, MAX_REPLY_SIZE, COMMAND_SIZE, kSendingEvents, pNotifyWnd, uNotifyMsg)
{
}

void CSendingClient::OnReplyLine(const char* pLine, int iLen)
{
    m_strLastReply.assign(pLine, static_cast<std::size_t>(iLen));
    if (m_bReplyDone)
        m_replyLines.clear();
    if (m_replyLines.size() < 100)
        m_replyLines.push_back(m_strLastReply);
    m_bReplyDone = !(iLen >= 4 && pLine[3] == '-');
    if (!m_bReplyDone)
        return; // a multi-line reply goes on
    char c = iLen > 0 ? pLine[0] : '\0';
    if (c < '1' || c > '5') {
        OnInvalidReply();
        return;
    }
    Run(EV_CLASS1 + (c - '1'));
}

void CSendingClient::OnWriteDone(const char* pBuffer, int)
{
    if (pBuffer != m_command.data())
        return;
    m_bBusy = false;
    Run(EV_BUFFER_SENT);
}

bool CSendingClient::SendLine(const std::string& line)
{
    MT_ASSERT(!m_bBusy);
    MT_ASSERT(line.size() <= m_command.size());
    std::memcpy(m_command.data(), line.data(), line.size());
    int iResult = m_socket.Send(m_command.data(), static_cast<int>(line.size()), 0);
    if (iResult == wsa::WSAEWOULDBLOCK) {
        m_bBusy = true;
        return true;
    }
    if (iResult != 0) {
        m_iLastError = iResult;
        return false;
    }
    return true;
}

void CSendingClient::BeginBody(std::FILE* pStream)
{
    m_pBody = std::make_unique<CBodyLineSource>(pStream);
}

CSendingClient::BodyStep CSendingClient::SendNextBodyLine()
{
    MT_ASSERT(m_pBody != nullptr);
    std::string line;
    switch (m_pBody->Next(line)) {
    case CBodyLineSource::LINE:
        return SendLine(line) ? BODY_LINE_SENT : BODY_SEND_FAILED;
    case CBodyLineSource::END:
        MT_ASSERT(!line.empty());
        return SendLine(line) ? BODY_END_SENT : BODY_SEND_FAILED;
    case CBodyLineSource::TOO_LONG:
        return BODY_TOO_LONG;
    case CBodyLineSource::READ_ERROR:
        break;
    }
    return BODY_READ_ERROR;
}
