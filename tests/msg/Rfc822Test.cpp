#include "msg/Rfc822.h"

#include "util/TimeZone.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

std::int64_t Utc(int y, int mo, int d, int h, int mi, int s)
{
    return tz::FromCivil(y, mo, d, h, mi, s);
}

class ZoneGuard {
public:
    ZoneGuard(const char* text, bool bSystem) { tz::SetProcessZone(text, bSystem); }
    ~ZoneGuard() { tz::SetProcessZone("GMT+0000", false); }
};

} // namespace

// ---------------------------------------------------------------- dates in

TEST(ParseRfc822Date, Forms)
{
    const std::int64_t t = Utc(1995, 11, 7, 8, 30, 0); // 08:30 UTC
    const struct {
        const char* text;
        std::int64_t want;
    } rows[] = {
        // RFC order, numeric zones; a sign standing apart from its digits.
        {"Tue, 07 Nov 1995 08:30:00 -0500", t + 5 * 3600},
        {"Tue, 07 Nov 1995 08:30:00 +0530", t - 5 * 3600 - 1800},
        {"Tue, 07 Nov 1995 08:30:00 - 0500", t + 5 * 3600},
        // ctime order, with and without a zone and a weekday.
        {"Tue Nov 7 08:30:00 1995", t},
        {"Tue Nov  7 08:30:00 EST 1995", t + 5 * 3600},
        {"Nov 7 08:30:00 1995", t},
        // The day is checked against the month (February always allows 29).
        {"Tue Apr 31 08:30:00 1995", -1},
        {"Tue Feb 30 08:30:00 1996", -1},
        {"Thu Feb 29 08:30:00 1996", Utc(1996, 2, 29, 8, 30, 0)},
        // Four-digit times; a lone hour followed by something else is minutes;
        // an impossible time keeps its hour part.
        {"7 Nov 95 0830 EST", t + 5 * 3600},
        {"7 Nov 95 0830", t},
        {"7 Nov 95 8 EST", Utc(1995, 11, 7, 5, 8, 0)},
        {"7 Nov 95 0875 EST", Utc(1995, 11, 7, 8, 0, 0)},
        {"7 Nov 95 08:30 PDT", t + 7 * 3600},
        // Two- and three-digit years, and the years before 1970 (of no use: -1).
        {"1 Jan 00 00:00:00 GMT", Utc(2000, 1, 1, 0, 0, 0)},
        {"1 Jan 49 00:00:00 GMT", Utc(2049, 1, 1, 0, 0, 0)},
        {"1 Jan 99 00:00:00 GMT", Utc(1999, 1, 1, 0, 0, 0)},
        {"1 Jan 70 00:00:00 GMT", 0},
        {"1 Jan 101 00:00:00 GMT", Utc(2001, 1, 1, 0, 0, 0)},
        {"1 Jan 5 00:00:00 GMT", Utc(2005, 1, 1, 0, 0, 0)},
        {"1 Jan 1969 00:00:00 GMT", -1},
        {"1 Jan 55 00:00:00 GMT", -1},
        // Beyond 2038: times are 64-bit.
        {"Mon, 1 Mar 2100 12:00:00 +0100", Utc(2100, 3, 1, 11, 0, 0)},
        // Dashes, long names, any case, tabs.
        {"7-Nov-1995 08:30:00 GMT", t},
        {"Tuesday, 7 November 1995 08:30 +0000", t},
        {"tUe, 7 nOV 1995 08:30:00 gmt", t},
        {"\t Tue,\t7 Nov 1995\t08:30:00\tGMT  ", t},
        // Field ranges and incomplete values.
        {"", -1},
        {"   ", -1},
        {"garbage", -1},
        {"0 Nov 1995 08:30:00 GMT", -1},
        {"32 Nov 1995 08:30:00 GMT", -1},
        {"7 Nov 1995 08:30:60 GMT", -1},
        {"31 Nov 1995 08:30:00 GMT", -1}, // ends the parse before the year
        {"7 Foo 1995 08:30:00 GMT", -1},
        {"Tue, 07 Nov", -1},
        // A minute out of range ends the parse with the minute 0 and no zone.
        {"7 Nov 1995 08:60:00 EST", Utc(1995, 11, 7, 8, 0, 0)},
        // Parts left out after the year count as 0; a comment is no zone.
        {"7 Nov 1995", Utc(1995, 11, 7, 0, 0, 0)},
        {"Tue, 07 Nov 1995 08:30:00 (EST)", t},
        // Digit runs are cut at 20 characters; huge numbers do not overflow.
        {"1234567890123456789012345 Nov 1995", -1},
        {"7 Nov 99999999999999999999", Utc(1000000000, 11, 7, 0, 0, 0)},
        {"7 Nov 1995 99999999999999999999 +99999999999999", Utc(1995, 11, 7, 10000000, 0, 0)},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ParseRfc822Date(row.text), row.want) << row.text;
}

