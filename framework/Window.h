// Windows without pixels: objects that receive numbered messages.
//
// A Window registers a handler per message number.  Post() queues a message
// on the Qt event loop (it never fails, so nothing is lost); Send() calls the
// handler at once.  Destroying a window drops the messages still queued for
// it.  MessageLoop runs the loop, takes one batch of messages while something
// waits, and lets tests pump until a condition holds.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>

namespace fw {

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

// The first message number free for private use.
constexpr unsigned WM_USER = 1024;

class Window {
public:
    using Handler = std::function<LRESULT(WPARAM, LPARAM)>;

    Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    virtual ~Window();

    // Registers (or replaces) the handler for one message number.
    void OnMessage(unsigned uMsg, Handler handler);
    bool HasHandler(unsigned uMsg) const;

    // Queues the message for later dispatch on the event loop.  Always
    // succeeds; returns true so callers written for a refusing platform work.
    bool Post(unsigned uMsg, WPARAM wParam = 0, LPARAM lParam = 0);
    // Dispatches at once; 0 when no handler is registered.
    LRESULT Send(unsigned uMsg, WPARAM wParam = 0, LPARAM lParam = 0);

    // Called for a message without a registered handler.
    virtual LRESULT DefaultHandler(unsigned uMsg, WPARAM wParam, LPARAM lParam);

private:
    class Receiver;
    std::unique_ptr<Receiver> m_pReceiver;
    std::unordered_map<unsigned, Handler> m_handlers;
};

class MessageLoop {
public:
    // Runs until Quit(); returns its code.  Needs a QCoreApplication.
    static int Run();
    static void Quit(int iCode = 0);
    // Quit() was called and the loop has not run again since: nested waits
    // (another program running) give up.
    static bool Quitting();
    // Waits for at least one message and dispatches what is pending: the
    // "take one message, translate and dispatch it" step of a busy wait.
    static void TakeOneMessage();
    // Dispatches whatever is pending without waiting.
    static void DispatchPending();
    // Dispatches messages until the condition holds or the time runs out.
    // Returns the condition's final value.  For tests and bounded waits.
    static bool PumpUntil(const std::function<bool()>& condition, int iTimeoutMs);
    // Window messages posted and not yet handled (or dropped).
    static int PendingMessages();
    // Posted messages dispatched so far (a measure of activity).
    static unsigned long DispatchedMessages();
};

} // namespace fw
