#include "core/PasswordCommand.h"

#include "framework/Process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct Pipe {
    int fd[2] = {-1, -1};
    ~Pipe()
    {
        for (int f : fd)
            if (f >= 0)
                ::close(f);
    }
    bool Open() { return ::pipe2(fd, O_CLOEXEC) == 0; }
};

std::string FirstLine(const std::string& text)
{
    std::size_t end = text.find('\n');
    std::string line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

} // namespace

bool RunPasswordCommand(const std::string& command, std::string& password, std::string& why,
                        int iTimeoutSeconds)
{
    password.clear();
    why.clear();
    std::vector<std::string> words = fw::SplitCommandLine(command);
    if (words.empty()) {
        why = "the command is empty";
        return false;
    }
    Pipe out, err;
    if (!out.Open() || !err.Open()) {
        why = std::string("no pipe: ") + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.fd[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err.fd[1], 2);
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        why = "\"" + words[0] + "\" cannot be started: " + std::strerror(rc);
        return false;
    }
    ::close(out.fd[1]);
    out.fd[1] = -1;
    ::close(err.fd[1]);
    err.fd[1] = -1;

    std::string output, errors;
    bool bTooMuch = false, bTimedOut = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(iTimeoutSeconds);
    bool bOutOpen = true, bErrOpen = true;
    while (bOutOpen || bErrOpen) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            bTimedOut = true;
            break;
        }
        pollfd fds[2] = {{bOutOpen ? out.fd[0] : -1, POLLIN, 0},
                         {bErrOpen ? err.fd[0] : -1, POLLIN, 0}};
        int n = ::poll(fds, 2, static_cast<int>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        char buf[4096];
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
            if (got <= 0) {
                (i == 0 ? bOutOpen : bErrOpen) = false;
                continue;
            }
            std::string& into = i == 0 ? output : errors;
            if (into.size() + static_cast<std::size_t>(got) > kPasswordCommandMaxOutput) {
                bTooMuch = true;
                break;
            }
            into.append(buf, static_cast<std::size_t>(got));
        }
        if (bTooMuch)
            break;
    }
    if (bTimedOut || bTooMuch)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::string errLine = FirstLine(errors);
    if (bTimedOut) {
        why = "\"" + words[0] + "\" did not finish within " + std::to_string(iTimeoutSeconds) +
              " seconds";
        return false;
    }
    if (bTooMuch) {
        why = "\"" + words[0] + "\" printed more than " +
              std::to_string(kPasswordCommandMaxOutput) + " bytes";
        return false;
    }
    if (WIFSIGNALED(status)) {
        why = "\"" + words[0] + "\" was ended by signal " + std::to_string(WTERMSIG(status));
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        why = "\"" + words[0] + "\" ended with status " +
              std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) +
              (errLine.empty() ? std::string() : ": " + errLine);
        return false;
    }
    password = FirstLine(output);
    if (password.empty()) {
        why = "\"" + words[0] + "\" printed no password";
        return false;
    }
    return true;
}
