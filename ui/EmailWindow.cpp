#include "ui/EmailWindow.h"

#include "mainwin/Commands.h"
#include "ui/Icons.h"

#include <QListWidget>
#include <QMdiArea>

namespace ui {

EmailSubWindow::EmailSubWindow(QWidget* pParent)
    : ListSubWindow(kTitle, "EmailWindow", CommandIcon(CMD_GETMAIL), {kTabStop1, kTabStop2},
                    pParent)
{
    List()->setObjectName("Messages");
}

QtEmailView::QtEmailView(QMdiArea* pArea, const std::string& placement) : m_pArea(pArea)
{
    m_pWindow = new EmailSubWindow();
    AddChild(pArea, m_pWindow, placement);
}

QtEmailView::~QtEmailView() { DeleteChild(m_pArea, m_pWindow); }

void QtEmailView::SetStatus(const std::string& text)
{
    if (m_pWindow)
        m_pWindow->SetStatusText(text);
}

void QtEmailView::SetProgress(int iPercent)
{
    if (m_pWindow)
        m_pWindow->SetPercent(iPercent);
}

void QtEmailView::AddRow(const std::string& row)
{
    if (m_pWindow)
        m_pWindow->AppendRow(row);
}

} // namespace ui
