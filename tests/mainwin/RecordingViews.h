// Views that remember everything shown, for tests of the window logic.
#pragma once

#include "mainwin/MainView.h"
#include "session/WEmail.h"
#include "session/WGroups.h"

#include <functional>

#include <map>
#include <memory>
#include <string>
#include <vector>

class RecordingEmailView : public IEmailView {
public:
    void SetStatus(const std::string& text) override { statuses.push_back(text); }
    void SetProgress(int iPercent) override { progress.push_back(iPercent); }
    void AddRow(const std::string& row) override { rows.push_back(row); }
    std::vector<std::string> statuses;
    std::vector<int> progress;
    std::vector<std::string> rows;
};

// The "Usenet Groups" window's view; the one-group settings dialog is
// played by the test's onSettings (Cancel without one).
class RecordingGroupsView : public IGroupsView {
public:
    void SetStatus(const std::string& text) override { statuses.push_back(text); }
    void SetProgress(int iPercent) override { progress.push_back(iPercent); }
    void SetRows(const std::vector<std::string>& r) override
    {
        rows = r;
        ++iFills;
        selected = -1;
    }
    void SelectRow(std::int32_t iRow) override { selected = iRow; }
    bool ShowGroupSettings(const std::string& group) override
    {
        settingsFor.push_back(group);
        return onSettings ? onSettings(group) : false;
    }
    std::vector<std::string> statuses;
    std::vector<int> progress;
    std::vector<std::string> rows;
    int iFills = 0;
    std::int32_t selected = -1;
    void ShowFind() override { ++iFinds; }
    int iFinds = 0;
    std::vector<std::string> settingsFor; // the popup's dialogs, by group
    std::function<bool(const std::string&)> onSettings;
};

// An article window's view: rows, highlights and caret as a list keeps them.
class RecordingArticlesView : public IArticlesView {
public:
    void SetTitle(const std::string& text) override { title = text; }
    void SetStatus(const std::string& text) override { statuses.push_back(text); }
    void SetProgress(int iPercent) override { progress.push_back(iPercent); }
    void SetRows(const std::vector<std::string>& r) override
    {
        rows = r;
        highlighted.assign(rows.size(), false);
        caret = rows.empty() ? -1 : 0;
    }
    void AddRow(const std::string& row) override
    {
        rows.push_back(row);
        highlighted.push_back(false);
    }
    void SetRow(std::int32_t i, const std::string& row) override { rows.at(i) = row; }
    void SelectRow(std::int32_t i) override
    {
        highlighted.assign(rows.size(), false);
        highlighted.at(i) = true;
        caret = i;
    }
    void HighlightRow(std::int32_t i, bool b) override { highlighted.at(i) = b; }
    std::vector<std::int32_t> HighlightedRows() const override
    {
        std::vector<std::int32_t> out;
        for (std::size_t i = 0; i < highlighted.size(); ++i)
            if (highlighted[i])
                out.push_back(static_cast<std::int32_t>(i));
        return out;
    }
    std::int32_t CaretRow() const override { return caret; }
    void SetCaretRow(std::int32_t i) override { caret = i; }
    void EnableCommands(bool b, int iKey) override
    {
        bCommands = b;
        iSortKey = iKey;
    }
    void ShowFind() override { ++iFinds; }
    void Activate() override { ++iActivations; }
    bool Saw(const std::string& text) const
    {
        for (const auto& s : statuses)
            if (s == text)
                return true;
        return false;
    }

    std::string title;
    std::vector<std::string> statuses;
    std::vector<int> progress;
    std::vector<std::string> rows;
    std::vector<bool> highlighted;
    std::int32_t caret = -1;
    bool bCommands = false;
    int iSortKey = -1;
    int iFinds = 0;
    int iActivations = 0;
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
        return onDialog ? onDialog(iCommand) : bDialogOk;
    }
    // Plays a dialog (instead of answering bDialogOk).
    std::function<bool(int)> onDialog;
    // The Email window's view stays reachable through pEmailView.
    std::unique_ptr<IEmailView> CreateEmailView() override
    {
        auto p = std::make_unique<RecordingEmailView>();
        pEmailView = p.get();
        return p;
    }
    RecordingEmailView* pEmailView = nullptr;
    bool AskOpenPath(const std::string& proposed, std::string& chosen) override
    {
        proposedOpenPaths.push_back(proposed);
        chosen = proposed;
        return !bCancelOpen;
    }
    std::vector<std::string> proposedOpenPaths;
    bool bCancelOpen = false;
    std::unique_ptr<IGroupsView> CreateGroupsView() override
    {
        auto p = std::make_unique<RecordingGroupsView>();
        pGroupsView = p.get();
        return p;
    }
    RecordingGroupsView* pGroupsView = nullptr;
    std::unique_ptr<IArticlesView> CreateArticlesView() override
    {
        auto p = std::make_unique<RecordingArticlesView>();
        articlesViews.push_back(p.get());
        return p;
    }
    std::vector<RecordingArticlesView*> articlesViews; // in creation order
    bool Unattended() const override { return bUnattended; }
    bool bUnattended = false;

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
