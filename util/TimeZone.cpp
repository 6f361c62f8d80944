#include "util/TimeZone.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace tz {

namespace {

const char* const kTzTable[kTableSize] = {
    "GMT-1200GMT", "GMT-1100GMT", "GMT-1000GMT", "GMT-0900GMT", "PST-0800PDT", "GMT-0700GMT",
    "MST-0700MDT", "CST-0600CDT", "GMT-0600GMT", "GMT-0600GMT", "GMT-0500GMT", "EST-0500EDT",
    "GMT-0500GMT", "GMT-0400GMT", "GMT-0400GMT", "GMT-0300GMT", "GMT-0300GMT", "GMT-0330GMT",
    "GMT-0200GMT", "GMT-0100GMT", "GMT0000GMT",  "GMT0000GMT",  "GMT+0100GMT", "GMT+0100GMT",
    "GMT+0100GMT", "GMT+0100GMT", "GMT+0200GMT", "GMT+0200GMT", "GMT+0200GMT", "GMT+0200GMT",
    "GMT+0200GMT", "GMT+0300GMT", "GMT+0300GMT", "GMT+0330GMT", "GMT+0400GMT", "GMT+0430GMT",
    "GMT+0500GMT", "GMT+0530GMT", "GMT+0600GMT", "GMT+0700GMT", "GMT+0800GMT", "GMT+0800GMT",
    "GMT+0900GMT", "GMT+0930GMT", "GMT+0930GMT", "GMT+1000GMT", "GMT+1000GMT", "GMT+1000GMT",
    "GMT+1100GMT", "GMT+1200GMT", "GMT+1200GMT",
};

const char* const kDisplayTable[kTableSize] = {
    "(GMT-12:00) Eniwetok, Kwajalein",
    "(GMT-11:00) Midway Island, Samoa",
    "(GMT-10:00) Hawaii",
    "(GMT-09:00) Alaska",
    "(GMT-08:00) Pacific Time US & Canada; Tijuana",
    "(GMT-07:00) Arizona",
    "(GMT-07:00) Mountain Time US & Canada",
    "(GMT-06:00) Central Time US & Canada",
    "(GMT-06:00) Mexico City, Tegucigalpa",
    "(GMT-06:00) Saskatchewan",
    "(GMT-05:00) Bogota, Lima",
    "(GMT-05:00) Eastern Time US & Canada",
    "(GMT-05:00) Indiana East",
    "(GMT-04:00) Atlantic Time Canada",
    "(GMT-04:00) Caracas, La Paz",
    "(GMT-03:00) Brasilia",
    "(GMT-03:00) Buenos Aires, Georgetown",
    "(GMT-03:30) Newfoundland",
    "(GMT-02:00) Mid-Atlantic",
    "(GMT-01:00) Azores, Cape Verde Is.",
    "(GMT+00:00) Greenwich Mean Time; Dublin, Edinburgh",
    "(GMT+00:00) Monrovia, Casablanca",
    "(GMT+01:00) Berlin, Stockholm, Rome, Bern, Brussels, Vienna, Amsterdam",
    "(GMT+01:00) Lisbon, Warsaw",
    "(GMT+01:00) Paris, Madrid",
    "(GMT+01:00) Prague",
    "(GMT+02:00) Athens, Helsinki, Istanbul",
    "(GMT+02:00) Cairo",
    "(GMT+02:00) Eastern Europe",
    "(GMT+02:00) Harare, Pretoria",
    "(GMT+02:00) Israel",
    "(GMT+03:00) Baghdad, Kuwait, Nairobi, Riyadh",
    "(GMT+03:00) Moscow, St. Petersburg",
    "(GMT+03:30) Tehran",
    "(GMT+04:00) Abu Dhabi, Muscat, Tbilisi, Kazan, Volgograd",
    "(GMT+04:30) Kabul",
    "(GMT+05:00) Islamabad, Karachi, Ekaterinburg, Tashkent",
    "(GMT+05:30) Bombay, Calcutta, Madras, New Delhi, Colombo",
    "(GMT+06:00) Almaty, Dhaka",
    "(GMT+07:00) Bangkok, Jakarta, Hanoi",
    "(GMT+08:00) Beijing, Chongqing, Urumqi",
    "(GMT+08:00) Hong Kong, Perth, Singapore, Taipei",
    "(GMT+09:00) Tokyo, Osaka, Sapporo, Seoul, Yakutsk",
    "(GMT+09:30) Adelaide",
    "(GMT+09:30) Darwin",
    "(GMT+10:00) Brisbane, Melbourne, Sydney",
    "(GMT+10:00) Guam, Port Moresby, Vladivostok",
    "(GMT+10:00) Hobart",
    "(GMT+11:00) Magadan, Solomon Is., New Caledonia",
    "(GMT+12:00) Fiji, Kamchatka, Marshall Is.",
    "(GMT+12:00) Wellington, Auckland",
};

struct ProcessState {
    std::string text = "GMT+0000";
    TzInfo info{"GMT", 0, ""};
    bool bFromSystem = false;
};

ProcessState& State()
{
    static ProcessState s_state;
    return s_state;
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's method).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// Day of the month of the n-th (1-based) Sunday of a month.
int NthSunday(int iYear, int iMonth, int n)
{
    std::int64_t first = DaysFromCivil(iYear, static_cast<unsigned>(iMonth), 1);
    int weekday = static_cast<int>(((first % 7) + 7 + 4) % 7); // 1970-01-01 was a Thursday
    int firstSunday = 1 + (7 - weekday) % 7;
    return firstSunday + 7 * (n - 1);
}

// Whether daylight-saving time is in force at a UTC instant.
bool InDaylight(std::int64_t tUtc, const TzInfo& zone)
{
    if (!zone.HasDaylightSaving())
        return false;
    LocalTime std;
    ToCivil(tUtc + zone.iOffsetMinutes * 60, std);
    int y = std.iYear;
    // Starts at 02:00 standard time, ends at 02:00 daylight time (01:00 standard).
    std::int64_t start = FromCivil(y, 3, NthSunday(y, 3, 2), 2, 0, 0) - zone.iOffsetMinutes * 60;
    std::int64_t end = FromCivil(y, 11, NthSunday(y, 11, 1), 1, 0, 0) - zone.iOffsetMinutes * 60;
    return tUtc >= start && tUtc < end;
}

} // namespace

std::string TextFromBias(int iBiasMinutes)
{
    char buf[32];
    int a = std::abs(iBiasMinutes);
    std::snprintf(buf, sizeof buf, "GMT%c%02d%02d", iBiasMinutes <= 0 ? '+' : '-', a / 60, a % 60);
    return buf;
}

const char* TextForIndex(int iIndex)
{
    if (iIndex < 0 || iIndex >= kTableSize)
        iIndex = 20;
    return kTzTable[iIndex];
}

const char* DisplayTextForIndex(int iIndex)
{
    if (iIndex < 0 || iIndex >= kTableSize)
        iIndex = 20;
    return kDisplayTable[iIndex];
}

bool Parse(const std::string& text, TzInfo& info)
{
    std::size_t i = 0;
    auto letters = [&](std::string& out) {
        std::size_t start = i;
        while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i])))
            ++i;
        out = text.substr(start, i - start);
        return i - start == 3;
    };
    TzInfo result;
    if (!letters(result.stdName))
        return false;
    int sign = 1;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        sign = text[i] == '-' ? -1 : 1;
        ++i;
    }
    std::size_t start = i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
        ++i;
    std::string digits = text.substr(start, i - start);
    int hours = 0, minutes = 0;
    if (digits.size() == 1 || digits.size() == 2) {
        hours = std::atoi(digits.c_str());
    } else if (digits.size() == 3 || digits.size() == 4) {
        int v = std::atoi(digits.c_str());
        hours = v / 100;
        minutes = v % 100;
    } else {
        return false;
    }
    if (hours > 14 || minutes > 59)
        return false;
    result.iOffsetMinutes = sign * (hours * 60 + minutes);
    if (i < text.size()) {
        if (!letters(result.dstName) || i != text.size())
            return false;
    }
    info = result;
    return true;
}

