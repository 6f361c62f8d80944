// Shared by the protocol client tests: the socket service for the whole test
// program, and a window that records what a client posts.
#pragma once

#include "framework/Window.h"

#include <set>
#include <string>
#include <vector>

namespace prototest {

// Starts the socket service and its event window once per test program.
void EnsureWinsock();

// One notification as the owner saw it.  For a stored message the record's
// number and file are copied, and the file's content is read and the file
// deleted, as the real owner does.
struct Note {
    fw::WPARAM wParam = 0;
    fw::LPARAM lParam = 0;
    int iMessage = 0;
    std::string file;
    std::string uid;
    std::string content;
};

class Pop3Recorder : public fw::Window {
public:
    static constexpr unsigned kMsg = 1227;
    Pop3Recorder();

    std::vector<Note> notes;
    bool bEnded = false; // the final notification has come
    int iEnds = 0;       // how many final notifications came
    Note end;            // the final notification
    std::vector<Note> Messages() const;
    // The notifications with this wParam.
    int Count(fw::WPARAM w) const;
};

// The messages a POP3 server that commits deletions only at QUIT deletes,
// given everything the client sent: DELE marks, RSET unmarks, QUIT commits,
// a connection dropped without QUIT commits nothing.
std::set<int> CommittedDeletions(const std::string& clientSent);

// Pumps the event loop until the condition holds (bounded).
bool PumpUntil(const std::function<bool()>& cond, int iTimeoutMs = 10000);

} // namespace prototest
