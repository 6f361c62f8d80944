#include "ui/TabStopDelegate.h"

#include <QApplication>
#include <QPainter>

namespace ui {

TabStopDelegate::TabStopDelegate(std::vector<int> dialogUnits, QObject* pParent)
    : QStyledItemDelegate(pParent), m_dialogUnits(std::move(dialogUnits))
{
}

std::vector<int> TabStopDelegate::PixelStops(const QFont& font) const
{
    int iAverage = QFontMetrics(font).averageCharWidth();
    std::vector<int> stops;
    for (int du : m_dialogUnits)
        stops.push_back(du * iAverage / 4);
    return stops;
}

void TabStopDelegate::paint(QPainter* pPainter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    QString text = opt.text;
    opt.text.clear();
    const QWidget* pWidget = opt.widget;
    QStyle* pStyle = pWidget ? pWidget->style() : QApplication::style();
    pStyle->drawControl(QStyle::CE_ItemViewItem, &opt, pPainter, pWidget);

    QRect area = pStyle->subElementRect(QStyle::SE_ItemViewItemText, &opt, pWidget);
    pPainter->save();
    pPainter->setFont(opt.font);
    pPainter->setPen(opt.palette.color(
        opt.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
    // Each column starts at the first stop right of the text before it; a
    // column that would run into the next stop is cut short with an
    // ellipsis, so the columns stay lined up.
    QFontMetrics metrics(opt.font);
    std::vector<int> stops = PixelStops(opt.font);
    auto nextStop = [&](int x) {
        for (int s : stops)
            if (area.left() + s > x)
                return area.left() + s;
        return -1;
    };
    const QStringList columns = text.split('\t');
    int x = area.left() + 2;
    for (int i = 0; i < columns.size(); ++i) {
        if (i > 0) {
            int next = nextStop(x);
            x = next >= 0 ? next : x + 8 * metrics.averageCharWidth();
        }
        int limit = area.right();
        if (i + 1 < columns.size() && nextStop(x) >= 0)
            limit = nextStop(x) - metrics.averageCharWidth() / 2;
        QString shown = metrics.elidedText(columns[i], Qt::ElideRight, std::max(limit - x, 0));
        pPainter->drawText(QRect(x, area.top(), std::max(limit - x, 0), area.height()),
                           Qt::AlignLeft | Qt::AlignVCenter, shown);
        x += metrics.horizontalAdvance(shown);
    }
    pPainter->restore();
}

QSize TabStopDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize s = QStyledItemDelegate::sizeHint(option, index);
    std::vector<int> stops = PixelStops(option.font);
    if (!stops.empty())
        s.setWidth(std::max(s.width(), stops.back() + 200));
    return s;
}

} // namespace ui
