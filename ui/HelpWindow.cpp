#include "ui/HelpWindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>
#include <algorithm>
#include <map>

#ifndef MT_HELP_SOURCE_DIR
#define MT_HELP_SOURCE_DIR ""
#endif

namespace ui {

QString HelpDirectory()
{
    QStringList candidates;
    QByteArray env = qgetenv("MAILTOLVAN_HELP_DIR");
    if (!env.isEmpty())
        candidates << QString::fromLocal8Bit(env);
    candidates << QCoreApplication::applicationDirPath() + "/../share/mailtolvan/help"
               << QString(MT_HELP_SOURCE_DIR);
    for (const QString& dir : candidates)
        if (!dir.isEmpty() && QFile::exists(dir + "/index.html"))
            return QDir(dir).absolutePath();
    return QString();
}

QString HelpTopic(const QString& name)
{
    static const std::map<QString, QString> topics = {
        {"WMain", "main-window.html"},
        {"WEmail", "email-window.html"},
        {"WArticles", "articles-window.html"},
        {"DServerInfo", "server-info.html"},
        {"DUserInfo", "personal-info.html"},
        {"DDirectories", "directories.html"},
        {"DAutorun", "autorun.html"},
        {"DGroupConfig", "group-options.html"},
        {"DArticleConfig", "article-options.html"},
        {"DEmailConfig", "email-options.html"},
        {"DTolvanConfig", "general-options.html"},
        {"DGroupSettings", "group-settings.html"},
        {"DPassword", "password.html"},
        {"DFind", "find.html"},
        {"DAddGroup", "group-settings.html"},
        {"ComputerName", "computer-name.html"},
        {"Headless", "headless.html"},
    };
    auto it = topics.find(name);
    return it == topics.end() ? QString("index.html") : it->second;
}

namespace {
QPointer<HelpWindow>& TheWindow()
{
    static QPointer<HelpWindow> s_pWindow;
    return s_pWindow;
}
} // namespace

HelpWindow& HelpWindow::Instance()
{
    if (!TheWindow())
        TheWindow() = new HelpWindow();
    return *TheWindow();
}

void HelpWindow::Destroy() { delete TheWindow().data(); }

HelpWindow::HelpWindow(QWidget* pParent) : QWidget(pParent, Qt::Window)
{
    setWindowTitle("Mail Tolvan Help");
    setAttribute(Qt::WA_DeleteOnClose);
    resize(640, 520);
    m_pBrowser = new QTextBrowser(this);
    m_pBrowser->setSearchPaths({HelpDirectory()});
    m_pBrowser->setOpenExternalLinks(true);
    m_pSearch = new QLineEdit(this);
    m_pSearch->setPlaceholderText("Search the help");
    auto* pContents = new QPushButton("&Contents", this);
    auto* pBack = new QPushButton("&Back", this);
    auto* pSearch = new QPushButton("&Search", this);
    auto* pBar = new QHBoxLayout;
    pBar->addWidget(pContents);
    pBar->addWidget(pBack);
    pBar->addSpacing(12);
    pBar->addWidget(m_pSearch, 1);
    pBar->addWidget(pSearch);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pBar);
    pLayout->addWidget(m_pBrowser, 1);
    connect(pContents, &QPushButton::clicked, this,
            [this] { m_pBrowser->setSource(QUrl("index.html")); });
    connect(pBack, &QPushButton::clicked, m_pBrowser, &QTextBrowser::backward);
    connect(m_pBrowser, &QTextBrowser::backwardAvailable, pBack, &QWidget::setEnabled);
    connect(pSearch, &QPushButton::clicked, this, [this] { RunSearch(); });
    connect(m_pSearch, &QLineEdit::returnPressed, this, [this] { RunSearch(); });
    connect(m_pBrowser, &QTextBrowser::sourceChanged, this,
            [this] { setWindowTitle("Mail Tolvan Help - " + m_pBrowser->documentTitle()); });
}

QString HelpWindow::CurrentPage() const { return m_pBrowser->source().fileName(); }

void HelpWindow::ShowTopic(const QString& page)
{
    HelpWindow& w = Instance();
    if (HelpDirectory().isEmpty()) {
        w.m_pBrowser->setHtml("<h1>Help</h1><p>The help pages are not installed. Set "
                              "MAILTOLVAN_HELP_DIR to the folder that holds them.</p>");
    } else {
        w.m_pBrowser->setSearchPaths({HelpDirectory()});
        w.m_pBrowser->setSource(QUrl(page));
    }
    w.show();
    w.raise();
    w.activateWindow();
}

void HelpWindow::ShowSearch(const QString& key)
{
    HelpWindow& w = Instance();
    if (w.m_pBrowser->source().isEmpty())
        ShowTopic("index.html");
    w.m_pSearch->setText(key);
    w.show();
    w.raise();
    w.activateWindow();
    w.m_pSearch->setFocus();
    if (!key.isEmpty())
        w.RunSearch();
}

QStringList HelpWindow::Search(const QString& key)
{
    QStringList words = key.toLower().split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
    QStringList hits;
    QDir dir(HelpDirectory());
    if (words.isEmpty() || HelpDirectory().isEmpty())
        return hits;
    for (const QString& name : dir.entryList({"*.html"}, QDir::Files, QDir::Name)) {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        QTextDocument doc;
        doc.setHtml(QString::fromUtf8(f.readAll()));
        QString text = doc.toPlainText().toLower();
        bool bAll = true;
        for (const QString& w : words)
            bAll = bAll && text.contains(w);
        if (bAll)
            hits << name + "|" + doc.metaInformation(QTextDocument::DocumentTitle);
    }
    std::sort(hits.begin(), hits.end(), [](const QString& a, const QString& b) {
        return a.section('|', 1).compare(b.section('|', 1), Qt::CaseInsensitive) < 0;
    });
    return hits;
}

void HelpWindow::RunSearch()
{
    QString key = m_pSearch->text().trimmed();
    QStringList hits = Search(key);
    QString html = "<h1>Search</h1>";
    if (key.isEmpty())
        html += "<p>Type one or more words and press Enter.</p>";
    else if (hits.isEmpty())
        html += "<p>No page holds &ldquo;" + key.toHtmlEscaped() + "&rdquo;.</p>";
    else {
        html += "<p>Pages that hold &ldquo;" + key.toHtmlEscaped() + "&rdquo;:</p><ul>";
        for (const QString& h : hits)
            html += "<li><a href=\"" + h.section('|', 0, 0) + "\">" +
                    h.section('|', 1).toHtmlEscaped() + "</a></li>";
        html += "</ul>";
    }
    m_pBrowser->setHtml(html);
}

} // namespace ui
