// RFC 822 pieces shared by the clients, the composer and the converter:
// Date: values out and in, Message-ID values, and a tokenizer for structured
// header fields (RFC 822 atoms or MIME tokens).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Kinds delivered by NextToken.
enum class TokenKind : int {
    Atom = 1,          // RFC 822 rules
    Token = 2,         // MIME rules
    QuotedString = 3,  // content without the quotes, escapes resolved
    DomainLiteral = 4, // content without the brackets, escapes resolved
    Comment = 5,       // content without the outer parentheses
    Special = 6,       // one RFC 822 special
    TSpecial = 7,      // one MIME tspecial
    Control = 8,       // one character 0..31 or 127
    End = 9,           // nothing but blanks and tabs remained
    BadToken = -1,     // unterminated quoted string, domain literal or comment
};

// Tokenizer modes.
constexpr int kTokenRfc822 = 0;
constexpr int kTokenMime = 1;

// The Date: value of a time ("Tue, 07 Nov 95 08:30:00 EST") in the process
// time zone.  The zone is the name of the zone in effect at that time when
// that name means the offset in effect, else "+hhmm"; always "+hhmm" when the
// process zone was built from the system's bias (its name would then be
// "GMT" beside a local time).
std::string FormatRfc822Date(std::int64_t tNow);
std::string FormatRfc822Date(); // the current time

// A new Message-ID value without the angle brackets:
// "MMDDYYYhhmmss.<counter>@<host>".  The counter is process-wide and counts
// up by one per identifier, so identifiers of the same second differ.
std::string MakeMessageId();
std::string MakeMessageId(std::int64_t tNow, const std::string& host);
// The current value of the process-wide counter (the next identifier's).
std::uint32_t MessageIdCounter();

// Seconds since 1970 (UTC) of a Date: value in RFC 822 order ("Tue, 7 Nov
// 1995 08:30:00 -0500") or ctime order ("Tue Nov 7 08:30:00 1995"); -1 when
// it does not parse or names a time before 1970.
std::int64_t ParseRfc822Date(std::string_view text);

// Offset from UTC in minutes of a zone text: "+0530", "-05", "EST", "NZDT";
// 0 when unknown.
int ParseTimeZone(std::string_view text);

// Reads one token from pszText (NUL-terminated; pszEnd, when given, ends the
// text instead so that NUL bytes are Control characters).  The token's text
// goes to pszBuffer, at most nLen - 1 characters and a NUL; an atom or token
// longer than that is delivered in pieces by successive calls.  *pKind gets
// the kind; the result is the position just after the token.
const char* NextToken(int iMode, const char* pszText, char* pszBuffer, int nLen, TokenKind* pKind,
                      const char* pszEnd = nullptr);
