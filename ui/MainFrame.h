// The main window: the MDI frame with the menu, the toolbar and the status
// line with its progress pane.  It is the screen of the main window's logic
// (IMainView): the logic enables, grays and checks the commands, sets the
// status and progress, and asks for dialogs; the frame sends every menu and
// toolbar command back to the logic.
#pragma once

#include "mainwin/MainView.h"
#include "ui/ArticlesWindow.h"
#include "ui/EmailWindow.h"
#include "ui/GroupsWindow.h"
#include "ui/PostWindow.h"

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <map>

class QAction;
class QLabel;
class QMdiArea;
class QMenu;

namespace ui {

class ProgressPane;

class MainFrame : public QMainWindow, public IMainView {
public:
    static constexpr const char* kTitle = "Mail Tolvan version 1.00a";

    // onCommand receives every command chosen in the menu or on the
    // toolbar; onClose the close box (the logic runs its exit checks).
    // Without onClose the window just closes.
    MainFrame(std::function<void(int)> onCommand, std::function<void()> onClose = nullptr);
    ~MainFrame() override;

    // Shows the window at its stored position ("Windows" "Main"), once.
    // The logic's first call does it, when the settings are there.
    void ShowFrame();

    // IMainView
    void SetStatus(const std::string& text) override;
    void SetProgress(int iPercent) override;
    void EnableCommand(int iCommand, bool bEnable) override;
    void CheckCommand(int iCommand, bool bCheck) override;
    void PressConnect(bool bPressed) override;
    bool AskPassword(const std::string& title, std::string& password) override;
    bool AskSavePath(const std::string& proposed, std::string& chosen) override;
    void ShowSplash() override;
    bool ShowDialog(int iCommand) override;
    std::unique_ptr<IEmailView> CreateEmailView() override;
    bool AskOpenPath(const std::string& proposed, std::string& chosen) override;
    std::unique_ptr<IPostView> CreatePostView() override;
    std::unique_ptr<IGroupsView> CreateGroupsView() override;
    std::unique_ptr<IArticlesView> CreateArticlesView() override;

    // Where the groups window finds its logic (by default the main
    // window's groups window).
    void SetGroupsLogic(std::function<WGroups*()> logic) { m_groupsLogic = std::move(logic); }
    // Where an article window finds its logic (by default among the groups
    // window's article windows).
    void SetArticlesLogic(std::function<WArticles*(const IArticlesView*)> logic)
    {
        m_articlesLogic = std::move(logic);
    }

    // The menu item of a command (nullptr when it has none) and the
    // toolbar's Connect button.
    QAction* MenuAction(int iCommand) const;
    QAction* ConnectButton() const { return m_pConnectButton; }
    QMdiArea* Area() const { return m_pArea; }
    ProgressPane* Progress() const { return m_pProgress; }
    QLabel* StatusText() const { return m_pStatusText; }
    EmailSubWindow* EmailWindow() const { return m_pEmailWindow; }
    GroupsSubWindow* GroupsWindow() const { return m_pGroupsWindow; }
    PostSubWindow* PostWindow() const { return m_pPostWindow; }
    // The open article windows, oldest first.
    std::vector<ArticlesSubWindow*> ArticleWindows() const;

    // Window positions: the open windows' placements to the "Windows"
    // keys, and back.
    void SavePositions();
    void RestorePositions();
    // Lines the minimised children up along the bottom of the client area.
    void ArrangeIcons();

protected:
    void closeEvent(QCloseEvent* pEvent) override;

private:
    void BuildMenus();
    void BuildToolBar();
    void FillWindowMenu(QMenu* pMenu);
    // Runs a settings dialog; on OK writes its model's values.
    template <class Model>
    bool RunSettingsDialog(QDialog& dialog, const Model& model);

    // Ctrl+F: Find in the active child window.
    void FindInActiveChild();

    std::function<void(int)> m_onCommand;
    std::function<void()> m_onClose;
    QMdiArea* m_pArea;
    QLabel* m_pStatusText;
    ProgressPane* m_pProgress;
    std::map<int, QAction*> m_menuActions;
    QAction* m_pConnectButton = nullptr;
    bool m_bConnectPressed = false;
    bool m_bShown = false;
    QPointer<EmailSubWindow> m_pEmailWindow;
    QPointer<GroupsSubWindow> m_pGroupsWindow;
    QPointer<PostSubWindow> m_pPostWindow;
    std::function<WGroups*()> m_groupsLogic;
    std::function<WArticles*(const IArticlesView*)> m_articlesLogic;
};

} // namespace ui
