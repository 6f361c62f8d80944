// bench_packet_save WORKDIR OUT.qwk [THREADS]
//
// Zips the files named in WORKDIR/qwkfiles.lst into OUT.qwk exactly as a
// save does; THREADS (default 0: one per core) sets the compressing threads.
#include "packet/Et4Zip.h"
#include "packet/PacketSave.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s WORKDIR OUT.qwk [THREADS]\n", argv[0]);
        return 2;
    }
    if (argc > 3)
        Et4ZipSetThreads(static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)));
    std::string error;
    int n = CPacketSaver::ZipPacketFiles(argv[1], argv[2], error);
    if (n < 0) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("%d files\n", n);
    return 0;
}
