// Texts of outgoing messages: which character set a text needs, header
// texts as RFC 2047 encoded words, and safe cuts of UTF-8 text.
#pragma once

#include <string>
#include <string_view>

// The label a text needs: "us-ascii" (7-bit), "iso-8859-1" (every character
// is in Latin-1) or "utf-8".
const char* CharsetFor(std::string_view utf8);

// The text in the named set: UTF-8 text as it is, or turned into Latin-1
// (only for texts that CharsetFor labels "iso-8859-1").
std::string InCharset(std::string_view utf8, const char* pszCharset);

// At most nMax bytes of the text, never cutting a UTF-8 character apart.
std::string CutUtf8(std::string_view utf8, std::size_t nMax);

// A header text without line breaks or other control characters (tabs
// stay): each becomes a blank, so nothing can start a header of its own.
std::string PlainHeaderText(std::string_view text);

// A header value as it goes on the wire: plain 7-bit text as it is;
// otherwise RFC 2047 encoded words ("=?iso-8859-1?Q?caf=E9?="), folded
// onto continuation lines ("\r\n ") so that no line passes 76 characters.
// nUsed: characters already on the first line ("Subject: ").  Base64 words
// are used when they come out clearly shorter than quoted-printable ones.
std::string EncodeHeaderText(std::string_view utf8, std::size_t nUsed);
