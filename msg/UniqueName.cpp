#include "msg/UniqueName.h"

#include <mutex>
#include <random>
#include <sys/stat.h>

namespace {

std::mutex sg_mutex;

std::mt19937_64& Generator()
{
    static std::mt19937_64 gen = [] {
        std::random_device rd;
        std::seed_seq seq{rd(), rd(), rd(), rd()};
        return std::mt19937_64(seq);
    }();
    return gen;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace

bool MakeUniqueFileName(const std::string& dir, const std::string& ext, std::string& name,
                        std::string& path, const std::function<int()>& nextLetter, int iMaxDraws)
{
    for (int attempt = 0; attempt < iMaxDraws; ++attempt) {
        std::string candidate(8, 'a');
        for (char& c : candidate)
            c = static_cast<char>('a' + ((nextLetter() % 26) + 26) % 26);
        candidate += '.';
        candidate += ext;
        std::string full =
            dir.empty() ? candidate : (dir.back() == '/' ? dir + candidate : dir + "/" + candidate);
        if (!Exists(full)) {
            name = candidate;
            path = full;
            return true;
        }
    }
    return false;
}

bool MakeUniqueFileName(const std::string& dir, const std::string& ext, std::string& name,
                        std::string& path)
{
    return MakeUniqueFileName(dir, ext, name, path, [] {
        std::lock_guard<std::mutex> lock(sg_mutex);
        return std::uniform_int_distribution<int>(0, 25)(Generator());
    });
}
