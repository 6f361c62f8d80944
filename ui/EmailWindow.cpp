#include "ui/EmailWindow.h"

#include "mainwin/Commands.h"
#include "ui/Icons.h"
#include "ui/Placement.h"
#include "ui/TabStopDelegate.h"

#include <QCloseEvent>
#include <QLabel>
#include <QListWidget>
#include <QMdiArea>
#include <QProgressBar>
#include <QStringDecoder>
#include <QVBoxLayout>
#include <algorithm>

namespace ui {

namespace {
// Texts from messages: UTF-8 when they are, else each byte a Latin-1
// character (never replacement marks for a sender's name).
QString Text(const std::string& s)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString t = utf8(QByteArrayView(s.data(), static_cast<qsizetype>(s.size())));
    if (!utf8.hasError())
        return t;
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}
} // namespace

EmailSubWindow::EmailSubWindow(QWidget* pParent) : QMdiSubWindow(pParent)
{
    setObjectName("EmailWindow");
    setWindowTitle(kTitle);
    setWindowIcon(CommandIcon(CMD_GETMAIL));
    auto* pBody = new QWidget(this);
    m_pStatus = new QLabel(pBody);
    m_pStatus->setObjectName("Status");
    m_pStatus->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_pList = new QListWidget(pBody);
    m_pList->setObjectName("Messages");
    m_pList->setItemDelegate(new TabStopDelegate({kTabStop1, kTabStop2}, m_pList));
    m_pList->setUniformItemSizes(true);
    m_pProgress = new QProgressBar(pBody);
    m_pProgress->setObjectName("Progress");
    m_pProgress->setRange(0, 100);
    m_pProgress->setValue(0);
    m_pProgress->setTextVisible(false);
    m_pProgress->setMaximumHeight(m_pStatus->sizeHint().height());
    auto* pLayout = new QVBoxLayout(pBody);
    pLayout->setContentsMargins(2, 2, 2, 2);
    pLayout->setSpacing(2);
    pLayout->addWidget(m_pStatus);
    pLayout->addWidget(m_pList, 1);
    pLayout->addWidget(m_pProgress);
    setWidget(pBody);
    // The window passes the focus to its list.
    pBody->setFocusProxy(m_pList);
    setFocusProxy(m_pList);
    resize(520, 300);
}

void EmailSubWindow::closeEvent(QCloseEvent* pEvent)
{
    pEvent->ignore();
    hide();
}

QtEmailView::QtEmailView(QMdiArea* pArea, const std::string& placement) : m_pArea(pArea)
{
    m_pWindow = new EmailSubWindow();
    pArea->addSubWindow(m_pWindow);
    WatchNormalRect(m_pWindow);
    ApplyPlacement(m_pWindow, placement);
    m_pWindow->show();
    m_pArea->setActiveSubWindow(m_pWindow);
}

QtEmailView::~QtEmailView()
{
    if (m_pWindow) {
        if (m_pArea)
            m_pArea->removeSubWindow(m_pWindow);
        delete m_pWindow.data();
    }
}

void QtEmailView::Reveal()
{
    if (m_pWindow && m_pWindow->isHidden())
        m_pWindow->show();
}

void QtEmailView::SetStatus(const std::string& text)
{
    if (!m_pWindow)
        return;
    Reveal();
    m_pWindow->Status()->setText(Text(text));
}

void QtEmailView::SetProgress(int iPercent)
{
    if (m_pWindow)
        m_pWindow->Progress()->setValue(std::clamp(iPercent, 0, 100));
}

void QtEmailView::AddRow(const std::string& row)
{
    if (!m_pWindow)
        return;
    Reveal();
    QListWidget* pList = m_pWindow->List();
    pList->addItem(Text(row));
    pList->scrollToBottom();
}

} // namespace ui
