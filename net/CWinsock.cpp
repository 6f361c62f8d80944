#include "net/CWinsock.h"

#include "framework/MessageBox.h"
#include "util/Assert.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

bool sg_bWinsockStarted = false;

CWinsock::CWinsock(std::uint16_t wVersionRequested, std::uint16_t wLowestVersion)
{
    MT_ASSERT(!sg_bWinsockStarted);
    m_iLastError = wsa::Startup(wVersionRequested, &m_wsaData);
    if (m_iLastError != 0) {
        m_bStarted = false;
        return;
    }
    sg_bWinsockStarted = true;
    m_bStarted = true;
    // Versions compare major (low byte) first, then minor (high byte).
    unsigned haveMajor = m_wsaData.wVersion & 0xFF, haveMinor = m_wsaData.wVersion >> 8;
    unsigned needMajor = wLowestVersion & 0xFF, needMinor = wLowestVersion >> 8;
    if (haveMajor < needMajor || (haveMajor == needMajor && haveMinor < needMinor))
        m_iLastError = wsa::WSAVERNOTSUPPORTED; // started all the same; stopped at the end
}

CWinsock::~CWinsock()
{
    sg_bWinsockStarted = false;
    if (m_bStarted && wsa::Cleanup() != 0) {
        m_iLastError = wsa::GetLastError();
        char text[80];
        std::snprintf(text, sizeof text, "Winsock reported error [%d] when shutting down.",
                      m_iLastError);
        fw::MessageBoxes().Show(text, "Winsock Error", fw::MbIcon::Exclamation, fw::MbButtons::Ok,
                                true);
    }
}

// ---- the registry -------------------------------------------------------------

namespace {

struct RegistryEntry {
    fw::WPARAM key;
    int iKind;
    CWinsockEventCallback* pCallback;
};

std::vector<RegistryEntry>& Registry()
{
    static std::vector<RegistryEntry> s_registry;
    return s_registry;
}

std::vector<RegistryEntry>::iterator FindEntry(fw::WPARAM key, int iKind)
{
    auto& reg = Registry();
    for (auto it = reg.begin(); it != reg.end(); ++it)
        if (it->key == key && it->iKind == iKind)
            return it;
    return reg.end();
}

// The event window: every handler goes through the one window procedure.
class WinsockEventWindow : public fw::Window {
public:
    WinsockEventWindow()
    {
        for (unsigned uMsg = WM_ASYNC_LOOKUP_FIRST; uMsg <= WM_WINSOCK_SELECT; ++uMsg)
            OnMessage(uMsg, [this, uMsg](fw::WPARAM w, fw::LPARAM l) {
                return WinsockEventWindowProc(this, uMsg, w, l);
            });
    }
};

std::unique_ptr<fw::Window>& EventWindow()
{
    static std::unique_ptr<fw::Window> s_pWindow;
    return s_pWindow;
}

} // namespace

void RegisterWinsockEventCallback(CWinsockEventCallback* pCallback, fw::WPARAM key, int iKind)
{
    MT_ASSERT(pCallback != nullptr);
    if (FindEntry(key, iKind) != Registry().end())
        WinsockFatalError("Can't register CWinsockEventCallback object.");
    // New entries go first: the most recent registration is found fastest.
    Registry().insert(Registry().begin(), RegistryEntry{key, iKind, pCallback});
}

void DeregisterWinsockEventCallback(fw::WPARAM key, int iKind)
{
    auto it = FindEntry(key, iKind);
    if (it == Registry().end())
        WinsockFatalError("Can't deregister CWinsockEventCallback object.");
    Registry().erase(it);
}

CWinsockEventCallback* FindWinsockEventCallback(fw::WPARAM key, int iKind)
{
    auto it = FindEntry(key, iKind);
    return it == Registry().end() ? nullptr : it->pCallback;
}

int WinsockEventCallbackCount() { return static_cast<int>(Registry().size()); }

bool CreateWinsockEventWindow()
{
    if (EventWindow())
        return false;
    EventWindow() = std::make_unique<WinsockEventWindow>();
    return true;
}

fw::Window* GetWinsockEventWindow() { return EventWindow().get(); }

fw::LRESULT WinsockEventWindowProc(fw::Window* hwnd, unsigned uMsg, fw::WPARAM wParam,
                                   fw::LPARAM lParam)
{
    int iKind;
    if (uMsg >= WM_ASYNC_LOOKUP_FIRST && uMsg <= WM_ASYNC_LOOKUP_LAST)
        iKind = WINSOCK_KIND_TASK;
    else if (uMsg == WM_WINSOCK_SELECT)
        iKind = WINSOCK_KIND_SOCKET;
    else
        return hwnd ? hwnd->DefaultHandler(uMsg, wParam, lParam) : 0;
    // One lookup, one call: the registry may change during the call.
    if (CWinsockEventCallback* pCallback = FindWinsockEventCallback(wParam, iKind))
        pCallback->EventCallback(hwnd, uMsg, wParam, lParam);
    return 0;
}

void WinsockFatalError(const char* pszText)
{
    fw::MessageBoxes().Show(pszText ? pszText : "", "Winsock Classes Fatal Error",
                            fw::MbIcon::Exclamation, fw::MbButtons::Ok, true);
    std::fflush(nullptr);
    std::exit(1);
}
