// The widget tests run offscreen: a real display is never used.
#include "ui/HelpWindow.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    int iResult = RUN_ALL_TESTS();
    ui::HelpWindow::Destroy();
    return iResult;
}
