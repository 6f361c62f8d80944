// The main window's news path against scripted news servers: Connect with
// its greeting, login and failures, the automatic group list, the group
// list commands, Stop, Disconnect with QUIT, and an Autorun sequence.
#include "ClientHarness.h"
#include "MainFixture.h"
#include "ScriptedServer.h"

#include "mainwin/Commands.h"
#include "proto/CNNTP.h"
#include "session/WGroups.h"
#include "util/TimeZone.h"

#include <algorithm>
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
    bool Pump(const std::function<bool()>& cond) { return fw::MessageLoop::PumpUntil(cond, 10000); }
    bool Saw(const std::string& status) const
    {
        return std::find(view.statuses.begin(), view.statuses.end(), status) != view.statuses.end();
    }
    // Disconnect, and the QUIT answer that completes it.
    void Disconnect()
    {
        pMain->OnCommand(CMD_DISCONNECT);
        EXPECT_FALSE(pMain->m_bConnected);
        EXPECT_TRUE(Pump([this] { return !pMain->m_bNewsQuitting; }));
        EXPECT_EQ(view.statuses.back(),
                  "Disconnected from " + pIni->GetString("Servers", "NNTPServer", ""));
        EXPECT_TRUE(view.enabled[CMD_CONNECT]);
        EXPECT_FALSE(view.enabled[CMD_DISCONNECT]);
    }
    std::vector<std::string> Captions() const
    {
        std::vector<std::string> out;
        for (const auto& b : boxes.boxes)
            out.push_back(b.caption);
        return out;
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
    for (int c : {CMD_STOP, CMD_GETMAIL, CMD_GETNEW, CMD_GETALL, CMD_NEWGROUPS, CMD_ALLGROUPS,
                  CMD_POST, CMD_GROUPSETTINGS, CMD_DISCONNECT})
        EXPECT_TRUE(view.enabled[c]) << c;
    EXPECT_FALSE(view.enabled[CMD_SAVE]);
    EXPECT_FALSE(view.enabled[CMD_CONNECT]);

    pMain->OnCommand(CMD_DISCONNECT);
    EXPECT_TRUE(pMain->m_bNewsQuitting);
    EXPECT_FALSE(view.enabled[CMD_CONNECT]) << "until the server answered QUIT";
    EXPECT_FALSE(view.enabled[CMD_GETNEW]);
    EXPECT_TRUE(Pump([this] { return !pMain->m_bNewsQuitting; }));
    EXPECT_EQ(view.statuses.back(), "Disconnected from 127.0.0.1");
    EXPECT_TRUE(view.enabled[CMD_CONNECT]);
    EXPECT_TRUE(view.enabled[CMD_AUTORUN]);
    EXPECT_FALSE(view.enabled[CMD_DISCONNECT]);
    EXPECT_FALSE(pMain->m_bNewsConnected);
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
        Connect(s);
        ASSERT_TRUE(Pump([this] { return pMain->m_bNewsConnected; })) << s.Report();
        EXPECT_TRUE(Saw("Retrieving all usenet groups"));
        EXPECT_TRUE(Saw("Added 1 new groups"));
        EXPECT_EQ(view.statuses.back(), std::string("Connected to ") + pszSetting);
        EXPECT_TRUE(pGroups->Find("local.a"));
        Disconnect();
        EXPECT_TRUE(s.Finish()) << s.Report();
    }
    // Question 861 each time.
    EXPECT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].text.rfind("Retrieving the complete list of groups", 0), 0u);
}

