// File services: unique temporary files, existence by directory search,
// case-insensitive lookup of names inside a directory, copying, and the
// checks that keep untrusted names inside their directory.
#pragma once

#include <string>
#include <vector>

namespace fw {

// Creates a new, empty file "<dir>/<prefix><hex>.TMP" exclusively and returns
// its path; empty on failure (errno set).  The prefix is cut to three
// characters.  With uUnique 0 a number is drawn and advanced until a name is
// free; otherwise that number is used and the file is not created.
std::string GetTempFileName(const std::string& dir, const std::string& prefix,
                            unsigned uUnique = 0);

// True when a search of the path's directory finds an entry of that name.
bool FileExists(const std::string& path);

// The entry of the directory whose name equals `name` ignoring case (an exact
// match wins); empty when none.  `name` must be a plain entry name.
std::string FindFileNoCase(const std::string& dir, const std::string& name);

// Copies a file (through a temporary file beside the target, so a failed copy
// leaves no partial target).  With bFailIfExists an existing target fails.
bool CopyFile(const std::string& from, const std::string& to, bool bFailIfExists);

// A name from outside (an archive, a packet, a server) that may be used as a
// file name inside a directory: not empty, not "." or "..", no '/', no '\\',
// no NUL, no control characters.
bool IsSafeEntryName(const std::string& name);

// Joins a directory and a name with one '/'.
std::string JoinPath(const std::string& dir, const std::string& name);
// The directory part ("" when none), the last component, the extension
// (with its dot, "" when none) and the base name without extension.
std::string DirName(const std::string& path);
std::string BaseName(const std::string& path);
std::string Extension(const std::string& path);
std::string StemName(const std::string& path);

// Creates the directory and its parents; true when it exists afterwards.
bool MakeDirectories(const std::string& dir);
// Deletes every file entry of the directory (subdirectories are skipped) and
// then removes the directory.  Entries that cannot be deleted are skipped;
// the removal then fails quietly.  Returns whether the directory is gone.
bool EmptyAndRemoveDirectory(const std::string& dir);
// The entry names of a directory, "." and ".." left out.
std::vector<std::string> ListDirectory(const std::string& dir);

} // namespace fw
