// The socket service object, the socket-event window with its callback
// registry, and the fatal-error routine of the socket library.
//
// Start-up (once, before any socket is used):
//     CWinsock winsock;                       // or CWinsock(0x0101, 0x0101)
//     if (!CreateWinsockEventWindow()) ...    // "Could not create ... window"
//     if (winsock.m_iLastError != 0) ...      // the service did not start
// Every socket and lookup notification then arrives as a message 1024..1030
// on that window and is routed by (key, kind) to the object that registered.
#pragma once

#include "framework/Window.h"
#include "net/Wsa.h"

#include <cstdint>

// Private message numbers of the socket-event window.
constexpr unsigned WM_ASYNC_LOOKUP_FIRST = fw::WM_USER;    // 1024..1029: lookups
constexpr unsigned WM_ASYNC_HOST_LOOKUP = fw::WM_USER + 1; // 1025: host by name
constexpr unsigned WM_ASYNC_LOOKUP_LAST = fw::WM_USER + 5;
constexpr unsigned WM_WINSOCK_SELECT = fw::WM_USER + 6; // 1030: socket events

// Registry kinds.
constexpr int WINSOCK_KIND_TASK = 0;
constexpr int WINSOCK_KIND_SOCKET = 1;

// The event window's class name, kept for messages and diagnostics.
constexpr const char* WINSOCK_EVENT_WINDOW_CLASS = "WSAEventWindow";

// Receives the raw notification messages of the socket-event window.
class CWinsockEventCallback {
public:
    virtual ~CWinsockEventCallback() = default;
    virtual void EventCallback(fw::Window* hwnd, unsigned uMsg, fw::WPARAM wParam,
                               fw::LPARAM lParam) = 0;
};

// Starts the socket service on construction and stops it on destruction.
class CWinsock {
public:
    static constexpr std::uint16_t VERSION_1_1 = 0x0101;

    explicit CWinsock(std::uint16_t wVersionRequested = VERSION_1_1,
                      std::uint16_t wLowestVersion = VERSION_1_1);
    ~CWinsock();
    CWinsock(const CWinsock&) = delete;
    CWinsock& operator=(const CWinsock&) = delete;

    wsa::WSADATA m_wsaData;
    int m_iLastError = 0; // 0 after a good start-up
    bool m_bStarted = false;
};

// TRUE while a CWinsock object has the service started.
extern bool sg_bWinsockStarted;

// Creates the hidden socket-event window.  True when it was created now;
// false when it already existed (the existing one stays in use).
bool CreateWinsockEventWindow();
// The event window, or null before creation.
fw::Window* GetWinsockEventWindow();
// The window procedure: routes messages 1024..1029 to (wParam, kind 0) and
// 1030 to (wParam, kind 1).  Unregistered keys are dropped.  Returns 0.
fw::LRESULT WinsockEventWindowProc(fw::Window* hwnd, unsigned uMsg, fw::WPARAM wParam,
                                   fw::LPARAM lParam);

// Registry of notification receivers.  A duplicate (key, kind) on insertion
// or a missing one on removal is fatal.
void RegisterWinsockEventCallback(CWinsockEventCallback* pCallback, fw::WPARAM key, int iKind);
void DeregisterWinsockEventCallback(fw::WPARAM key, int iKind);
// The receiver registered for (key, kind), or null.
CWinsockEventCallback* FindWinsockEventCallback(fw::WPARAM key, int iKind);
// Number of entries (for diagnostics and tests).
int WinsockEventCallbackCount();

// Shows the text in an unowned box captioned "Winsock Classes Fatal Error"
// and ends the process with exit code 1.
[[noreturn]] void WinsockFatalError(const char* pszText);
