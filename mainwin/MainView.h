// What the main window's logic needs of the screen.  The window program
// implements it with widgets; a headless run prints; tests record.
#pragma once

#include "session/WArticles.h"
#include "session/WEmail.h"
#include "session/WGroups.h"
#include "session/WPost.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

// A "Usenet Groups" window that shows nothing.
class HiddenGroupsView : public IGroupsView {
public:
    void SetStatus(const std::string&) override {}
    void SetProgress(int) override {}
    void SetRows(const std::vector<std::string>&) override {}
    void SelectRow(std::int32_t) override {}
    bool ShowGroupSettings(const std::string&) override { return false; }
};

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
    // The "Open REP File" dialog, proposing a path; false on cancel.  A view
    // without dialogs takes the proposed file.
    virtual bool AskOpenPath(const std::string& proposed, std::string& chosen)
    {
        chosen = proposed;
        return true;
    }
    // The view of a new posting window (nullptr: one that shows nothing).
    virtual std::unique_ptr<IPostView> CreatePostView() { return nullptr; }
    // The view of a new "Usenet Groups" window (title string 507, placement
    // "Windows" "Group").  A view that has no such window yet gets one that
    // shows nothing.
    virtual std::unique_ptr<IGroupsView> CreateGroupsView();
    // The view of a new article window (placement "Windows" "Article").  A
    // view that has no such window yet gets one that shows nothing.
    virtual std::unique_ptr<IArticlesView> CreateArticlesView();
    // Nobody sits at this screen (a headless run): article retrieval
    // leaves the groups whose articles are chosen by hand alone.
    virtual bool Unattended() const { return false; }
};

inline std::unique_ptr<IGroupsView> IMainView::CreateGroupsView()
{
    return std::make_unique<HiddenGroupsView>();
}

inline std::unique_ptr<IArticlesView> IMainView::CreateArticlesView()
{
    return std::make_unique<HiddenArticlesView>();
}
