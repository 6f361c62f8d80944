// date: the seconds since 1970 of a Date: value.

#include "app/Tool.h"

#include "msg/Rfc822.h"

#include <cstdio>

namespace {

int Date(ToolContext&, const std::vector<std::string>& args)
{
    if (args.empty())
        return ToolFail("usage: date TEXT  (the value of a Date: header)");
    // Several words are one value: the shell may have split it.
    std::string text;
    for (const std::string& a : args) {
        if (!text.empty())
            text += ' ';
        text += a;
    }
    std::printf("%lld\n", static_cast<long long>(ParseRfc822Date(text)));
    return 0;
}

} // namespace

MT_TOOL_COMMAND("date", "TEXT", "print the seconds since 1970 of a Date: value, or -1", Date);