TEST_F(NewsMain, NoPasswordForANamedUserGoesOnlineWithoutNews)
{
    pIni->WriteString("Servers", "NNTPName", "ann");
    ScriptedServer s;
    Connect(s);
    EXPECT_TRUE(pMain->m_bConnected);
    EXPECT_EQ(boxes.boxes.at(0).text, "A password is required for retrieving news.");
    EXPECT_TRUE(view.enabled[CMD_GETMAIL]);
    EXPECT_FALSE(view.enabled[CMD_GETNEW]);
    Drain();
    EXPECT_FALSE(s.Connected());
    // Asked for when it is not saved; Cancel is the same.
    pMain->OnCommand(CMD_DISCONNECT);
    pIni->WriteInt("Servers", "NNTPSavePassword", 0);
    pMain->OnCommand(CMD_CONNECT);
    EXPECT_EQ(view.passwordTitles, (std::vector<std::string>{"News Password"}));
    EXPECT_EQ(boxes.boxes.size(), 2u);
}

TEST_F(NewsMain, ARefusedGreetingIsShownSaidGoodbyeToAndMailGoesOn)
{
    ScriptedServer s;
    s.Say("400 news service unavailable\r\n");
    Quit(s);
    Connect(s);
    ASSERT_TRUE(Pump([this] { return !boxes.boxes.empty() && !pMain->m_bNewsQuitting; }));
    EXPECT_EQ(boxes.boxes[0].caption, "NNTP Server Connect Error");
    EXPECT_EQ(boxes.boxes[0].text, "400 news service unavailable");
    EXPECT_EQ(boxes.boxes[0].icon, fw::MbIcon::Exclamation);
    EXPECT_TRUE(pMain->m_bConnected);
    EXPECT_FALSE(pMain->m_bNewsConnected);
    EXPECT_TRUE(view.enabled[CMD_GETMAIL]);
    EXPECT_TRUE(view.enabled[CMD_DISCONNECT]);
    EXPECT_FALSE(view.enabled[CMD_GETNEW]);
    EXPECT_FALSE(view.enabled[CMD_CONNECT]);
    EXPECT_EQ(FailureCount(), 1);
    EXPECT_TRUE(s.Finish()) << s.Report();
    // Nothing is left to say goodbye to.
    pMain->OnCommand(CMD_DISCONNECT);
    EXPECT_EQ(view.statuses.back(), "Disconnected from 127.0.0.1");
    EXPECT_TRUE(view.enabled[CMD_CONNECT]);
}

TEST_F(NewsMain, AServerClosingBeforeOrAfterItsGreetingIsReported)
{
    {
        ScriptedServer s;
        s.Close();
        Connect(s);
        ASSERT_TRUE(Pump([this] { return !boxes.boxes.empty(); }));
        EXPECT_EQ(boxes.boxes[0].caption, "NNTP Server Connect Error");
        EXPECT_EQ(boxes.boxes[0].text, "The news server 127.0.0.1 closed the connection.");
        EXPECT_TRUE(s.Finish()) << s.Report();
        pMain->OnCommand(CMD_DISCONNECT);
    }
    boxes.boxes.clear();
    ScriptedServer s;
    s.Say(kGreeting).Close();
    Connect(s);
    ASSERT_TRUE(Pump([this] { return !boxes.boxes.empty(); }));
    EXPECT_EQ(boxes.boxes[0].caption, "ERROR!");
    EXPECT_EQ(boxes.boxes[0].text.rfind("Your news server has closed the winsock connection", 0),
              0u);
    EXPECT_FALSE(pMain->m_bNewsConnected);
    EXPECT_TRUE(pMain->m_bConnected) << "mail goes on";
    EXPECT_FALSE(view.enabled[CMD_GETNEW]);
    EXPECT_FALSE(view.enabled[CMD_NEWGROUPS]);
    EXPECT_TRUE(view.enabled[CMD_GETMAIL]);
    pMain->OnCommand(CMD_DISCONNECT);
    EXPECT_EQ(view.statuses.back(), "Disconnected from 127.0.0.1");
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
    Connect(s);
    ASSERT_TRUE(Pump([this] { return pMain->m_bNewsConnected; })) << s.Report();
    EXPECT_TRUE(Saw("Retrieving new usenet groups"));
    EXPECT_TRUE(Saw("Added 1 new groups"));
    EXPECT_EQ(view.statuses.back(), "Connected to 127.0.0.1");
    EXPECT_EQ(pMain->m_iGroupsAdded, 1);
    ASSERT_TRUE(pGroups->Find("local.fresh"));
    EXPECT_EQ(pGroups->Current()->m_lPointer, 2);
    ASSERT_TRUE(pGroups->Find("news.answers"));
    EXPECT_EQ(pGroups->Current()->m_uFlags, NG_SELECTED) << "the default group stays selected";
    EXPECT_GT(pIni->GetLong("Groups", "NewGroups", 0), tz::FromCivil(2026, 1, 1, 0, 0, 0));
    EXPECT_TRUE(boxes.boxes.empty()) << "no question with a time to ask from";
    Disconnect();
    EXPECT_TRUE(s.Finish()) << s.Report();
}