int SystemBias()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return static_cast<int>(-local.tm_gmtoff / 60);
}

std::int64_t FromCivil(int iYear, int iMonth, int iDay, int iHour, int iMinute, int iSecond)
{
    // Months outside 1..12 roll into neighbouring years, as mktime does.
    std::int64_t y = iYear;
    std::int64_t m = iMonth - 1;
    y += m >= 0 ? m / 12 : -((11 - m) / 12);
    m = ((m % 12) + 12) % 12;
    std::int64_t days = DaysFromCivil(y, static_cast<unsigned>(m + 1), 1) + (iDay - 1);
    return days * 86400 + static_cast<std::int64_t>(iHour) * 3600 +
           static_cast<std::int64_t>(iMinute) * 60 + iSecond;
}

void ToCivil(std::int64_t t, LocalTime& out)
{
    std::int64_t days = t >= 0 ? t / 86400 : -((-t + 86399) / 86400);
    std::int64_t secs = t - days * 86400;
    out.iHour = static_cast<int>(secs / 3600);
    out.iMinute = static_cast<int>(secs % 3600 / 60);
    out.iSecond = static_cast<int>(secs % 60);
    out.iWeekday = static_cast<int>(((days % 7) + 7 + 4) % 7);
    std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    out.iYear = static_cast<int>(y + (m <= 2));
    out.iMonth = static_cast<int>(m);
    out.iDay = static_cast<int>(d);
    out.iYearDay = static_cast<int>(days - DaysFromCivil(out.iYear, 1, 1));
}

