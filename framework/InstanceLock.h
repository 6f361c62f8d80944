// One running program per home directory: an exclusive lock on a file there,
// held from before the work directories are touched until the process ends
// (the system drops it when the process dies, however it dies).
#pragma once

#include <string>

namespace fw {

class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock without waiting.  False when another process holds it
    // (`error` names that process when it can) or the file cannot be opened.
    [[nodiscard]] bool Acquire(const std::string& path, std::string& error);
    void Release();
    bool Held() const { return m_fd >= 0; }

    // The lock file of a home directory.
    static std::string PathFor(const std::string& homeDir);

private:
    int m_fd = -1;
};

} // namespace fw
