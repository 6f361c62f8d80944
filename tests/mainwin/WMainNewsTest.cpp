// The main window's news path against scripted news servers: Connect with
// its greeting, login and failures, the automatic group list, the group
// list commands, Stop, and Disconnect with QUIT (an Autorun run with the
// real server: tests/e2e's HeadlessNews).
#include "ClientHarness.h"
#include "MainFixture.h"
#include "ScriptedServer.h"

#include "mainwin/Commands.h"
#include "proto/CNNTP.h"
#include "session/WGroups.h"
#include "util/TimeZone.h"

#include <atomic>

namespace {

const char kGreeting[] = "200 news.example.org ready\r\n";

void Quit(ScriptedServer& s) { s.Expect("QUIT\r\n").Say("205 bye\r\n").ExpectClose(); }

class NewsMain : public MainFixture {
protected:
    void SetUp() override
    {
        prototest::EnsureWinsock();
        MainFixture::SetUp();
        pIni->WriteString("Servers", "NNTPServer", "127.0.0.1");
        pIni->WriteInt("Groups", "Retrieve", 0);
    }
    // Points the settings at the server and connects.
    void Connect(ScriptedServer& s)
    {
        ASSERT_TRUE(s.Start());
        pIni->WriteInt("Servers", "NNTPPort", s.Port());
        pMain->OnCommand(CMD_CONNECT);
        EXPECT_TRUE(pMain->m_bConnected);
    }
    bool Online(ScriptedServer& s)
    {
        Connect(s);
        return Pump([this] { return pMain->m_bNewsConnected; });
    }
    bool Saw(const std::string& status) const { return Has(view.statuses, status); }
    // Disconnect, the QUIT answer that completes it, and the script's end.
    void Disconnect(ScriptedServer& s)
    {
        pMain->OnCommand(CMD_DISCONNECT);
        EXPECT_FALSE(pMain->m_bConnected);
        EXPECT_TRUE(Pump([this] { return !pMain->m_bNewsQuitting; }));
        EXPECT_EQ(view.statuses.back(),
                  "Disconnected from " + pIni->GetString("Servers", "NNTPServer", ""));
        ExpectCommands({CMD_CONNECT}, {CMD_DISCONNECT});
        EXPECT_TRUE(s.Finish()) << s.Report();
    }
};

TEST_F(NewsMain, ConnectGreetsEnablesNewsAndDisconnectWaitsForTheQuitAnswer)
{
    ScriptedServer s(ScriptedServer::Split::Bytes);
    s.Say(kGreeting);
    Quit(s);
    Connect(s);
    EXPECT_FALSE(view.enabled[CMD_GETNEW]) << "not before the greeting";
    ASSERT_TRUE(Pump([this] { return pMain->m_bNewsConnected; })) << s.Report();
    EXPECT_EQ(view.statuses.back(), "Connected to 127.0.0.1");
    EXPECT_TRUE(view.bConnectPressed);
    ExpectCommands({CMD_STOP, CMD_GETMAIL, CMD_GETNEW, CMD_GETALL, CMD_NEWGROUPS, CMD_ALLGROUPS,
                    CMD_POST, CMD_GROUPSETTINGS, CMD_DISCONNECT},
                   {CMD_SAVE, CMD_CONNECT});
    pMain->OnCommand(CMD_FINDGROUP); // opens the groups window for its Find
    ASSERT_TRUE(view.pGroupsView);
    EXPECT_EQ(view.pGroupsView->iFinds, 1);

    pMain->OnCommand(CMD_DISCONNECT);
    EXPECT_TRUE(pMain->m_bNewsQuitting);
    ExpectCommands({}, {CMD_CONNECT, CMD_GETNEW}); // until the server answered QUIT
    EXPECT_TRUE(Pump([this] { return !pMain->m_bNewsQuitting; }));
    EXPECT_EQ(view.statuses.back(), "Disconnected from 127.0.0.1");
    ExpectCommands({CMD_CONNECT, CMD_AUTORUN}, {CMD_DISCONNECT});
    EXPECT_FALSE(pMain->m_bNewsConnected);
    EXPECT_EQ(pMain->GroupsWindow(), nullptr) << "closed by Disconnect";
    EXPECT_TRUE(s.Finish()) << s.Report();
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(FailureCount(), 0);
}

TEST_F(NewsMain, TheUserComesFromBeforeTheAtSignAndAnswersTheLoginDemand)
{
    pIni->WriteString("Servers", "NNTPName", "ann@elsewhere");
    ASSERT_TRUE(pIni->StoreNntpPassword("pw"));
    pIni->WriteInt("Groups", "Retrieve", 2); // all groups: question 861 first
    for (const char* pszSetting : {"joe@127.0.0.1", "127.0.0.1"}) {
        SCOPED_TRACE(pszSetting);
        pIni->WriteString("Servers", "NNTPServer", pszSetting);
        std::string user = pszSetting[0] == 'j' ? "joe" : "ann";
        ScriptedServer s;
        s.Say(kGreeting).Expect("LIST\r\n").Say("480 authentication required\r\n");
        s.Expect("AUTHINFO USER " + user + "\r\n").Say("381 more\r\n");
        s.Expect("AUTHINFO PASS pw\r\n").Say("281 ok\r\n");
        s.Expect("LIST\r\n").Say("215 list\r\nlocal.a 5 1 y\r\n.\r\n");
        Quit(s);
        ASSERT_TRUE(Online(s)) << s.Report();
        EXPECT_TRUE(Saw("Retrieving all usenet groups"));
        EXPECT_EQ(view.statuses.back(), std::string("Connected to ") + pszSetting);
        EXPECT_TRUE(pGroups->Find("local.a"));
        Disconnect(s);
    }
    // Question 861 each time.
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].text.rfind("Retrieving the complete list of groups", 0), 0u);
}

