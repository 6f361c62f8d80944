// What the session tests share: a program directory with settings and a
// newsgroup list, recorded message boxes, and a window that owns a news
// client, a group list retrieval and a groups window the way the main
// window does.
#pragma once

#include "ClientHarness.h"
#include "RecordingMessageBox.h"
#include "RecordingViews.h"
#include "TestUtil.h"

#include "core/Services.h"
#include "core/TnIni.h"
#include "framework/MessageBox.h"
#include "framework/Window.h"
#include "newsgroups/Newsgroups.h"
#include "packet/Rfcmsg.h"
#include "proto/CNNTP.h"
#include "session/GroupList.h"
#include "session/WGroups.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sessiontest {

class ProgramDir {
public:
    ProgramDir()
    {
        fw::SetMessageBoxService(&boxes);
        ResetFailures();
        ini = std::make_unique<TnIni>(home.File("TOLVAN.INI"));
        g_pIni = ini.get();
        LoadGroups("");
    }
    ~ProgramDir()
    {
        g_pNewsgroups = nullptr;
        g_pIni = nullptr;
        fw::SetMessageBoxService(nullptr);
    }
    // The newsgroup list from this file content (none: the default list).
    void LoadGroups(const std::string& content)
    {
        g_pNewsgroups = nullptr;
        groups.reset();
        if (!content.empty())
            testutil::WriteFile(home.File("TOLVAN.NWS"), content);
        groups = std::make_unique<Newsgroups>(home.File("TOLVAN.NWS"));
        g_pNewsgroups = groups.get();
    }
    const newsgr* Group(const std::string& name)
    {
        return groups->Find(name) ? groups->Current() : nullptr;
    }
    std::vector<std::string> Names()
    {
        std::vector<std::string> names;
        for (bool b = groups->First(); b; b = groups->Next())
            names.push_back(groups->Current()->m_szName);
        return names;
    }

    testutil::TempDir home;
    RecordingMessageBox boxes;
    std::unique_ptr<TnIni> ini;
    std::unique_ptr<Newsgroups> groups;
};

// Owns the client's notifications as the main window does.
class NewsHost : public fw::Window {
public:
    explicit NewsHost(const std::string& tempDir)
        : workDir(tempDir), client(tempDir.c_str()),
          retrieval(client, this, [this](const std::string& s) { statuses.push_back(s); })
    {
        OnMessage(CNNTP::MSG_CONNECT, [this](fw::WPARAM w, fw::LPARAM l) -> fw::LRESULT {
            connects.push_back(client.IsEnd(l) ? -static_cast<int>(w) - 1 : static_cast<int>(w));
            return 0;
        });
        OnMessage(CNNTP::MSG_GROUP_LIST, [this](fw::WPARAM w, fw::LPARAM l) -> fw::LRESULT {
            GroupListRetrieval::Outcome o = retrieval.OnNotify(w, l);
            if (o != GroupListRetrieval::RUNNING)
                outcomes.push_back(o);
            return 0;
        });
        OnMessage(CNNTP::MSG_QUIT, [this](fw::WPARAM w, fw::LPARAM l) -> fw::LRESULT {
            if (client.IsEnd(l))
                quits.push_back(static_cast<int>(w));
            return 0;
        });
    }
    // Connects and waits for the greeting; true when it was positive.
    bool Connect(std::uint16_t port, const char* pszUser = nullptr, const char* pszPass = nullptr)
    {
        if (!client.Connect(this, CNNTP::MSG_CONNECT, "127.0.0.1", port, pszUser, pszPass))
            return false;
        prototest::PumpUntil([this] { return !connects.empty(); });
        return connects.size() == 1 && connects[0] == CNNTP::NOTIFY_DONE;
    }
    // Runs a retrieval to its outcome.
    GroupListRetrieval::Outcome Retrieve(std::int64_t tSince)
    {
        std::size_t before = outcomes.size();
        EXPECT_TRUE(retrieval.Start(tSince));
        prototest::PumpUntil([&] { return outcomes.size() > before; });
        return outcomes.size() > before ? outcomes.back() : GroupListRetrieval::RUNNING;
    }
    // QUIT and its answer; true when the server answered.
    bool Quit()
    {
        if (!client.Quit(this, CNNTP::MSG_QUIT))
            return false;
        prototest::PumpUntil([this] { return !quits.empty(); });
        return quits.size() == 1 && quits[0] == CNNTP::STATUS_QUIT;
    }
    // A groups window on this client; its messages go to the work directory.
    std::unique_ptr<WGroups> OpenGroups()
    {
        GroupsOwner owner;
        owner.client = [this] { return &client; };
        owner.messages = [this]() -> Rfcmsg& {
            if (!pMessages)
                pMessages = std::make_unique<Rfcmsg>(workDir);
            return *pMessages;
        };
        owner.createArticlesView = [this] {
            auto p = std::make_unique<RecordingArticlesView>();
            views.push_back(p.get());
            return p;
        };
        owner.converted = [this](const std::string& g, std::int32_t n) {
            converted.push_back(g + ":" + std::to_string(n));
            if (onConverted)
                onConverted();
        };
        owner.loopDone = [this] { ++iLoopsDone; };
        owner.connectionEnded = [this](int iStatus) { ends.push_back(iStatus); };
        return std::make_unique<WGroups>(owner, std::make_unique<RecordingGroupsView>());
    }

    std::string workDir;
    CNNTP client;
    GroupListRetrieval retrieval;
    std::vector<int> connects; // wParam, or -(status + 1) for an end
    std::vector<GroupListRetrieval::Outcome> outcomes;
    std::vector<int> quits;
    std::vector<std::string> statuses;
    // What the groups window handed over.
    std::unique_ptr<Rfcmsg> pMessages;
    std::vector<RecordingArticlesView*> views;
    std::vector<std::string> converted; // "group:number"
    std::function<void()> onConverted;
    int iLoopsDone = 0;
    std::vector<int> ends;
};

} // namespace sessiontest
