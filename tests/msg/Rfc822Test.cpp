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

TEST(ParseRfc822Date, RfcOrderWithNumericZone)
{
    EXPECT_EQ(ParseRfc822Date("Tue, 07 Nov 1995 08:30:00 -0500"), Utc(1995, 11, 7, 13, 30, 0));
    EXPECT_EQ(ParseRfc822Date("Tue, 07 Nov 1995 08:30:00 +0530"), Utc(1995, 11, 7, 3, 0, 0));
    EXPECT_EQ(ParseRfc822Date("07 Nov 1995 08:30:00 +0000"), Utc(1995, 11, 7, 8, 30, 0));
    // A sign standing apart from its digits is joined with them.
    EXPECT_EQ(ParseRfc822Date("Tue, 07 Nov 1995 08:30:00 - 0500"), Utc(1995, 11, 7, 13, 30, 0));
}

TEST(ParseRfc822Date, CtimeOrder)
{
    EXPECT_EQ(ParseRfc822Date("Tue Nov 7 08:30:00 1995"), Utc(1995, 11, 7, 8, 30, 0));
    EXPECT_EQ(ParseRfc822Date("Tue Nov  7 08:30:00 EST 1995"), Utc(1995, 11, 7, 13, 30, 0));
    EXPECT_EQ(ParseRfc822Date("Nov 7 08:30:00 1995"), Utc(1995, 11, 7, 8, 30, 0));
    // The day is checked against the month (February always allows 29).
    EXPECT_EQ(ParseRfc822Date("Tue Apr 31 08:30:00 1995"), -1);
    EXPECT_EQ(ParseRfc822Date("Tue Feb 30 08:30:00 1996"), -1);
    EXPECT_EQ(ParseRfc822Date("Thu Feb 29 08:30:00 1996"), Utc(1996, 2, 29, 8, 30, 0));
}

TEST(ParseRfc822Date, FourDigitTimeAndNamedZone)
{
    EXPECT_EQ(ParseRfc822Date("7 Nov 95 0830 EST"), Utc(1995, 11, 7, 13, 30, 0));
    // Also without anything after the time.
    EXPECT_EQ(ParseRfc822Date("7 Nov 95 0830"), Utc(1995, 11, 7, 8, 30, 0));
    // A lone hour followed by something else is minutes past midnight.
    EXPECT_EQ(ParseRfc822Date("7 Nov 95 8 EST"), Utc(1995, 11, 7, 5, 8, 0));
    // An impossible four-digit time keeps its hour part and drops the rest.
    EXPECT_EQ(ParseRfc822Date("7 Nov 95 0875 EST"), Utc(1995, 11, 7, 8, 0, 0));
    EXPECT_EQ(ParseRfc822Date("7 Nov 95 08:30 PDT"), Utc(1995, 11, 7, 15, 30, 0));
}

TEST(ParseRfc822Date, Years)
{
    EXPECT_EQ(ParseRfc822Date("1 Jan 2026 00:00:00 GMT"), Utc(2026, 1, 1, 0, 0, 0));
    EXPECT_EQ(ParseRfc822Date("1 Jan 26 00:00:00 GMT"), Utc(2026, 1, 1, 0, 0, 0));
    EXPECT_EQ(ParseRfc822Date("1 Jan 00 00:00:00 GMT"), Utc(2000, 1, 1, 0, 0, 0));
    EXPECT_EQ(ParseRfc822Date("1 Jan 49 00:00:00 GMT"), Utc(2049, 1, 1, 0, 0, 0));
    EXPECT_EQ(ParseRfc822Date("1 Jan 99 00:00:00 GMT"), Utc(1999, 1, 1, 0, 0, 0));
    EXPECT_EQ(ParseRfc822Date("1 Jan 70 00:00:00 GMT"), 0);
    EXPECT_EQ(ParseRfc822Date("1 Jan 101 00:00:00 GMT"), Utc(2001, 1, 1, 0, 0, 0));
    EXPECT_EQ(ParseRfc822Date("1 Jan 5 00:00:00 GMT"), Utc(2005, 1, 1, 0, 0, 0));
    // Beyond 2038: times are 64-bit.
    std::int64_t t = ParseRfc822Date("Mon, 1 Mar 2100 12:00:00 +0100");
    EXPECT_EQ(t, Utc(2100, 3, 1, 11, 0, 0));
    EXPECT_GT(t, std::int64_t{0x7FFFFFFFLL});
    // Before 1970 is of no use: -1, the callers take the current time.
    EXPECT_EQ(ParseRfc822Date("1 Jan 1969 00:00:00 GMT"), -1);
    EXPECT_EQ(ParseRfc822Date("1 Jan 55 00:00:00 GMT"), -1);
}

