#include "core/Strings.h"

#include "util/TimeZone.h"

#include <map>

namespace {
std::map<int, std::string>& Table()
{
    static std::map<int, std::string> s_table = [] {
        std::map<int, std::string> t;
        for (int i = 0; i < tz::kTableSize; ++i)
            t[IDS_TIMEZONE_FIRST + i] = tz::DisplayTextForIndex(i);
        const char* months[] = {"January",   "February", "March",    "April",
                                "May",       "June",     "July",     "August",
                                "September", "October",  "November", "December"};
        for (int i = 0; i < 12; ++i)
            t[IDS_MONTH_FIRST + i] = months[i];
        return t;
    }();
    return s_table;
}
} // namespace

std::string LoadStringRes(int iId, std::size_t nMax)
{
    auto it = Table().find(iId);
    if (it == Table().end())
        return std::string();
    return it->second.substr(0, nMax);
}

void RegisterString(int iId, const char* pszText) { Table()[iId] = pszText ? pszText : ""; }

bool HasStringRes(int iId) { return Table().count(iId) != 0; }
