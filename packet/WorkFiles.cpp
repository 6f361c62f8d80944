#include "packet/WorkFiles.h"

#include "msg/UniqueName.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

bool NewWorkFile(const std::string& dir, const char* pszExtension, std::string& name)
{
    return NewWorkFile(dir, pszExtension, name, nullptr);
}

bool NewWorkFile(const std::string& dir, const char* pszExtension, std::string& name,
                 std::FILE** ppFile)
{
    // The shared routine draws a name that is free now; creating it with
    // O_EXCL makes sure it is still ours when we take it.
    for (int iTry = 0; iTry < 100; ++iTry) {
        std::string candidate, path;
        if (!MakeUniqueFileName(dir, pszExtension, candidate, path))
            return false;
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            if (ppFile) {
                *ppFile = ::fdopen(fd, "wb");
                if (!*ppFile) {
                    int iErr = errno;
                    ::close(fd);
                    ::unlink(path.c_str());
                    errno = iErr;
                    return false;
                }
            } else {
                ::close(fd);
            }
            name = candidate;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    errno = EEXIST;
    return false;
}