LocalTime ToLocal(std::int64_t tUtc, const TzInfo& zone)
{
    LocalTime lt;
    bool bDst = InDaylight(tUtc, zone);
    int offset = zone.iOffsetMinutes + (bDst ? 60 : 0);
    ToCivil(tUtc + static_cast<std::int64_t>(offset) * 60, lt);
    lt.iOffsetMinutes = offset;
    lt.bDaylight = bDst;
    lt.zoneName = bDst ? zone.dstName : zone.stdName;
    return lt;
}

std::int64_t FromLocal(int iYear, int iMonth, int iDay, int iHour, int iMinute, int iSecond,
                       const TzInfo& zone)
{
    std::int64_t local = FromCivil(iYear, iMonth, iDay, iHour, iMinute, iSecond);
    std::int64_t t = local - static_cast<std::int64_t>(zone.iOffsetMinutes) * 60;
    // Standard time first; where that instant lies in daylight time, the
    // wall clock was an hour ahead.
    if (InDaylight(t - 3600, zone))
        t -= 3600;
    return t;
}

void SetProcessZone(const std::string& text, bool bFromSystemBias)
{
    TzInfo info;
    if (!Parse(text, info)) {
        info = TzInfo{"GMT", 0, ""};
    }
    State().text = text;
    State().info = info;
    State().bFromSystem = bFromSystemBias;
}

const TzInfo& ProcessZone() { return State().info; }

const std::string& ProcessZoneText() { return State().text; }

bool ProcessZoneFromSystem() { return State().bFromSystem; }

LocalTime ToProcessLocal(std::int64_t tUtc) { return ToLocal(tUtc, ProcessZone()); }

std::int64_t FromProcessLocal(int iYear, int iMonth, int iDay, int iHour, int iMinute, int iSecond)
{
    return FromLocal(iYear, iMonth, iDay, iHour, iMinute, iSecond, ProcessZone());
}

} // namespace tz
