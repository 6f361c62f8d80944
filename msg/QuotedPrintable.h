// Quoted-printable (RFC 2045) for one line of body text at a time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Encodes one line (without its line end).  Bytes 33..60 and 62..126 stay;
// "=" and every other byte become "=XX"; blanks and tabs stay unless nothing
// but blanks and tabs follows them.  Output lines are broken with "=" and a
// line feed once they reach 75 characters and more input follows, so the
// result may hold several lines separated by "=\n" and nothing is ever cut.
std::string QPEncodeLine(std::string_view line);

// Decodes one line as read from a message (its CR LF may be present): "=XX"
// (hexadecimal digits in either case) gives that byte; "=" before the line
// end (or the end of the text, blanks and tabs between allowed) is a soft
// line break and ends the output; an "=" that starts no valid
// escape is kept as it is.  At most nCapacity - 1 bytes are written, then a
// NUL.  Returns the number of bytes written (without the NUL).
int QPDecodeLine(std::string_view line, char* pOut, int nCapacity);
