// Builds REP packets for the tests, byte by byte, the way offline readers
// write them: block 1 with the packet's name, then per reply a 128-byte
// header and its text in 128-byte blocks with 0xE3 line ends.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace testrep {

struct Reply {
    char status = '*';            // '*' or '+' private, ' ' public
    std::string number = "0";     // the 7-character number field (conference)
    std::string to = "ALL";       // 25 characters at 21
    std::string from = "ME";      // 25 characters at 46
    std::string subject = "Test"; // 25 characters at 71
    std::string reference;        // 8 characters at 108
    std::vector<std::string> lines;
    std::string blocks; // the block-count field; empty: the real count
    char padding = ' '; // what fills the last block
    bool lastLineEnded = true;
};

// Block 1: the name, padded with blanks to 128 bytes.
std::string Block1(const std::string& name);
// One reply: header block and text blocks.
std::string Encode(const Reply& reply);
// A whole message file.
std::string MessageFile(const std::string& name, const std::vector<Reply>& replies);
// How MultiMail 0.52 writes a public reply in conference `conference`:
// blank status, the number field with a leading blank, no To: or
// Newsgroups: lines, the text in code page 437, a blank line before the
// tear line.
Reply ReaderStyleReply(int conference, const std::string& to, const std::string& subject,
                       const std::vector<std::string>& cp437Lines);

// Writes a zip archive holding the members (name → bytes).
bool WriteZip(const std::string& path, const std::map<std::string, std::string>& members);

} // namespace testrep
