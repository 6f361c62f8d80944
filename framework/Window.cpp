#include "framework/Window.h"

#include "util/Assert.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

namespace fw {

namespace {
const QEvent::Type kMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Messages posted and not yet dispatched or dropped (one thread only).
int s_iPending = 0;
// Messages dispatched from the queue so far.
unsigned long s_ulDispatched = 0;

class MessageEvent : public QEvent {
public:
    MessageEvent(unsigned uMsg, WPARAM wParam, LPARAM lParam)
        : QEvent(kMessageEvent), m_uMsg(uMsg), m_wParam(wParam), m_lParam(lParam)
    {
        ++s_iPending;
    }
    // Qt deletes the event after dispatching it, or unsent with its receiver.
    ~MessageEvent() override { --s_iPending; }
    unsigned m_uMsg;
    WPARAM m_wParam;
    LPARAM m_lParam;
};
} // namespace

class Window::Receiver : public QObject {
public:
    explicit Receiver(Window* pOwner) : m_pOwner(pOwner) {}
    bool event(QEvent* pEvent) override
    {
        if (pEvent->type() != kMessageEvent)
            return QObject::event(pEvent);
        auto* pMsg = static_cast<MessageEvent*>(pEvent);
        ++s_ulDispatched;
        m_pOwner->Send(pMsg->m_uMsg, pMsg->m_wParam, pMsg->m_lParam);
        return true;
    }

private:
    Window* m_pOwner;
};

Window::Window() : m_pReceiver(std::make_unique<Receiver>(this)) {}

Window::~Window() = default; // Qt drops the events still posted to the receiver

void Window::OnMessage(unsigned uMsg, Handler handler) { m_handlers[uMsg] = std::move(handler); }

bool Window::HasHandler(unsigned uMsg) const { return m_handlers.count(uMsg) != 0; }

bool Window::Post(unsigned uMsg, WPARAM wParam, LPARAM lParam)
{
    QCoreApplication::postEvent(m_pReceiver.get(), new MessageEvent(uMsg, wParam, lParam));
    return true;
}

LRESULT Window::Send(unsigned uMsg, WPARAM wParam, LPARAM lParam)
{
    auto it = m_handlers.find(uMsg);
    if (it == m_handlers.end())
        return DefaultHandler(uMsg, wParam, lParam);
    // Copy: the handler may replace itself while running.
    Handler handler = it->second;
    return handler(wParam, lParam);
}

LRESULT Window::DefaultHandler(unsigned, WPARAM, LPARAM) { return 0; }

int MessageLoop::PendingMessages() { return s_iPending; }

unsigned long MessageLoop::DispatchedMessages() { return s_ulDispatched; }

namespace {
bool sg_bQuitting = false;
}

int MessageLoop::Run()
{
    MT_ASSERT(QCoreApplication::instance() != nullptr);
    sg_bQuitting = false;
    return QCoreApplication::exec();
}

void MessageLoop::Quit(int iCode)
{
    sg_bQuitting = true;
    QCoreApplication::exit(iCode);
}

bool MessageLoop::Quitting() { return sg_bQuitting; }

void MessageLoop::TakeOneMessage()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void MessageLoop::DispatchPending()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool MessageLoop::PumpUntil(const std::function<bool()>& condition, int iTimeoutMs)
{
    QDeadlineTimer deadline(iTimeoutMs);
    // A ticking timer wakes the wait so the deadline is seen even when no
    // other event arrives.
    QTimer tick;
    tick.setInterval(10);
    tick.start();
    while (!condition()) {
        if (deadline.hasExpired())
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

} // namespace fw
