// The MIME parser on a message file: parse, walk the leaves, read every line.
#include "msg/CMime.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

const std::string& MessagePath()
{
    static const std::string path = "/tmp/fuzz_msg_mime." + std::to_string(::getpid()) + ".eml";
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& path = MessagePath();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    // Strictly, and tolerating broken structures as the converter does.
    for (bool bCloseAtEnd : {false, true}) {
        CMIMEMsg msg;
        if (!msg.Open(path.c_str(), bCloseAtEnd)) {
            if (bCloseAtEnd)
                std::abort(); // a readable file always has its parts
            continue;
        }
        char buf[64];
        int leaves = 0;
        for (CMIMEBodyPart* p = msg.FirstPart(); p; p = msg.NextPart()) {
            if (p->IsMultipart() || p->Start() < 0 || p->End() > static_cast<std::int64_t>(size) ||
                p->Start() > p->End())
                std::abort();
            if (!p->Open())
                std::abort();
            std::int64_t total = 0;
            p->Rewind();
            int n;
            while ((n = p->ReadLine(buf, sizeof buf)) >= 0) {
                if (n == 0 && p->Position() < p->End())
                    std::abort(); // no progress
                total += n;
            }
            if (n != -1 || total != p->End() - p->Start())
                std::abort();
            p->Close();
            ++leaves;
        }
        if (leaves == 0)
            std::abort();
    }
    ::unlink(path.c_str());
    return 0;
}
