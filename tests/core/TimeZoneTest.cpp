#include "util/TimeZone.h"
#include "core/Strings.h"

#include <gtest/gtest.h>

TEST(TimeZone, BiasGivesTheTzText)
{
    EXPECT_EQ(tz::TextFromBias(210), "GMT-0330");
    EXPECT_EQ(tz::TextFromBias(-330), "GMT+0530");
    EXPECT_EQ(tz::TextFromBias(0), "GMT+0000");
}

TEST(TimeZone, TableAndDisplayTexts)
{
    // The first and last entries; out of range gives GMT.
    EXPECT_STREQ(tz::TextForIndex(0), "GMT-1200GMT");
    EXPECT_STREQ(tz::TextForIndex(50), "GMT+1200GMT");
    EXPECT_STREQ(tz::TextForIndex(51), "GMT0000GMT");
    EXPECT_STREQ(tz::TextForIndex(-1), "GMT0000GMT");
    EXPECT_EQ(LoadStringRes(511 + 17), "(GMT-03:30) Newfoundland");
    EXPECT_EQ(LoadStringRes(99999), "");
    // Every entry parses, and its offset matches the display text.
    for (int i = 0; i < tz::kTableSize; ++i) {
        TzInfo info;
        ASSERT_TRUE(tz::Parse(tz::TextForIndex(i), info)) << i;
        std::string disp = tz::DisplayTextForIndex(i);
        int h = std::stoi(disp.substr(4, 3));
        int m = std::stoi(disp.substr(8, 2));
        EXPECT_EQ(info.iOffsetMinutes, h * 60 + (h < 0 ? -m : m)) << disp;
    }
}

TEST(TimeZone, ParsesNamesOffsetsAndDaylightNames)
{
    TzInfo z;
    ASSERT_TRUE(tz::Parse("GMT-0500", z));
    EXPECT_EQ(z.stdName, "GMT");
    EXPECT_EQ(z.iOffsetMinutes, -300) << "'+' is east: -0500 is five hours west";
    EXPECT_FALSE(z.HasDaylightSaving());
    ASSERT_TRUE(tz::Parse("GMT+0530", z));
    EXPECT_EQ(z.iOffsetMinutes, 330);
    ASSERT_TRUE(tz::Parse("EST-0500EDT", z));
    EXPECT_EQ(z.dstName, "EDT");
    EXPECT_TRUE(z.HasDaylightSaving());
    ASSERT_TRUE(tz::Parse("GMT+0100GMT", z));
    EXPECT_FALSE(z.HasDaylightSaving());
    for (const char* bad :
         {"", "GM+0100", "GMT+01000", "GMT+2500", "GMT+0160", "GMT+0100ED", "GMTX"})
        EXPECT_FALSE(tz::Parse(bad, z)) << bad;
}

TEST(TimeZone, CivilConversionsRoundTripAcrossCenturiesAnd2038)
{
    EXPECT_EQ(tz::FromCivil(1970, 1, 1, 0, 0, 0), 0);
    EXPECT_EQ(tz::FromCivil(2038, 1, 19, 3, 14, 8), 2147483648LL);
    EXPECT_EQ(tz::FromCivil(2000, 2, 29, 12, 0, 0), 951825600LL);
    EXPECT_EQ(tz::FromCivil(2026, 13, 1, 0, 0, 0), tz::FromCivil(2027, 1, 1, 0, 0, 0));
    for (std::int64_t t : {-86401LL, 0LL, 951825600LL, 4102444799LL, 253402300799LL}) {
        LocalTime lt;
        tz::ToCivil(t, lt);
        EXPECT_EQ(tz::FromCivil(lt.iYear, lt.iMonth, lt.iDay, lt.iHour, lt.iMinute, lt.iSecond), t);
    }
    LocalTime lt;
    tz::ToCivil(951825600LL, lt);
    EXPECT_EQ(lt.iMonth, 2);
    EXPECT_EQ(lt.iDay, 29);
    EXPECT_EQ(lt.iWeekday, 2); // a Tuesday
    EXPECT_EQ(lt.iYearDay, 59);
}

TEST(TimeZone, DaylightSavingForNorthAmericanEntries)
{
    TzInfo z;
    ASSERT_TRUE(tz::Parse("EST-0500EDT", z));
    // 2026: daylight time from 8 March 07:00 UTC to 1 November 06:00 UTC (the
    // names and hours of each side are the date formatter's rows).
    EXPECT_FALSE(tz::ToLocal(tz::FromCivil(2026, 3, 8, 6, 59, 59), z).bDaylight);
    EXPECT_TRUE(tz::ToLocal(tz::FromCivil(2026, 3, 8, 7, 0, 0), z).bDaylight);
    EXPECT_TRUE(tz::ToLocal(tz::FromCivil(2026, 11, 1, 5, 59, 59), z).bDaylight);
    EXPECT_FALSE(tz::ToLocal(tz::FromCivil(2026, 11, 1, 6, 0, 0), z).bDaylight);
    EXPECT_EQ(tz::FromLocal(2026, 7, 1, 8, 0, 0, z), tz::FromCivil(2026, 7, 1, 12, 0, 0));
    EXPECT_EQ(tz::FromLocal(2026, 1, 15, 7, 0, 0, z), tz::FromCivil(2026, 1, 15, 12, 0, 0));
}

TEST(TimeZone, ProcessZoneNeverTouchesTheCLibrary)
{
    const char* before = std::getenv("TZ");
    std::string saved = before ? before : "";
    tz::SetProcessZone("GMT-0500", true);
    EXPECT_EQ(tz::ProcessZone().iOffsetMinutes, -300);
    EXPECT_TRUE(tz::ProcessZoneFromSystem());
    EXPECT_EQ(tz::ToProcessLocal(tz::FromCivil(2026, 1, 1, 5, 0, 0)).iHour, 0);
    const char* after = std::getenv("TZ");
    EXPECT_EQ(after ? std::string(after) : std::string(), saved);
    tz::SetProcessZone("not a zone", false);
    EXPECT_EQ(tz::ProcessZone().iOffsetMinutes, 0);
    tz::SetProcessZone("GMT+0000", true);
}
