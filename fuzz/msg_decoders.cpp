// The three decoders: base64 split across calls, uudecoding line by line,
// quoted-printable lines (and the encoder's output decoding back).
#include "msg/Base64.h"
#include "msg/QuotedPrintable.h"
#include "msg/UuCodec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

void Base64(std::string_view in, std::size_t split)
{
    // Decoding in two calls gives the same bytes as in one, unless padding
    // ended the first call early.
    CBase64Dec whole;
    std::vector<unsigned char> a(in.size() + 3), b(in.size() + 6);
    int na =
        whole.Decode(in.data(), static_cast<int>(in.size()), a.data(), static_cast<int>(a.size()));
    if (na < 0 || na > static_cast<int>(in.size()))
        std::abort();
    CBase64Dec parts;
    split = in.empty() ? 0 : split % (in.size() + 1);
    int n1 =
        parts.Decode(in.data(), static_cast<int>(split), b.data(), static_cast<int>(split) + 3);
    if (n1 < 0)
        std::abort();
    std::string_view rest = in.substr(split);
    int n2 = parts.Decode(rest.data(), static_cast<int>(rest.size()), b.data() + n1,
                          static_cast<int>(rest.size()) + 3);
    if (n2 < 0)
        std::abort();
    if (in.substr(0, split).find('=') == std::string_view::npos &&
        (n1 + n2 != na ||
         std::string_view(reinterpret_cast<char*>(a.data()), static_cast<std::size_t>(na)) !=
             std::string_view(reinterpret_cast<char*>(b.data()), static_cast<std::size_t>(na))))
        std::abort();
}

void Uu(std::string_view in)
{
    CUUDEC dec;
    if (!in.empty() && (in[0] & 1))
        dec.StartInBody();
    unsigned char out[CUUDEC::kMaxLineBytes];
    std::size_t start = 0;
    while (start <= in.size()) {
        std::size_t nl = in.find('\n', start);
        std::size_t end = nl == std::string_view::npos ? in.size() : nl + 1;
        int n = dec.DecodeLine(in.substr(start, end - start), out);
        if (n < 0 || n > CUUDEC::kMaxLineBytes)
            std::abort();
        if (dec.GetName().size() > CUUDEC::kMaxName)
            std::abort();
        if (nl == std::string_view::npos)
            break;
        start = nl + 1;
    }
}

void Qp(std::string_view in)
{
    std::vector<char> out(in.size() + 1);
    int n = QPDecodeLine(in, out.data(), static_cast<int>(out.size()));
    if (n < 0 || n > static_cast<int>(in.size()))
        std::abort();
    // Encoding a line without line ends and decoding its pieces gives it back.
    std::string line(in);
    for (char& c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    std::string enc = QPEncodeLine(line);
    std::string back;
    std::size_t start = 0;
    for (;;) {
        std::size_t nl = enc.find('\n', start);
        std::string piece =
            enc.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        if (piece.size() > 78)
            std::abort();
        std::vector<char> buf(piece.size() + 1);
        int k = QPDecodeLine(piece, buf.data(), static_cast<int>(buf.size()));
        back.append(buf.data(), static_cast<std::size_t>(k));
        if (nl == std::string::npos)
            break;
        start = nl + 1;
    }
    if (back != line)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    std::string_view in(reinterpret_cast<const char*>(data + 2), size - 2);
    switch (data[0] % 3) {
    case 0:
        Base64(in, data[1]);
        break;
    case 1:
        Uu(in);
        break;
    default:
        Qp(in);
        break;
    }
    return 0;
}
