// The retrieved-message converter on any message file: it must neither
// crash nor lose the message, and it must clean up every file it made.
#include "packet/Rfcmsg.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string& WorkDir()
{
    static const std::string dir = [] {
        std::string d = "/tmp/fuzz_packet_convert." + std::to_string(::getpid());
        ::mkdir(d.c_str(), 0700);
        return d;
    }();
    return dir;
}

int CountFiles(const std::string& dir)
{
    int n = 0;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            n += e->d_name[0] != '.';
        ::closedir(d);
    }
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& dir = WorkDir();
    const std::string path = dir + "/PWZ1.TMP";
    {
        Rfcmsg conv(dir);
        // Twice, so that the second message may continue the first.
        for (int i = 0; i < 2; ++i) {
            std::FILE* f = std::fopen(path.c_str(), "wb");
            if (!f)
                return 0;
            std::fwrite(data, 1, size, f);
            std::fclose(f);
            conv.ConvertFile(path, i + 1, i == 0 ? "email" : "alt.test");
            if (conv.WriteFailed())
                std::abort(); // nothing here can fail to be written
            // Either a record holds the message or it continued the first.
            if (!conv.Current() && i == 0)
                std::abort();
        }
        if (!conv.List().First())
            std::abort();
    }
    if (CountFiles(dir) != 0)
        std::abort(); // every record's files went with it
    return 0;
}
