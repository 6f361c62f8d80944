#include "packet/Et4Zip.h"

#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fnmatch.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Archive {
    zip_t* pZip = nullptr;
    bool bCreating = false;
};

std::mutex sg_mutex;
std::map<ET4HANDLE, Archive> sg_archives;
ET4HANDLE sg_nextHandle = 1;

Archive* Lookup(ET4HANDLE h)
{
    auto it = sg_archives.find(h);
    return it == sg_archives.end() ? nullptr : &it->second;
}

bool IsDiskFull(int iErrno) { return iErrno == ENOSPC || iErrno == EDQUOT; }

std::string BaseNameOf(const char* pszPath)
{
    std::string path(pszPath);
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Matches(const char* pszPattern, const char* pszName)
{
    if (pszPattern[0] == '\0' || std::strcmp(pszPattern, "*.*") == 0 ||
        std::strcmp(pszPattern, "*") == 0)
        return true;
    return ::fnmatch(pszPattern, pszName, FNM_CASEFOLD) == 0;
}

std::int16_t FindFrom(ET4HANDLE hZip, ET4FIND* pFind, char* pszName)
{
    std::lock_guard<std::mutex> lock(sg_mutex);
    Archive* pArchive = Lookup(hZip);
    if (!pArchive) {
        pszName[0] = '\0';
        return ET4_NO_ENTRY;
    }
    zip_int64_t nEntries = zip_get_num_entries(pArchive->pZip, 0);
    for (; pFind->iNext < nEntries; ++pFind->iNext) {
        const char* pszEntry =
            zip_get_name(pArchive->pZip, static_cast<zip_uint64_t>(pFind->iNext), ZIP_FL_ENC_RAW);
        if (!pszEntry)
            continue;
        std::size_t nLen = std::strlen(pszEntry);
        if (nLen == 0 || nLen >= ET4_MAX_NAME || pszEntry[nLen - 1] == '/')
            continue;
        if (!Matches(pFind->szPattern, pszEntry))
            continue;
        std::memcpy(pszName, pszEntry, nLen + 1);
        ++pFind->iNext;
        return ET4_OK;
    }
    pszName[0] = '\0';
    return ET4_NO_ENTRY;
}

} // namespace

bool Et4SafeEntryName(const char* pszEntry)
{
    if (!pszEntry || pszEntry[0] == '\0')
        return false;
    if (std::strstr(pszEntry, "..") != nullptr)
        return false;
    for (const char* p = pszEntry; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F)
            return false;
    }
    // "C:name" would be a drive-relative path where the packets came from.
    if (pszEntry[1] == ':')
        return false;
    return std::strcmp(pszEntry, ".") != 0;
}

std::int16_t Et4ZipOpen(const char* pszArchive, int iMode, ET4HANDLE* phZip)
{
    if (!phZip)
        return ET4_BAD_HANDLE;
    *phZip = 0;
    if (!pszArchive || !*pszArchive)
        return ET4_OPEN_FAILED;
    int iFlags;
    if (iMode == ET4_MODE_CREATE)
        iFlags = ZIP_CREATE | ZIP_TRUNCATE;
    else if (iMode == ET4_MODE_READ)
        iFlags = ZIP_RDONLY;
    else
        return ET4_OPEN_FAILED;
    if (iMode == ET4_MODE_CREATE) {
        // Fail now, not at close, when the archive cannot be created there.
        int fd = ::open(pszArchive, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0)
            return IsDiskFull(errno) ? ET4_DISK_FULL : ET4_OPEN_FAILED;
        ::close(fd);
    }
    int iError = 0;
    zip_t* pZip = zip_open(pszArchive, iFlags, &iError);
    if (!pZip)
        return ET4_OPEN_FAILED;
    std::lock_guard<std::mutex> lock(sg_mutex);
    ET4HANDLE h = sg_nextHandle++;
    if (sg_nextHandle == 0)
        sg_nextHandle = 1;
    sg_archives[h] = Archive{pZip, iMode == ET4_MODE_CREATE};
    *phZip = h;
    return ET4_OK;
}

