#include "ui/MainFrame.h"

#include "core/Services.h"
#include "core/Startup.h"
#include "core/TnIni.h"
#include "dialogs/ComputerName.h"
#include "dialogs/DDirectories.h"
#include "dialogs/DGroupSettings.h"
#include "dialogs/DServerInfo.h"
#include "dialogs/DUserInfo.h"
#include "dialogs/OptionsDialogs.h"
#include "dialogs/SmallDialogs.h"
#include "mainwin/Commands.h"
#include "mainwin/WMain.h"
#include "newsgroups/Newsgroups.h"
#include "ui/EmailWindow.h"
#include "ui/GroupSettingsDialog.h"
#include "ui/HelpWindow.h"
#include "ui/Icons.h"
#include "ui/Placement.h"
#include "ui/ProgressPane.h"
#include "ui/SettingsDialogs.h"
#include "ui/Splash.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QShortcut>
#include <QStatusBar>
#include <QToolBar>

namespace ui {

namespace {
struct MenuItem {
    int iCommand; // 0: a separator
    const char* pszText;
    const char* pszHint;
};
struct Menu {
    const char* pszTitle;
    std::vector<MenuItem> items;
};

// The menu, as the user sees it: item texts with their accelerators after
// a tab, and the status-line hint of each item.
const std::vector<Menu>& MenuTable()
{
    static const std::vector<Menu> table = {
        {"&File",
         {{CMD_OPEN, "&Open\tCtrl+O", "Open a REP file for transmission"},
          {CMD_SAVE, "&Save\tCtrl+S", "Save the current QWK file"},
          {CMD_SAVEAS, "Save &as...", "Save the QWK file under another name"},
          {0, nullptr, nullptr},
          {CMD_RUNREADER, "&Run QWK Reader", "Run an external QWK reader"},
          {0, nullptr, nullptr},
          {CMD_EXIT, "E&xit\tAlt+F4", "Exit Mail Tolvan"}}},
        {"&Network",
         {{CMD_CONNECT, "&Connect", "Connect to the Internet"},
          {CMD_DISCONNECT, "&Disconnect", "Disconnect from the Internet"},
          {CMD_STOP, "&Stop", "Stop current process"},
          {0, nullptr, nullptr},
          {CMD_AUTORUN, "A&utorun", ""},
          {0, nullptr, nullptr},
          {CMD_GETMAIL, "Get &Mail", "Retrieve your Email"},
          {CMD_POST, "&Post replies", "Post email and Usenet articles"}}},
        {"&Groups",
         {{CMD_GETNEW, "Get &New articles", "Get new articles from selected groups"},
          {CMD_GETALL, "Get &All articles", "Get all articles in selected groups"},
          {0, nullptr, nullptr},
          {CMD_NEWGROUPS, "Get new &Groups", "Retrieve new Usenet groups"},
          {CMD_ALLGROUPS, "Get all grou&ps", "Retrieve all Usenet groups"},
          {0, nullptr, nullptr},
          {CMD_GROUPSETTINGS, "Se&ttings", "Group management functions"},
          {CMD_FINDGROUP, "Find &Group\tCtrl+F", "Find a group in the group list"}}},
        {"&Articles",
         {{CMD_SORTNUMBER, "Sort by &Number", "Sort articles by article number"},
          {CMD_SORTDATE, "Sort by &Date", "Sort articles by posting date"},
          {CMD_SORTFROM, "Sort by &From", "Sort articles by sender"},
          {CMD_SORTSUBJECT, "Sort by &Subject", "Sort articles by subject"},
          {0, nullptr, nullptr},
          {CMD_GETSELECTED, "&Get selected", "Retrieve selected articles"},
          {CMD_FINDARTICLE, "Find &Article\tCtrl+F", "Find an article"}}},
        {"&Options",
         {{CMD_SERVERINFO, "&Server info", "Server setup"},
          {CMD_PERSONALINFO, "&Personal info", "Email and name setup"},
          {CMD_DIRECTORIES, "&Directories", "REP, QWK, Reader, and packer directories"},
          {0, nullptr, nullptr},
          {CMD_GROUPCONFIG, "&Groups", "Group options"},
          {CMD_ARTICLECONFIG, "&Articles", "Article options"},
          {CMD_EMAILCONFIG, "&Email", "Email options."},
          {CMD_GENERALCONFIG, "Ge&neral", "Set program defaults"},
          {0, nullptr, nullptr},
          {CMD_AUTORUNCONFIG, "A&utorun", "Automatically run Mail Tolvan"}}},
        {"&Window",
         {{CMD_CASCADE, "&Cascade", "Cascade MDI Child Windows"},
          {CMD_TILE, "&Tile", "Tile MDI Child Windows"},
          {CMD_ARRANGE, "Arrange &Icons", "Arrange Iconized MDI Child Windows"},
          {0, nullptr, nullptr},
          {CMD_SAVEPOSITIONS, "&Save window positions", "Save current window positions"},
          {CMD_RESTOREPOSITIONS, "&Restore window positions", "Restore saved window positions"}}},
        {"&Help",
         {{CMD_HELPCONTENTS, "&Contents\tF1", "Display the help contents"},
          {CMD_HELPSEARCH, "&Search...", "Search help topics"},
          {0, nullptr, nullptr},
          {CMD_ABOUT, "&About...", "About Mail Tolvan"}}},
    };
    return table;
}

const int kToolBar[] = {CMD_OPEN,   CMD_SAVE, CMD_CONNECT,   CMD_STOP,         CMD_GETMAIL,
                        CMD_GETNEW, CMD_POST, CMD_RUNREADER, CMD_HELPCONTENTS, CMD_EXIT};

bool IsFindCommand(int iCommand)
{
    return iCommand == CMD_FINDGROUP || iCommand == CMD_FINDARTICLE;
}

bool IsSortCommand(int iCommand)
{
    return iCommand >= CMD_SORTNUMBER && iCommand <= CMD_SORTSUBJECT;
}

QString Plain(const char* pszText) { return QString(pszText).section('\t', 0, 0).remove('&'); }
} // namespace

MainFrame::MainFrame(std::function<void(int)> onCommand, std::function<void()> onClose)
    : m_onCommand(std::move(onCommand)), m_onClose(std::move(onClose)),
      m_groupsLogic([] { return g_pMain ? g_pMain->GroupsWindow() : nullptr; }),
      m_articlesLogic([](const IArticlesView* pView) -> WArticles* {
          WGroups* pGroups = g_pMain ? g_pMain->GroupsWindow() : nullptr;
          if (pGroups)
              for (const auto& p : pGroups->ArticleWindows())
                  if (&p->View() == pView)
                      return p.get();
          return nullptr;
      })
{
    setObjectName("MainFrame");
    setWindowTitle(kTitle);
    setWindowIcon(AppIcon());
    m_pArea = new QMdiArea(this);
    m_pArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_pArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_pArea);
    BuildMenus();
    auto* pFind = new QShortcut(QKeySequence("Ctrl+F"), this);
    connect(pFind, &QShortcut::activated, this, [this] { FindInActiveChild(); });
    BuildToolBar();
    m_pStatusText = new QLabel(this);
    m_pStatusText->setObjectName("StatusText");
    m_pProgress = new ProgressPane(this);
    m_pProgress->setObjectName("ProgressPane");
    statusBar()->addWidget(m_pStatusText, 1);
    statusBar()->addPermanentWidget(m_pProgress);
    resize(760, 520);
}

