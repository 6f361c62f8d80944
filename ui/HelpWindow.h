// The help book: HTML pages installed with the program (a contents page, a
// page per window and dialog), shown in one help window with a search.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class QLineEdit;
class QTextBrowser;

namespace ui {

// Where the pages are: $MAILTOLVAN_HELP_DIR, else the installed
// share/mailtolvan/help beside the program, else the source tree's.
QString HelpDirectory();

class HelpWindow : public QWidget {
public:
    // The one help window (created on first use).
    static HelpWindow& Instance();
    // Deletes it (it has no owner): before the application ends.
    static void Destroy();
    // Shows a page ("index.html" is the contents) and brings the window up.
    static void ShowTopic(const QString& page);
    // Shows the search field, with the key given.
    static void ShowSearch(const QString& key = QString());

    explicit HelpWindow(QWidget* pParent = nullptr);
    // Pages whose text holds every word of the key (case ignored), as
    // "page|title" entries sorted by title.
    static QStringList Search(const QString& key);
    QTextBrowser* Browser() const { return m_pBrowser; }
    QString CurrentPage() const;

private:
    void RunSearch();

    QTextBrowser* m_pBrowser;
    QLineEdit* m_pSearch;
};

// The topic of each dialog and window, by its class name ("DServerInfo",
// "WEmail", "WMain").
QString HelpTopic(const QString& name);

} // namespace ui
