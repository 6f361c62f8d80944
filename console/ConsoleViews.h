// The views of a headless run: status lines and rows on stderr, no dialogs,
// nobody to ask.
#pragma once

#include "mainwin/MainView.h"
#include "session/WEmail.h"
#include "session/WGroups.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

// Prints each status line once, prefixed with the window's name.
class ConsoleEmailView : public IEmailView {
public:
    void SetStatus(const std::string& text) override;
    void SetProgress(int) override {}
    void AddRow(const std::string& row) override;
};

class ConsolePostView : public IPostView {
public:
    void SetStatus(const std::string& text) override;
    void SetProgress(int) override {}
    void AddRow(const std::string& row) override;
};

// The "Usenet Groups" window of a headless run: its status lines only (a
// complete group list would flood a cron mail), and no dialogs.
class ConsoleGroupsView : public IGroupsView {
public:
    void SetStatus(const std::string& text) override;
    void SetProgress(int) override {}
    void SetRows(const std::vector<std::string>&) override {}
    void SelectRow(std::int32_t) override {}
    bool ShowGroupSettings(const std::string&) override { return false; }
};

// An article window of a headless run: its status lines, without the line
// counts; its rows would flood a cron mail.
class ConsoleArticlesView : public HiddenArticlesView {
public:
    void SetTitle(const std::string& text) override;
    void SetStatus(const std::string& text) override;

private:
    std::string m_title;
};

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
    std::unique_ptr<IPostView> CreatePostView() override
    {
        return std::make_unique<ConsolePostView>();
    }
    std::unique_ptr<IGroupsView> CreateGroupsView() override
    {
        return std::make_unique<ConsoleGroupsView>();
    }
    std::unique_ptr<IArticlesView> CreateArticlesView() override
    {
        return std::make_unique<ConsoleArticlesView>();
    }
    bool Unattended() const override { return true; }

    std::map<int, bool> enabled;
    std::map<int, bool> checked;
    bool bConnectPressed = false;

private:
    std::string m_lastStatus;
};
