// The header lines the sending clients write themselves: From, Date,
// Message-ID, and the local host name they use for HELO and Path.
#pragma once

#include <cstdint>
#include <string>

// The local host name as gethostname gives it, with every character that
// may not stand in a host name or a Message-ID replaced by "-"; empty when
// there is none.
std::string LocalHostName();

// "Sun, 06 Dec 2026 14:07:00 +0100": the time in the process time zone,
// four-digit year and a numeric zone, as every server takes it.
std::string MessageDate(std::int64_t tNow);

// A new Message-ID value without the angle brackets:
// "<MMDDYYYhhmmss>.<counter>.<process><random>@<host>", unique across
// processes that post in the same second; "localhost" without a host name.
std::string NewMessageId(std::int64_t tNow, const std::string& host);

// "From: address (name)" or, without a name, "From: <address> ", with CR LF.
// The name's parentheses and backslashes become blanks.
std::string FromLine(const std::string& address, const std::string& name);