TEST_F(NewsMain, NoPasswordForANamedUserGoesOnlineWithoutNews)
{
    pIni->WriteString("Servers", "NNTPName", "ann");
    ScriptedServer s;
    Connect(s);
    EXPECT_TRUE(pMain->m_bConnected);
    EXPECT_EQ(boxes.boxes.at(0).text, "A password is required for retrieving news.");
    ExpectCommands({CMD_GETMAIL}, {CMD_GETNEW});
    Drain();
    EXPECT_FALSE(s.Connected());
    // Asked for when it is not saved; Cancel is the same.
    pMain->OnCommand(CMD_DISCONNECT);
    pIni->WriteInt("Servers", "NNTPSavePassword", 0);
    pMain->OnCommand(CMD_CONNECT);
    EXPECT_EQ(view.passwordTitles, (std::vector<std::string>{"News Password"}));
    EXPECT_EQ(boxes.boxes.size(), 2u);
}

TEST_F(NewsMain, ARefusedOrClosedGreetingIsShownAndMailGoesOn)
{
    struct Case {
        const char* what;
        std::function<void(ScriptedServer&)> script;
        const char* caption;
        const char* text; // its start
        fw::MbIcon icon;
    } cases[] = {
        {"refused", [](ScriptedServer& s) { Quit(s.Say("400 news service unavailable\r\n")); },
         "NNTP Server Connect Error", "400 news service unavailable", fw::MbIcon::Exclamation},
        {"closed before", [](ScriptedServer& s) { s.Close(); }, "NNTP Server Connect Error",
         "The news server 127.0.0.1 closed the connection.", fw::MbIcon::Exclamation},
        {"closed after", [](ScriptedServer& s) { s.Say(kGreeting).Close(); }, "ERROR!",
         "Your news server has closed the winsock connection", fw::MbIcon::Stop},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        boxes.boxes.clear();
        int iFailures = FailureCount();
        ScriptedServer s;
        c.script(s);
        Connect(s);
        ASSERT_TRUE(Pump([this] { return !boxes.boxes.empty() && !pMain->m_bNewsQuitting; }));
        EXPECT_EQ(boxes.boxes[0].caption, c.caption);
        EXPECT_EQ(boxes.boxes[0].text.rfind(c.text, 0), 0u) << boxes.boxes[0].text;
        EXPECT_EQ(boxes.boxes[0].icon, c.icon);
        EXPECT_EQ(FailureCount(), iFailures + 1);
        EXPECT_TRUE(pMain->m_bConnected) << "mail goes on";
        EXPECT_FALSE(pMain->m_bNewsConnected);
        ExpectCommands({CMD_GETMAIL, CMD_DISCONNECT}, {CMD_GETNEW, CMD_NEWGROUPS, CMD_CONNECT});
        EXPECT_TRUE(s.Finish()) << s.Report();
        // Nothing is left to say goodbye to.
        pMain->OnCommand(CMD_DISCONNECT);
        EXPECT_EQ(view.statuses.back(), "Disconnected from 127.0.0.1");
        EXPECT_TRUE(view.enabled[CMD_CONNECT]);
    }
}

