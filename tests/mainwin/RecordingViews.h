// Views that remember what is shown, for tests of the window logic.
#pragma once

#include "mainwin/MainView.h"
#include "session/WEmail.h"
#include "session/WGroups.h"

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

inline bool Has(const std::vector<std::string>& texts, const std::string& text)
{
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

class RecordingEmailView : public IEmailView {
public:
    void SetStatus(const std::string& text) override { statuses.push_back(text); }
    void SetProgress(int iPercent) override { progress.push_back(iPercent); }
    void AddRow(const std::string& row) override { rows.push_back(row); }
    std::vector<std::string> statuses, rows;
    std::vector<int> progress;
};

// The "Usenet Groups" window's view; the one-group settings dialog is
// played by the test's onSettings (Cancel without one).
class RecordingGroupsView : public IGroupsView {
public:
    void SetStatus(const std::string& text) override { statuses.push_back(text); }
    void SetProgress(int) override {}
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
    void ShowFind() override { ++iFinds; }
    std::vector<std::string> statuses, rows;
    int iFills = 0, iFinds = 0;
    std::int32_t selected = -1;
    std::vector<std::string> settingsFor; // the popup's dialogs, by group
    std::function<bool(const std::string&)> onSettings;
};

// An article window's view: rows, highlights and caret as a list keeps them.
class RecordingArticlesView : public IArticlesView {
public:
    void SetTitle(const std::string& text) override { title = text; }
    void SetStatus(const std::string& text) override { statuses.push_back(text); }
    void SetProgress(int) override {}
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
    void EnableCommands(bool b, int) override { bCommands = b; }
    void ShowFind() override {}
    void Activate() override {}

    std::string title;
    std::vector<std::string> statuses, rows;
    std::vector<bool> highlighted;
    std::int32_t caret = -1;
    bool bCommands = false;
};

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
        chosen = savePathAnswer.empty() ? proposed : savePathAnswer;
        return !bCancelSave;
    }
    bool AskOpenPath(const std::string& proposed, std::string& chosen) override
    {
        proposedOpenPaths.push_back(proposed);
        chosen = proposed;
        return !bCancelOpen;
    }
    void ShowSplash() override {}
    // Played by onDialog when set, else answered bDialogOk.
    bool ShowDialog(int iCommand) override
    {
        dialogs.push_back(iCommand);
        return onDialog ? onDialog(iCommand) : bDialogOk;
    }
    std::unique_ptr<IEmailView> CreateEmailView() override
    {
        return std::make_unique<RecordingEmailView>();
    }
    std::unique_ptr<IGroupsView> CreateGroupsView() override
    {
        auto p = std::make_unique<RecordingGroupsView>();
        pGroupsView = p.get();
        return p;
    }
    std::unique_ptr<IArticlesView> CreateArticlesView() override
    {
        return std::make_unique<RecordingArticlesView>();
    }
    bool Unattended() const override { return bUnattended; }

    std::vector<std::string> statuses, passwordTitles, proposedPaths, proposedOpenPaths;
    std::vector<int> progress, dialogs;
    std::map<int, bool> enabled, checked;
    bool bConnectPressed = false, bUnattended = false, bCancelSave = false, bCancelOpen = false;
    bool bDialogOk = true;
    std::string passwordAnswer, savePathAnswer;
    RecordingGroupsView* pGroupsView = nullptr;
    std::function<bool(int)> onDialog;
};
