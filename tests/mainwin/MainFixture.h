// A program around the main window for tests: home directory, settings,
// start-up object, newsgroup list and a recording view and message boxes.
#pragma once

#include "RecordingMessageBox.h"
#include "RecordingViews.h"
#include "core/Services.h"
#include "core/Startup.h"
#include "core/TnIni.h"
#include "framework/MessageBox.h"
#include "framework/Registry.h"
#include "mainwin/WMain.h"
#include "newsgroups/Newsgroups.h"
#include "packet/MailSpool.h"
#include "packet/Rfcmsg.h"

#include "TestUtil.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

class MainFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        fw::RegKey::SetStorePath(home.File("registry.ini"));
        fw::SetMessageBoxService(&boxes);
        ResetFailures();
        // An earlier test's Exit left the loop quitting (which stops any
        // program a command waits for): a loop that ran resets that.
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        fw::MessageLoop::Run();
        Build({});
    }
    void TearDown() override
    {
        pMain.reset();
        g_pMain = nullptr;
        g_pNewsgroups = nullptr;
        pGroups.reset();
        g_pStartup = nullptr;
        pStartup.reset();
        g_pIni = nullptr;
        pIni.reset();
        fw::SetMessageBoxService(nullptr);
        fw::RegKey::SetStorePath("");
    }
    // (Re)creates the program objects with a command line.
    void Build(const std::vector<std::string>& args)
    {
        pMain.reset();
        pGroups.reset();
        pStartup.reset();
        pIni.reset();
        pStartup = std::make_unique<Startup>(ParseCommandLine(args), home.Path());
        g_pStartup = pStartup.get();
        pIni = std::make_unique<TnIni>(pStartup->m_szIniFile);
        g_pIni = pIni.get();
        pIni->WriteString("Servers", "NNTPServer", "");
        for (const char* key : {"POP3Security", "NNTPSecurity", "SMTPSecurity"})
            pIni->WriteString("Servers", key, "none"); // the scripted servers speak plain
        pGroups = std::make_unique<Newsgroups>(pStartup->m_szNwsFile);
        g_pNewsgroups = pGroups.get();
        pMain = std::make_unique<WMain>(view, pStartup->m_bAutorun, false);
        g_pMain = pMain.get();
    }
    // Dispatches queued messages until none are left (bounded).
    void Drain()
    {
        fw::MessageLoop::PumpUntil([] { return fw::MessageLoop::PendingMessages() == 0; }, 5000);
    }
    // Gathers one e-mail as the Email window would.
    void GatherMail(const std::string& subject, int iNumber = 1)
    {
        Rfcmsg& messages = pMain->GatherMessages();
        std::string file = pStartup->m_szWorkDir + "/PWZ" + std::to_string(iNumber) + ".TMP";
        testutil::WriteFile(
            file, "From: Ann <ann@example.org>\r\nTo: me@example.org\r\nSubject: " + subject +
                      "\r\nMessage-ID: <" + std::to_string(iNumber) +
                      "@example.org>\r\nDate: Sun, 6 Dec 2026 10:00:00 +0000\r\n\r\nHello\r\n");
        messages.ConvertFile(file, iNumber, "email");
        messages.SetNewMessages(true);
    }

    testutil::TempDir home;
    RecordingMainView view;
    RecordingMessageBox boxes;
    std::unique_ptr<Startup> pStartup;
    std::unique_ptr<TnIni> pIni;
    std::unique_ptr<Newsgroups> pGroups;
    std::unique_ptr<WMain> pMain;
};
