#include "ui/Splash.h"

#include "ui/Icons.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>

namespace ui {

SplashWindow::SplashWindow(QWidget* pParent)
    : QWidget(pParent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle("Mail Tolvan");
}

SplashWindow* SplashWindow::Open(QWidget* pOwner)
{
    auto* p = new SplashWindow(pOwner);
    if (QScreen* pScreen = QGuiApplication::primaryScreen())
        p->move(pScreen->availableGeometry().center() - p->rect().center());
    p->show();
    QTimer::singleShot(kShowMs, p, &QWidget::close);
    return p;
}

void SplashWindow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawPixmap(0, 0, SplashPixmap(width(), height()));
}

void SplashWindow::mousePressEvent(QMouseEvent*) { close(); }

} // namespace ui
