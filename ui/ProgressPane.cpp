#include "ui/ProgressPane.h"

#include <QPainter>
#include <algorithm>

namespace ui {

ProgressPane::ProgressPane(QWidget* pParent) : QWidget(pParent) { setAccessibleName("Progress"); }

void ProgressPane::SetPercent(int iPercent)
{
    iPercent = std::clamp(iPercent, 0, 100);
    if (iPercent == m_iPercent)
        return;
    m_iPercent = iPercent;
    update();
}

QString ProgressPane::Text() const
{
    return m_iPercent == 0 ? QString() : QString::asprintf("%d%%", m_iPercent);
}

// A hundred units wide, one per percent.
QSize ProgressPane::sizeHint() const { return QSize(100 + 2, fontMetrics().height() + 4); }

void ProgressPane::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QRect inner = rect().adjusted(1, 1, -1, -1);
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    if (m_iPercent == 0)
        return;
    QRect filled = inner;
    filled.setWidth(inner.width() * m_iPercent / 100);
    p.fillRect(filled, QColor(0, 255, 0));
    p.setPen(Qt::black);
    p.drawText(inner, Qt::AlignCenter, Text());
}

} // namespace ui
