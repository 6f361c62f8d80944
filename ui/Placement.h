// Window positions as the "Windows" settings keep them: "left,top,width,
// height" of the window's normal (not minimised or maximised) position.
// Top-level windows are placed on the screen, MDI children in the frame's
// client area.
#pragma once

#include <QObject>
#include <QRect>
#include <string>

class QWidget;
class QMdiSubWindow;

namespace ui {

// The normal rectangle of a window.  An MDI child's is followed while it is
// shown normally (Qt keeps none for children), so watch it first.
QRect NormalRect(const QWidget* pWindow);
void WatchNormalRect(QMdiSubWindow* pChild);
std::string PlacementText(const QWidget* pWindow);
// Applies a placement text and shows the window normally; "0,0,0,0" (or a
// text that gives no size) leaves the position as it is.
void ApplyPlacement(QWidget* pWindow, const std::string& text);

} // namespace ui
