// mailtolvan-screenshots: draws the main window, the Email, Usenet Groups,
// article and Posted Messages windows, every dialog, the menus, the splash screen,
// the help window and a message box into PNG files of a directory,
// offscreen, for reviewers.  Settings live in a temporary home directory;
// nothing touches the network.
#include "core/Services.h"
#include "core/Startup.h"
#include "core/TnIni.h"
#include "dialogs/DDirectories.h"
#include "dialogs/DGroupSettings.h"
#include "dialogs/DServerInfo.h"
#include "dialogs/DUserInfo.h"
#include "dialogs/OptionsDialogs.h"
#include "dialogs/SmallDialogs.h"
#include "framework/MessageBox.h"
#include "framework/Registry.h"
#include "mainwin/WMain.h"
#include "newsgroups/Newsgroups.h"
#include "session/WGroups.h"
#include "ui/EmailWindow.h"
#include "ui/GroupSettingsDialog.h"
#include "ui/HelpWindow.h"
#include "ui/MainFrame.h"
#include "ui/MessageBoxes.h"
#include "ui/SettingsDialogs.h"
#include "ui/Splash.h"

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <cstdio>

namespace {
QString g_outDir;
QStringList g_written;

void Settle()
{
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

// A window is drawn with a plain title bar above it (the offscreen screen
// has no window manager to draw one), so its title can be checked too.
QPixmap WithTitle(QWidget* pWidget)
{
    QPixmap body = pWidget->grab();
    if (!pWidget->isWindow() || pWidget->windowTitle().isEmpty() ||
        (pWidget->windowFlags() & Qt::FramelessWindowHint) || qobject_cast<QMenu*>(pWidget))
        return body;
    int iBar = pWidget->fontMetrics().height() + 10;
    QPixmap pm(body.width(), body.height() + iBar);
    QPainter p(&pm);
    p.fillRect(0, 0, pm.width(), iBar, QColor(45, 85, 150));
    p.setPen(Qt::white);
    QFont f = pWidget->font();
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRect(8, 0, pm.width() - 16, iBar), Qt::AlignVCenter | Qt::AlignLeft,
               pWidget->windowTitle());
    p.drawPixmap(0, iBar, body);
    return pm;
}

bool Save(QWidget* pWidget, const QString& name)
{
    Settle();
    QString path = g_outDir + "/" + name + ".png";
    if (!WithTitle(pWidget).save(path)) {
        std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    g_written << name;
    return true;
}

bool Shot(QWidget& w, const QString& name)
{
    w.show();
    w.adjustSize();
    bool bOk = Save(&w, name);
    w.hide();
    return bOk;
}

// Boxes are drawn, never waited for.
class QuietBoxes : public fw::IMessageBoxService {
public:
    int Show(const std::string&, const std::string&, fw::MbIcon, fw::MbButtons, bool) override
    {
        return fw::IDYES;
    }
};
} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    g_outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("screenshots");
    if (!QDir().mkpath(g_outDir)) {
        std::fprintf(stderr, "screenshots: cannot create %s\n", qPrintable(g_outDir));
        return 1;
    }
    QTemporaryDir home;
    fw::RegKey::SetStorePath((home.path() + "/registry.ini").toStdString());
    QuietBoxes boxes;
    fw::SetMessageBoxService(&boxes);

