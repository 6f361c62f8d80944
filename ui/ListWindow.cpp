#include "ui/ListWindow.h"

#include "ui/Placement.h"
#include "ui/TabStopDelegate.h"

#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QMdiArea>
#include <QProgressBar>
#include <QStringDecoder>
#include <QVBoxLayout>
#include <algorithm>

namespace ui {

QString Text(const std::string& s)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString t = utf8(QByteArrayView(s.data(), static_cast<qsizetype>(s.size())));
    if (!utf8.hasError())
        return t;
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

ListSubWindow::ListSubWindow(const QString& title, const QString& name, const QIcon& icon,
                             std::vector<int> tabStops, QWidget* pParent)
    : QMdiSubWindow(pParent)
{
    setObjectName(name);
    setWindowTitle(title);
    setWindowIcon(icon);
    auto* pBody = new QWidget(this);
    m_pStatus = new QLabel(pBody);
    m_pStatus->setObjectName("Status");
    m_pStatus->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_pList = new QListWidget(pBody);
    m_pList->setObjectName("List");
    m_pList->setItemDelegate(new TabStopDelegate(std::move(tabStops), m_pList));
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

void ListSubWindow::closeEvent(QCloseEvent* pEvent)
{
    pEvent->ignore();
    hide();
}

void ListSubWindow::Reveal()
{
    if (isHidden())
        show();
}

void ListSubWindow::SetStatusText(const std::string& text)
{
    Reveal();
    m_pStatus->setText(Text(text));
}

void ListSubWindow::SetPercent(int iPercent)
{
    m_pProgress->setValue(std::clamp(iPercent, 0, 100));
}

void ListSubWindow::AppendRow(const std::string& row)
{
    Reveal();
    m_pList->addItem(Text(row));
    m_pList->scrollToBottom();
}

void AddChild(QMdiArea* pArea, QMdiSubWindow* pChild, const std::string& placement)
{
    pArea->addSubWindow(pChild);
    WatchNormalRect(pChild);
    ApplyPlacement(pChild, placement);
    pChild->show();
    pArea->setActiveSubWindow(pChild);
}

void DeleteChild(QMdiArea* pArea, QMdiSubWindow* pChild)
{
    if (!pChild)
        return;
    if (pArea)
        pArea->removeSubWindow(pChild);
    delete pChild;
}

} // namespace ui
