// The process time zone.
//
// Start-up turns the system's zone bias into a TZ text ("GMT+0530": zone
// name, offset with '+' east of Greenwich, optional daylight-saving name) and
// every local time of the program is computed from that text by the
// conversions below.  The text is never handed to the C library, which reads
// the sign of an offset the other way round.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

struct TzInfo {
    std::string stdName;    // e.g. "GMT", "PST"
    int iOffsetMinutes = 0; // local = UTC + offset
    std::string dstName;    // empty when the text names no daylight zone
    // Daylight-saving time applies when the text names a daylight zone that
    // differs from the standard one.  The rule is the North American one
    // (second Sunday of March 02:00 to first Sunday of November 02:00): the
    // zones of the table with a daylight name are North American.
    bool HasDaylightSaving() const { return !dstName.empty() && dstName != stdName; }
};

struct LocalTime {
    int iYear = 1970; // full year
    int iMonth = 1;   // 1..12
    int iDay = 1;     // 1..31
    int iHour = 0, iMinute = 0, iSecond = 0;
    int iWeekday = 4; // 0 = Sunday
    int iYearDay = 0; // 0..365
    int iOffsetMinutes = 0;
    bool bDaylight = false;
    std::string zoneName;
};

namespace tz {

// "TZ=GMT%c%02d%02d" without the "TZ=": '+' when the bias (UTC = local +
// bias, in minutes) is 0 or negative, '-' when positive.
std::string TextFromBias(int iBiasMinutes);
// The table entry for a "Servers" "TimeZone" index (0..50); out-of-range
// indexes give index 20 (Greenwich).
const char* TextForIndex(int iIndex);
constexpr int kTableSize = 51;
// The display text of a time-zone index (string resources 511..561).
const char* DisplayTextForIndex(int iIndex);

// Parses a TZ text; false when it is not of the form above.
bool Parse(const std::string& text, TzInfo& info);

// The system's current bias in minutes (UTC = local + bias).
int SystemBias();

// Seconds since 1970 for a proleptic Gregorian UTC date and time, and back.
std::int64_t FromCivil(int iYear, int iMonth, int iDay, int iHour, int iMinute, int iSecond);
void ToCivil(std::int64_t t, LocalTime& out);

// Conversions in the given zone.
LocalTime ToLocal(std::int64_t tUtc, const TzInfo& zone);
std::int64_t FromLocal(int iYear, int iMonth, int iDay, int iHour, int iMinute, int iSecond,
                       const TzInfo& zone);

// The process zone: set once by start-up ("GMT+0000" until then).
void SetProcessZone(const std::string& text, bool bFromSystemBias);
const TzInfo& ProcessZone();
const std::string& ProcessZoneText();
// True when the process zone came from the system's bias (then it has no
// daylight name and "GMT" beside a local time would mislead: writers of
// Date: headers give the numeric offset instead).
bool ProcessZoneFromSystem();

// Local time in the process zone.
LocalTime ToProcessLocal(std::int64_t tUtc);
std::int64_t FromProcessLocal(int iYear, int iMonth, int iDay, int iHour, int iMinute, int iSecond);

} // namespace tz
