// The splash window: a borderless picture that closes itself after two
// seconds (or when clicked).
#pragma once

#include <QWidget>

namespace ui {

class SplashWindow : public QWidget {
public:
    static constexpr int kWidth = 510;
    static constexpr int kHeight = 316;
    static constexpr int kShowMs = 2000;
    // Shows a new splash window centred on the screen; it deletes itself
    // when it closes, or goes with its owner.
    static SplashWindow* Open(QWidget* pOwner);
    explicit SplashWindow(QWidget* pParent = nullptr);

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
};

} // namespace ui
