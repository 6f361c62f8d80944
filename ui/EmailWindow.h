// The Email window: a child of the main frame with a status pane, the list
// of retrieved messages (number, sender and subject at the window's tab
// stops) and a progress bar.
#pragma once

#include "session/WEmail.h"
#include "ui/ListWindow.h"

#include <QPointer>

class QMdiArea;

namespace ui {

class EmailSubWindow : public ListSubWindow {
public:
    static constexpr const char* kTitle = "Email";
    // The list's tab stops, in dialog units.
    static constexpr int kTabStop1 = 26;
    static constexpr int kTabStop2 = 126;

    explicit EmailSubWindow(QWidget* pParent = nullptr);
};

// The view the Email window's logic talks to.  It owns the child window:
// when the logic ends the window, the child goes with it.
class QtEmailView : public IEmailView {
public:
    // Adds the child to the frame's client area at the stored placement.
    QtEmailView(QMdiArea* pArea, const std::string& placement);
    ~QtEmailView() override;
    void SetStatus(const std::string& text) override;
    void SetProgress(int iPercent) override;
    void AddRow(const std::string& row) override;

    EmailSubWindow* Window() const { return m_pWindow; }

private:
    QPointer<QMdiArea> m_pArea;
    QPointer<EmailSubWindow> m_pWindow;
};

} // namespace ui