TEST(ParseRfc822Date, RoundTripThroughFormat)
{
    const char* zones[] = {"EST-0500EDT", "GMT+0530GMT", "PST-0800PDT", "GMT0000GMT"};
    for (const char* z : zones) {
        for (bool bSystem : {false, true}) {
            ZoneGuard guard(z, bSystem);
            for (std::int64_t t = Utc(2000, 1, 1, 0, 0, 0); t < Utc(2049, 12, 1, 0, 0, 0);
                 t += 86400 * 37 + 3671) {
                std::string text = FormatRfc822Date(t);
                ASSERT_EQ(ParseRfc822Date(text), t) << text << " zone " << z;
            }
        }
    }
}

// ---------------------------------------------------------------- zones

TEST(ParseTimeZone, NumbersAndNames)
{
    EXPECT_EQ(ParseTimeZone("-0330"), -210);
    EXPECT_EQ(ParseTimeZone("0100"), 60);
    EXPECT_EQ(ParseTimeZone("-05"), -300);
    EXPECT_EQ(ParseTimeZone("+5"), 300);
    EXPECT_EQ(ParseTimeZone("+99999999999999999999"), 10000000 / 100 * 60);
    // Names: any case, a sign before a name is ignored; the table's ends.
    EXPECT_EQ(ParseTimeZone("-est"), -300);
    EXPECT_EQ(ParseTimeZone("NZDT"), 780);
    EXPECT_EQ(ParseTimeZone("WDT"), 540);
    EXPECT_EQ(ParseTimeZone("NST"), -210);
    for (const char* none : {"", "+", "XYZ", "ESTX"})
        EXPECT_EQ(ParseTimeZone(none), 0) << none;
}

// ---------------------------------------------------------------- dates out

TEST(FormatRfc822Date, ZoneNamesAndNumbers)
{
    const struct {
        const char* zone;
        bool bSystem;
        std::int64_t t;
        const char* want;
    } rows[] = {
        // A named zone follows daylight saving.
        {"EST-0500EDT", false, Utc(1995, 11, 7, 13, 30, 0), "Tue, 07 Nov 95 08:30:00 EST"},
        {"EST-0500EDT", false, Utc(2026, 7, 4, 12, 0, 5), "Sat, 04 Jul 26 08:00:05 EDT"},
        // A name that disagrees with the time gives the number.
        {"GMT+0100GMT", false, Utc(2026, 3, 1, 9, 0, 0), "Sun, 01 Mar 26 10:00:00 +0100"},
        {"GMT0000GMT", false, Utc(2026, 3, 1, 9, 0, 0), "Sun, 01 Mar 26 09:00:00 GMT"},
        // The system's bias always gives the number, across day and year ends.
        {"GMT+0530", true, Utc(2026, 1, 31, 20, 0, 0), "Sun, 01 Feb 26 01:30:00 +0530"},
        {"GMT-0330", true, Utc(2026, 1, 1, 2, 0, 0), "Wed, 31 Dec 25 22:30:00 -0330"},
        {"GMT+0000", true, Utc(2001, 9, 9, 1, 46, 40), "Sun, 09 Sep 01 01:46:40 +0000"},
    };
    for (const auto& row : rows) {
        ZoneGuard guard(row.zone, row.bSystem);
        EXPECT_EQ(FormatRfc822Date(row.t), row.want) << row.zone;
    }
    std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    EXPECT_LE(std::abs(ParseRfc822Date(FormatRfc822Date()) - now), 5) << "the current time";
}

// ---------------------------------------------------------------- Message-ID

TEST(MakeMessageId, FormatCounterHostAndUniqueness)
{
    ZoneGuard guard("GMT0000GMT", false);
    std::uint32_t before = MessageIdCounter();
    std::string a = MakeMessageId(Utc(1995, 11, 7, 13, 30, 5), "host.example");
    std::string b = MakeMessageId(Utc(1995, 11, 7, 13, 30, 5), "host.example");
    EXPECT_EQ(a, "110795133005." + std::to_string(before) + "@host.example");
    EXPECT_EQ(b, "110795133005." + std::to_string(before + 1) + "@host.example");
    EXPECT_EQ(MessageIdCounter(), before + 2);
    // The year counts from 1900.
    EXPECT_EQ(MakeMessageId(Utc(2026, 2, 3, 4, 5, 6), "h").substr(0, 13), "0203126040506");
    // The host name is cut to 100 characters; ids of now are unique.
    std::string id = MakeMessageId(0, std::string(300, 'x'));
    EXPECT_EQ(id.substr(id.find('@') + 1), std::string(100, 'x'));
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        std::string cur = MakeMessageId();
        EXPECT_EQ(cur.find_first_of(" <>\r\n"), std::string::npos);
        EXPECT_TRUE(seen.insert(cur).second) << cur;
    }
}

