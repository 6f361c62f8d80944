#include "packet/WorkFiles.h"

#include "framework/Files.h"

#include <cerrno>
#include <fcntl.h>
#include <random>
#include <unistd.h>

bool NewWorkFile(const std::string& dir, const char* pszExtension, std::string& name)
{
    static std::mt19937 s_rng{std::random_device{}()};
    for (int iTry = 0; iTry < 1000; ++iTry) {
        std::string candidate(8, 'a');
        for (char& c : candidate)
            c = static_cast<char>('a' + s_rng() % 26);
        candidate += '.';
        candidate += pszExtension;
        int fd = ::open(fw::JoinPath(dir, candidate).c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            name = candidate;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    errno = EEXIST;
    return false;
}
