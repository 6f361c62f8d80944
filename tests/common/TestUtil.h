// Helpers shared by the tests.
#pragma once

#include <string>
#include <vector>

namespace testutil {

// A fresh directory below the system's temporary directory, removed with
// everything in it when the object dies.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
bool Exists(const std::string& path);

// The path of one of the project's executables ("mailtolvan", ...).
std::string BinPath(const std::string& name);

struct RunResult {
    int iExit = -1;
    std::string out;
    std::string err;
};
// Runs a program with extra environment settings ("NAME=value"; "NAME=" with
// nothing after it removes the variable) and optional standard input.
RunResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                     const std::string& input = std::string(), int iTimeoutMs = 60000);
// mailtolvan-tool ARGS... with its program directory at home.
RunResult RunTool(const std::string& home, std::vector<std::string> args,
                  const std::string& input = std::string());

// A TCP socket listening on 127.0.0.1 at a port the kernel chose.  The kernel
// completes connections on its own; Accept takes the next one (-1 once the
// socket is closed).
class LoopbackListener {
public:
    LoopbackListener();
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;
    int Port() const { return m_iPort; }
    int Accept();
    void Close();

private:
    int m_fd = -1;
    int m_iPort = 0;
};

// Permissions mean nothing to root.  As root this runs the current test again
// as the user nobody (setpriv), expects it to pass there and returns true: the
// caller returns at once.  As any other user it returns false and the caller
// goes on with the test.
bool RerunAsNobody();

} // namespace testutil
