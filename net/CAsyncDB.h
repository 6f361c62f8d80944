// Asynchronous lookups through the socket-event window.
#pragma once

#include "net/CWinsock.h"
#include "net/Wsa.h"

#include <cstdint>
#include <memory>

class CAsyncDBCallback {
public:
    virtual ~CAsyncDBCallback() = default;
    // iError 0: the lookup succeeded.
    virtual void AsyncDBCallback(std::uint32_t dwCallbackData, int iError) = 0;
};

// A lookup whose request is issued by StartRequest and whose completion
// arrives as a message on the event window.
class CAsyncDB : public CWinsockEventCallback {
public:
    enum State { ASYNC_IDLE = 0, ASYNC_PENDING = 1, ASYNC_COMPLETE = 2 };
    static constexpr int RESULT_BUFFER_SIZE = 1024;

    CAsyncDB();
    ~CAsyncDB() override; // cancels a pending request
    CAsyncDB(const CAsyncDB&) = delete;
    CAsyncDB& operator=(const CAsyncDB&) = delete;

    void EventCallback(fw::Window* hwnd, unsigned uMsg, fw::WPARAM wParam,
                       fw::LPARAM lParam) override;

    // 0: pending; 1: a request is already pending; else the platform's error.
    int Start(CAsyncDBCallback* pCallback, std::uint32_t dwCallbackData);
    // 2 when nothing is pending; else 0 or the platform's error.  No callback
    // follows a Cancel.
    int Cancel();

    int State() const { return m_iState; }

    CAsyncDBCallback* m_pCallback = nullptr;
    std::uint32_t m_dwCallbackData = 0;
    wsa::HANDLE m_hWSATask = 0;
    int m_iLastError = 0;

protected:
    // Issues the platform request; returns its task handle, 0 on failure.
    virtual wsa::HANDLE StartRequest() = 0;

    std::unique_ptr<char[]> m_pResult; // RESULT_BUFFER_SIZE bytes
    int m_iState = ASYNC_IDLE;
};