TEST_F(NewsMain, NewGroupsOnConnectingAreAskedSinceTheLastList)
{
    pIni->WriteInt("Groups", "Retrieve", 1);
    pIni->WriteLong("Groups", "NewGroups",
                    static_cast<std::int32_t>(tz::FromCivil(2025, 12, 31, 23, 59, 58)));
    ScriptedServer s;
    s.Say(kGreeting).Expect("NEWGROUPS 251231 235958 GMT\r\n");
    s.Say("231 new groups\r\nlocal.fresh 3 2 y\r\nnews.answers 1 1 m\r\n.\r\n");
    Quit(s);
    // What is added and the new time: GroupList's tests.
    ASSERT_TRUE(Online(s)) << s.Report();
    EXPECT_EQ(pMain->m_iGroupsAdded, 1);
    EXPECT_TRUE(pGroups->Find("local.fresh"));
    EXPECT_TRUE(boxes.boxes.empty()) << "no question with a time to ask from";
    Disconnect(s);
}

TEST_F(NewsMain, NoToTheCompleteListStillConnectsAndTheCommandsAskAgain)
{
    pIni->WriteInt("Groups", "Retrieve", 1); // "NewGroups" 0: the complete list
    boxes.answers = {fw::IDNO, fw::IDYES};
    ScriptedServer s;
    s.Say(kGreeting).Expect("LIST\r\n").Say("215 list\r\nalt.x 9 4 y\r\n.\r\n");
    Quit(s);
    ASSERT_TRUE(Online(s)) << s.Report();
    EXPECT_EQ(view.statuses.back(), "Connected to 127.0.0.1");
    EXPECT_EQ(boxes.boxes.size(), 1u);

    pMain->OnCommand(CMD_NEWGROUPS); // still no time: asks, then the whole list
    EXPECT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(view.statuses.back(), "Retrieving new usenet groups");
    // Nothing else news-related while the list comes.
    ExpectCommands({CMD_STOP},
                   {CMD_GETMAIL, CMD_GETNEW, CMD_NEWGROUPS, CMD_ALLGROUPS, CMD_GROUPSETTINGS});
    ASSERT_TRUE(Pump([this] { return view.enabled[CMD_NEWGROUPS]; }));
    EXPECT_EQ(view.statuses.back(), "Added 1 new groups");
    EXPECT_TRUE(pGroups->Find("alt.x"));
    EXPECT_TRUE(view.enabled[CMD_GROUPSETTINGS]);
    Disconnect(s);
}

TEST_F(NewsMain, StopEndsAGroupListAndTheConnectionComesBack)
{
    ScriptedServer s;
    std::atomic<bool> bStopped{false};
    s.Say(kGreeting).Expect("LIST\r\n").Say("215 list\r\n");
    std::string ten;
    for (int i = 0; i < 10; ++i)
        ten += "g" + std::to_string(i) + " 1 1 y\r\n";
    s.Say(ten).WaitFor([&] { return bStopped.load(); }).Say("g.late 1 1 y\r\n.\r\n");
    s.ExpectReconnect().Say("200 again\r\n");
    Quit(s);
    ASSERT_TRUE(Online(s)) << s.Report();
    pMain->OnCommand(CMD_ALLGROUPS);
    ASSERT_TRUE(Pump([this] { return Saw("Retrieving 10th group"); })) << s.Report();
    pMain->OnCommand(CMD_GROUPSETTINGS);
    EXPECT_TRUE(view.dialogs.empty()) << "no Group Settings while the list is added";
    pMain->OnCommand(CMD_STOP);
    bStopped = true;
    ASSERT_TRUE(Pump([this] { return view.enabled[CMD_ALLGROUPS]; })) << s.Report();
    EXPECT_TRUE(Saw("Stopped"));
    EXPECT_FALSE(Saw("Adding newsgroups . . ."));
    EXPECT_FALSE(pGroups->Find("g0"));
    EXPECT_EQ(Questions(), static_cast<int>(boxes.boxes.size())) << "no warning, no error";
    EXPECT_TRUE(fw::ListDirectory(pStartup->m_szWorkDir).empty())
        << "the part of a list is deleted";
    EXPECT_EQ(pIni->GetLong("Groups", "NewGroups", 0), 0);
    EXPECT_TRUE(pMain->m_bNewsConnected);
    Disconnect(s);
}

