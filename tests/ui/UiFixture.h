// The dialogs' fixture plus the program objects the windows reach through
// their global pointers, and the main window with its logic.
#pragma once

#include "../dialogs/DialogFixture.h"
#include "core/Services.h"
#include "core/Startup.h"
#include "mainwin/WMain.h"
#include "newsgroups/Newsgroups.h"
#include "session/WGroups.h"
#include "ui/MainFrame.h"

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>
#include <functional>

class UiFixture : public DialogFixture {
protected:
    void SetUp() override
    {
        DialogFixture::SetUp();
        ResetFailures();
        pStartup = std::make_unique<Startup>(CommandLine{}, dir.Path());
        g_pStartup = pStartup.get();
        pGroups = std::make_unique<Newsgroups>(pStartup->m_szNwsFile);
        g_pNewsgroups = pGroups.get();
    }
    void TearDown() override
    {
        g_pNewsgroups = nullptr;
        pGroups.reset();
        g_pStartup = nullptr;
        pStartup.reset();
        DialogFixture::TearDown();
    }
    static void Settle()
    {
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();
    }
    // Replaces a line edit's text as a user would.
    static void Type(QWidget* pEdit, const QString& text)
    {
        ASSERT_NE(pEdit, nullptr);
        pEdit->setFocus();
        QTest::keyClick(pEdit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(pEdit, Qt::Key_Delete);
        QTest::keyClicks(pEdit, text);
    }
    // Runs act on the next modal dialog once it is shown (dialogs are run
    // with exec, so the test reaches them from the event loop).
    static void WhenDialogOpens(std::function<void(QDialog&)> act)
    {
        auto* pTimer = new QTimer;
        QObject::connect(pTimer, &QTimer::timeout, pTimer, [pTimer, act] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* d = qobject_cast<QDialog*>(w);
                if (d && d->isVisible()) {
                    pTimer->stop();
                    pTimer->deleteLater();
                    act(*d);
                    return;
                }
            }
        });
        pTimer->start(10);
    }

    std::unique_ptr<Startup> pStartup;
    std::unique_ptr<Newsgroups> pGroups;
};

// The main window and its logic, offline, without a news server.
class FrameFixture : public UiFixture {
protected:
    void SetUp() override
    {
        UiFixture::SetUp();
        pIni->WriteString("Servers", "NNTPServer", "");
        pIni->WriteInt("Articles", "Sort", 2);
        pFrame = std::make_unique<ui::MainFrame>([this](int c) { commands.push_back(c); });
        pMain = std::make_unique<WMain>(*pFrame, false, false);
        g_pMain = pMain.get();
        Settle();
    }
    void TearDown() override
    {
        pGroupsLogic.reset();
        g_pMain = nullptr;
        pMain.reset();
        pFrame.reset();
        UiFixture::TearDown();
    }

    std::vector<int> commands;
    std::unique_ptr<ui::MainFrame> pFrame;
    std::unique_ptr<WMain> pMain;
    std::unique_ptr<WGroups> pGroupsLogic; // a Usenet Groups window's logic, when a test opens one
};
