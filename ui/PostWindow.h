// The posting window "Posted Messages": a child of the main frame with a
// status pane, a row per recipient or newsgroup of each reply begun (its
// number, the address or group and the subject at the window's tab stops)
// and a progress bar.
#pragma once

#include "session/WPost.h"
#include "ui/ListWindow.h"

#include <QPointer>

class QMdiArea;

namespace ui {

class PostSubWindow : public ListSubWindow {
public:
    static constexpr const char* kTitle = "Posted Messages";
    static constexpr int kTabStop1 = 26;
    static constexpr int kTabStop2 = 126;

    explicit PostSubWindow(QWidget* pParent = nullptr);
};

// The view the posting window's logic talks to; it owns the child window.
class QtPostView : public IPostView {
public:
    QtPostView(QMdiArea* pArea, const std::string& placement);
    ~QtPostView() override;
    void SetStatus(const std::string& text) override;
    void SetProgress(int iPercent) override;
    void AddRow(const std::string& row) override;

    PostSubWindow* Window() const { return m_pWindow; }

private:
    QPointer<QMdiArea> m_pArea;
    QPointer<PostSubWindow> m_pWindow;
};

} // namespace ui
