// What the session windows have in common: an MDI child with a status pane,
// a list whose tab-separated rows are drawn at the window's tab stops, and a
// progress bar; and the child's life in the frame's client area.
#pragma once

#include <QMdiSubWindow>
#include <QString>
#include <string>
#include <vector>

class QIcon;
class QLabel;
class QListWidget;
class QMdiArea;
class QProgressBar;

namespace ui {

// Texts from messages and servers: UTF-8 when they are, else each byte a
// Latin-1 character (never replacement marks for a sender's name).
QString Text(const std::string& s);

// The child window itself.  Closing it only hides it: the session that may
// be running goes on (the main window's logic owns it), and the window
// comes back with the next thing it has to show.
class ListSubWindow : public QMdiSubWindow {
public:
    // Tab stops in dialog units.
    ListSubWindow(const QString& title, const QString& name, const QIcon& icon,
                  std::vector<int> tabStops, QWidget* pParent = nullptr);
    QLabel* Status() const { return m_pStatus; }
    QListWidget* List() const { return m_pList; }
    QProgressBar* Progress() const { return m_pProgress; }

    // Shows the window again when it was closed.
    void Reveal();
    void SetStatusText(const std::string& text);
    void SetPercent(int iPercent);
    void AppendRow(const std::string& row);

protected:
    void closeEvent(QCloseEvent* pEvent) override;

private:
    QLabel* m_pStatus;
    QListWidget* m_pList;
    QProgressBar* m_pProgress;
};

// Puts a new child into the frame's client area at its stored placement
// and shows it; takes it out and deletes it again.
void AddChild(QMdiArea* pArea, QMdiSubWindow* pChild, const std::string& placement);
void DeleteChild(QMdiArea* pArea, QMdiSubWindow* pChild);

} // namespace ui
