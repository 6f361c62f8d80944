#include "net/CAsyncDB.h"

#include "util/Assert.h"

CAsyncDB::CAsyncDB() : m_pResult(std::make_unique<char[]>(RESULT_BUFFER_SIZE)) {}

CAsyncDB::~CAsyncDB()
{
    if (m_iState == ASYNC_PENDING)
        Cancel();
}

int CAsyncDB::Start(CAsyncDBCallback* pCallback, std::uint32_t dwCallbackData)
{
    if (m_iState == ASYNC_PENDING)
        return m_iLastError = 1;
    m_iState = ASYNC_PENDING;
    m_hWSATask = StartRequest();
    if (m_hWSATask == 0) {
        m_iState = ASYNC_IDLE;
        return m_iLastError = wsa::GetLastError();
    }
    m_pCallback = pCallback;
    m_dwCallbackData = dwCallbackData;
    RegisterWinsockEventCallback(this, m_hWSATask, WINSOCK_KIND_TASK);
    return m_iLastError = 0;
}

void CAsyncDB::EventCallback(fw::Window*, unsigned, fw::WPARAM wParam, fw::LPARAM lParam)
{
    MT_ASSERT(wParam == m_hWSATask);
    DeregisterWinsockEventCallback(m_hWSATask, WINSOCK_KIND_TASK);
    int iError = wsa::SelectError(lParam);
    if (iError != 0) {
        m_iState = ASYNC_IDLE;
        m_iLastError = iError;
    } else {
        m_iState = ASYNC_COMPLETE;
        m_iLastError = 0;
    }
    CAsyncDBCallback* pCallback = m_pCallback;
    m_pCallback = nullptr;
    if (pCallback)
        pCallback->AsyncDBCallback(m_dwCallbackData, iError);
}

int CAsyncDB::Cancel()
{
    if (m_iState != ASYNC_PENDING)
        return m_iLastError = 2;
    m_iState = ASYNC_IDLE;
    DeregisterWinsockEventCallback(m_hWSATask, WINSOCK_KIND_TASK);
    m_pCallback = nullptr;
    m_dwCallbackData = 0;
    int iError = 0;
    if (wsa::CancelAsyncRequest(m_hWSATask) != 0) {
        iError = wsa::GetLastError();
        if (iError == wsa::WSAEINVAL || iError == wsa::WSAEALREADY)
            iError = 0;
    }
    return m_iLastError = iError;
}