TEST(ParseRfc822Date, DashesAndLongNames)
{
    EXPECT_EQ(ParseRfc822Date("7-Nov-1995 08:30:00 GMT"), Utc(1995, 11, 7, 8, 30, 0));
    EXPECT_EQ(ParseRfc822Date("Tuesday, 7 November 1995 08:30 +0000"), Utc(1995, 11, 7, 8, 30, 0));
    EXPECT_EQ(ParseRfc822Date("tUe, 7 nOV 1995 08:30:00 gmt"), Utc(1995, 11, 7, 8, 30, 0));
    EXPECT_EQ(ParseRfc822Date("\t Tue,\t7 Nov 1995\t08:30:00\tGMT  "), Utc(1995, 11, 7, 8, 30, 0));
}

TEST(ParseRfc822Date, FieldRangesAndIncompleteValues)
{
    EXPECT_EQ(ParseRfc822Date(""), -1);
    EXPECT_EQ(ParseRfc822Date("   "), -1);
    EXPECT_EQ(ParseRfc822Date("garbage"), -1);
    EXPECT_EQ(ParseRfc822Date("0 Nov 1995 08:30:00 GMT"), -1);
    EXPECT_EQ(ParseRfc822Date("32 Nov 1995 08:30:00 GMT"), -1);
    EXPECT_EQ(ParseRfc822Date("7 Nov 1995 08:30:60 GMT"), -1);
    // 31 November ends the parse before the year: no usable date.
    EXPECT_EQ(ParseRfc822Date("31 Nov 1995 08:30:00 GMT"), -1);
    EXPECT_EQ(ParseRfc822Date("7 Foo 1995 08:30:00 GMT"), -1);
    EXPECT_EQ(ParseRfc822Date("Tue, 07 Nov"), -1);
    // A minute out of range ends the parse with the minute 0 and no zone.
    EXPECT_EQ(ParseRfc822Date("7 Nov 1995 08:60:00 EST"), Utc(1995, 11, 7, 8, 0, 0));
    // Parts left out after the year count as 0.
    EXPECT_EQ(ParseRfc822Date("7 Nov 1995"), Utc(1995, 11, 7, 0, 0, 0));
    EXPECT_EQ(ParseRfc822Date("7 Nov 1995 08:30"), Utc(1995, 11, 7, 8, 30, 0));
    // A comment where the zone goes is no zone.
    EXPECT_EQ(ParseRfc822Date("Tue, 07 Nov 1995 08:30:00 (EST)"), Utc(1995, 11, 7, 8, 30, 0));
    // Digit runs are cut at 20 characters; huge numbers do not overflow.
    EXPECT_EQ(ParseRfc822Date("1234567890123456789012345 Nov 1995"), -1);
    EXPECT_EQ(ParseRfc822Date("7 Nov 99999999999999999999"), Utc(1000000000, 11, 7, 0, 0, 0));
    EXPECT_EQ(ParseRfc822Date("7 Nov 1995 99999999999999999999 +99999999999999"),
              Utc(1995, 11, 7, 10000000, 0, 0));
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
    EXPECT_EQ(ParseTimeZone("NZDT"), 780);
    EXPECT_EQ(ParseTimeZone("-0330"), -210);
    EXPECT_EQ(ParseTimeZone("+0530"), 330);
    EXPECT_EQ(ParseTimeZone("0100"), 60);
    EXPECT_EQ(ParseTimeZone("+05"), 300);
    EXPECT_EQ(ParseTimeZone("-05"), -300);
    EXPECT_EQ(ParseTimeZone("05"), 300);
    EXPECT_EQ(ParseTimeZone("+5"), 300);
    EXPECT_EQ(ParseTimeZone("est"), -300);
    EXPECT_EQ(ParseTimeZone("-EST"), -300);
    EXPECT_EQ(ParseTimeZone("NST"), -210);
    EXPECT_EQ(ParseTimeZone("Z"), 0);
    EXPECT_EQ(ParseTimeZone("MET"), 60);
    EXPECT_EQ(ParseTimeZone(""), 0);
    EXPECT_EQ(ParseTimeZone("+"), 0);
    EXPECT_EQ(ParseTimeZone("XYZ"), 0);
    EXPECT_EQ(ParseTimeZone("ESTX"), 0);
    EXPECT_EQ(ParseTimeZone("+99999999999999999999"), 10000000 / 100 * 60);
}

