#include "ui/Placement.h"

#include "core/TnIni.h"

#include <QEvent>
#include <QMdiSubWindow>
#include <QWidget>

namespace ui {

namespace {
const char* const kNormalRect = "mtNormalRect";

const Qt::WindowStates kNotNormal = Qt::WindowMinimized | Qt::WindowMaximized;

// Remembers an MDI child's rectangle whenever it moves or is resized while
// neither minimised nor maximised.  The state is followed through the
// child's own signal too: while the client area resizes a maximised child,
// the child's state briefly reads as normal.
class NormalRectWatch : public QObject {
public:
    explicit NormalRectWatch(QMdiSubWindow* pChild) : QObject(pChild)
    {
        connect(pChild, &QMdiSubWindow::windowStateChanged, this,
                [this](Qt::WindowStates, Qt::WindowStates now) { m_state = now; });
    }
    bool eventFilter(QObject* pObject, QEvent* pEvent) override
    {
        if (pEvent->type() == QEvent::Move || pEvent->type() == QEvent::Resize ||
            pEvent->type() == QEvent::Show) {
            auto* w = static_cast<QWidget*>(pObject);
            if (!((w->windowState() | m_state) & kNotNormal))
                w->setProperty(kNormalRect, w->geometry());
        }
        return false;
    }

private:
    Qt::WindowStates m_state;
};
} // namespace

void WatchNormalRect(QMdiSubWindow* pChild)
{
    pChild->installEventFilter(new NormalRectWatch(pChild));
    pChild->setProperty(kNormalRect, pChild->geometry());
}

QRect NormalRect(const QWidget* pWindow)
{
    if (pWindow->isWindow())
        return pWindow->normalGeometry().isValid() ? pWindow->normalGeometry()
                                                   : pWindow->geometry();
    QVariant v = pWindow->property(kNormalRect);
    return v.isValid() ? v.toRect() : pWindow->geometry();
}

std::string PlacementText(const QWidget* pWindow)
{
    QRect r = NormalRect(pWindow);
    return FormatPlacement(Placement{r.left(), r.top(), r.width(), r.height()});
}

void ApplyPlacement(QWidget* pWindow, const std::string& text)
{
    Placement p = ParsePlacement(text);
    if (p.IsDefault() || p.iWidth <= 0 || p.iHeight <= 0) {
        pWindow->showNormal();
        return;
    }
    pWindow->showNormal();
    pWindow->setGeometry(p.iLeft, p.iTop, p.iWidth, p.iHeight);
    if (!pWindow->isWindow())
        pWindow->setProperty(kNormalRect, pWindow->geometry());
}

} // namespace ui
