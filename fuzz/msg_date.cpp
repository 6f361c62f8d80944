// Date: values and zone texts.
#include "msg/Rfc822.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::int64_t t = ParseRfc822Date(text);
    if (t < -1)
        std::abort(); // failures are -1, dates before 1970 are failures
    int z = ParseTimeZone(text);
    (void)z;
    return 0;
}