TEST(ParseTimeZone, WholeTable)
{
    struct Z {
        const char* name;
        int minutes;
    } table[] = {{"UT", 0},     {"UCT", 0},    {"GMT", 0},    {"EST", -300}, {"EDT", -240},
                 {"CST", -360}, {"CDT", -300}, {"MST", -420}, {"MDT", -360}, {"PST", -480},
                 {"PDT", -420}, {"HST", -600}, {"Z", 0},      {"WET", 0},    {"MET", 60},
                 {"EET", 120},  {"BST", 60},   {"AST", -240}, {"ADT", -180}, {"NST", -210},
                 {"NDT", -150}, {"YST", -540}, {"YDT", -480}, {"JST", 540},  {"SST", 480},
                 {"NZST", 720}, {"NZDT", 780}, {"WST", 480},  {"WDT", 540}};
    for (const Z& z : table)
        EXPECT_EQ(ParseTimeZone(z.name), z.minutes) << z.name;
}

// ---------------------------------------------------------------- dates out

TEST(FormatRfc822Date, NamedZoneFollowsDaylightSaving)
{
    ZoneGuard guard("EST-0500EDT", false);
    EXPECT_EQ(FormatRfc822Date(Utc(1995, 11, 7, 13, 30, 0)), "Tue, 07 Nov 95 08:30:00 EST");
    EXPECT_EQ(FormatRfc822Date(Utc(2026, 7, 4, 12, 0, 5)), "Sat, 04 Jul 26 08:00:05 EDT");
}

TEST(FormatRfc822Date, NameThatDisagreesWithTheTimeGivesNumericZone)
{
    ZoneGuard guard("GMT+0100GMT", false);
    EXPECT_EQ(FormatRfc822Date(Utc(2026, 3, 1, 9, 0, 0)), "Sun, 01 Mar 26 10:00:00 +0100");
    ZoneGuard utc("GMT0000GMT", false);
    EXPECT_EQ(FormatRfc822Date(Utc(2026, 3, 1, 9, 0, 0)), "Sun, 01 Mar 26 09:00:00 GMT");
}

TEST(FormatRfc822Date, SystemBiasGivesNumericZone)
{
    {
        ZoneGuard guard("GMT+0530", true);
        EXPECT_EQ(FormatRfc822Date(Utc(2026, 1, 31, 20, 0, 0)), "Sun, 01 Feb 26 01:30:00 +0530");
    }
    {
        ZoneGuard guard("GMT-0330", true);
        EXPECT_EQ(FormatRfc822Date(Utc(2026, 1, 1, 2, 0, 0)), "Wed, 31 Dec 25 22:30:00 -0330");
    }
    {
        ZoneGuard guard("GMT+0000", true);
        EXPECT_EQ(FormatRfc822Date(Utc(2001, 9, 9, 1, 46, 40)), "Sun, 09 Sep 01 01:46:40 +0000");
    }
}

