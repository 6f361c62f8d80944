// The Email window's logic: one POP3 retrieval at a time, each retrieved
// message handed to the session converter as personal mail, progress and
// failures reported to the user.
#pragma once

#include "framework/Window.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class CPOP3;
class Rfcmsg;
class MailSpool;

// What the window shows.
class IEmailView {
public:
    virtual ~IEmailView() = default;
    virtual void SetStatus(const std::string& text) = 0;
    virtual void SetProgress(int iPercent) = 0;
    // One row, columns separated by tabs.
    virtual void AddRow(const std::string& row) = 0;
};

// What the window needs of the main window.
struct EmailOwner {
    std::function<bool()> autorunRunning;
    std::function<void()> stepDone; // the e-mail step of Autorun ended
    std::function<void()> gone;     // the window is being destroyed
    std::function<void(int)> mainProgress;
    // Where retrieved messages are converted (created on first use).
    std::function<Rfcmsg&()> messages;
    // Where retrieved messages are written and kept until their packet is
    // saved; nullptr when it cannot be used (nothing is retrieved then).
    std::function<MailSpool*()> spool;
    std::function<bool(const std::string& title, std::string& password)> askPassword;
};

class WEmail : public fw::Window {
public:
    WEmail(EmailOwner owner, std::unique_ptr<IEmailView> pView);
    ~WEmail() override;

    // The first retrieval, as the window's construction starts it: false
    // when there is no password ("Aborting email retrieval." was shown and
    // the window is to be closed).
    bool Start();
    // Another retrieval in the open window (server and user as stored).
    void RetrieveAgain();
    // Aborts the client without a final notification.
    void Stop();
    // A retrieval is under way.
    bool Busy() const;

    IEmailView& View() { return *m_pView; }

    std::int32_t m_iTotal = 0;
    std::int32_t m_iDone = 0;
    std::int32_t m_lLines = 0;

private:
    bool ObtainPassword(std::string& password);
    // The configured port, or a reported failure when it is no port number.
    bool PortOk(int& iPort);
    void OnEvent(std::uintptr_t wParam, std::intptr_t lParam);
    void Notice(const std::string& text);
    MailSpool* Spool() const { return m_owner.spool ? m_owner.spool() : nullptr; }
    // One retrieved message: recorded in the spool, then converted.  A
    // message that cannot be kept safe ends the session before the server
    // commits any deletion.
    void Stored(std::int32_t iMessage, const std::string& file);
    void LocalFailure(const std::string& text);

    EmailOwner m_owner;
    std::unique_ptr<IEmailView> m_pView;
    std::unique_ptr<CPOP3> m_pClient;
};
