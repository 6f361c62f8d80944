// decode and encode: the transfer-encoding codecs on files.

#include "app/Tool.h"

#include "msg/Base64.h"
#include "msg/QuotedPrintable.h"
#include "msg/UuCodec.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const
    {
        if (f)
            std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Longest piece handed to a decoder as one line; longer lines come in
// pieces (base64 does not mind, uuencoded lines are far shorter).
constexpr std::size_t kMaxLine = 65536;

bool OpenInput(const std::string& path, File& f)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        ToolFail("cannot read " + path);
        return false;
    }
    f.reset(std::fopen(path.c_str(), "rb"));
    if (!f) {
        ToolFail("cannot read " + path + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

bool OpenOutput(const std::string& path, File& f)
{
    f.reset(std::fopen(path.c_str(), "wb"));
    if (!f) {
        ToolFail("cannot write " + path + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

int FinishOutput(File& f, const std::string& path)
{
    bool ok = std::ferror(f.get()) == 0;
    ok = std::fclose(f.release()) == 0 && ok;
    return ok ? 0 : ToolFail("cannot write " + path);
}

// Reads one line with its line end (at most kMaxLine bytes); false at the
// end of the file.
bool ReadLine(std::FILE* f, std::vector<char>& buf, std::size_t& n)
{
    n = 0;
    int c;
    while (n < kMaxLine && (c = std::fgetc(f)) != EOF) {
        buf[n++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    return n > 0;
}

int Decode(ToolContext&, const std::vector<std::string>& args)
{
    if (args.size() != 3 || (args[0] != "--base64" && args[0] != "--uu"))
        return ToolFail("usage: decode --base64|--uu IN OUT");
    File in, out;
    if (!OpenInput(args[1], in) || !OpenOutput(args[2], out))
        return 1;
    std::vector<char> line(kMaxLine);
    std::size_t n = 0;
    if (args[0] == "--base64") {
        CBase64Dec dec;
        std::vector<unsigned char> bytes(kMaxLine + 3);
        while (ReadLine(in.get(), line, n)) {
            int k = dec.Decode(line.data(), static_cast<int>(n), bytes.data(),
                               static_cast<int>(bytes.size()));
            if (k < 0)
                return ToolFail("internal error: decoder output overflow");
            std::fwrite(bytes.data(), 1, static_cast<std::size_t>(k), out.get());
        }
        // A last group without its padding still holds data, as the
        // converter keeps it; a single character left over makes no byte.
        if (dec.Pending() >= 2) {
            const char* pad = dec.Pending() == 2 ? "==" : "=";
            int k = dec.Decode(pad, static_cast<int>(std::strlen(pad)), bytes.data(),
                               static_cast<int>(bytes.size()));
            if (k > 0)
                std::fwrite(bytes.data(), 1, static_cast<std::size_t>(k), out.get());
        } else if (dec.Pending() != 0) {
            std::fprintf(stderr,
                         "mailtolvan-tool: warning: %d base64 character left over at the end\n",
                         dec.Pending());
        }
    } else {
        CUUDEC dec;
        unsigned char bytes[CUUDEC::kMaxLineBytes];
        while (ReadLine(in.get(), line, n)) {
            int k = dec.DecodeLine(std::string_view(line.data(), n), bytes);
            std::fwrite(bytes, 1, static_cast<std::size_t>(k), out.get());
        }
        if (dec.GetState() == CUUDEC::Seeking) {
            out.reset();
            return ToolFail("no \"begin\" line in " + args[1]);
        }
        std::printf("%s\n", dec.GetName().c_str());
    }
    if (std::ferror(in.get()))
        return ToolFail("cannot read " + args[1]);
    return FinishOutput(out, args[2]);
}

int Encode(ToolContext&, const std::vector<std::string>& args)
{
    const char* usage = "usage: encode --base64 IN OUT | --uu NAME IN OUT | --qp IN OUT";
    if (args.empty())
        return ToolFail(usage);
    const std::string& mode = args[0];
    if (mode == "--base64" && args.size() == 3) {
        File out;
        CBase64Enc enc;
        if (enc.Open(args[1].c_str()) != 0)
            return ToolFail("cannot read " + args[1]);
        if (!OpenOutput(args[2], out))
            return 1;
        char buf[80];
        int rc;
        while ((rc = enc.NextLine(buf, sizeof buf)) == CBase64Enc::kLine)
            std::fprintf(out.get(), "%s\n", buf);
        if (rc != CBase64Enc::kEnd)
            return ToolFail("cannot read " + args[1]);
        return FinishOutput(out, args[2]);
    }
    if (mode == "--uu" && args.size() == 4) {
        struct stat st;
        if (::stat(args[2].c_str(), &st) != 0 || S_ISDIR(st.st_mode))
            return ToolFail("cannot read " + args[2]);
        File out;
        if (!OpenOutput(args[3], out))
            return 1;
        CUUENC enc(args[2].c_str(), args[1].c_str());
        char buf[82];
        for (;;) {
            int rc = enc.NextLine(buf, sizeof buf);
            if (rc == CUUENC::kLine || rc == CUUENC::kEnd)
                std::fprintf(out.get(), "%s\n", buf);
            if (rc == CUUENC::kLine)
                continue;
            if (rc == CUUENC::kError)
                return ToolFail("An error occurred during encoding.");
            if (rc == CUUENC::kBufferTooSmall)
                return ToolFail("the name is too long for the \"begin\" line");
            break;
        }
        return FinishOutput(out, args[3]);
    }
    if (mode == "--qp" && args.size() == 3) {
        File in, out;
        if (!OpenInput(args[1], in) || !OpenOutput(args[2], out))
            return 1;
        // Lines without their line end; a long line is encoded in pieces of
        // 499 characters joined by soft line breaks, so it decodes whole.
        constexpr std::size_t kPiece = 499;
        std::string piece;
        bool bOpenLine = false; // bytes of an unfinished line were read
        bool bCr = false;       // a CR waits to see whether an LF follows
        auto emit = [&](bool bSoft) {
            std::string enc = QPEncodeLine(piece);
            std::fwrite(enc.data(), 1, enc.size(), out.get());
            std::fputs(bSoft ? "=\n" : "\n", out.get());
            piece.clear();
        };
        auto add = [&](char ch) {
            if (piece.size() == kPiece)
                emit(true);
            piece += ch;
        };
        int c;
        while ((c = std::fgetc(in.get())) != EOF) {
            if (c == '\n') {
                bCr = false;
                emit(false);
                bOpenLine = false;
                continue;
            }
            if (bCr)
                add('\r');
            bCr = c == '\r';
            if (!bCr)
                add(static_cast<char>(c));
            bOpenLine = true;
        }
        if (bCr)
            add('\r');
        if (bOpenLine)
            emit(false);
        if (std::ferror(in.get()))
            return ToolFail("cannot read " + args[1]);
        return FinishOutput(out, args[2]);
    }
    return ToolFail(usage);
}

} // namespace

MT_TOOL_COMMAND("decode", "--base64|--uu IN OUT",
                "decode a base64 or uuencoded text file into its bytes (--uu prints the name)",
                Decode);
MT_TOOL_COMMAND("encode", "--base64 IN OUT | --uu NAME IN OUT | --qp IN OUT",
                "encode a file as the composer does: base64 or uuencoded lines, or "
                "quoted-printable text lines",
                Encode);
