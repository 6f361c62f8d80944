// A program around the main window for tests: home directory, settings,
// start-up object, newsgroup list and a recording view and message boxes.
#pragma once

#include "RecordingMessageBox.h"
#include "RecordingViews.h"
#include "core/Services.h"
#include "core/Startup.h"
#include "core/TnIni.h"
#include "framework/Files.h"
#include "framework/MessageBox.h"
#include "framework/Registry.h"
#include "mainwin/Commands.h"
#include "mainwin/WMain.h"
#include "newsgroups/Newsgroups.h"
#include "packet/MailSpool.h"
#include "packet/Rfcmsg.h"

#include "TestUtil.h"

#include <QCoreApplication>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

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
    // Those in `on` enabled, those in `off` not.
    void ExpectCommands(std::initializer_list<int> on, std::initializer_list<int> off)
    {
        for (int c : on)
            EXPECT_TRUE(view.enabled[c]) << c;
        for (int c : off)
            EXPECT_FALSE(view.enabled[c]) << c;
    }
    bool Pump(const std::function<bool()>& cond) { return fw::MessageLoop::PumpUntil(cond, 20000); }
    // An executable shell script in the tools directory.
    std::string Script(const std::string& name, const std::string& body)
    {
        std::string path = tools.File(name);
        testutil::WriteFile(path, "#!/bin/sh\n" + body);
        ::chmod(path.c_str(), 0755);
        return path;
    }
    // A QWK directory that cannot exist (a file is in its way): every save fails.
    void BreakTheQwkDirectory()
    {
        testutil::WriteFile(home.File("blocker"), "");
        pIni->WriteString("Directories", "Qwk", home.File("blocker/sub"));
    }
    // The companion reader's settings and directories; bEnded: it exited normally.
    void UseReader(bool bEnded)
    {
        ::mkdir(vdrDir.c_str(), 0700);
        testutil::WriteFile(home.File("VDRQWK.INI"),
                            "[VDRQwk]\nVdrDir=" + vdrDir + "\nWorkDir=" + workDir + "\n");
        pIni->WriteString("Directories", "VdrqwkIni", home.File("VDRQWK.INI"));
        pIni->WriteInt("Directories", "CopyFiles", 1);
        if (bEnded)
            testutil::WriteFile(vdrDir + "/VDREXIT.VDR", "");
        else
            ::unlink((vdrDir + "/VDREXIT.VDR").c_str());
    }
    // The end of an Autorun sequence: the save it posts, and what follows.
    void AutorunSave()
    {
        pMain->m_bAutorunRunning = true;
        pMain->OnCommand(CMD_SAVE);
        Drain();
    }
    bool Shown(const std::string& text) const
    {
        for (const auto& box : boxes.boxes)
            if (box.text == text)
                return true;
        return false;
    }
    int Questions() const
    {
        int n = 0;
        for (const auto& box : boxes.boxes)
            n += box.buttons == fw::MbButtons::YesNo;
        return n;
    }
    // The home directory's entries whose names start with the prefix.
    std::vector<std::string> Named(const std::string& prefix) const
    {
        std::vector<std::string> found;
        for (const std::string& name : fw::ListDirectory(home.Path()))
            if (name.rfind(prefix, 0) == 0)
                found.push_back(home.File(name));
        return found;
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

    testutil::TempDir home, tools;
    std::string vdrDir = home.File("reader"), workDir = home.File("reader work");
    RecordingMainView view;
    RecordingMessageBox boxes;
    std::unique_ptr<Startup> pStartup;
    std::unique_ptr<TnIni> pIni;
    std::unique_ptr<Newsgroups> pGroups;
    std::unique_ptr<WMain> pMain;
};
