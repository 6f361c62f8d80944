// A write-only stand-in for the system registry: keys form a path below a
// root ("HKEY_CLASSES_ROOT\tolvan\Articles"), and every key has a default
// text value.  The values live in one profile file under the program's
// directory, a section per key path with the value under "@".  Failures are
// reported by result and may be ignored: the store is a copy, never read back
// by the program itself.
#pragma once

#include <string>

namespace fw {

class RegKey {
public:
    static RegKey ClassesRoot();
    // Where the store lives; an empty path disables it (every call fails).
    static void SetStorePath(const std::string& path);
    static const std::string& StorePath();

    RegKey() = default;
    bool IsOpen() const { return !m_path.empty(); }
    const std::string& Path() const { return m_path; }

    // RegCreateKey: opens or creates a subkey.  Names with a backslash are
    // refused (an unopened key is returned).
    RegKey CreateKey(const std::string& subkey) const;
    // RegSetValue: sets the default value of a subkey (created when missing).
    bool SetValue(const std::string& subkey, const std::string& text) const;
    // Reads a default value back; for tests and diagnostics only.
    bool QueryValue(const std::string& subkey, std::string& text) const;

private:
    explicit RegKey(std::string path) : m_path(std::move(path)) {}
    std::string m_path;
};

} // namespace fw