TEST(FormatRfc822Date, CurrentTimeParsesBack)
{
    std::string text = FormatRfc822Date();
    std::int64_t t = ParseRfc822Date(text);
    std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    EXPECT_GE(t, now - 5) << text;
    EXPECT_LE(t, now + 5) << text;
}

// ---------------------------------------------------------------- Message-ID

TEST(MakeMessageId, FormatAndCounter)
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
}

TEST(MakeMessageId, HostNameLimitedAndCurrentIdsUnique)
{
    std::string longHost(300, 'x');
    std::string id = MakeMessageId(0, longHost);
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

struct Tok {
    TokenKind kind;
    std::string text;
    bool operator==(const Tok& o) const { return kind == o.kind && text == o.text; }
};

std::ostream& operator<<(std::ostream& os, const Tok& t)
{
    return os << static_cast<int>(t.kind) << ":'" << t.text << "'";
}

std::vector<Tok> Tokens(int iMode, const std::string& text, int nLen = 256)
{
    std::vector<Tok> out;
    std::vector<char> buf(static_cast<std::size_t>(nLen));
    const char* p = text.data();
    const char* end = text.data() + text.size();
    for (int guard = 0; guard < 1000; ++guard) {
        TokenKind k;
        const char* next = NextToken(iMode, p, buf.data(), nLen, &k, end);
        EXPECT_GE(next, p);
        EXPECT_LE(next, end);
        out.push_back({k, buf.data()});
        if (k == TokenKind::End || k == TokenKind::BadToken)
            break;
        EXPECT_GT(next, p) << "no progress";
        p = next;
    }
    return out;
}

} // namespace

TEST(NextToken, ContentTypeInMimeMode)
{
    std::vector<Tok> want = {{TokenKind::Token, "text"},
                             {TokenKind::TSpecial, "/"},
                             {TokenKind::Token, "plain"},
                             {TokenKind::TSpecial, ";"},
                             {TokenKind::Token, "charset"},
                             {TokenKind::TSpecial, "="},
                             {TokenKind::QuotedString, "us-ascii"},
                             {TokenKind::End, ""}};
    EXPECT_EQ(Tokens(kTokenMime, " text/plain; charset=\"us-ascii\"  "), want);
}

TEST(NextToken, SpecialsDifferByMode)
{
    std::vector<Tok> rfc = {{TokenKind::Atom, "text/plain"}, {TokenKind::Special, ";"},
                            {TokenKind::Atom, "a=b?c"},      {TokenKind::Special, "."},
                            {TokenKind::Atom, "d"},          {TokenKind::End, ""}};
    EXPECT_EQ(Tokens(kTokenRfc822, "text/plain;a=b?c.d"), rfc);
    std::vector<Tok> mime = {{TokenKind::Token, "text"},  {TokenKind::TSpecial, "/"},
                             {TokenKind::Token, "plain"}, {TokenKind::TSpecial, ";"},
                             {TokenKind::Token, "a"},     {TokenKind::TSpecial, "="},
                             {TokenKind::Token, "b"},     {TokenKind::TSpecial, "?"},
                             {TokenKind::Token, "c.d"},   {TokenKind::End, ""}};
    EXPECT_EQ(Tokens(kTokenMime, "text/plain;a=b?c.d"), mime);
    // Every special of each set stands alone.
    for (char c : std::string("<>@,;:\\.)]")) {
        auto t = Tokens(kTokenRfc822, std::string("a") + c + "b");
        ASSERT_EQ(t.size(), 4u) << c;
        EXPECT_EQ(t[1], (Tok{TokenKind::Special, std::string(1, c)}));
    }
    for (char c : std::string("<>@,;:\\/)]?=")) {
        auto t = Tokens(kTokenMime, std::string("a") + c + "b");
        ASSERT_EQ(t.size(), 4u) << c;
        EXPECT_EQ(t[1], (Tok{TokenKind::TSpecial, std::string(1, c)}));
    }
}