    bool bOk = true;
    {
        auto pStartup = std::make_unique<Startup>(CommandLine{}, home.path().toStdString());
        g_pStartup = pStartup.get();
        TnIni ini(pStartup->m_szIniFile);
        g_pIni = &ini;
        ini.WriteString("Servers", "NNTPServer", "news.example.org");
        ini.WriteString("Servers", "POP3Server", "pop.example.org");
        ini.WriteString("Servers", "SMTPServer", "smtp.example.org");
        ini.WriteString("Servers", "POP3Name", "ann");
        ini.StorePop3Password("secret");
        ini.WriteString("Servers", "POP3Security", "tls");
        ini.WriteInt("Servers", "POP3Port", 995);
        ini.WriteString("Servers", "SMTPName", "ann@example.org");
        ini.WriteString("Servers", "SMTPPasswordCommand", "secret-tool lookup smtp ann");
        ini.WriteString("User", "Name", "Ann Example");
        ini.WriteString("User", "EmailAddress", "ann@example.org");
        ini.WriteString("User", "Organization", "Example Widgets");
        ini.WriteString("Directories", "Qwk", "/home/ann/qwk");
        ini.WriteString("Directories", "Rep", "/home/ann/rep");
        ini.WriteString("Directories", "QwkReader", "/usr/local/bin/qwkreader");
        Newsgroups groups(pStartup->m_szNwsFile);
        g_pNewsgroups = &groups;
        groups.Add("comp.lang.c", NG_SELECTED | NG_AUTOMATIC, 1042, 0, "", "");
        groups.Add("alt.test", 0, 1, 0, "", "");
        groups.Add("rec.arts.books", NG_SELECTED | NG_BYDATE, 1, 1767225600, "ann", "pw");
        groups.Sort();

        // The dialogs, each on its model.
        {
            DServerInfo m(ini);
            ui::ServerInfoDialog d(m);
            bOk &= Shot(d, "dialog-server-info");
        }
        {
            DUserInfo m(ini);
            ui::UserInfoDialog d(m);
            bOk &= Shot(d, "dialog-personal-info");
        }
        {
            DDirectories m(ini, home.path().toStdString());
            ui::DirectoriesDialog d(m, ini);
            bOk &= Shot(d, "dialog-directories");
        }
        {
            DGroupConfig m(ini);
            ui::OptionsDialogView d(m, "DGroupConfig");
            bOk &= Shot(d, "dialog-group-options");
        }
        {
            DArticleConfig m(ini);
            ui::OptionsDialogView d(m, "DArticleConfig");
            bOk &= Shot(d, "dialog-article-options");
        }
        {
            DEmailConfig m(ini);
            ui::OptionsDialogView d(m, "DEmailConfig");
            bOk &= Shot(d, "dialog-email-options");
        }
        {
            DTolvanConfig m(ini);
            m.Change("Sound", 0); // shows "Beep when done" grayed
            ui::OptionsDialogView d(m, "DTolvanConfig");
            bOk &= Shot(d, "dialog-general-options");
        }
        {
            DAutorun m(ini, &groups);
            ui::OptionsDialogView d(m, "DAutorun");
            bOk &= Shot(d, "dialog-autorun");
        }
        {
            DGroupSettings m(groups);
            ui::GroupSettingsDialog d(m);
            bOk &= Shot(d, "dialog-group-settings");
        }
        {
            DPassword m("Email Password");
            ui::PasswordDialog d(m);
            bOk &= Shot(d, "dialog-password");
        }
        {
            DFind m;
            m.m_szText = "lang";
            ui::FindDialog d(m, nullptr);
            bOk &= Shot(d, "dialog-find");
        }
        {
            DAddGroup m;
            m.m_szName = "comp.os.linux.misc";
            ui::AddGroupDialog d(m);
            bOk &= Shot(d, "dialog-add-group");
        }
        {
            ui::AboutDialog d;
            bOk &= Shot(d, "dialog-about");
        }
        {
            QMessageBox box(ui::QtMessageBoxes::IconOf(fw::MbIcon::Stop), "ERROR!",
                            "The NNTP TCP Port cannot be zero!\nThe standard value for the port "
                            "is 119.",
                            QMessageBox::Ok);
            bOk &= Shot(box, "messagebox-error");
            QMessageBox question(ui::QtMessageBoxes::IconOf(fw::MbIcon::Question), "Warning!",
                                 "Your connection is still active!\nExit anyways?",
                                 QMessageBox::Yes | QMessageBox::No);
            bOk &= Shot(question, "messagebox-question");
        }
        {
            ui::SplashWindow splash;
            bOk &= Shot(splash, "splash");
        }

        // The main window as the program starts, then online with mail
        // coming in.
        ui::MainFrame frame([](int) {});
        frame.resize(800, 560);
        {
            WMain main(frame, false, false);
            frame.SetStatus("Ready");
            bOk &= Save(&frame, "main-offline");
            for (QMenu* pMenu :
                 frame.menuBar()->findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly)) {
                if (pMenu->objectName().isEmpty())
                    continue; // not one of the program's menus
                pMenu->adjustSize();
                bOk &= Save(pMenu, "menu-" + pMenu->objectName().toLower());
            }
            ini.WriteString("Servers", "NNTPServer", "");
            main.OnCommand(CMD_CONNECT);
            frame.SetStatus("Retrieving Email messages");
            auto pView = frame.CreateEmailView();
            pView->SetStatus("5 new email messages");
            const char* rows[] = {
                "     1\tAnn Example <ann@example.org>\tMinutes of Tuesday's meeting",
                "     2\tBob Builder\tRe: The shed roof, again",
                "     3\tcarol@example.net\tPhotos from the trip (part 1 of 3)",
            };
            for (const char* r : rows)
                pView->AddRow(r);
            pView->SetProgress(60);
            frame.SetProgress(60);
            frame.EmailWindow()->resize(560, 260);
            bOk &= Save(&frame, "main-online-email");
            bOk &= Save(frame.EmailWindow(), "window-email");
            pView.reset();

            // The groups window with a group found, and replies going out.
            {
                WGroups groupsWindow(GroupsOwner{}, frame.CreateGroupsView());
                (void)groupsWindow.FindGroup("books", false);
                groupsWindow.View().SetStatus("Ready");
                frame.GroupsWindow()->setGeometry(0, 0, 420, 240);
                auto pPost = frame.CreatePostView();
                pPost->SetStatus("Message sent!");
                pPost->AddRow("     1\tbob@example.net\tThe shed roof");
                pPost->AddRow("     1\tcarol@example.net\tThe shed roof");
                pPost->AddRow("     2\tcomp.lang.c\tRe: Undefined behaviour in a loop");
                pPost->SetProgress(66);
                frame.PostWindow()->setGeometry(120, 150, 520, 240);
                bOk &= Save(&frame, "main-online-news");
                bOk &= Save(frame.GroupsWindow(), "window-groups");
                bOk &= Save(frame.PostWindow(), "window-post");
            }

            // An article window of a group read by hand, some rows chosen
            // and one already fetched.
            if (groups.Find("rec.arts.books")) {
                WArticles articles(ArticlesOwner{}, frame.CreateArticlesView(), *groups.Current(),
                                   2201, 2206, 6);
                const struct {
                    std::int32_t iNumber;
                    const char* pszFrom;
                    const char* pszSubject;
                    long lLines;
                } heads[] = {
                    {2201, "ann@example.org", "A reading list for the winter", 34},
                    {2202, "Bob Builder <bob@example.net>", "Re: A reading list for the winter",
                     12},
                    {2203, "carol@example.net", "Second-hand shops in the old town", 21},
                    {2204, "dan@example.com", "Re: Second-hand shops in the old town", 8},
                    {2205, "erin@example.org", "Audiobooks: worth it?", 45},
                    {2206, "frank@example.net", "Re: Audiobooks: worth it?", 17},
                };
                std::vector<std::string> rows;
                std::time_t t = 1767225600; // 2026-01-01
                for (const auto& h : heads) {
                    ArticleHeader a;
                    a.iNumber = h.iNumber;
                    a.from = h.pszFrom;
                    a.subject = h.pszSubject;
                    a.lLines = h.lLines;
                    a.tDate = t += 5400;
                    a.cMark = h.iNumber == 2203 ? '+' : ' ';
                    rows.push_back(WArticles::RowOf(a, a.cMark == '+'));
                }
                IArticlesView& v = articles.View();
                v.SetTitle("rec.arts.books,  6 new out of 6 total");
                v.SetRows(rows);
                v.HighlightRow(1, true);
                v.HighlightRow(4, true);
                v.SetCaretRow(4);
                v.EnableCommands(true, 1);
                v.SetStatus("Done!");
                ui::ArticlesSubWindow* pWin = frame.ArticleWindows().front();
                pWin->setGeometry(0, 0, 700, 240);
                bOk &= Save(pWin, "window-articles");
                pWin->Popup()->adjustSize();
                bOk &= Save(pWin->Popup(), "menu-articles-popup");
            }
            main.OnCommand(CMD_DISCONNECT);
            ini.WriteString("Servers", "NNTPServer", "news.example.org");
        }

        ui::HelpWindow::ShowTopic("index.html");
        bOk &= Save(&ui::HelpWindow::Instance(), "window-help");
        ui::HelpWindow::ShowTopic(ui::HelpTopic("DServerInfo"));
        bOk &= Save(&ui::HelpWindow::Instance(), "window-help-server-info");
        ui::HelpWindow::Destroy();

        g_pNewsgroups = nullptr;
        g_pIni = nullptr;
        g_pStartup = nullptr;
    }
    fw::SetMessageBoxService(nullptr);
    std::printf("%s\n", qPrintable(g_written.join("\n")));
    return bOk ? 0 : 1;
}
