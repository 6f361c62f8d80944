#include "net/CConnMgr.h"

#include "util/Assert.h"

#include <arpa/inet.h>

#include <cstring>

CConnMgr::CConnMgr(CConnMgrCallback* pCallback, std::uint32_t dwCallbackData)
    : m_pCallback(pCallback), m_dwCallbackData(dwCallbackData)
{
    MT_ASSERT(pCallback != nullptr);
}

CConnMgr::~CConnMgr()
{
    if (!IsIdle())
        Cancel(false);
}

bool CConnMgr::Connect(const char* pszHost, std::uint16_t wPort, CStreamSocket* pSocket,
                       CStreamCallback* pFinalCallback, std::uint32_t dwFinalData)
{
    MT_ASSERT(pszHost != nullptr && pSocket != nullptr);
    if (!IsIdle())
        return false;
    m_iResult = CConnMgrCallback::INVALID_RESULT;
    std::size_t n = std::strlen(pszHost) + 1;
    m_pszHost = std::make_unique<char[]>(n);
    std::memcpy(m_pszHost.get(), pszHost, n);
    m_wPort = wPort;
    m_pSocket = pSocket;
    m_pFinalCallback = pFinalCallback;
    m_dwFinalData = dwFinalData;
    m_bNotify = true;
    // Any earlier connection of the socket is dropped.
    m_pSocket->m_pCallback = this;
    m_pSocket->m_dwCallbackData = 0;
    m_pSocket->Close();
    m_pState = &CConnMgr::StartLookup;
    Run(EV_ENTER);
    return true;
}

void CConnMgr::Cancel(bool bNotify)
{
    m_bNotify = bNotify;
    Run(EV_CANCEL);
}

void CConnMgr::Run(int iEvent)
{
    // A state returns true when it moved on and the new state should run.
    // Nothing here touches the object after a state returned false: the
    // owner's callback (from Finish) may have destroyed it.
    while ((this->*m_pState)(iEvent))
        iEvent = EV_ENTER;
}

bool CConnMgr::Idle(int) { return false; }

bool CConnMgr::StartLookup(int)
{
    in_addr_t dwNet = ::inet_addr(m_pszHost.get());
    if (dwNet != INADDR_NONE) {
        m_bNumericAddress = true;
        m_saddr = CSockAddr();
        m_saddr.SetNetAddress(dwNet);
        m_pState = &CConnMgr::StartConnect;
        return true;
    }
    m_bNumericAddress = false;
    m_host.SetHost(m_pszHost.get());
    m_iLastError = m_host.Start(this, 0);
    if (m_iLastError != 0) {
        m_iResult = CConnMgrCallback::FAILED;
        m_pState = &CConnMgr::Finish;
    } else {
        m_pState = &CConnMgr::AwaitLookup;
    }
    return true;
}

bool CConnMgr::AwaitLookup(int iEvent)
{
    if (iEvent == EV_CANCEL) {
        m_host.Cancel();
        m_iResult = CConnMgrCallback::CANCELLED;
        m_pState = &CConnMgr::Finish;
        return true;
    }
    if (iEvent != EV_LOOKUP)
        return false;
    if (m_iLastError != 0) {
        m_iResult = CConnMgrCallback::FAILED;
        m_pState = &CConnMgr::Finish;
        return true;
    }
    bool bResult = false;
    m_saddr = m_host.GetFirstAddress(&bResult);
    if (!bResult)
        WinsockFatalError("Can't access address following lookup in CConnMgr::AwaitLookup");
    m_pState = &CConnMgr::StartConnect;
    return true;
}

bool CConnMgr::StartConnect(int)
{
    m_saddr.SetPort(m_wPort);
    m_iLastError = m_pSocket->Connect(m_saddr);
    if (m_iLastError != 0 && m_iLastError != wsa::WSAEWOULDBLOCK) {
        m_pSocket->Close();
        m_iResult = CConnMgrCallback::FAILED;
        m_pState = &CConnMgr::Finish;
    } else {
        m_pState = &CConnMgr::AwaitConnect;
    }
    return true;
}

bool CConnMgr::AwaitConnect(int iEvent)
{
    if (iEvent == EV_CANCEL) {
        m_pSocket->Close();
        m_iResult = CConnMgrCallback::CANCELLED;
        m_pState = &CConnMgr::Finish;
        return true;
    }
    if (iEvent != EV_CONNECT)
        return false;
    if (m_iLastError == 0) {
        m_iResult = CConnMgrCallback::CONNECTED;
        m_pState = &CConnMgr::Finish;
        return true;
    }
    if ((m_iLastError == wsa::WSAENETUNREACH || m_iLastError == wsa::WSAETIMEDOUT) &&
        !m_bNumericAddress) {
        bool bResult = false;
        CSockAddr next = m_host.GetNextAddress(&bResult);
        if (bResult) {
            m_pSocket->Close();
            m_saddr = next;
            m_pState = &CConnMgr::StartConnect;
            return true;
        }
    }
    m_iResult = CConnMgrCallback::FAILED;
    m_pSocket->Close();
    m_pState = &CConnMgr::Finish;
    return true;
}

bool CConnMgr::Finish(int)
{
    m_pszHost.reset();
    m_pSocket->m_pCallback = m_pFinalCallback;
    m_pSocket->m_dwCallbackData = m_dwFinalData;
    // Idle before the owner hears of it, so that the owner may start the
    // next attempt (or destroy this manager) from inside its callback.
    m_pState = &CConnMgr::Idle;
    if (m_bNotify)
        m_pCallback->ConnMgrCallback(m_dwCallbackData, m_iResult);
    return false;
}

void CConnMgr::AsyncDBCallback(std::uint32_t, int iError)
{
    m_iLastError = iError;
    Run(EV_LOOKUP);
}

void CConnMgr::StreamCallback(std::uint32_t, int iEvent, int iError, const char*)
{
    m_iLastError = iError;
    if (iEvent == CStreamCallback::CONNECT) {
        Run(EV_CONNECT);
        return;
    }
    m_pSocket->Close();
    WinsockFatalError("Unexpected socket event in CConnMgr::StreamCallback");
}
