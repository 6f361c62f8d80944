// Non-blocking TCP stream sockets that report their events to an owner.
#pragma once

#include "net/CWinsock.h"
#include "net/Wsa.h"

#include <netinet/in.h>

#include <cstdint>
#include <memory>

// The owner of a stream socket.
class CStreamCallback {
public:
    enum Event { CONNECT = 0, ACCEPT = 1, READ = 2, WRITE = 3, CLOSE = 4 };
    virtual ~CStreamCallback() = default;
    // iError is the error that came with the notification (0 = none).
    // pBuffer is the finished buffer (as passed to Send) for WRITE, else null.
    virtual void StreamCallback(std::uint32_t dwCallbackData, int iEvent, int iError,
                                const char* pBuffer) = 0;
};

class CStreamSocket : public CWinsockEventCallback {
public:
    enum State { IDLE = 0, CONNECTING = 1, CONNECTED = 2, LISTENING = 3 };

    // One pending output buffer.  The bytes stay the caller's: they must not
    // change until the WRITE event for the buffer or until Close.
    struct BufferDescriptor {
        BufferDescriptor* m_pNext = nullptr;
        const char* m_pBuffer = nullptr; // as passed to Send
        const char* m_pNextByte = nullptr;
        int m_iRemaining = 0;
    };

    CStreamSocket();
    // Takes over a socket that Accept returned: registered, read/write/close
    // notifications selected, CONNECTED.
    CStreamSocket(wsa::SOCKET s, CStreamCallback* pCallback, std::uint32_t dwCallbackData);
    ~CStreamSocket() override;
    CStreamSocket(const CStreamSocket&) = delete;
    CStreamSocket& operator=(const CStreamSocket&) = delete;

    void EventCallback(fw::Window* hwnd, unsigned uMsg, fw::WPARAM wParam,
                       fw::LPARAM lParam) override;

    // Each operation returns its error code (0 = success), also kept in
    // m_iLastError.
    int Connect(const sockaddr_in& addr);                       // 0, 10035 (under way) or an error
    int Send(const char* pBuffer, int iLength, int iFlags = 0); // 0, 10035 (queued) or error
    int Receive(char* pBuffer, int& iLength, int iFlags = 0);   // iLength: in size, out count
    int Close();
    int Bind(const sockaddr_in& addr);
    int Listen(const sockaddr_in& addr, int iBacklog = 5);
    // A new socket for the next waiting connection (null with the error in
    // m_iLastError); copies the peer's address out when asked.
    std::unique_ptr<CStreamSocket> Accept(CStreamCallback* pCallback, std::uint32_t dwCallbackData,
                                          sockaddr_in* pAddr = nullptr);
    int GetPeerName(sockaddr_in* pAddr);
    int GetSockName(sockaddr_in* pAddr);
    int GetSockOpt(int iLevel, int iName, char* pVal, int* piLen);
    int SetSockOpt(int iLevel, int iName, const char* pVal, int iLen);
    int IoctlSocket(long lCmd, unsigned long* pulArg);

    wsa::SOCKET m_s = wsa::INVALID_SOCKET;
    int m_iLastError = 0;
    CStreamCallback* m_pCallback = nullptr; // null: events are dropped
    std::uint32_t m_dwCallbackData = 0;
    int m_iState = IDLE;
    BufferDescriptor* m_pbdHead = nullptr;
    BufferDescriptor* m_pbdTail = nullptr;

private:
    int CreateSocket();
    void AppendDescriptor(const char* pBuffer, const char* pNext, int iRemaining);
    BufferDescriptor* RemoveHead();
    void DrainQueue();

    // Set by the destructor so that a loop that called out can tell whether
    // its owner destroyed the socket meanwhile.
    bool* m_pbDestroyed = nullptr;
};
