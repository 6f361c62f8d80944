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

} // namespace testutil