TEST_F(NewsMain, ASilentServerIsAbortedAndTheProgramGoesOnWithoutNews)
{
    ScriptedServer s;
    s.Hold();
    Connect(s);
    ASSERT_TRUE(Pump([&] { return s.Connected(); }));
    EXPECT_TRUE(pMain->IsBusy());
    pMain->StopSilentSession(600);
    ASSERT_TRUE(Pump([this] { return !pMain->IsBusy(); }));
    EXPECT_EQ(boxes.boxes.back().text, "The connection to news server has been aborted!");
    EXPECT_TRUE(pMain->m_bConnected);
    EXPECT_TRUE(view.enabled[CMD_GETMAIL]);
    EXPECT_TRUE(s.Finish()) << s.Report();
}

TEST_F(NewsMain, GroupSettingsWaitsWhileArticlesAreRetrievedAndRefillsTheGroupsWindow)
{
    while (pGroups->Count() > 0)
        pGroups->Remove(pGroups->At(0)->m_szName);
    pGroups->Add("a.auto", NG_SELECTED | NG_AUTOMATIC, 1, 0, "", "");
    ScriptedServer s;
    std::atomic<bool> bGo{false};
    s.Say(kGreeting).Expect("GROUP a.auto\r\n").Say("211 2 1 2 a.auto\r\n");
    s.Expect("ARTICLE 1\r\n").WaitFor([&] { return bGo.load(); });
    s.Say("220 1 <1@x>\r\nSubject: one\r\nFrom: x@y\r\n\r\nbody\r\n.\r\n");
    s.Expect("ARTICLE 2\r\n").Say("220 2 <2@x>\r\nSubject: two\r\nFrom: x@y\r\n\r\nb\r\n.\r\n");
    Quit(s);
    ASSERT_TRUE(Online(s)) << s.Report();
    pMain->OnCommand(CMD_GETNEW);
    ASSERT_TRUE(Pump([this] { return !pMain->GroupsWindow()->ArticleWindows().empty(); }));
    // Neither the menu's dialog nor the popup's while the group is fetched.
    EXPECT_FALSE(view.enabled[CMD_GROUPSETTINGS]);
    pMain->OnCommand(CMD_GROUPSETTINGS);
    EXPECT_FALSE(pMain->GroupsWindow()->GroupSettings(0));
    EXPECT_TRUE(view.dialogs.empty());
    EXPECT_TRUE(view.pGroupsView->settingsFor.empty());
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[1].text, "Article retrieval is still active!");
    bGo = true;
    ASSERT_TRUE(Pump([this] { return pMain->GroupsWindow()->Done(); })) << s.Report();
    EXPECT_EQ(pGroups->Find("a.auto") ? pGroups->Current()->m_lPointer : 0, 3);
    EXPECT_TRUE(view.enabled[CMD_GROUPSETTINGS]);

    // Cancel leaves the groups window as it is.
    view.bDialogOk = false;
    int iFills = view.pGroupsView->iFills;
    pMain->OnCommand(CMD_GROUPSETTINGS);
    EXPECT_EQ(view.pGroupsView->iFills, iFills);

    // Articles 1 and 2 are in no saved packet yet: the dialog, which writes
    // the list at OK, sees the pointer before them; what the user leaves
    // comes forward again, what the user sets stays. OK refills the window.
    auto pointer = [this] { return pGroups->Find("a.auto") ? pGroups->Current()->m_lPointer : 0; };
    view.onDialog = [&](int) {
        EXPECT_EQ(pointer(), 1);
        pGroups->Add("comp.os.linux", NG_SELECTED, 1, 0, "", "");
        pGroups->Sort();
        EXPECT_TRUE(pGroups->Save());
        return true;
    };
    pMain->OnCommand(CMD_GROUPSETTINGS);
    EXPECT_EQ(view.dialogs, (std::vector<int>{CMD_GROUPSETTINGS, CMD_GROUPSETTINGS}));
    EXPECT_EQ(view.pGroupsView->iFills, iFills + 1);
    EXPECT_TRUE(Has(view.pGroupsView->rows, "+\t1\tcomp.os.linux"));
    EXPECT_NE(testutil::ReadFile(pStartup->m_szNwsFile).find("a.auto,3,1,0,"), std::string::npos);
    EXPECT_EQ(pointer(), 3);
    view.pGroupsView->onSettings = [&](const std::string&) {
        EXPECT_EQ(pointer(), 1);
        pGroups->Current()->m_lPointer = 9;
        return true;
    };
    EXPECT_TRUE(pMain->GroupsWindow()->GroupSettings(0));
    EXPECT_EQ(view.pGroupsView->settingsFor, (std::vector<std::string>{"a.auto"}));
    EXPECT_EQ(pointer(), 9);
    Disconnect(s);
}

