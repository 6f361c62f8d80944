#include "ui/Icons.h"

#include "mainwin/Commands.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace ui {

namespace {
constexpr int kSize = 32;

// A drawing on a transparent 32 x 32 image.
template <class Draw>
QPixmap Drawn(Draw draw)
{
    QPixmap pm(kSize, kSize);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    return pm;
}

void Envelope(QPainter& p, QRectF r, QColor paper)
{
    p.setPen(QPen(QColor(60, 60, 60), 1.2));
    p.setBrush(paper);
    p.drawRect(r);
    QPainterPath flap;
    flap.moveTo(r.topLeft());
    flap.lineTo(r.center().x(), r.top() + r.height() * 0.55);
    flap.lineTo(r.topRight());
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
}

void Arrow(QPainter& p, QPointF tip, bool bDown, QColor colour)
{
    double d = bDown ? -1 : 1;
    QPainterPath a;
    a.moveTo(tip);
    a.lineTo(tip.x() - 6, tip.y() + 6 * d);
    a.lineTo(tip.x() - 2.5, tip.y() + 6 * d);
    a.lineTo(tip.x() - 2.5, tip.y() + 12 * d);
    a.lineTo(tip.x() + 2.5, tip.y() + 12 * d);
    a.lineTo(tip.x() + 2.5, tip.y() + 6 * d);
    a.lineTo(tip.x() + 6, tip.y() + 6 * d);
    a.closeSubpath();
    p.setPen(QPen(colour.darker(150), 1));
    p.setBrush(colour);
    p.drawPath(a);
}

void Newspaper(QPainter& p, QRectF r)
{
    p.setPen(QPen(QColor(70, 70, 70), 1.2));
    p.setBrush(QColor(245, 245, 235));
    p.drawRect(r);
    p.setBrush(QColor(90, 90, 90));
    p.drawRect(QRectF(r.left() + 3, r.top() + 3, r.width() - 6, 4));
    p.setPen(QPen(QColor(120, 120, 120), 1));
    for (double y = r.top() + 10; y < r.bottom() - 2; y += 3.5) {
        p.drawLine(QPointF(r.left() + 3, y), QPointF(r.center().x() - 1.5, y));
        p.drawLine(QPointF(r.center().x() + 1.5, y), QPointF(r.right() - 3, y));
    }
}

QPixmap DrawCommand(int iCommand)
{
    switch (iCommand) {
    case CMD_OPEN:
        return Drawn([](QPainter& p) {
            p.setPen(QPen(QColor(140, 100, 20), 1.2));
            p.setBrush(QColor(240, 200, 90));
            p.drawRect(QRectF(3, 9, 26, 18));
            p.drawRect(QRectF(3, 6, 10, 4));
            p.setBrush(QColor(250, 220, 120));
            QPainterPath front;
            front.moveTo(6, 14);
            front.lineTo(30, 14);
            front.lineTo(27, 27);
            front.lineTo(3, 27);
            front.closeSubpath();
            p.drawPath(front);
        });
    case CMD_SAVE:
        return Drawn([](QPainter& p) {
            p.setPen(QPen(QColor(20, 40, 90), 1.2));
            p.setBrush(QColor(60, 100, 190));
            p.drawRoundedRect(QRectF(4, 4, 24, 24), 2, 2);
            p.setBrush(QColor(235, 235, 235));
            p.drawRect(QRectF(9, 4, 14, 9));
            p.setBrush(QColor(60, 100, 190));
            p.drawRect(QRectF(18, 5.5, 3, 6));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(8, 17, 16, 10));
        });
    case CMD_STOP:
        return Drawn([](QPainter& p) {
            QPolygonF octagon;
            for (int i = 0; i < 8; ++i) {
                double a = (22.5 + 45 * i) * 3.14159265 / 180;
                octagon << QPointF(16 + 13 * std::cos(a), 16 + 13 * std::sin(a));
            }
            p.setPen(QPen(QColor(120, 0, 0), 1.2));
            p.setBrush(QColor(210, 30, 30));
            p.drawPolygon(octagon);
            p.setBrush(Qt::white);
            p.setPen(Qt::NoPen);
            p.drawRect(QRectF(8, 13.5, 16, 5));
        });
    case CMD_GETMAIL:
        return Drawn([](QPainter& p) {
            Envelope(p, QRectF(2, 12, 24, 16), QColor(250, 250, 240));
            Arrow(p, QPointF(24, 17), true, QColor(40, 170, 60));
        });
    case CMD_GETNEW:
        return Drawn([](QPainter& p) {
            Newspaper(p, QRectF(3, 5, 20, 24));
            Arrow(p, QPointF(24, 22), true, QColor(40, 170, 60));
        });
    case CMD_POST:
        return Drawn([](QPainter& p) {
            Envelope(p, QRectF(2, 12, 24, 16), QColor(250, 250, 240));
            Arrow(p, QPointF(24, 3), false, QColor(40, 110, 220));
        });
    case CMD_RUNREADER:
        return Drawn([](QPainter& p) {
            p.setPen(QPen(QColor(60, 30, 10), 1.2));
            p.setBrush(QColor(150, 70, 30));
            p.drawRoundedRect(QRectF(5, 3, 22, 26), 2, 2);
            p.setBrush(QColor(245, 240, 220));
            p.drawRect(QRectF(9, 7, 15, 18));
            QFont f = p.font();
            f.setBold(true);
            f.setPixelSize(14);
            p.setFont(f);
            p.setPen(QColor(150, 70, 30));
            p.drawText(QRectF(9, 7, 15, 18), Qt::AlignCenter, "Q");
        });
    case CMD_HELPCONTENTS:
        return Drawn([](QPainter& p) {
            p.setPen(QPen(QColor(20, 60, 140), 1.2));
            p.setBrush(QColor(60, 120, 220));
            p.drawEllipse(QRectF(3, 3, 26, 26));
            QFont f = p.font();
            f.setBold(true);
            f.setPixelSize(20);
            p.setFont(f);
            p.setPen(Qt::white);
            p.drawText(QRectF(3, 3, 26, 26), Qt::AlignCenter, "?");
        });
    case CMD_EXIT:
        return Drawn([](QPainter& p) {
            p.setPen(QPen(QColor(70, 50, 30), 1.2));
            p.setBrush(QColor(170, 120, 70));
            p.drawRect(QRectF(4, 3, 16, 26));
            p.setBrush(QColor(240, 210, 80));
            p.drawEllipse(QRectF(15, 15, 3, 3));
            Arrow(p, QPointF(30, 16), false, QColor(200, 40, 40));
        });
    default:
        return QPixmap();
    }
}

