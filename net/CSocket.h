// Non-blocking TCP stream sockets that report their events to an owner.
#pragma once

#include "net/CTls.h"
#include "net/CWinsock.h"
#include "net/Wsa.h"

#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <string>

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

    // Starts TLS on a connected socket (at once for implicit TLS, or after
    // the server agreed to STARTTLS).  Returns 10035 while the handshake runs
    // or an error; the outcome comes as a CONNECT event with 0 or the TLS
    // error (the certificate's problem and fingerprint are in the error's
    // text).  Afterwards Send, Receive and the events work as before on the
    // plain text; a failed handshake leaves the socket for the owner to close.
    int StartTls(const TlsOptions& options);
    // The secure session (null on a plain socket).
    const CTlsSession* Tls() const { return m_pTls.get(); }
    bool Encrypted() const { return m_pTls && !m_pTls->Handshaking(); }

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
    // Sends up to iLength bytes (through TLS when on): the count taken, or
    // SOCKET_ERROR with the last error set.
    int SendSome(const char* p, int iLength, int iFlags);
    int TlsReceive(char* pBuffer, int& iLength);
    // Writes out what TLS produced: 0, 10035 (the rest waits for FD_WRITE)
    // or an error.
    int FlushTls();
    void TlsHandshakeEvent(int iEvent, int iError);
    void FinishHandshake(int iError);
    void PostReadAgain();

    std::unique_ptr<CTlsSession> m_pTls;
    std::string m_tlsOut; // ciphertext not yet taken by the network
    std::size_t m_iTlsOutDone = 0;
    bool m_bTlsFailed = false; // the handshake failed: events are dropped

    // Set by the destructor so that a loop that called out can tell whether
    // its owner destroyed the socket meanwhile.
    bool* m_pbDestroyed = nullptr;
};