// Connected again after each start: a save that fails (a file is in the
// packet directory's way), then a save that works, or Exit dropping the mail.
TEST_F(NewsMain, AFailedSaveNeverWritesThePointersPastItsArticles)
{
    auto onDisk = [this] {
        std::string text = testutil::ReadFile(pStartup->m_szNwsFile);
        std::size_t at = text.find("a.auto,");
        return at == std::string::npos ? "" : text.substr(at, text.find('\r', at) - at);
    };
    const std::string before = "a.auto,3,1,1000,,";
    for (bool bSaveLater : {false, true}) {
        SCOPED_TRACE(bSaveLater ? "saved after all" : "dropped at exit");
        Build({});
        pIni->WriteString("Servers", "NNTPServer", "127.0.0.1");
        BreakTheQwkDirectory();
        while (pGroups->Count() > 0)
            pGroups->Remove(pGroups->At(0)->m_szName);
        pGroups->Add("a.auto", 3, 1, 1000, "", "");
        ASSERT_TRUE(pGroups->Save());
        ScriptedServer s;
        s.Say(kGreeting).Expect("GROUP a.auto\r\n").Say("211 2 1 2 a.auto\r\n");
        for (const char* n : {"1", "2"})
            s.Expect(std::string("ARTICLE ") + n + "\r\n")
                .Say(std::string("220 ") + n + " <" + n +
                     "@x>\r\nSubject: s\r\nFrom: x@y\r\n\r\nb\r\n.\r\n");
        Quit(s);
        ASSERT_TRUE(Online(s)) << s.Report();
        pMain->OnCommand(CMD_GETNEW);
        ASSERT_TRUE(Pump([this] { return pMain->GroupsWindow()->Done(); })) << s.Report();
        EXPECT_EQ(pGroups->Find("a.auto") ? pGroups->Current()->m_lPointer : 0, 3);
        Disconnect(s);

        pMain->OnCommand(CMD_SAVE);
        ASSERT_TRUE(pMain->Messages()) << "not saved";
        EXPECT_EQ(onDisk(), before);
        if (bSaveLater) {
            boxes.answers = {fw::IDNO}; // do not drop the unsaved messages
            pMain->OnCommand(CMD_EXIT);
            ASSERT_FALSE(pMain->Exited());
            EXPECT_EQ(onDisk(), before);
            ::unlink(home.File("blocker").c_str());
            ASSERT_TRUE(fw::MakeDirectories(home.File("blocker/sub")));
            pMain->OnCommand(CMD_SAVE);
            ASSERT_FALSE(pMain->Messages()) << "saved";
            EXPECT_EQ(onDisk().rfind("a.auto,3,3,", 0), 0u) << onDisk();
        } else {
            // Drop them, and Yes to saving the current pointers: still not
            // past what no packet holds.
            boxes.answers = {fw::IDYES, fw::IDYES};
            pMain->OnCommand(CMD_EXIT);
            ASSERT_TRUE(pMain->Exited());
            ASSERT_TRUE(pGroups->Save()); // as the program's end does
            EXPECT_EQ(onDisk(), before);
        }
    }
}

} // namespace
