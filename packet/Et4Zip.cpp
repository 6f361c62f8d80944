#include "packet/Et4Zip.h"

#include "packet/MemberDeflater.h"

#include <zip.h>

#include <atomic>
#include <memory>
#include <vector>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fnmatch.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A file to be added; it is read when the archive is closed.
struct Pending {
    std::string path;
    std::string name;
};

struct Archive {
    zip_t* pZip = nullptr;
    bool bCreating = false;
    std::vector<Pending> members;
};

std::mutex sg_mutex;
std::map<ET4HANDLE, Archive> sg_archives;
ET4HANDLE sg_nextHandle = 1;
std::atomic<unsigned> sg_nThreads{0};
std::string sg_lastFailedFile;

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
    sg_archives[h] = Archive{pZip, iMode == ET4_MODE_CREATE, {}};
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
    for (Pending& member : pArchive->members) {
        if (member.name == name) { // the later file of a name replaces the earlier one
            member.path = pszFile;
            return ET4_OK;
        }
    }
    pArchive->members.push_back({pszFile, name});
    return ET4_OK;
}

void Et4ZipSetThreads(unsigned nThreads) { sg_nThreads = nThreads; }

std::string Et4ZipLastFailedFile()
{
    std::lock_guard<std::mutex> lock(sg_mutex);
    return sg_lastFailedFile;
}

namespace {

// What the archive writer needs to pull one deflated member.
struct MemberSource {
    et4::MemberDeflater* pDeflater = nullptr;
    std::size_t iMember = 0;
    std::uint64_t size = 0;
    std::time_t mtime = 0;
    mode_t mode = 0;
    zip_error_t error;
};

zip_int64_t ReadMember(void* pUser, void* pData, zip_uint64_t nLen, zip_source_cmd_t cmd)
{
    auto* p = static_cast<MemberSource*>(pUser);
    switch (cmd) {
    case ZIP_SOURCE_OPEN:
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE:
        return 0;
    case ZIP_SOURCE_READ: {
        long long n = p->pDeflater->Read(p->iMember, static_cast<unsigned char*>(pData),
                                         static_cast<std::size_t>(nLen));
        if (n < 0)
            zip_error_set(&p->error, ZIP_ER_READ, p->pDeflater->Errno());
        return n;
    }
    case ZIP_SOURCE_STAT: {
        zip_stat_t* pStat = ZIP_SOURCE_GET_ARGS(zip_stat_t, pData, nLen, &p->error);
        if (!pStat)
            return -1;
        zip_stat_init(pStat);
        // The data comes deflated: the writer copies it as it is.
        pStat->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME | ZIP_STAT_COMP_METHOD;
        pStat->size = p->size;
        pStat->mtime = p->mtime;
        pStat->comp_method = ZIP_CM_DEFLATE;
        if (p->pDeflater->Finished(p->iMember)) {
            pStat->valid |= ZIP_STAT_CRC | ZIP_STAT_COMP_SIZE;
            pStat->crc = p->pDeflater->Crc(p->iMember);
            pStat->comp_size = p->pDeflater->CompressedSize(p->iMember);
        }
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&p->error, pData, nLen);
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              -1);
    default:
        zip_error_set(&p->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

// Adds the pending members and writes the archive.  Members that compress
// are deflated by worker threads (see MemberDeflater); the others are
// stored.  sg_mutex is held.
std::int16_t WriteArchive(zip_t* pZip, const std::vector<Pending>& members)
{
    unsigned nThreads = et4::WorkerCount(sg_nThreads);
    std::vector<std::string> paths;
    for (const Pending& member : members)
        paths.push_back(member.path);
    std::vector<et4::Trial> trials = et4::TryDeflateAll(paths, nThreads);
    std::vector<bool> deflate;
    for (et4::Trial trial : trials)
        deflate.push_back(trial == et4::Trial::Deflate);

    std::vector<et4::MemberDeflater::Member> deflated;
    std::vector<MemberSource> sources(members.size());
    for (std::size_t i = 0; i < members.size(); ++i) {
        struct stat st;
        if (trials[i] == et4::Trial::Unreadable || ::stat(members[i].path.c_str(), &st) != 0 ||
            !S_ISREG(st.st_mode)) {
            sg_lastFailedFile = members[i].path;
            zip_discard(pZip);
            return ET4_READ_FAILED;
        }
        sources[i].size = static_cast<std::uint64_t>(st.st_size);
        sources[i].mtime = st.st_mtime;
        sources[i].mode = st.st_mode;
        zip_error_init(&sources[i].error);
        if (deflate[i]) {
            sources[i].iMember = deflated.size();
            deflated.push_back({members[i].path, sources[i].size});
        }
    }
    // Declared after the sources it reads for, so that it stops first.
    std::unique_ptr<et4::MemberDeflater> pDeflater;
    if (!deflated.empty())
        pDeflater = std::make_unique<et4::MemberDeflater>(std::move(deflated), nThreads);

    // Deflated members get their file's permissions, as members read
    // straight from their files (the stored ones) do.
    std::int16_t iResult = ET4_OK;
    for (std::size_t i = 0; i < members.size() && iResult == ET4_OK; ++i) {
        const char* pszName = members[i].name.c_str();
        zip_source_t* pSource = nullptr;
        if (deflate[i]) {
            sources[i].pDeflater = pDeflater.get();
            pSource = zip_source_function(pZip, ReadMember, &sources[i]);
        } else {
            pSource = zip_source_file(pZip, members[i].path.c_str(), 0, -1);
        }
        zip_int64_t iIndex = pSource ? zip_file_add(pZip, pszName, pSource, ZIP_FL_ENC_UTF_8) : -1;
        if (iIndex < 0) {
            if (pSource)
                zip_source_free(pSource);
            iResult = ET4_CLOSE_FAILED;
        } else if (deflate[i] &&
                   zip_file_set_external_attributes(
                       pZip, static_cast<zip_uint64_t>(iIndex), 0, ZIP_OPSYS_UNIX,
                       static_cast<zip_uint32_t>(sources[i].mode & 0177777) << 16) != 0) {
            iResult = ET4_CLOSE_FAILED;
        } else if (!deflate[i] && zip_set_file_compression(pZip, static_cast<zip_uint64_t>(iIndex),
                                                           ZIP_CM_STORE, 0) != 0) {
            iResult = ET4_CLOSE_FAILED;
        }
    }
    if (iResult == ET4_OK && zip_close(pZip) == 0)
        return ET4_OK;
    if (iResult == ET4_OK) {
        zip_error_t* pError = zip_get_error(pZip);
        int iSys = zip_error_code_system(pError);
        if (pDeflater && pDeflater->Errno() != 0) {
            sg_lastFailedFile = pDeflater->FailedPath();
            iResult = ET4_READ_FAILED;
        } else if (iSys != 0 && IsDiskFull(iSys)) {
            iResult = ET4_DISK_FULL;
        } else {
            iResult = ET4_CLOSE_FAILED;
        }
    }
    // Frees the sources (and removes the archive's temporary file) before
    // the deflater and the source states go.
    zip_discard(pZip);
    return iResult;
}

} // namespace

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
    std::vector<Pending> members = std::move(it->second.members);
    bool bCreating = it->second.bCreating;
    sg_archives.erase(it);
    sg_lastFailedFile.clear();
    if (bCreating)
        return WriteArchive(pZip, members);
    zip_discard(pZip);
    return ET4_OK;
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
