#include "framework/InstanceLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace fw {

InstanceLock::~InstanceLock() { Release(); }

std::string InstanceLock::PathFor(const std::string& homeDir)
{
    return homeDir + "/mailtolvan.lock";
}

bool InstanceLock::Acquire(const std::string& path, std::string& error)
{
    Release();
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        char buf[32] = {};
        ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
        ::close(fd);
        if (err == EWOULDBLOCK) {
            std::string pid = n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "";
            while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' '))
                pid.pop_back();
            error = "Mail Tolvan is already running with this directory" +
                    (pid.empty() ? std::string() : " (process " + pid + ")");
        } else {
            error = "cannot lock " + path + ": " + std::strerror(err);
        }
        return false;
    }
    // Who holds it, for the message a second start shows.
    std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0)
        (void)!::pwrite(fd, pid.data(), pid.size(), 0);
    m_fd = fd;
    return true;
}

void InstanceLock::Release()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

} // namespace fw
