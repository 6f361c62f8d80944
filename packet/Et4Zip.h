// The compression layer: zip archives for QWK packets and REP unpacking.
//
// The calls keep the contract the packet commands were written against:
// results are signed 16-bit values, 0 for success; an archive is reached
// through an opaque 32-bit handle that Et4ZipOpen fills in.  Files are added
// at the archive's top level under their own base names.  Extraction writes
// only into the target directory: an entry whose name holds "/", "\", ".."
// or is absolute is refused, and a full disk is reported as ET4_DISK_FULL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

using ET4HANDLE = std::uint32_t;

// Et4ZipOpen modes.
constexpr int ET4_MODE_READ = 1;   // open an existing archive
constexpr int ET4_MODE_CREATE = 3; // create the archive (an existing file is replaced)

// Results.
constexpr std::int16_t ET4_OK = 0;
constexpr std::int16_t ET4_BAD_HANDLE = -1;   // no open archive behind the handle
constexpr std::int16_t ET4_OPEN_FAILED = -2;  // the archive cannot be opened or created
constexpr std::int16_t ET4_NO_ENTRY = -3;     // no (further) entry / no such entry
constexpr std::int16_t ET4_UNSAFE_NAME = -4;  // an entry name that would leave the directory
constexpr std::int16_t ET4_READ_FAILED = -5;  // a file or entry cannot be read (damaged archive)
constexpr std::int16_t ET4_WRITE_FAILED = -6; // a file cannot be written (not a full disk)
constexpr std::int16_t ET4_ADD_FAILED = -7;   // a file cannot be added
constexpr std::int16_t ET4_CLOSE_FAILED = -8; // writing the archive at close failed
constexpr std::int16_t ET4_DISK_FULL = -10;   // no space left while extracting or writing

// Size of the entry-name buffer of the find calls (names longer than
// ET4_MAX_NAME - 1 bytes are never reported: they cannot be extracted
// safely anyway).
constexpr std::size_t ET4_MAX_NAME = 260;

// The state of a directory walk over an archive.
struct ET4FIND {
    std::int64_t iNext = 0; // index of the next entry to look at
    char szPattern[ET4_MAX_NAME] = {};
};

std::int16_t Et4ZipOpen(const char* pszArchive, int iMode, ET4HANDLE* phZip);
// Adds a file under its base name.  pszPath2 and pszOptions are accepted for
// the contract ("" and "-.lr"); the file is read when the archive is closed.
std::int16_t Et4Zip(ET4HANDLE* phZip, const char* pszFile, const char* pszPath2,
                    const char* pszOptions);
// Writes (creating mode) and closes the archive; the handle becomes 0.
// Members that compress are deflated, spread over the processor's cores;
// members that do not (already compressed files, random data) are stored.
// A failure leaves no archive and no temporary file: ET4_READ_FAILED when a
// member cannot be read (Et4ZipLastFailedFile names it), ET4_DISK_FULL when
// space runs out, ET4_CLOSE_FAILED for other write errors.
std::int16_t Et4ZipClose(ET4HANDLE* phZip);
// The member file that made the last Et4ZipClose fail with ET4_READ_FAILED.
std::string Et4ZipLastFailedFile();
// The number of threads that compress members (0: one per core, at most 8).
void Et4ZipSetThreads(unsigned nThreads);

// pszName holds a pattern on entry ("*.*" for every entry; "*" and "?" as
// wildcards, compared ignoring case) and receives the entry name; its buffer
// must hold ET4_MAX_NAME bytes.  Directory entries are skipped.  The other
// arguments are accepted for the contract.
std::int16_t Et4ZipFindFirst(ET4HANDLE hZip, ET4FIND* pFind, char* pszName, const char* pszEmpty1,
                             unsigned uAttr1, const char* pszEmpty2, unsigned uAttr2);
std::int16_t Et4ZipFindNext(ET4HANDLE hZip, ET4FIND* pFind, char* pszName, const char* pszEmpty1,
                            unsigned uAttr1, const char* pszEmpty2, unsigned uAttr2);

// Extracts one entry (exact name) into the directory, replacing a file of
// that name.  A failed extraction leaves no partial file behind.
std::int16_t Et4UnZip(ET4HANDLE* phZip, const char* pszTargetDir, const char* pszEntry,
                      const char* pszEmpty1, const char* pszEmpty2);

// Whether an entry name may be written into a directory: not empty, no "/",
// no "\", no "..", not absolute, no control characters.
bool Et4SafeEntryName(const char* pszEntry);
