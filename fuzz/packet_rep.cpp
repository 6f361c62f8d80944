// The REP reader on any message file and attachment list: it must neither
// crash nor read past what it was given, and it must delete only files of
// its own work directory.  The input is split at the first 0x00 0xFF pair:
// the message file before it, the attachment list after it.
#include "newsgroups/Newsgroups.h"
#include "packet/Repfile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string& Base()
{
    static const std::string dir = [] {
        std::string d = "/tmp/fuzz_packet_rep." + std::to_string(::getpid());
        ::mkdir(d.c_str(), 0700);
        ::mkdir((d + "/work").c_str(), 0700);
        return d;
    }();
    return dir;
}

void Write(const std::string& path, const std::string& data)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string in(reinterpret_cast<const char*>(data), size);
    std::size_t cut = in.find(std::string("\0\xFF", 2));
    std::string msg = "TOLVAN" + std::string(122, ' ') + in.substr(0, cut);
    std::string dat = cut == std::string::npos ? std::string() : in.substr(cut + 2);
    const std::string work = Base() + "/work";
    Write(Base() + "/outside", "x");
    Write(work + "/A.BIN", "a");
    Write(work + "/T.MSG", msg);
    Write(work + "/T.DAT", dat);
    static Newsgroups groups{std::string()};
    RepReadOptions options;
    options.repWorkDir = work;
    options.pGroups = &groups;
    options.iMailingLists = 1;
    {
        Repfile rep(work + "/T.MSG", work + "/T.DAT", options, "Tolvan");
        for (const auto& p : rep.All())
            if (p->m_iTextStart > p->m_szText.size())
                std::abort();
    }
    struct stat st {};
    if (::stat((Base() + "/outside").c_str(), &st) != 0)
        std::abort(); // a name from the packet reached outside the work directory
    return 0;
}
