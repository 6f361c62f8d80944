// What the main window's logic needs of the screen.  The window program
// implements it with widgets; a headless run prints; tests record.
#pragma once

#include "session/WEmail.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class IMainView {
public:
    virtual ~IMainView() = default;
    virtual void SetStatus(const std::string& text) = 0;
    // 0..100; 0 clears the progress pane.
    virtual void SetProgress(int iPercent) = 0;
    // Enables or grays a command in the menu and on the toolbar.
    virtual void EnableCommand(int iCommand, bool bEnable) = 0;
    virtual void CheckCommand(int iCommand, bool bCheck) = 0;
    // The toolbar's two-state Connect button.
    virtual void PressConnect(bool bPressed) = 0;
    // The password dialog; false when cancelled or when nobody can answer.
    virtual bool AskPassword(const std::string& title, std::string& password) = 0;
    // The "Save QWK File As" dialog, proposing a path; false on cancel.
    virtual bool AskSavePath(const std::string& proposed, std::string& chosen) = 0;
    virtual void ShowSplash() = 0;
    // The settings dialogs (server setup and the others); false when the
    // view has none (a headless run is set up with mailtolvan-tool config).
    virtual bool ShowDialog(int iCommand) = 0;
    // The view of a new Email window.
    virtual std::unique_ptr<IEmailView> CreateEmailView() = 0;
};

// A headless run: status lines on stderr, no dialogs, nobody to ask.
class ConsoleMainView : public IMainView {
public:
    void SetStatus(const std::string& text) override;
    void SetProgress(int) override {}
    void EnableCommand(int iCommand, bool bEnable) override { enabled[iCommand] = bEnable; }
    void CheckCommand(int iCommand, bool bCheck) override { checked[iCommand] = bCheck; }
    void PressConnect(bool bPressed) override { bConnectPressed = bPressed; }
    bool AskPassword(const std::string&, std::string&) override { return false; }
    bool AskSavePath(const std::string& proposed, std::string& chosen) override
    {
        chosen = proposed;
        return true;
    }
    void ShowSplash() override {}
    bool ShowDialog(int) override { return false; }
    std::unique_ptr<IEmailView> CreateEmailView() override
    {
        return std::make_unique<ConsoleEmailView>();
    }

    std::map<int, bool> enabled;
    std::map<int, bool> checked;
    bool bConnectPressed = false;

private:
    std::string m_lastStatus;
};

// Remembers everything, for tests.
class RecordingMainView : public IMainView {
public:
    void SetStatus(const std::string& text) override { statuses.push_back(text); }
    void SetProgress(int iPercent) override { progress.push_back(iPercent); }
    void EnableCommand(int iCommand, bool bEnable) override { enabled[iCommand] = bEnable; }
    void CheckCommand(int iCommand, bool bCheck) override { checked[iCommand] = bCheck; }
    void PressConnect(bool bPressed) override { bConnectPressed = bPressed; }
    bool AskPassword(const std::string& title, std::string& password) override
    {
        passwordTitles.push_back(title);
        password = passwordAnswer;
        return !passwordAnswer.empty();
    }
    bool AskSavePath(const std::string& proposed, std::string& chosen) override
    {
        proposedPaths.push_back(proposed);
        if (bCancelSave)
            return false;
        chosen = savePathAnswer.empty() ? proposed : savePathAnswer;
        return true;
    }
    void ShowSplash() override { ++iSplashes; }
    bool ShowDialog(int iCommand) override
    {
        dialogs.push_back(iCommand);
        return bDialogOk;
    }
    // The Email window's view stays reachable through pEmailView.
    std::unique_ptr<IEmailView> CreateEmailView() override
    {
        auto p = std::make_unique<RecordingEmailView>();
        pEmailView = p.get();
        return p;
    }
    RecordingEmailView* pEmailView = nullptr;

    std::vector<std::string> statuses;
    std::vector<int> progress;
    std::map<int, bool> enabled;
    std::map<int, bool> checked;
    bool bConnectPressed = false;
    std::vector<std::string> passwordTitles;
    std::string passwordAnswer;
    std::vector<std::string> proposedPaths;
    std::string savePathAnswer;
    bool bCancelSave = false;
    int iSplashes = 0;
    std::vector<int> dialogs;
    bool bDialogOk = true;
};