QPixmap DrawPlug(bool bConnected)
{
    return Drawn([bConnected](QPainter& p) {
        QColor body = bConnected ? QColor(40, 160, 60) : QColor(140, 140, 140);
        double gap = bConnected ? 0 : 5;
        p.setPen(QPen(QColor(50, 50, 50), 1.5));
        p.drawLine(QPointF(1, 16), QPointF(8 - gap / 2, 16));
        p.drawLine(QPointF(24 + gap / 2, 16), QPointF(31, 16));
        p.setBrush(body);
        p.drawRoundedRect(QRectF(7 - gap, 10, 9, 12), 2, 2);
        p.drawRoundedRect(QRectF(16 + gap, 9, 9, 14), 2, 2);
        p.setBrush(QColor(220, 200, 80));
        p.drawRect(QRectF(16 - gap + 0.5, 11.5, 3, 2));
        p.drawRect(QRectF(16 - gap + 0.5, 18.5, 3, 2));
    });
}

const char* ThemeName(int iCommand)
{
    switch (iCommand) {
    case CMD_OPEN:
        return "document-open";
    case CMD_SAVE:
        return "document-save";
    case CMD_STOP:
        return "process-stop";
    case CMD_GETMAIL:
        return "mail-receive";
    case CMD_GETNEW:
        return "mail-send-receive";
    case CMD_POST:
        return "mail-send";
    case CMD_RUNREADER:
        return "system-run";
    case CMD_HELPCONTENTS:
        return "help-contents";
    case CMD_EXIT:
        return "application-exit";
    default:
        return "";
    }
}
} // namespace

QIcon CommandIcon(int iCommand)
{
    QIcon drawn(DrawCommand(iCommand));
    const char* pszName = ThemeName(iCommand);
    return *pszName ? QIcon::fromTheme(pszName, drawn) : drawn;
}

QIcon ConnectIcon()
{
    QIcon icon;
    icon.addPixmap(DrawPlug(false), QIcon::Normal, QIcon::Off);
    icon.addPixmap(DrawPlug(true), QIcon::Normal, QIcon::On);
    return icon;
}

QIcon AppIcon()
{
    QIcon icon = QIcon::fromTheme("mailtolvan");
    if (!icon.isNull())
        return icon;
    return QIcon(Drawn([](QPainter& p) {
        Newspaper(p, QRectF(10, 2, 20, 24));
        Envelope(p, QRectF(1, 14, 22, 15), QColor(255, 250, 220));
    }));
}

QPixmap SplashPixmap(int iWidth, int iHeight)
{
    QPixmap pm(iWidth, iHeight);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, iHeight);
    sky.setColorAt(0, QColor(20, 50, 110));
    sky.setColorAt(1, QColor(70, 130, 200));
    p.fillRect(pm.rect(), sky);
    // A stack of letters and a newspaper on the right.
    p.save();
    p.translate(iWidth - 175, 110);
    p.scale(4.5, 4.5);
    Newspaper(p, QRectF(10, 2, 20, 24));
    Envelope(p, QRectF(1, 14, 22, 15), QColor(255, 250, 220));
    p.restore();
    QFont title = p.font();
    title.setPixelSize(44);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(30, 36, iWidth - 60, 60), Qt::AlignLeft | Qt::AlignVCenter, "Mail Tolvan");
    QFont sub = p.font();
    sub.setPixelSize(16);
    sub.setBold(false);
    p.setFont(sub);
    p.setPen(QColor(220, 230, 255));
    p.drawText(QRect(32, 100, iWidth - 240, 60), Qt::AlignLeft | Qt::TextWordWrap,
               "An Internet mail gathering utility");
    p.drawText(QRect(32, iHeight - 50, iWidth - 60, 24), Qt::AlignLeft | Qt::AlignVCenter,
               "version 1.00a");
    p.setPen(QPen(QColor(255, 255, 255, 120), 2));
    p.drawRect(pm.rect().adjusted(1, 1, -2, -2));
    return pm;
}

} // namespace ui
