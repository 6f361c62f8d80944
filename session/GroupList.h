// Group list retrieval: the server's new groups since the last retrieval
// ("Groups" "NewGroups"), or all its groups, added to the newsgroup list.
//
// The window that runs it (the main window) receives the client's
// notifications on CNNTP::MSG_GROUP_LIST and hands each one to OnNotify.
// Progress and the outcome go to the status line it gives; failures are
// shown in boxes and noted as failures of the run.  A group already in the
// list keeps its record; only new names are added (CGroupListMerge), and
// names the newsgroup file could not store are left out with one message.
#pragma once

#include "framework/Window.h"

#include <cstdint>
#include <functional>
#include <string>

class CNNTP;

class GroupListRetrieval {
public:
    enum Outcome {
        RUNNING, // more is to come
        DONE,    // the list was added; Added() new groups
        REFUSED, // the server refused or the reply could not be used: the
                 // list is unchanged and the connection is ready
        STOPPED, // stopped by the user: the list is unchanged, the client has
                 // connected again and is ready
        ENDED    // the connection has ended (shown already)
    };

    GroupListRetrieval(CNNTP& client, fw::Window* pNotifyWnd,
                       std::function<void(const std::string&)> status);

    // LIST (tSince 0) or NEWGROUPS since tSince.  False when the client
    // cannot take an operation now.
    [[nodiscard]] bool Start(std::int64_t tSince);
    Outcome OnNotify(fw::WPARAM wParam, fw::LPARAM lParam);
    // Stops the transfer at its next line (the client connects again).
    void Stop();
    bool Running() const { return m_iState != IDLE; }
    // New groups added by the last retrieval.
    std::int32_t Added() const { return m_iAdded; }
    // Lines the server has sent so far.
    std::uint32_t Received() const { return m_uCount; }

private:
    enum { IDLE, LISTING, RECONNECTING };
    // Adds the reply file's groups; false when the file could not be read.
    bool Merge(const std::string& file);
    Outcome Ended(int iStatus);
    void Failure(const std::string& text, const std::string& caption);

    CNNTP& m_client;
    fw::Window* m_pNotifyWnd;
    std::function<void(const std::string&)> m_status;
    int m_iState = IDLE;
    std::int64_t m_tStarted = 0;
    std::uint32_t m_uCount = 0;
    std::int32_t m_iAdded = 0;
};

// The box for a news connection that the server closed: the last command
// sent and the server's last reply.
void ShowNewsServerClosed(const CNNTP& client);
