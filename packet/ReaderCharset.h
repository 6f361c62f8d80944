// The character set an offline reader writes its replies in.  Classic QWK
// readers write code page 437; some are set up for Latin-1.  Reply texts
// are turned into UTF-8 as they are read, so that nothing downstream has to
// know where they came from.
#pragma once

#include <string>
#include <string_view>

enum class ReaderCharset { Cp437, Latin1 };

// The setting "Directories" "ReaderCharset": "Latin-1" (also "Latin1",
// "ISO-8859-1", "8859-1", any case) chooses Latin-1; anything else is
// code page 437.
ReaderCharset ReaderCharsetFromSetting(std::string_view value);

// Bytes below 128 stay as they are; the others become the UTF-8 form of
// the character they stand for in the reader's set.
std::string ReaderTextToUtf8(std::string_view bytes, ReaderCharset charset);
