// Settings in a temporary home directory, recorded message boxes, and the
// program objects the windows reach through their global pointers.
#pragma once

#include "RecordingMessageBox.h"
#include "core/Services.h"
#include "core/Startup.h"
#include "core/TnIni.h"
#include "framework/MessageBox.h"
#include "framework/Registry.h"
#include "newsgroups/Newsgroups.h"

#include "TestUtil.h"

#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

class UiFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        fw::RegKey::SetStorePath(home.File("registry.ini"));
        fw::SetMessageBoxService(&boxes);
        ResetFailures();
        pStartup = std::make_unique<Startup>(CommandLine{}, home.Path());
        g_pStartup = pStartup.get();
        pIni = std::make_unique<TnIni>(pStartup->m_szIniFile);
        g_pIni = pIni.get();
        pGroups = std::make_unique<Newsgroups>(pStartup->m_szNwsFile);
        g_pNewsgroups = pGroups.get();
    }
    void TearDown() override
    {
        g_pNewsgroups = nullptr;
        pGroups.reset();
        g_pIni = nullptr;
        pIni.reset();
        g_pStartup = nullptr;
        pStartup.reset();
        fw::SetMessageBoxService(nullptr);
        fw::RegKey::SetStorePath("");
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
    std::vector<std::string> Captions() const
    {
        std::vector<std::string> v;
        for (const auto& b : boxes.boxes)
            v.push_back(b.caption);
        return v;
    }

    testutil::TempDir home;
    RecordingMessageBox boxes;
    std::unique_ptr<Startup> pStartup;
    std::unique_ptr<TnIni> pIni;
    std::unique_ptr<Newsgroups> pGroups;
};