std::int16_t Et4Zip(ET4HANDLE* phZip, const char* pszFile, const char*, const char*)
{
    if (!phZip || !pszFile)
        return ET4_BAD_HANDLE;
    std::lock_guard<std::mutex> lock(sg_mutex);
    Archive* pArchive = Lookup(*phZip);
    if (!pArchive || !pArchive->bCreating)
        return ET4_BAD_HANDLE;
    std::string name = BaseNameOf(pszFile);
    if (!Et4SafeEntryName(name.c_str()))
        return ET4_UNSAFE_NAME;
    // Refuse what cannot be read now rather than failing the whole archive
    // at close.
    int fd = ::open(pszFile, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return ET4_READ_FAILED;
    ::close(fd);
    zip_source_t* pSource = zip_source_file(pArchive->pZip, pszFile, 0, -1);
    if (!pSource)
        return ET4_ADD_FAILED;
    if (zip_file_add(pArchive->pZip, name.c_str(), pSource, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8) <
        0) {
        zip_source_free(pSource);
        return ET4_ADD_FAILED;
    }
    return ET4_OK;
}

std::int16_t Et4ZipClose(ET4HANDLE* phZip)
{
    if (!phZip)
        return ET4_BAD_HANDLE;
    std::lock_guard<std::mutex> lock(sg_mutex);
    auto it = sg_archives.find(*phZip);
    *phZip = 0;
    if (it == sg_archives.end())
        return ET4_BAD_HANDLE;
    zip_t* pZip = it->second.pZip;
    sg_archives.erase(it);
    if (zip_close(pZip) == 0)
        return ET4_OK;
    zip_error_t* pError = zip_get_error(pZip);
    bool bFull = zip_error_code_system(pError) != 0 && IsDiskFull(zip_error_code_system(pError));
    zip_discard(pZip);
    return bFull ? ET4_DISK_FULL : ET4_CLOSE_FAILED;
}

std::int16_t Et4ZipFindFirst(ET4HANDLE hZip, ET4FIND* pFind, char* pszName, const char*, unsigned,
                             const char*, unsigned)
{
    if (!pFind || !pszName)
        return ET4_NO_ENTRY;
    pFind->iNext = 0;
    std::snprintf(pFind->szPattern, sizeof pFind->szPattern, "%s", pszName);
    return FindFrom(hZip, pFind, pszName);
}

std::int16_t Et4ZipFindNext(ET4HANDLE hZip, ET4FIND* pFind, char* pszName, const char*, unsigned,
                            const char*, unsigned)
{
    if (!pFind || !pszName)
        return ET4_NO_ENTRY;
    return FindFrom(hZip, pFind, pszName);
}

std::int16_t Et4UnZip(ET4HANDLE* phZip, const char* pszTargetDir, const char* pszEntry, const char*,
                      const char*)
{
    if (!phZip || !pszTargetDir || !pszEntry)
        return ET4_BAD_HANDLE;
    if (!Et4SafeEntryName(pszEntry))
        return ET4_UNSAFE_NAME;
    std::lock_guard<std::mutex> lock(sg_mutex);
    Archive* pArchive = Lookup(*phZip);
    if (!pArchive)
        return ET4_BAD_HANDLE;
    zip_int64_t iIndex = zip_name_locate(pArchive->pZip, pszEntry, ZIP_FL_ENC_RAW);
    if (iIndex < 0)
        return ET4_NO_ENTRY;
    zip_file_t* pEntry = zip_fopen_index(pArchive->pZip, static_cast<zip_uint64_t>(iIndex), 0);
    if (!pEntry)
        return ET4_READ_FAILED;

    std::string dir(pszTargetDir);
    if (dir.empty())
        dir = ".";
    std::string target = dir + "/" + pszEntry;
    std::string temp = dir + "/.et4XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        int iErr = errno;
        zip_fclose(pEntry);
        return IsDiskFull(iErr) ? ET4_DISK_FULL : ET4_WRITE_FAILED;
    }
    std::int16_t iResult = ET4_OK;
    char buffer[64 * 1024];
    for (;;) {
        zip_int64_t n = zip_fread(pEntry, buffer, sizeof buffer);
        if (n < 0) {
            iResult = ET4_READ_FAILED;
            break;
        }
        if (n == 0)
            break;
        const char* p = buffer;
        while (n > 0) {
            ssize_t w = ::write(fd, p, static_cast<std::size_t>(n));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                iResult = IsDiskFull(errno) ? ET4_DISK_FULL : ET4_WRITE_FAILED;
                break;
            }
            p += w;
            n -= w;
        }
        if (iResult != ET4_OK)
            break;
    }
    zip_fclose(pEntry);
    if (iResult == ET4_OK)
        ::fchmod(fd, 0644); // mkstemp makes 0600; extracted files are ordinary files
    if (::close(fd) != 0 && iResult == ET4_OK)
        iResult = IsDiskFull(errno) ? ET4_DISK_FULL : ET4_WRITE_FAILED;
    if (iResult == ET4_OK) {
        if (::rename(temp.c_str(), target.c_str()) != 0)
            iResult = IsDiskFull(errno) ? ET4_DISK_FULL : ET4_WRITE_FAILED;
    }
    if (iResult != ET4_OK)
        ::unlink(temp.c_str());
    return iResult;
}
