#include "SmallDisk.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace testutil {

std::optional<int> RunWithSmallDisk(const std::string& dir, std::size_t nBytes,
                                    const std::function<int()>& fn)
{
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0)
        return std::nullopt;
    if (pid == 0) {
        int flags = CLONE_NEWNS | (::geteuid() == 0 ? 0 : CLONE_NEWUSER);
        if (::unshare(flags) != 0)
            ::_exit(200);
        if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            ::_exit(200);
        std::string opts = "size=" + std::to_string(nBytes);
        if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, opts.c_str()) != 0)
            ::_exit(200);
        ::_exit(fn() & 0xFF);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return std::nullopt;
    if (WEXITSTATUS(status) == 200)
        return std::nullopt;
    return WEXITSTATUS(status);
}

} // namespace testutil