MainFrame::~MainFrame() = default;

void MainFrame::BuildMenus()
{
    for (const Menu& menu : MenuTable()) {
        QMenu* pMenu = menuBar()->addMenu(menu.pszTitle);
        pMenu->setObjectName(Plain(menu.pszTitle));
        for (const MenuItem& item : menu.items) {
            if (item.iCommand == 0) {
                pMenu->addSeparator();
                continue;
            }
            QString text = QString(item.pszText).section('\t', 0, 0);
            QString keys = QString(item.pszText).section('\t', 1);
            QAction* pAction = pMenu->addAction(text);
            pAction->setObjectName(QString("cmd%1").arg(item.iCommand));
            pAction->setData(item.iCommand);
            // Find Group and Find Article share Ctrl+F: two actions with one
            // shortcut would both be ambiguous and neither would fire, so the
            // frame's own shortcut gives the key to the active child's Find.
            if (IsFindCommand(item.iCommand))
                pAction->setText(QString(item.pszText));
            else if (!keys.isEmpty())
                pAction->setShortcut(QKeySequence(keys));
            pAction->setStatusTip(item.pszHint);
            pAction->setCheckable(IsSortCommand(item.iCommand));
            int iCommand = item.iCommand;
            connect(pAction, &QAction::triggered, this, [this, pAction, iCommand] {
                // The check marks are the logic's to set.
                if (pAction->isCheckable())
                    pAction->setChecked(!pAction->isChecked());
                if (m_onCommand)
                    m_onCommand(iCommand);
            });
            m_menuActions[item.iCommand] = pAction;
        }
        if (QString(menu.pszTitle) == "&Window")
            connect(pMenu, &QMenu::aboutToShow, this, [this, pMenu] { FillWindowMenu(pMenu); });
    }
}