// ---------------------------------------------------------------- tokens

namespace {

// The tokens of a text as "kind:text" words: atom token quoted domain comment
// special tspecial control end bad.
std::string Tokens(int iMode, const std::string& text, int nLen = 256)
{
    static const char* const kNames[] = {"bad",     "atom",    "token",    "quoted",  "domain",
                                         "comment", "special", "tspecial", "control", "end"};
    std::string out;
    std::vector<char> buf(static_cast<std::size_t>(nLen));
    const char* p = text.data();
    const char* end = text.data() + text.size();
    for (int guard = 0; guard < 1000; ++guard) {
        TokenKind k;
        const char* next = NextToken(iMode, p, buf.data(), nLen, &k, end);
        EXPECT_TRUE(next >= p && next <= end);
        int iKind = static_cast<int>(k);
        out +=
            std::string(out.empty() ? "" : " ") + kNames[iKind < 0 ? 0 : iKind] + ":" + buf.data();
        if (k == TokenKind::End || k == TokenKind::BadToken)
            break;
        EXPECT_GT(next, p) << "no progress";
        p = next;
    }
    return out;
}

} // namespace

TEST(NextToken, KindsByModeQuotedLiteralCommentAndControls)
{
    EXPECT_EQ(Tokens(kTokenMime, " text/plain; charset=\"us-ascii\"  "),
              "token:text tspecial:/ token:plain tspecial:; token:charset tspecial:= "
              "quoted:us-ascii end:");
    EXPECT_EQ(Tokens(kTokenRfc822, "text/plain;a=b?c.d"),
              "atom:text/plain special:; atom:a=b?c special:. atom:d end:");
    EXPECT_EQ(Tokens(kTokenMime, "text/plain;a=b?c.d"),
              "token:text tspecial:/ token:plain tspecial:; token:a tspecial:= token:b "
              "tspecial:? token:c.d end:");
    // Every special of each set stands alone.
    for (char c : std::string("<>@,;:\\.)]"))
        EXPECT_EQ(Tokens(kTokenRfc822, std::string("a") + c + "b"),
                  std::string("atom:a special:") + c + " atom:b end:");
    for (char c : std::string("<>@,;:\\/)]?="))
        EXPECT_EQ(Tokens(kTokenMime, std::string("a") + c + "b"),
                  std::string("token:a tspecial:") + c + " token:b end:");
    EXPECT_EQ(Tokens(kTokenRfc822, "\"a \\\"b\\\\ (c)\" x"), "quoted:a \"b\\ (c) atom:x end:");
    EXPECT_EQ(Tokens(kTokenRfc822, "[10.0.\\]0.1]"), "domain:10.0.]0.1 end:");
    EXPECT_EQ(Tokens(kTokenMime, "(outer (inner \\) x) tail)y"),
              "comment:outer (inner ) x) tail token:y end:");
    EXPECT_EQ(Tokens(kTokenMime, "\"\""), "quoted: end:");
}

TEST(NextToken, UnterminatedOrTooLongIsBadControlsStandAlone)
{
    for (const char* bad : {"\"abc", "\"abc\\", "(a (b)", "[abc", "[a[b]"})
        EXPECT_EQ(Tokens(kTokenMime, bad).substr(0, 4), "bad:") << bad;
    // A quoted string or comment that does not fit the buffer is bad as well;
    // a long atom comes in pieces.
    EXPECT_EQ(Tokens(kTokenMime, "\"abcdef\"", 4).substr(0, 4), "bad:");
    EXPECT_EQ(Tokens(kTokenMime, "\"abc\"", 4), "quoted:abc end:");
    EXPECT_EQ(Tokens(kTokenMime, "(abcdef)", 4).substr(0, 4), "bad:");
    EXPECT_EQ(Tokens(kTokenMime, "abcdefgh;", 4), "token:abc token:def token:gh tspecial:; end:");
    std::string text("a\rb\177c\344\377d\0e", 10); // octal: a hex escape would take the letter
    EXPECT_EQ(Tokens(kTokenRfc822, text),
              "atom:a control:\r atom:b control:\177 atom:c\344\377d control: atom:e end:");
    // Without an end pointer the text ends at its NUL.
    char buf[8];
    TokenKind k;
    const char* p = NextToken(kTokenMime, "\t \t", buf, sizeof buf, &k);
    EXPECT_EQ(k, TokenKind::End);
    EXPECT_EQ(*p, '\0');
}
