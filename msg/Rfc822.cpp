#include "msg/Rfc822.h"

#include "util/Assert.h"
#include "util/TimeZone.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <strings.h>
#include <unistd.h>

namespace {

const char* const kShortDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDays[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                  "Thursday", "Friday", "Saturday"};
const char* const kShortMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonths[12] = {"January",   "February", "March",    "April",
                                     "May",       "June",     "July",     "August",
                                     "September", "October",  "November", "December"};
// February always counts 29 days: the parser does not know the year when it
// checks the day.
const int kMonthDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

struct ZoneName {
    const char* pszName;
    int iMinutes;
};
const ZoneName kZones[] = {
    {"UT", 0},     {"UCT", 0},    {"GMT", 0},    {"EST", -300}, {"EDT", -240}, {"CST", -360},
    {"CDT", -300}, {"MST", -420}, {"MDT", -360}, {"PST", -480}, {"PDT", -420}, {"HST", -600},
    {"Z", 0},      {"WET", 0},    {"MET", 60},   {"EET", 120},  {"BST", 60},   {"AST", -240},
    {"ADT", -180}, {"NST", -210}, {"NDT", -150}, {"YST", -540}, {"YDT", -480}, {"JST", 540},
    {"SST", 480},  {"NZST", 720}, {"NZDT", 780}, {"WST", 480},  {"WDT", 540},
};

const char kSpecials822[] = "()<>@,;:\\\".[]";
const char kSpecialsMime[] = "()<>@,;:\\\"/[]?=";

std::atomic<std::uint32_t> sg_uMessageIdCounter{0};

bool EqualsNoCase(std::string_view a, const char* b)
{
    std::size_t n = std::strlen(b);
    return a.size() == n && ::strncasecmp(a.data(), b, n) == 0;
}

int FindName(std::string_view tok, const char* const* shortNames, const char* const* longNames,
             int n)
{
    for (int i = 0; i < n; ++i)
        if (EqualsNoCase(tok, shortNames[i]) || EqualsNoCase(tok, longNames[i]))
            return i;
    return -1;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Decimal value of a leading digit run, saturated so that no arithmetic on
// it can overflow; 0 when the text does not start with a digit.
long long NumberOf(std::string_view tok)
{
    long long v = 0;
    for (char c : tok) {
        if (!IsDigit(c))
            break;
        v = v * 10 + (c - '0');
        if (v > 1000000000LL)
            v = 1000000000LL;
    }
    return v;
}

bool IsDigitRun(std::string_view tok) { return !tok.empty() && IsDigit(tok[0]); }

// The date parser's own tokens: a run of letters or of digits (at most 20
// characters), or any other single character; empty at the end.
class DateLexer {
public:
    explicit DateLexer(std::string_view text) : m_text(text) {}
    std::string_view Next()
    {
        while (m_i < m_text.size() && (m_text[m_i] == ' ' || m_text[m_i] == '\t'))
            ++m_i;
        if (m_i >= m_text.size())
            return {};
        std::size_t start = m_i;
        char c = m_text[m_i];
        if (IsLetter(c) || IsDigit(c)) {
            bool bLetters = IsLetter(c);
            while (m_i < m_text.size() && m_i - start < 20 &&
                   (bLetters ? IsLetter(m_text[m_i]) : IsDigit(m_text[m_i])))
                ++m_i;
        } else {
            ++m_i;
        }
        return m_text.substr(start, m_i - start);
    }

private:
    std::string_view m_text;
    std::size_t m_i = 0;
};

// A year as written: four digits and more stand for themselves; two digits
// are 2000-2049 (00-49) or 1950-1999 (50-99); three digits count from 1900.
long long FullYear(std::string_view tok)
{
    if (!IsDigitRun(tok))
        return 1900; // no number: year 0 counted from 1900
    std::size_t digits = 0;
    while (digits < tok.size() && IsDigit(tok[digits]))
        ++digits;
    long long v = NumberOf(tok);
    if (digits <= 2)
        return v < 50 ? 2000 + v : 1900 + v;
    if (digits == 3)
        return 1900 + v;
    return v;
}

} // namespace

std::string FormatRfc822Date(std::int64_t tNow)
{
    LocalTime lt = tz::ToProcessLocal(tNow);
    std::string zone;
    // The zone's name only when it says what the time says: a setting such as
    // "GMT+0100GMT" (or any zone built from the system's bias) names "GMT"
    // beside a local time that is not GMT, so the offset is written instead.
    bool bNameFits = !lt.zoneName.empty() && ParseTimeZone(lt.zoneName) == lt.iOffsetMinutes &&
                     (lt.iOffsetMinutes != 0 || EqualsNoCase(lt.zoneName, "GMT") ||
                      EqualsNoCase(lt.zoneName, "UT") || EqualsNoCase(lt.zoneName, "UTC") ||
                      EqualsNoCase(lt.zoneName, "Z") || EqualsNoCase(lt.zoneName, "WET"));
    if (tz::ProcessZoneFromSystem() || !bNameFits) {
        int off = lt.iOffsetMinutes;
        char sign = off < 0 ? '-' : '+';
        if (off < 0)
            off = -off;
        char buf[16];
        std::snprintf(buf, sizeof buf, "%c%02d%02d", sign, off / 60 % 100, off % 60);
        zone = buf;
    } else {
        zone = lt.zoneName;
    }
    char out[128];
    std::snprintf(out, sizeof out, "%s, %02d %s %02d %02d:%02d:%02d %s",
                  kShortDays[((lt.iWeekday % 7) + 7) % 7], lt.iDay,
                  kShortMonths[((lt.iMonth - 1) % 12 + 12) % 12], ((lt.iYear % 100) + 100) % 100,
                  lt.iHour, lt.iMinute, lt.iSecond, zone.c_str());
    return out;
}

std::string FormatRfc822Date()
{
    return FormatRfc822Date(static_cast<std::int64_t>(std::time(nullptr)));
}

std::string MakeMessageId(std::int64_t tNow, const std::string& host)
{
    LocalTime lt = tz::ToProcessLocal(tNow);
    std::uint32_t uCounter = sg_uMessageIdCounter.fetch_add(1);
    std::string h = host.substr(0, 100);
    if (h.empty())
        h = "localhost";
    char out[200];
    std::snprintf(out, sizeof out, "%02d%02d%02d%02d%02d%02d.%lu@%s", lt.iMonth, lt.iDay,
                  lt.iYear - 1900, lt.iHour, lt.iMinute, lt.iSecond,
                  static_cast<unsigned long>(uCounter), h.c_str());
    return out;
}

std::string MakeMessageId()
{
    char host[256] = {0};
    if (::gethostname(host, sizeof host - 1) != 0)
        host[0] = 0;
    return MakeMessageId(static_cast<std::int64_t>(std::time(nullptr)), host);
}

std::uint32_t MessageIdCounter() { return sg_uMessageIdCounter.load(); }

int ParseTimeZone(std::string_view text)
{
    if (text.empty())
        return 0;
    bool bSigned = text[0] == '+' || text[0] == '-';
    if (IsDigit(text[0]) || (bSigned && text.size() > 1 && IsDigit(text[1]))) {
        long long v = NumberOf(bSigned ? text.substr(1) : text);
        if (v > 10000000LL)
            v = 10000000LL;
        // Hours only: "05", "+5", "-05".
        if (text.size() == 2 || (text.size() == 3 && bSigned))
            v *= 100;
        if (text[0] == '-')
            v = -v;
        return static_cast<int>(v / 100 * 60 + v % 100);
    }
    std::string_view name = text[0] == '-' ? text.substr(1) : text;
    for (const ZoneName& z : kZones)
        if (EqualsNoCase(name, z.pszName))
            return z.iMinutes;
    return 0;
}

std::int64_t ParseRfc822Date(std::string_view text)
{
    enum State {
        Start,
        AfterDay,
        Day,
        DayDash,
        Month,
        MonthDash,
        Year,
        Hour,
        HourColon,
        Split,
        Minute,
        MinuteColon,
        Second,
        Zone,
        Finish,
        Fail
    };
    DateLexer lex(text);
    std::string_view tok = lex.Next();
    std::string joined;
    State st = Start;
    bool bRfcOrder = false;
    long long year = 1900;
    int month = 0, zone = 0;
    long long day = 0, hour = 0, minute = 0, second = 0;

    while (st != Finish && st != Fail) {
        // A time written as one number is split even when nothing follows.
        if (st == Split) {
            minute = hour % 100;
            hour /= 100;
            if (minute > 59 || hour >= 24) {
                minute = 0;
                st = Finish;
                continue;
            }
            second = 0;
            st = Zone;
            continue;
        }
        if (tok.empty()) {
            st = Finish;
            break;
        }
        switch (st) {
        case Start:
            if (IsDigitRun(tok)) {
                bRfcOrder = true;
                st = Day;
            } else if (FindName(tok, kShortDays, kLongDays, 7) >= 0) {
                st = AfterDay;
                tok = lex.Next();
            } else {
                st = Month;
            }
            break;
        case AfterDay:
            if (tok == ",") {
                bRfcOrder = true;
                st = Day;
                tok = lex.Next();
            } else {
                st = Month;
            }
            break;
        case Day:
            day = NumberOf(tok);
            if (day < 1 || day > 31) {
                st = Fail;
            } else if (bRfcOrder) {
                st = DayDash;
                tok = lex.Next();
            } else if (day > kMonthDays[month]) {
                st = Fail;
            } else {
                st = Hour;
                tok = lex.Next();
            }
            break;
        case DayDash:
            if (tok == "-")
                tok = lex.Next();
            st = Month;
            break;
        case Month: {
            int m = FindName(tok, kShortMonths, kLongMonths, 12);
            if (m < 0) {
                month = 0;
                st = Finish;
            } else {
                month = m;
                if (bRfcOrder) {
                    if (day > kMonthDays[month]) {
                        day = 0;
                        st = Finish;
                    } else {
                        st = MonthDash;
                        tok = lex.Next();
                    }
                } else {
                    st = Day;
                    tok = lex.Next();
                }
            }
            break;
        }
        case MonthDash:
            if (tok == "-")
                tok = lex.Next();
            st = Year;
            break;
        case Year:
            year = FullYear(tok);
            if (bRfcOrder) {
                st = Hour;
                tok = lex.Next();
            } else {
                st = Finish;
            }
            break;
        case Hour:
            hour = NumberOf(tok);
            st = hour > 23 ? Split : HourColon;
            tok = lex.Next();
            break;
        case HourColon:
            if (tok == ":") {
                st = Minute;
                tok = lex.Next();
            } else {
                st = Split;
            }
            break;
        case Minute:
            minute = NumberOf(tok);
            if (minute > 59) {
                minute = 0;
                st = Finish;
            } else {
                st = MinuteColon;
                tok = lex.Next();
            }
            break;
        case MinuteColon:
            if (tok == ":") {
                st = Second;
                tok = lex.Next();
            } else {
                second = 0;
                st = Zone;
            }
            break;
        case Second:
            second = NumberOf(tok);
            if (second > 59) {
                st = Fail;
            } else {
                st = Zone;
                tok = lex.Next();
            }
            break;
        case Zone:
            if (!bRfcOrder && IsDigitRun(tok)) {
                st = Year;
                break;
            }
            if (tok == "+" || tok == "-") {
                joined.assign(tok);
                joined.append(lex.Next());
                tok = joined;
            }
            zone = ParseTimeZone(tok);
            if (bRfcOrder) {
                st = Finish;
            } else {
                st = Year;
                tok = lex.Next();
            }
            break;
        case Split:
        case Finish:
        case Fail:
            break;
        }
    }
    if (st == Fail)
        return -1;
    std::int64_t t =
        tz::FromCivil(static_cast<int>(year), month + 1, static_cast<int>(day),
                      static_cast<int>(hour), static_cast<int>(minute), static_cast<int>(second)) -
        static_cast<std::int64_t>(zone) * 60;
    // Dates before 1970 (an incomplete value leaves the year at 1900) are of
    // no use to the callers, who then take the current time.
    return t < 0 ? -1 : t;
}

const char* NextToken(int iMode, const char* pszText, char* pszBuffer, int nLen, TokenKind* pKind,
                      const char* pszEnd)
{
    MT_ASSERT(pszBuffer != NULL);
    MT_ASSERT(nLen >= 2);
    MT_ASSERT(pszText != NULL);
    MT_ASSERT(pKind != NULL);
    const char* p = pszText;
    const char* end = pszEnd ? pszEnd : pszText + std::strlen(pszText);
    const int nMax = nLen - 1;
    int n = 0;
    pszBuffer[0] = 0;

    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
    if (p >= end) {
        *pKind = TokenKind::End;
        return p;
    }

    // Quoted string, domain literal and comment: copied with backslash
    // escapes resolved; unterminated (or too long for the buffer) is bad.
    auto copyDelimited = [&](char close, TokenKind kind) -> const char* {
        int depth = 0;
        ++p; // the opening character
        while (true) {
            if (p < end && *p == close && depth == 0) {
                pszBuffer[n] = 0;
                *pKind = kind;
                return p + 1;
            }
            if (p >= end || n >= nMax) {
                pszBuffer[n] = 0;
                *pKind = TokenKind::BadToken;
                return p;
            }
            char c = *p;
            if (c == '\\') {
                if (p + 1 >= end) {
                    pszBuffer[n] = 0;
                    *pKind = TokenKind::BadToken;
                    return end;
                }
                pszBuffer[n++] = p[1];
                p += 2;
                continue;
            }
            if (kind == TokenKind::DomainLiteral && c == '[') {
                pszBuffer[n] = 0;
                *pKind = TokenKind::BadToken;
                return p;
            }
            if (kind == TokenKind::Comment && c == '(') {
                ++depth;
            } else if (c == close) {
                --depth; // depth 0 was handled above
            }
            pszBuffer[n++] = c;
            ++p;
        }
    };

    char c = *p;
    if (c == '"')
        return copyDelimited('"', TokenKind::QuotedString);
    if (c == '[')
        return copyDelimited(']', TokenKind::DomainLiteral);
    if (c == '(')
        return copyDelimited(')', TokenKind::Comment);

    unsigned char uc = static_cast<unsigned char>(c);
    if (uc < 32 || uc == 127) {
        pszBuffer[0] = c;
        pszBuffer[1] = 0;
        *pKind = TokenKind::Control;
        return p + 1;
    }
    const char* specials = iMode == kTokenRfc822 ? kSpecials822 : kSpecialsMime;
    auto isSpecial = [&](char ch) { return ch != 0 && std::strchr(specials, ch) != nullptr; };
    if (isSpecial(c)) {
        pszBuffer[0] = c;
        pszBuffer[1] = 0;
        *pKind = iMode == kTokenRfc822 ? TokenKind::Special : TokenKind::TSpecial;
        return p + 1;
    }
    while (p < end && n < nMax) {
        unsigned char ch = static_cast<unsigned char>(*p);
        if (ch == ' ' || ch < 32 || ch == 127 || isSpecial(*p))
            break;
        pszBuffer[n++] = *p++;
    }
    pszBuffer[n] = 0;
    *pKind = iMode == kTokenRfc822 ? TokenKind::Atom : TokenKind::Token;
    return p;
}
