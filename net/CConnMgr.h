// The connection sequence: numeric address or name lookup, connect, the next
// looked-up address after an unreachable network or a time-out, and one
// report to the owner.
#pragma once

#include "net/CHost.h"
#include "net/CSockAddr.h"
#include "net/CSocket.h"

#include <cstdint>
#include <memory>

class CConnMgrCallback {
public:
    enum Result { INVALID_RESULT = 0, CANCELLED = 1, CONNECTED = 2, FAILED = 3 };
    virtual ~CConnMgrCallback() = default;
    virtual void ConnMgrCallback(std::uint32_t dwCallbackData, int iResult) = 0;
};

class CConnMgr : public CAsyncDBCallback, public CStreamCallback {
public:
    CConnMgr(CConnMgrCallback* pCallback, std::uint32_t dwCallbackData = 0);
    // Cancels a running attempt without notice.  The socket given to Connect
    // must still exist then.
    ~CConnMgr() override;
    CConnMgr(const CConnMgr&) = delete;
    CConnMgr& operator=(const CConnMgr&) = delete;

    // False when an attempt is already running.  The outcome always comes
    // through ConnMgrCallback (possibly before Connect returns), unless the
    // attempt is cancelled without notice.  The socket stays the caller's;
    // when the attempt ends it gets pFinalCallback and dwFinalData.
    bool Connect(const char* pszHost, std::uint16_t wPort, CStreamSocket* pSocket,
                 CStreamCallback* pFinalCallback, std::uint32_t dwFinalData);
    // Ends a running attempt with CANCELLED; the owner hears of it only with
    // bNotify.  Does nothing when no attempt runs.
    void Cancel(bool bNotify);
    bool IsIdle() const { return m_pState == &CConnMgr::Idle; }

    void AsyncDBCallback(std::uint32_t dwCallbackData, int iError) override;
    void StreamCallback(std::uint32_t dwCallbackData, int iEvent, int iError,
                        const char* pBuffer) override;

    CConnMgrCallback* m_pCallback;
    std::uint32_t m_dwCallbackData;
    int m_iResult = CConnMgrCallback::INVALID_RESULT;
    std::unique_ptr<char[]> m_pszHost;
    std::uint16_t m_wPort = 0;
    CStreamSocket* m_pSocket = nullptr;
    CStreamCallback* m_pFinalCallback = nullptr;
    std::uint32_t m_dwFinalData = 0;
    bool m_bNumericAddress = false;
    CHost m_host;
    CSockAddr m_saddr;
    int m_iLastError = 0;
    bool m_bNotify = true;

private:
    enum Event { EV_ENTER = 0, EV_LOOKUP = 1, EV_CONNECT = 2, EV_CANCEL = 3 };
    using StateFn = bool (CConnMgr::*)(int iEvent);

    void Run(int iEvent);
    bool Idle(int iEvent);
    bool StartLookup(int iEvent);
    bool AwaitLookup(int iEvent);
    bool StartConnect(int iEvent);
    bool AwaitConnect(int iEvent);
    bool Finish(int iEvent);

    StateFn m_pState = &CConnMgr::Idle;
};
