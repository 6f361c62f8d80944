// Builds retrieved-message files for the tests: CR LF text as a server
// delivers it, with hand-made base64, uuencode and quoted-printable bodies.
#pragma once

#include <string>

namespace testmsg {

std::string Base64(const std::string& bytes, std::size_t nLineChars = 76);
// Lines of "begin 644 NAME", data lines, "`", "end".
std::string Uuencode(const std::string& bytes, const std::string& name);
// One quoted-printable line without soft breaks: letters and digits stay,
// every other byte becomes "=XX".
std::string QuotedPrintable(const std::string& bytes);
// Deterministic pseudo-random bytes.
std::string Bytes(std::size_t n, unsigned seed);

} // namespace testmsg
