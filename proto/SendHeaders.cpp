#include "proto/SendHeaders.h"

#include "msg/Rfc822.h"
#include "util/TimeZone.h"

#include <cctype>
#include <cstdio>
#include <random>
#include <unistd.h>

std::string LocalHostName()
{
    char host[256] = {0};
    if (::gethostname(host, sizeof host - 1) != 0)
        return std::string();
    std::string out;
    for (const char* p = host; *p && out.size() < 100; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        out += std::isalnum(c) || c == '-' || c == '.' || c == '_' ? static_cast<char>(c) : '-';
    }
    while (!out.empty() && out.back() == '.')
        out.pop_back();
    return out;
}

std::string MessageDate(std::int64_t tNow)
{
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    LocalTime lt = tz::ToProcessLocal(tNow);
    int off = lt.iOffsetMinutes;
    char sign = off < 0 ? '-' : '+';
    if (off < 0)
        off = -off;
    char out[80];
    std::snprintf(out, sizeof out, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d",
                  kDays[((lt.iWeekday % 7) + 7) % 7], lt.iDay,
                  kMonths[((lt.iMonth - 1) % 12 + 12) % 12], lt.iYear, lt.iHour, lt.iMinute,
                  lt.iSecond, sign, off / 60 % 100, off % 60);
    return out;
}

std::string NewMessageId(std::int64_t tNow, const std::string& host)
{
    static std::mt19937 s_rng{std::random_device{}()};
    std::string id = MakeMessageId(tNow, host.empty() ? std::string("localhost") : host);
    std::size_t at = id.find('@');
    char extra[40];
    std::snprintf(extra, sizeof extra, ".%d%06x", static_cast<int>(::getpid()),
                  static_cast<unsigned>(s_rng() & 0xFFFFFF));
    return id.insert(at == std::string::npos ? id.size() : at, extra);
}

std::string FromLine(const std::string& address, const std::string& name)
{
    if (name.empty())
        return "From: <" + address + "> \r\n";
    std::string clean;
    for (char c : name)
        clean += (c == '(' || c == ')' || c == '\\') ? ' ' : c;
    return "From: " + address + " (" + clean + ")\r\n";
}
