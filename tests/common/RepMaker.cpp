#include "RepMaker.h"

#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace testrep {

namespace {
void Put(std::string& block, std::size_t at, std::size_t width, const std::string& text)
{
    for (std::size_t i = 0; i < width; ++i)
        block[at + i] = i < text.size() ? text[i] : ' ';
}
} // namespace

std::string Block1(const std::string& name)
{
    std::string b(128, ' ');
    Put(b, 0, 128, name);
    return b;
}

std::string Encode(const Reply& r)
{
    std::string text;
    for (std::size_t i = 0; i < r.lines.size(); ++i) {
        text += r.lines[i];
        if (i + 1 < r.lines.size() || r.lastLineEnded)
            text += '\xE3';
    }
    std::size_t nBlocks = (text.size() + 127) / 128;
    text.append(nBlocks * 128 - text.size(), r.padding);
    std::string h(128, ' ');
    h[0] = r.status;
    Put(h, 1, 7, r.number);
    Put(h, 8, 8, "12-06-26");
    Put(h, 16, 5, "14:07");
    Put(h, 21, 25, r.to);
    Put(h, 46, 25, r.from);
    Put(h, 71, 25, r.subject);
    Put(h, 108, 8, r.reference);
    Put(h, 116, 6, r.blocks.empty() ? std::to_string(nBlocks + 1) : r.blocks);
    h[122] = '\xE1';
    int conf = std::atoi(r.number.c_str());
    h[123] = static_cast<char>(conf & 0xFF);
    h[124] = static_cast<char>((conf >> 8) & 0xFF);
    return h + text;
}

std::string MessageFile(const std::string& name, const std::vector<Reply>& replies)
{
    std::string out = Block1(name);
    for (const Reply& r : replies)
        out += Encode(r);
    return out;
}

Reply ReaderStyleReply(int conference, const std::string& to, const std::string& subject,
                       const std::vector<std::string>& cp437Lines)
{
    Reply r;
    r.status = ' ';
    r.number = " " + std::to_string(conference);
    r.to = to.substr(0, 25);
    r.from = "TEST USER";
    r.subject = subject.substr(0, 25);
    r.reference = " 2";
    if (subject.size() > 25) {
        r.lines.push_back("Subject: " + subject);
        r.lines.push_back("");
    }
    r.lines.push_back("-=> " + to + " wrote to All <=-");
    r.lines.push_back("");
    for (const std::string& l : cp437Lines)
        r.lines.push_back(l);
    r.lines.push_back(" ");
    r.lines.push_back("--- MultiMail/Linux v0.52");
    return r;
}

bool WriteZip(const std::string& path, const std::map<std::string, std::string>& members)
{
    int err = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (!z)
        return false;
    for (const auto& [name, bytes] : members) {
        void* copy = std::malloc(bytes.size() ? bytes.size() : 1);
        std::memcpy(copy, bytes.data(), bytes.size());
        zip_source_t* s = zip_source_buffer(z, copy, bytes.size(), 1);
        if (!s || zip_file_add(z, name.c_str(), s, ZIP_FL_OVERWRITE) < 0) {
            zip_discard(z);
            return false;
        }
    }
    return zip_close(z) == 0;
}

} // namespace testrep
