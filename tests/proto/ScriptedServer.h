// A server on 127.0.0.1 that follows a script on its own thread, for precise
// protocol transcripts: the test names what the server says and what the
// client must send, starts it, runs the client and checks Finish() (Report()
// says what differed).  How the server's text reaches the wire:
//   Whole  each run of Say() text in one send
//   Bytes  every byte in its own send, each after the client acknowledged
//          the one before, so the client sees its replies split at every byte
//   Pairs  two lines per send, so two replies arrive in one read
// A run of Say() steps with no Expect() between them is one stream of lines.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

class ScriptedServer {
public:
    enum class Split { Whole, Bytes, Pairs };

    explicit ScriptedServer(Split split = Split::Whole) : m_split(split) {}
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // Script steps, in order.
    ScriptedServer& Say(const std::string& text) { return Add({Step::SAY, text}); }
    // The client must send exactly this next.
    ScriptedServer& Expect(const std::string& text) { return Add({Step::EXPECT, text}); }
    // The server closes the connection.
    ScriptedServer& Close() { return Add({Step::CLOSE}); }
    // The client must close the connection without sending anything more.
    ScriptedServer& ExpectClose() { return Add({Step::EXPECT_CLOSE}); }
    // The server waits, saying nothing, until the client closes (for
    // aborts); anything the client sends meanwhile is a difference.
    ScriptedServer& Hold() { return Add({Step::HOLD}); }
    // The server runs fn (on its own thread) at this point of the script.
    ScriptedServer& Do(std::function<void()> fn) { return Add({Step::DO, {}, std::move(fn)}); }
    // The server sends the text again and again and never stops, until the
    // client closes the connection (a runaway server).  More than iMaxBytes
    // sent is a difference.
    ScriptedServer& Flood(const std::string& text, long long iMaxBytes = 64LL << 20)
    {
        return Add({Step::FLOOD, text, {}, iMaxBytes});
    }
    // The client must close this connection without sending anything more
    // and connect again; the script goes on on the new connection.
    ScriptedServer& ExpectReconnect() { return Add({Step::RECONNECT}); }
    // The server waits (bounded by the step time-out) until the test's
    // condition holds, e.g. until the client has reported something.
    ScriptedServer& WaitFor(std::function<bool()> condition)
    {
        return Add({Step::WAIT, {}, {}, 0, std::move(condition)});
    }

    // Listens (on an ephemeral port) and runs the script for one client.
    bool Start();
    unsigned short Port() const { return m_port; }

    // A client has connected.
    bool Connected() const { return m_bAccepted.load(); }
    // Steps finished so far (the server thread counts them).
    int StepsDone() const { return m_stepsDone.load(); }
    // Waits (bounded) for the script to end; true when every step went as
    // written and nothing else happened.
    bool Finish(int iTimeoutMs = 10000);
    // What went wrong, for the test's failure message.
    std::string Report() const;
    // Everything the client sent, in order.
    std::string Received() const;

    // A small receive buffer makes a fast sender wait (set before Start).
    void SetReceiveBuffer(int iBytes) { m_iReceiveBuffer = iBytes; }
    // Milliseconds each blocking step of the server may wait.
    void SetStepTimeout(int iMs) { m_stepTimeoutMs = iMs; }

private:
    struct Step {
        enum Kind { SAY, EXPECT, CLOSE, EXPECT_CLOSE, HOLD, DO, FLOOD, RECONNECT, WAIT } kind;
        std::string text = {};
        std::function<void()> fn = {};
        long long iMaxBytes = 0;
        std::function<bool()> condition = {};
    };
    ScriptedServer& Add(Step step)
    {
        m_steps.push_back(std::move(step));
        return *this;
    }
    void Main();
    bool Poll(int fd, short events, long long endMs);
    long Receive(int fd, char* buf, std::size_t n);
    bool SendText(int fd, const std::string& text);
    bool SendChunk(int fd, const char* p, std::size_t n);
    bool ReadExactly(int fd, std::size_t n, std::string& out);
    bool WaitForClose(int fd, const char* pszWhat);
    bool FloodUntilClosed(int fd, const Step& s);
    int AcceptClient();
    void Fail(const std::string& text);

    Split m_split;
    std::vector<Step> m_steps;
    int m_listenFd = -1;
    unsigned short m_port = 0;
    int m_stepTimeoutMs = 10000;
    int m_iReceiveBuffer = 0;
    std::thread m_thread;
    std::atomic<int> m_stepsDone{0};
    std::atomic<bool> m_bDone{false};
    std::atomic<bool> m_bAccepted{false};
    std::atomic<bool> m_bStop{false};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_failures;
    std::string m_received;
};

// "Whole", "Bytes" or "Pairs": for test names and gtest's parameter lists.
inline const char* SplitName(ScriptedServer::Split s)
{
    return s == ScriptedServer::Split::Whole   ? "Whole"
           : s == ScriptedServer::Split::Bytes ? "Bytes"
                                               : "Pairs";
}
inline void PrintTo(ScriptedServer::Split s, std::ostream* os) { *os << SplitName(s); }

// A loopback port that was just free: nothing listens there.
inline unsigned short FreeLoopbackPort()
{
    ScriptedServer probe;
    probe.SetStepTimeout(1);
    return probe.Start() ? probe.Port() : 0;
}