TEST_F(NewsMain, NoToTheCompleteListStillConnectsAndTheCommandsAskAgain)
{
    pIni->WriteInt("Groups", "Retrieve", 1); // "NewGroups" 0: the complete list
    boxes.answers = {fw::IDNO, fw::IDYES};
    ScriptedServer s;
    s.Say(kGreeting).Expect("LIST\r\n").Say("215 list\r\nalt.x 9 4 y\r\n.\r\n");
    Quit(s);
    Connect(s);
    ASSERT_TRUE(Pump([this] { return pMain->m_bNewsConnected; })) << s.Report();
    EXPECT_EQ(view.statuses.back(), "Connected to 127.0.0.1");
    EXPECT_EQ(boxes.boxes.size(), 1u);

    pMain->OnCommand(CMD_NEWGROUPS); // still no time: asks, then the whole list
    EXPECT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(view.statuses.back(), "Retrieving new usenet groups");
    // Nothing else news-related while the list comes.
    for (int c : {CMD_GETMAIL, CMD_GETNEW, CMD_NEWGROUPS, CMD_ALLGROUPS, CMD_GROUPSETTINGS})
        EXPECT_FALSE(view.enabled[c]) << c;
    EXPECT_TRUE(view.enabled[CMD_STOP]);
    ASSERT_TRUE(Pump([this] { return view.enabled[CMD_NEWGROUPS]; }));
    EXPECT_EQ(view.statuses.back(), "Added 1 new groups");
    EXPECT_TRUE(pGroups->Find("alt.x"));
    EXPECT_TRUE(view.enabled[CMD_GROUPSETTINGS]);
    Disconnect();
    EXPECT_TRUE(s.Finish()) << s.Report();
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
    Connect(s);
    ASSERT_TRUE(Pump([this] { return pMain->m_bNewsConnected; }));
    pMain->OnCommand(CMD_ALLGROUPS);
    ASSERT_TRUE(Pump([this] { return Saw("Retrieving 10th group"); })) << s.Report();
    pMain->OnCommand(CMD_GROUPSETTINGS);
    EXPECT_TRUE(view.dialogs.empty()) << "no Group Settings while the list is added";
    pMain->OnCommand(CMD_STOP);
    bStopped = true;
    ASSERT_TRUE(Pump([this] { return view.enabled[CMD_ALLGROUPS]; })) << s.Report();
    EXPECT_TRUE(Saw("Stopped"));
    EXPECT_FALSE(pGroups->Find("g0"));
    EXPECT_EQ(pIni->GetLong("Groups", "NewGroups", 0), 0);
    EXPECT_TRUE(pMain->m_bNewsConnected);
    Disconnect();
    EXPECT_TRUE(s.Finish()) << s.Report();
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

TEST_F(NewsMain, AutorunConnectsGetsTheGroupsDisconnectsWithQuitAndSaves)
{
    pIni->WriteInt("Autorun", "AutoNews", 1);
    pIni->WriteInt("Groups", "Retrieve", 1);
    ScriptedServer s;
    s.Say(kGreeting).Expect("LIST\r\n").Say("215 list\r\nlocal.a 5 1 y\r\n.\r\n");
    Quit(s);
    ASSERT_TRUE(s.Start());
    pIni->WriteInt("Servers", "NNTPPort", s.Port());
    std::vector<std::string> held; // what Autorun keeps out of boxes
    SetSuppressedMessageSink(
        [&](const std::string&, const std::string& text) { held.push_back(text); });
    view.bUnattended = true; // the two default groups are chosen by hand: left alone
    pMain->OnCommand(CMD_AUTORUN);
    ASSERT_TRUE(Pump([this] { return !pMain->m_bAutorunRunning; })) << s.Report();
    EXPECT_TRUE(s.Finish()) << s.Report();
    EXPECT_TRUE(pGroups->Find("local.a"));
    EXPECT_TRUE(Saw("Disconnected from 127.0.0.1"));
    EXPECT_FALSE(pMain->m_bConnected);
    SetSuppressedMessageSink(nullptr);
    // The question was answered Yes; the news step ended with no group to
    // fetch, so the sequence went on (to no packet).
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(held.empty());
    EXPECT_EQ(FailureCount(), 0);
    // No GROUP went to the server (its script would differ).
    EXPECT_TRUE(view.pGroupsView) << "the groups window was opened";
    EXPECT_EQ(pMain->GroupsWindow(), nullptr) << "and closed by Disconnect";
}

TEST_F(NewsMain, GroupSettingsOkRefillsTheGroupsWindow)
{
    ScriptedServer s;
    s.Say(kGreeting);
    Quit(s);
    Connect(s);
    ASSERT_TRUE(Pump([this] { return pMain->m_bNewsConnected; }));
    pMain->OnCommand(CMD_FINDGROUP); // opens the groups window for its Find
    ASSERT_TRUE(view.pGroupsView);
    EXPECT_EQ(view.pGroupsView->iFinds, 1);
    EXPECT_FALSE(pMain->GroupsWindow()->Retrieving());
    EXPECT_EQ(view.pGroupsView->rows.size(), 2u);
    // Cancel: the window stays as it is.
    view.bDialogOk = false;
    pMain->OnCommand(CMD_GROUPSETTINGS);
    EXPECT_EQ(view.dialogs, (std::vector<int>{CMD_GROUPSETTINGS}));
    EXPECT_EQ(view.pGroupsView->iFills, 1);
    // OK: the dialog has put its copy in the list's place.
    view.onDialog = [this](int) {
        pGroups->Add("comp.os.linux", NG_SELECTED, 1, 0, "", "");
        pGroups->Sort();
        return true;
    };
    pMain->OnCommand(CMD_GROUPSETTINGS);
    EXPECT_EQ(view.pGroupsView->statuses,
              (std::vector<std::string>{"Reloading groups . . .", "Done!"}));
    EXPECT_EQ(view.pGroupsView->rows.at(0), "+\t1\tcomp.os.linux");
    Disconnect();
    EXPECT_TRUE(s.Finish()) << s.Report();
}

TEST_F(NewsMain, GroupSettingsWaitsWhileArticlesAreRetrieved)
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
    Connect(s);
    ASSERT_TRUE(Pump([this] { return pMain->m_bNewsConnected; })) << s.Report();
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

    // Articles 1 and 2 are in no saved packet yet: the dialog, which writes
    // the list at OK, sees the pointer before them; what the user leaves
    // comes forward again, what the user sets stays.
    auto pointer = [this] { return pGroups->Find("a.auto") ? pGroups->Current()->m_lPointer : 0; };
    view.onDialog = [&](int) {
        EXPECT_EQ(pointer(), 1);
        EXPECT_TRUE(pGroups->Save());
        return true;
    };
    pMain->OnCommand(CMD_GROUPSETTINGS);
    EXPECT_EQ(view.dialogs, (std::vector<int>{CMD_GROUPSETTINGS}));
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
    Disconnect();
    EXPECT_TRUE(s.Finish()) << s.Report();
}

} // namespace