TEST(NextToken, QuotedLiteralAndComment)
{
    EXPECT_EQ(Tokens(kTokenRfc822, "\"a \\\"b\\\\ (c)\" x"),
              (std::vector<Tok>{{TokenKind::QuotedString, "a \"b\\ (c)"},
                                {TokenKind::Atom, "x"},
                                {TokenKind::End, ""}}));
    EXPECT_EQ(Tokens(kTokenRfc822, "[10.0.\\]0.1]"),
              (std::vector<Tok>{{TokenKind::DomainLiteral, "10.0.]0.1"}, {TokenKind::End, ""}}));
    EXPECT_EQ(Tokens(kTokenMime, "(outer (inner \\) x) tail)y"),
              (std::vector<Tok>{{TokenKind::Comment, "outer (inner ) x) tail"},
                                {TokenKind::Token, "y"},
                                {TokenKind::End, ""}}));
    EXPECT_EQ(Tokens(kTokenMime, "\"\""),
              (std::vector<Tok>{{TokenKind::QuotedString, ""}, {TokenKind::End, ""}}));
}

TEST(NextToken, UnterminatedIsBad)
{
    EXPECT_EQ(Tokens(kTokenMime, "\"abc").back().kind, TokenKind::BadToken);
    EXPECT_EQ(Tokens(kTokenMime, "\"abc\\").back().kind, TokenKind::BadToken);
    EXPECT_EQ(Tokens(kTokenMime, "(a (b)").back().kind, TokenKind::BadToken);
    EXPECT_EQ(Tokens(kTokenMime, "[abc").back().kind, TokenKind::BadToken);
    EXPECT_EQ(Tokens(kTokenMime, "[a[b]").back().kind, TokenKind::BadToken);
    // A quoted string that does not fit the buffer is bad as well.
    EXPECT_EQ(Tokens(kTokenMime, "\"abcdef\"", 4).back().kind, TokenKind::BadToken);
    EXPECT_EQ(Tokens(kTokenMime, "\"abc\"", 4).front(), (Tok{TokenKind::QuotedString, "abc"}));
}

TEST(NextToken, ControlsAndEightBit)
{
    std::string text = "a\rb\x7f"
                       "c\xe4\xff"
                       "d";
    text += '\0';
    text += "e";
    EXPECT_EQ(Tokens(kTokenRfc822, text), (std::vector<Tok>{{TokenKind::Atom, "a"},
                                                            {TokenKind::Control, "\r"},
                                                            {TokenKind::Atom, "b"},
                                                            {TokenKind::Control, "\x7f"},
                                                            {TokenKind::Atom, "c\xe4\xff"
                                                                              "d"},
                                                            {TokenKind::Control, ""},
                                                            {TokenKind::Atom, "e"},
                                                            {TokenKind::End, ""}}));
    // Without an end pointer the text ends at its NUL.
    char buf[8];
    TokenKind k;
    const char* p = NextToken(kTokenMime, "\t \t", buf, sizeof buf, &k);
    EXPECT_EQ(k, TokenKind::End);
    EXPECT_EQ(*p, '\0');
}

TEST(NextToken, LongAtomComesInPieces)
{
    auto t = Tokens(kTokenMime, "abcdefgh;", 4);
    EXPECT_EQ(t, (std::vector<Tok>{{TokenKind::Token, "abc"},
                                   {TokenKind::Token, "def"},
                                   {TokenKind::Token, "gh"},
                                   {TokenKind::TSpecial, ";"},
                                   {TokenKind::End, ""}}));
    t = Tokens(kTokenMime, "(abcdef)", 4);
    EXPECT_EQ(t.front().kind, TokenKind::BadToken);
}

TEST(NextTokenDeathTest, AssertsBuffer)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    char buf[4];
    TokenKind k;
    EXPECT_DEATH(NextToken(0, "a", buf, 1, &k), "nLen >= 2");
    EXPECT_DEATH(NextToken(0, "a", nullptr, 4, &k), "pszBuffer != NULL");
}
