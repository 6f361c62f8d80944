// The header tokenizer in both modes and with small buffers.
#include "msg/Rfc822.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    int mode = data[0] & 1;
    int nLen = 2 + (data[0] >> 1); // 2..129
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<char> buf(static_cast<std::size_t>(nLen));
    for (bool bWithEnd : {true, false}) {
        const char* p = text.c_str();
        const char* end =
            bWithEnd ? text.data() + text.size() : text.c_str() + std::strlen(text.c_str());
        for (;;) {
            TokenKind k;
            const char* next = NextToken(mode, p, buf.data(), nLen, &k, bWithEnd ? end : nullptr);
            if (next < p || next > end ||
                std::strlen(buf.data()) > static_cast<std::size_t>(nLen - 1))
                std::abort();
            if (k == TokenKind::End || k == TokenKind::BadToken)
                break;
            if (next == p)
                std::abort(); // every other kind consumes input
            p = next;
        }
    }
    return 0;
}
