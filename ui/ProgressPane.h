// The status line's progress pane: a share of its width filled in green
// with the percentage written over it; empty at 0.
#pragma once

#include <QWidget>

namespace ui {

class ProgressPane : public QWidget {
public:
    explicit ProgressPane(QWidget* pParent = nullptr);
    // Clamped to 0..100.
    void SetPercent(int iPercent);
    int Percent() const { return m_iPercent; }
    // What the pane writes ("" at 0).
    QString Text() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    int m_iPercent = 0;
};

} // namespace ui
