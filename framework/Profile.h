// Profile (INI) files with the lookup rules users of Windows-style settings
// files expect: section and key names compare without regard to case, values
// are trimmed, a missing file/section/key gives the default, and a write
// updates the key where it stands (adding the section or key when missing,
// creating the file on the first write).  Every other byte of the file is
// kept as it was.  Writes go through a temporary file and a rename, so a
// failed write never leaves a half-written settings file behind.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace fw {

class Profile {
public:
    // Reads a value; the result is cut to nSize - 1 characters like a
    // caller's buffer of nSize bytes (std::string::npos: the whole value).
    // A value wholly inside one pair of quotes loses them; a value holding
    // more quotes (a command template with quoted words) keeps them all.
    static std::string GetString(const std::string& file, const std::string& section,
                                 const std::string& key, const std::string& def,
                                 std::size_t nSize = 80);
    // Writes (or replaces) one value.  Returns false, with errno set, when the
    // file could not be written; the file is then unchanged.  Names and values
    // holding line breaks (or names holding '=' or ']') are refused.  A file
    // that is read-only (see CanWrite) is never replaced (EACCES).
    static bool WriteString(const std::string& file, const std::string& section,
                            const std::string& key, const std::string& value);
    // Whether WriteString may change the file: an existing file must be
    // writable for this user and carry a write permission bit (a file made
    // read-only stays so, even for root); a missing file needs a writable
    // directory.  errno tells why not.
    static bool CanWrite(const std::string& file);
    // The key names of a section in file order (empty when absent).
    static std::vector<std::string> GetKeys(const std::string& file, const std::string& section);
    // The section names in file order.
    static std::vector<std::string> GetSections(const std::string& file);
};

} // namespace fw