void MainFrame::FindInActiveChild()
{
    // The active child's Find when it has one enabled, else whichever is.
    QMdiSubWindow* pActive = m_pArea->activeSubWindow();
    int iFirst = dynamic_cast<ArticlesSubWindow*>(pActive) ? CMD_FINDARTICLE : CMD_FINDGROUP;
    int iSecond = iFirst == CMD_FINDARTICLE ? CMD_FINDGROUP : CMD_FINDARTICLE;
    for (int iCommand : {iFirst, iSecond}) {
        auto it = m_menuActions.find(iCommand);
        if (it != m_menuActions.end() && it->second->isEnabled()) {
            it->second->trigger();
            return;
        }
    }
}

void MainFrame::FillWindowMenu(QMenu* pMenu)
{
    // The fixed items, then one item per child window.
    for (QAction* a : pMenu->actions())
        if (a->property("mtWindowItem").toBool())
            pMenu->removeAction(a), a->deleteLater();
    const QList<QMdiSubWindow*> children = m_pArea->subWindowList();
    bool bFirst = true;
    int i = 1;
    for (QMdiSubWindow* w : children) {
        if (w->isHidden())
            continue;
        if (bFirst) {
            pMenu->addSeparator()->setProperty("mtWindowItem", true);
            bFirst = false;
        }
        QAction* a = pMenu->addAction(QString("&%1 %2").arg(i++).arg(w->windowTitle()));
        a->setProperty("mtWindowItem", true);
        a->setCheckable(true);
        a->setChecked(w == m_pArea->activeSubWindow());
        connect(a, &QAction::triggered, this, [this, w] { m_pArea->setActiveSubWindow(w); });
    }
}

void MainFrame::BuildToolBar()
{
    QToolBar* pBar = addToolBar("Toolbar");
    pBar->setObjectName("Toolbar");
    pBar->setIconSize(QSize(32, 32));
    pBar->setMovable(false);
    for (int iCommand : kToolBar) {
        QAction* pMenu = m_menuActions.at(iCommand);
        if (iCommand != CMD_CONNECT) {
            pMenu->setIcon(CommandIcon(iCommand));
            pMenu->setIconVisibleInMenu(false);
            pBar->addAction(pMenu);
            continue;
        }
        // Connect is a two-state button: pressed while connected.  Its
        // state is the logic's; a click only sends the command.
        m_pConnectButton = new QAction(ConnectIcon(), Plain("&Connect"), this);
        m_pConnectButton->setObjectName("ConnectButton");
        m_pConnectButton->setCheckable(true);
        m_pConnectButton->setStatusTip(pMenu->statusTip());
        connect(m_pConnectButton, &QAction::triggered, this, [this] {
            m_pConnectButton->setChecked(m_bConnectPressed);
            if (m_onCommand)
                m_onCommand(CMD_CONNECT);
        });
        pBar->addAction(m_pConnectButton);
    }
}

QAction* MainFrame::MenuAction(int iCommand) const
{
    auto it = m_menuActions.find(iCommand);
    return it == m_menuActions.end() ? nullptr : it->second;
}

void MainFrame::ShowFrame()
{
    if (m_bShown)
        return;
    m_bShown = true;
    if (g_pIni)
        ApplyPlacement(this, g_pIni->GetString("Windows", "Main", "0,0,0,0"));
    else
        show();
}

void MainFrame::SetStatus(const std::string& text)
{
    ShowFrame();
    m_pStatusText->setText(QString::fromStdString(text));
}

void MainFrame::SetProgress(int iPercent)
{
    ShowFrame();
    m_pProgress->SetPercent(iPercent);
}

void MainFrame::EnableCommand(int iCommand, bool bEnable)
{
    ShowFrame();
    // The toolbar's Connect button is not grayed with the menu item: while
    // connected it stays pressed, and pressing it disconnects.
    if (QAction* a = MenuAction(iCommand))
        a->setEnabled(bEnable);
}

void MainFrame::CheckCommand(int iCommand, bool bCheck)
{
    ShowFrame();
    if (QAction* a = MenuAction(iCommand)) {
        a->setCheckable(true);
        a->setChecked(bCheck);
    }
}

void MainFrame::PressConnect(bool bPressed)
{
    ShowFrame();
    m_bConnectPressed = bPressed;
    m_pConnectButton->setChecked(bPressed);
}

bool MainFrame::AskPassword(const std::string& title, std::string& password)
{
    DPassword model(title);
    PasswordDialog dialog(model, isVisible() ? this : nullptr);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    password = model.Result();
    return true;
}

