// Draws a list row whose columns are separated by tabs at the window's own
// tab stops (a plain list widget would put them every 80 pixels).
#pragma once

#include <QStyledItemDelegate>
#include <vector>

namespace ui {

class TabStopDelegate : public QStyledItemDelegate {
public:
    // Stops in dialog units (a quarter of the font's average character
    // width), as the windows define them.
    TabStopDelegate(std::vector<int> dialogUnits, QObject* pParent);
    // The stops in pixels for a font.
    std::vector<int> PixelStops(const QFont& font) const;
    void paint(QPainter* pPainter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    std::vector<int> m_dialogUnits;
};

} // namespace ui
