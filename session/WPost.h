// The posting window's logic ("Posted Messages"): sends the replies of the
// loaded REP packet one at a time, mail through the SMTP client and news
// through the NNTP posting client, each cut into parts as configured; lists
// a row per recipient or group of each reply begun, shows progress, stops
// and resumes, and finishes the packet.
//
// A reply counts as sent only when the server took its last part; it is
// then written to the ledger of sent replies at once.  Each earlier part is
// written there too when taken, so a reply stopped or refused midway goes
// on from its first part not sent, in this run or a later one, and no part
// reaches the server twice.  At the end the REP
// file is deleted only when every reply it holds is sent; otherwise it is
// kept (the ledger says which are done) and the replies left are reported
// as a failure of the run, each with its reason.
#pragma once

#include "framework/Window.h"
#include "proto/CNNTPP.h"
#include "proto/CSMTP.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class Repfile;
class RepLedger;
class mailxarticle;
class CSendJob;
struct SendSettings;

// The clients bound to a window: the end of a session is posted to it as
// (wParam = the value given at creation, lParam = the status).
class CSMTPWithWinMsg : public CSMTP {
public:
    CSMTPWithWinMsg(fw::Window* pWnd, unsigned uMsg, std::int32_t lValue = 0)
        : CSMTP(pWnd, uMsg), m_lValue(lValue)
    {
    }

protected:
    void NotifyDone() override;

private:
    std::int32_t m_lValue;
};

class CNNTPPWithWinMsg : public CNNTPP {
public:
    CNNTPPWithWinMsg(fw::Window* pWnd, unsigned uMsg, std::int32_t lValue = 0)
        : CNNTPP(pWnd, uMsg), m_lValue(lValue)
    {
    }

protected:
    void NotifyDone() override;

private:
    std::int32_t m_lValue;
};

class IPostView {
public:
    virtual ~IPostView() = default;
    virtual void SetStatus(const std::string& text) = 0;
    virtual void SetProgress(int iPercent) = 0;
    virtual void AddRow(const std::string& row) = 0;
};

// What the window needs of the main window.
struct PostOwner {
    std::function<bool()> autorunRunning;
    std::function<void()> stepDone; // the posting step of Autorun ended
    std::function<void()> gone;     // the window is being destroyed
    std::function<void(bool)> enableOpen;
    std::function<Repfile*()> repfile; // the loaded packet (nullptr when none)
    std::function<RepLedger*()> ledger;
    std::function<std::string()> repPath;
    std::function<void()> dropRepfile; // the packet is done with
    // The settings of the jobs (tests give their own; default: the settings).
    std::function<SendSettings()> mailSettings;
    std::function<SendSettings()> newsSettings;
};

class WPost : public fw::Window {
public:
    // Starts at once (Opening): the first unsent reply, or "Nothing to post!".
    WPost(PostOwner owner, std::unique_ptr<IPostView> pView);
    ~WPost() override;

    // Starts sending the current reply (Post replies again resumes here).
    void SendCurrent();
    // Aborts both clients without notice; the current reply stays current.
    void Stop();
    // A reply is on its way.
    bool Busy() const;
    bool Finished() const { return m_bFinished; }

    IPostView& View() { return *m_pView; }

    std::int32_t m_lLines = 0;
    std::int32_t m_iStarted = 0;
    std::int32_t m_iTotal = 0;

private:
    void OnEvent(bool bMail, std::intptr_t lEvent);
    void Finish(bool bSound);
    // The reply is done with (sent or failed): on to the next unsent one.
    void NextReply();
    void ReplySent(mailxarticle& record);
    void ReplyFailed(mailxarticle& record, const std::string& why);
    void PartSent(CSendJob& job);
    void SkipSentParts(CSendJob& job);
    bool AutorunRunning() const { return m_owner.autorunRunning && m_owner.autorunRunning(); }

    PostOwner m_owner;
    std::unique_ptr<IPostView> m_pView;
    std::unique_ptr<CSMTPWithWinMsg> m_pSmtp;
    std::unique_ptr<CNNTPPWithWinMsg> m_pNntp;
    std::unique_ptr<CSendJob> m_pMailJob;
    std::unique_ptr<CSendJob> m_pNewsJob;
    mailxarticle* m_pCurrent = nullptr;
    bool m_bStopped = false;
    bool m_bFinished = false;
};
