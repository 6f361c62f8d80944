#include "framework/Sound.h"

#include "framework/Files.h"

#include <canberra.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <strings.h>
#include <thread>

namespace fw {

namespace {

std::string& Dir()
{
    static std::string s_dir;
    return s_dir;
}

// One request: a wave file, or an event name of the sound theme.
struct Request {
    std::string file;
    std::string eventId;
};

// Sounds this many deep are enough for a finished retrieval and a splash;
// more only pile up behind a service that does not answer.
constexpr size_t kMaxQueued = 4;

// Talks to the sound service on a detached thread.  Connecting to a service
// that accepts but never answers blocks inside the sound library, so no
// call into it may happen on the caller's thread, and nothing may wait for
// this thread at exit: the player is created once and never destroyed.
class Player {
public:
    static Player& Get()
    {
        static Player* s_p = new Player;
        return *s_p;
    }

    void Queue(Request r)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bStarted) {
            std::thread([this] { Run(); }).detach();
            m_bStarted = true;
        }
        if (m_queue.size() >= kMaxQueued)
            return;
        m_queue.push_back(std::move(r));
        m_wake.notify_one();
    }

    int Pending()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(m_queue.size()) + (m_bBusy ? 1 : 0);
    }

    bool WaitIdle(int iTimeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_idle.wait_for(lock, std::chrono::milliseconds(iTimeoutMs),
                               [this] { return m_queue.empty() && !m_bBusy; });
    }

private:
    void Run()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return !m_queue.empty(); });
            Request r = std::move(m_queue.front());
            m_queue.pop_front();
            m_bBusy = true;
            lock.unlock();
            Play(r);
            lock.lock();
            m_bBusy = false;
            if (m_queue.empty())
                m_idle.notify_all();
        }
    }

    // A context that failed to connect is dropped, so a service started
    // later is found by the next sound.  A connected context is kept: the
    // sound plays on after ca_context_play returns, and destroying the
    // context would cut it off.
    void Play(const Request& r)
    {
        if (!m_pContext && !Open())
            return;
        int iResult =
            r.file.empty()
                ? ca_context_play(m_pContext, 0, CA_PROP_EVENT_ID, r.eventId.c_str(), nullptr)
                : ca_context_play(m_pContext, 0, CA_PROP_MEDIA_FILENAME, r.file.c_str(),
                                  CA_PROP_CANBERRA_CACHE_CONTROL, "volatile", nullptr);
        if (iResult == CA_ERROR_DISCONNECTED || iResult == CA_ERROR_STATE) {
            ca_context_destroy(m_pContext);
            m_pContext = nullptr;
        }
    }

    bool Open()
    {
        if (ca_context_create(&m_pContext) != CA_SUCCESS) {
            m_pContext = nullptr;
            return false;
        }
        // Only the sound service: the sound library's direct ALSA output
        // writes its complaints to stderr when there is no sound card,
        // which would reach the mail of every cron run.
        ca_context_set_driver(m_pContext, "pulse");
        ca_context_change_props(m_pContext, CA_PROP_APPLICATION_NAME, "Mail Tolvan",
                                CA_PROP_APPLICATION_ID, "mailtolvan", nullptr);
        if (ca_context_open(m_pContext) != CA_SUCCESS) {
            ca_context_destroy(m_pContext);
            m_pContext = nullptr;
            return false;
        }
        return true;
    }

    std::mutex m_mutex;
    std::condition_variable m_wake, m_idle;
    std::deque<Request> m_queue;
    bool m_bStarted = false;
    bool m_bBusy = false;
    ca_context* m_pContext = nullptr; // only touched by the thread
};

// The desktop theme's sound for each system sound the program plays.
// "SystemAsterisk" marks a finished retrieval or send.
const char* ThemeEvent(const std::string& name)
{
    static const struct {
        const char* pszSystem;
        const char* pszEvent;
    } s_map[] = {
        {"SystemAsterisk", "complete"}, {"SystemExclamation", "dialog-warning"},
        {"SystemHand", "dialog-error"}, {"SystemQuestion", "dialog-question"},
        {"SystemDefault", "bell"},
    };
    for (const auto& m : s_map)
        if (strcasecmp(m.pszSystem, name.c_str()) == 0)
            return m.pszEvent;
    return nullptr;
}

} // namespace

void Sound::SetResourceDir(const std::string& dir) { Dir() = dir; }

const std::string& Sound::ResourceDir() { return Dir(); }

std::string Sound::Find(const std::string& name)
{
    if (Dir().empty() || !IsSafeEntryName(name))
        return std::string();
    std::string file = FindFileNoCase(Dir(), name + ".wav");
    return file.empty() ? std::string() : JoinPath(Dir(), file);
}

bool Sound::PlayResource(const std::string& name)
{
    std::string file = Find(name);
    if (file.empty())
        return false;
    Player::Get().Queue(Request{file, std::string()});
    return true;
}

bool Sound::PlaySystem(const std::string& name)
{
    if (PlayResource(name))
        return true;
    const char* pszEvent = ThemeEvent(name);
    if (!pszEvent)
        return false;
    Player::Get().Queue(Request{std::string(), pszEvent});
    return true;
}

int Sound::Pending() { return Player::Get().Pending(); }

bool Sound::WaitIdle(int iTimeoutMs) { return Player::Get().WaitIdle(iTimeoutMs); }

} // namespace fw