bool MainFrame::AskSavePath(const std::string& proposed, std::string& chosen)
{
    ShowFrame();
    QString path =
        QFileDialog::getSaveFileName(this, "Save QWK File As", QString::fromStdString(proposed),
                                     "QWK Files (*.qwk *.Qwk *.QWK);;All Files (*)");
    if (path.isEmpty())
        return false;
    chosen = path.toStdString();
    return true;
}

void MainFrame::ShowSplash()
{
    ShowFrame();
    SplashWindow::Open(this);
}

template <class Model>
bool MainFrame::RunSettingsDialog(QDialog& dialog, const Model& model)
{
    if (dialog.exec() != QDialog::Accepted)
        return false;
    if (!model.Save(*g_pIni))
        Error("The settings could not be written to " + g_pIni->Path() + ": " +
              g_pIni->LastWriteError() + ".");
    return true;
}

bool MainFrame::ShowDialog(int iCommand)
{
    ShowFrame();
    switch (iCommand) {
    case CMD_HELPCONTENTS:
        HelpWindow::ShowTopic(HelpTopic("Contents"));
        return true;
    case CMD_HELPSEARCH:
        HelpWindow::ShowSearch();
        return true;
    case CMD_ABOUT: {
        AboutDialog about(this);
        about.exec();
        return true;
    }
    case CMD_CASCADE:
        m_pArea->cascadeSubWindows();
        return true;
    case CMD_TILE:
        m_pArea->tileSubWindows();
        return true;
    case CMD_ARRANGE:
        ArrangeIcons();
        return true;
    default:
        break;
    }
    if (!g_pIni)
        return false;
    switch (iCommand) {
    case CMD_SAVEPOSITIONS:
        SavePositions();
        return true;
    case CMD_RESTOREPOSITIONS:
        RestorePositions();
        return true;
    case CMD_SERVERINFO: {
        DServerInfo model(*g_pIni);
        ServerInfoDialog dialog(model, this);
        if (!RunSettingsDialog(dialog, model))
            return false;
        dlg::CheckComputerName();
        return true;
    }
    case CMD_PERSONALINFO: {
        DUserInfo model(*g_pIni);
        UserInfoDialog dialog(model, this);
        return RunSettingsDialog(dialog, model);
    }
    case CMD_DIRECTORIES: {
        DDirectories model(*g_pIni, g_pStartup ? g_pStartup->m_szHomeDir : std::string());
        DirectoriesDialog dialog(model, *g_pIni, this);
        return RunSettingsDialog(dialog, model);
    }
    case CMD_GROUPSETTINGS: {
        if (!g_pNewsgroups)
            return false;
        DGroupSettings model(*g_pNewsgroups);
        GroupSettingsDialog dialog(model, this);
        return dialog.exec() == QDialog::Accepted; // OK has put the copy in place
    }
    default:
        break;
    }
    std::unique_ptr<OptionsDialog> pModel;
    QString help;
    switch (iCommand) {
    case CMD_GROUPCONFIG:
        pModel = std::make_unique<DGroupConfig>(*g_pIni), help = "DGroupConfig";
        break;
    case CMD_ARTICLECONFIG:
        pModel = std::make_unique<DArticleConfig>(*g_pIni), help = "DArticleConfig";
        break;
    case CMD_EMAILCONFIG:
        pModel = std::make_unique<DEmailConfig>(*g_pIni), help = "DEmailConfig";
        break;
    case CMD_GENERALCONFIG:
        pModel = std::make_unique<DTolvanConfig>(*g_pIni), help = "DTolvanConfig";
        break;
    case CMD_AUTORUNCONFIG:
        pModel = std::make_unique<DAutorun>(*g_pIni, g_pNewsgroups), help = "DAutorun";
        break;
    default:
        return false;
    }
    OptionsDialogView dialog(*pModel, help, this);
    return RunSettingsDialog(dialog, *pModel);
}

std::unique_ptr<IEmailView> MainFrame::CreateEmailView()
{
    ShowFrame();
    std::string placement = g_pIni ? g_pIni->GetString("Windows", "Email", "0,0,0,0") : "";
    auto p = std::make_unique<QtEmailView>(m_pArea, placement);
    m_pEmailWindow = p->Window();
    return p;
}

