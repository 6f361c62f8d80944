#include "ui/PostWindow.h"

#include "mainwin/Commands.h"
#include "ui/Icons.h"

#include <QListWidget>
#include <QMdiArea>

namespace ui {

PostSubWindow::PostSubWindow(QWidget* pParent)
    : ListSubWindow(kTitle, "PostWindow", CommandIcon(CMD_POST), {kTabStop1, kTabStop2}, pParent)
{
    List()->setObjectName("Posted");
}

QtPostView::QtPostView(QMdiArea* pArea, const std::string& placement) : m_pArea(pArea)
{
    m_pWindow = new PostSubWindow();
    AddChild(pArea, m_pWindow, placement);
}

QtPostView::~QtPostView() { DeleteChild(m_pArea, m_pWindow); }

void QtPostView::SetStatus(const std::string& text)
{
    if (m_pWindow)
        m_pWindow->SetStatusText(text);
}

void QtPostView::SetProgress(int iPercent)
{
    if (m_pWindow)
        m_pWindow->SetPercent(iPercent);
}

void QtPostView::AddRow(const std::string& row)
{
    if (m_pWindow)
        m_pWindow->AppendRow(row);
}

} // namespace ui
