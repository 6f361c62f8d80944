// Sounds go to the sound service from a thread of their own.  These cases
// point the sound library at a service path of the test's choosing: one
// where nothing listens, and one that accepts and never answers.
#include "framework/Sound.h"

#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using fw::Sound;

namespace {

// A listening unix socket that accepts connections and says nothing.
class SilentService {
public:
    explicit SilentService(const std::string& path)
    {
        m_fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        m_bOk = m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                listen(m_fd, 8) == 0;
    }
    ~SilentService()
    {
        for (int fd : m_clients)
            close(fd);
        if (m_fd >= 0)
            close(m_fd);
    }
    bool Ok() const { return m_bOk; }
    // True when a client connected within iTimeoutMs (a bound against a
    // hang; a working player connects at once).
    bool AcceptOne(int iTimeoutMs)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, iTimeoutMs) != 1)
            return false;
        int fd = accept(m_fd, nullptr, nullptr);
        if (fd < 0)
            return false;
        m_clients.push_back(fd);
        return true;
    }

private:
    int m_fd = -1;
    bool m_bOk = false;
    std::vector<int> m_clients;
};

} // namespace

// Runs before the stalling case below (which leaves the sound thread stuck
// for the rest of the process).
TEST(SoundService, AbsentServiceIsSilentAndALaterServiceIsUsed)
{
    testutil::TempDir dir;
    testutil::WriteFile(dir.File("Splash.wav"), "RIFF....WAVE");
    Sound::SetResourceDir(dir.Path());
    std::string server = dir.File("pulse-native");
    setenv("PULSE_SERVER", ("unix:" + server).c_str(), 1);

    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(Sound::PlayResource("splash"));
    EXPECT_TRUE(Sound::PlaySystem("SystemAsterisk"));
    EXPECT_FALSE(Sound::PlaySystem("NoSuchSystemSound"));
    EXPECT_TRUE(Sound::WaitIdle(60000));
    std::string output = ::testing::internal::GetCapturedStderr();
    output += ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(output, "");
    EXPECT_EQ(Sound::Pending(), 0);

    // A failed attempt is not remembered: once a service listens, the next
    // sound goes to it.
    SilentService service(server);
    ASSERT_TRUE(service.Ok());
    EXPECT_TRUE(Sound::PlaySystem("SystemAsterisk"));
    EXPECT_TRUE(service.AcceptOne(60000));
    Sound::SetResourceDir("");
    unsetenv("PULSE_SERVER");
}

TEST(SoundService, ServiceThatNeverAnswersNeverHoldsTheCaller)
{
    testutil::TempDir dir;
    std::string server = dir.File("pulse-native");
    SilentService service(server);
    ASSERT_TRUE(service.Ok());
    setenv("PULSE_SERVER", ("unix:" + server).c_str(), 1);

    // The service takes the connection and never answers: had the caller
    // been the one connecting, it would still be waiting here.
    EXPECT_TRUE(Sound::PlaySystem("SystemAsterisk"));
    ASSERT_TRUE(service.AcceptOne(60000));
    EXPECT_FALSE(Sound::WaitIdle(0));

    // Further sounds queue up to a small bound and are dropped beyond it.
    for (int i = 0; i < 20; ++i)
        EXPECT_TRUE(Sound::PlaySystem("SystemAsterisk"));
    EXPECT_GE(Sound::Pending(), 2);
    EXPECT_LE(Sound::Pending(), 5);
    // Leaving the process with the sound thread stuck must not hang it.
}