namespace {
// The children whose placements are kept, with their keys.
std::vector<std::pair<const char*, QMdiSubWindow*>>
Children(EmailSubWindow* pEmail, GroupsSubWindow* pGroups, PostSubWindow* pPost)
{
    std::vector<std::pair<const char*, QMdiSubWindow*>> v;
    if (pGroups)
        v.emplace_back("Group", pGroups);
    if (pEmail)
        v.emplace_back("Email", pEmail);
    if (pPost)
        v.emplace_back("Post", pPost);
    return v;
}
} // namespace

bool MainFrame::AskOpenPath(const std::string& proposed, std::string& chosen)
{
    ShowFrame();
    QFileDialog dialog(this, "Open REP File", QString::fromStdString(proposed));
    dialog.setObjectName("OpenRep");
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // Packets come from readers that write the name in any case.
    dialog.setNameFilters({"REP Files (*.rep)", "All Files (*)"});
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    if (!proposed.empty())
        dialog.selectFile(QString::fromStdString(proposed));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    chosen = dialog.selectedFiles().constFirst().toStdString();
    return true;
}

std::unique_ptr<IPostView> MainFrame::CreatePostView()
{
    ShowFrame();
    std::string placement = g_pIni ? g_pIni->GetString("Windows", "Post", "0,0,0,0") : "";
    auto p = std::make_unique<QtPostView>(m_pArea, placement);
    m_pPostWindow = p->Window();
    return p;
}

std::unique_ptr<IGroupsView> MainFrame::CreateGroupsView()
{
    ShowFrame();
    std::string placement = g_pIni ? g_pIni->GetString("Windows", "Group", "0,0,0,0") : "";
    auto p = std::make_unique<QtGroupsView>(m_pArea, placement, m_groupsLogic);
    m_pGroupsWindow = p->Window();
    return p;
}

std::unique_ptr<IArticlesView> MainFrame::CreateArticlesView()
{
    ShowFrame();
    // Every article window opens at the one stored placement.
    std::string placement = g_pIni ? g_pIni->GetString("Windows", "Article", "0,0,0,0") : "";
    return std::make_unique<QtArticlesView>(m_pArea, placement, m_articlesLogic, [this](int iKey) {
        for (int c = CMD_SORTNUMBER; c <= CMD_SORTSUBJECT; ++c)
            CheckCommand(c, c - CMD_SORTNUMBER == iKey);
    });
}

std::vector<ArticlesSubWindow*> MainFrame::ArticleWindows() const
{
    std::vector<ArticlesSubWindow*> v;
    for (QMdiSubWindow* w : m_pArea->subWindowList(QMdiArea::CreationOrder))
        if (auto* p = dynamic_cast<ArticlesSubWindow*>(w); p && !p->isHidden())
            v.push_back(p);
    return v;
}

void MainFrame::SavePositions()
{
    if (!g_pIni)
        return;
    bool bOk = g_pIni->WriteString("Windows", "Main", PlacementText(this));
    for (auto [pszKey, pChild] : Children(m_pEmailWindow, m_pGroupsWindow, m_pPostWindow))
        bOk &= g_pIni->WriteString("Windows", pszKey, PlacementText(pChild));
    // The article windows share one placement: the first one's.
    std::vector<ArticlesSubWindow*> articles = ArticleWindows();
    if (!articles.empty())
        bOk &= g_pIni->WriteString("Windows", "Article", PlacementText(articles.front()));
    if (!bOk)
        Error("The window positions could not be written to " + g_pIni->Path() + ": " +
              g_pIni->LastWriteError() + ".");
}

void MainFrame::RestorePositions()
{
    if (!g_pIni)
        return;
    ApplyPlacement(this, g_pIni->GetString("Windows", "Main", "0,0,0,0"));
    for (auto [pszKey, pChild] : Children(m_pEmailWindow, m_pGroupsWindow, m_pPostWindow))
        ApplyPlacement(pChild, g_pIni->GetString("Windows", pszKey, "0,0,0,0"));
    for (ArticlesSubWindow* p : ArticleWindows())
        ApplyPlacement(p, g_pIni->GetString("Windows", "Article", "0,0,0,0"));
}

void MainFrame::ArrangeIcons()
{
    int x = 0;
    QRect area = m_pArea->viewport()->rect();
    for (QMdiSubWindow* w : m_pArea->subWindowList()) {
        if (!w->isMinimized() || w->isHidden())
            continue;
        QSize s = w->size();
        w->move(x, area.bottom() - s.height() + 1);
        x += s.width();
    }
}

void MainFrame::closeEvent(QCloseEvent* pEvent)
{
    if (!m_onClose) {
        pEvent->accept();
        return;
    }
    // The logic decides (connected, unsaved messages) and ends the program.
    pEvent->ignore();
    m_onClose();
}

} // namespace ui
