// A small mail or news server on 127.0.0.1: it answers any number of sessions
// by command (not by script), keeps every message it takes, refuses
// recipients with "reject" in them, and can hold the end of a message until
// released.  As a POP3 server it offers a mailbox that never shrinks, without
// UIDL or LIST like an old server, message N with the subject "Night mail N".
#pragma once

#include "TestUtil.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LooseServer {
public:
    enum Kind { SMTP, NNTP, POP3 };
    explicit LooseServer(Kind kind, int iMailbox = 0);
    ~LooseServer();
    unsigned short Port() const { return static_cast<unsigned short>(m_listener.Port()); }

    // The end of each message waits for Release().
    std::atomic<bool> bHold{false};
    void Release();

    // Messages taken so far (the text between DATA/POST and ".").
    std::vector<std::string> Messages();
    int Held() const { return m_iHeld.load(); }

private:
    void Session(int fd);

    Kind m_kind;
    int m_iMailbox;
    testutil::LoopbackListener m_listener;
    std::atomic<bool> m_bStop{false};
    std::atomic<int> m_iHeld{0};
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_iReleases = 0;
    std::vector<std::string> m_messages;
    std::thread m_thread;
};
