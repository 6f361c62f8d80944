// The toolbar's images and the program's icon: from the desktop's icon
// theme where it has one, otherwise drawn here.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace ui {

// The icon of a toolbar command (a command number of the main window).
QIcon CommandIcon(int iCommand);
// The two-state Connect button: off (released) and on (pressed) images.
QIcon ConnectIcon();
// The program's icon.
QIcon AppIcon();
// The splash screen's picture.
QPixmap SplashPixmap(int iWidth, int iHeight);

} // namespace ui
