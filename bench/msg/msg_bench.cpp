// Throughput of the message layer on one large multipart message: parsing and
// walking the structure, reading every line through the file window, and
// decoding base64, quoted-printable and uuencoded bodies line by line as the
// converter does.
//
//   bench_msg                          run the benchmarks
//   bench_msg --write-sample DIR       write DIR/message.eml and DIR/body.b64
//                                      (the base64 text alone, LF line ends)
//                                      and exit, for comparisons with cat and
//                                      base64 -d

#include "msg/Base64.h"
#include "msg/CMime.h"
#include "msg/QuotedPrintable.h"
#include "msg/UuCodec.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kPartBytes = 8u << 20; // decoded bytes per part

struct Sample {
    std::string dir;
    std::string message; // path of the message
    std::string base64;  // path of the base64 text alone
    std::int64_t iSize = 0;
};

void Append(std::FILE* f, const std::string& s) { std::fwrite(s.data(), 1, s.size(), f); }

std::string Base64Text(const std::vector<unsigned char>& data)
{
    static const char a[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve(data.size() * 4 / 3 + data.size() / 38 + 8);
    std::size_t col = 0;
    for (std::size_t i = 0; i < data.size(); i += 3) {
        unsigned b0 = data[i], b1 = i + 1 < data.size() ? data[i + 1] : 0,
                 b2 = i + 2 < data.size() ? data[i + 2] : 0;
        out += a[b0 >> 2];
        out += a[((b0 & 3) << 4) | (b1 >> 4)];
        out += i + 1 < data.size() ? a[((b1 & 15) << 2) | (b2 >> 6)] : '=';
        out += i + 2 < data.size() ? a[b2 & 63] : '=';
        col += 4;
        if (col == 76) {
            out += "\r\n";
            col = 0;
        }
    }
    if (col)
        out += "\r\n";
    return out;
}

std::string UuText(const std::vector<unsigned char>& data)
{
    auto c = [](unsigned v) { return v == 0 ? '`' : static_cast<char>(v + 32); };
    std::string out = "begin 644 data.bin\r\n";
    for (std::size_t i = 0; i < data.size(); i += 45) {
        std::size_t n = std::min<std::size_t>(45, data.size() - i);
        out += c(static_cast<unsigned>(n));
        for (std::size_t k = 0; k < n; k += 3) {
            unsigned b0 = data[i + k], b1 = k + 1 < n ? data[i + k + 1] : 0,
                     b2 = k + 2 < n ? data[i + k + 2] : 0;
            out += c(b0 >> 2);
            out += c(((b0 & 3) << 4) | (b1 >> 4));
            out += c(((b1 & 15) << 2) | (b2 >> 6));
            out += c(b2 & 63);
        }
        out += "\r\n";
    }
    out += "`\r\nend\r\n";
    return out;
}

bool WriteSample(const std::string& dir, Sample& s)
{
    s.dir = dir;
    s.message = dir + "/message.eml";
    s.base64 = dir + "/body.b64";
    std::mt19937 gen(4711);
    std::vector<unsigned char> bin(kPartBytes);
    for (auto& b : bin)
        b = static_cast<unsigned char>(gen());
    std::string b64 = Base64Text(bin);
    // The base64 text alone with LF line ends, as base64 -d wants it.
    std::string lf;
    for (char ch : b64)
        if (ch != '\r')
            lf += ch;
    std::FILE* f = std::fopen(s.base64.c_str(), "wb");
    if (!f)
        return false;
    Append(f, lf);
    std::fclose(f);

    f = std::fopen(s.message.c_str(), "wb");
    if (!f)
        return false;
    Append(f, "From: a@example.org\r\nSubject: big\r\nMIME-Version: 1.0\r\n"
              "Content-Type: multipart/mixed; boundary=\"=_ Boundary 0123456789abcdef\"\r\n\r\n"
              "preamble\r\n");
    // Quoted-printable text: 8-bit letters mixed with plain ones.
    Append(f, "--=_ Boundary 0123456789abcdef\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
              "Content-Transfer-Encoding: quoted-printable\r\n\r\n");
    std::string text;
    while (text.size() < kPartBytes) {
        std::string line;
        int len = 20 + static_cast<int>(gen() % 120);
        for (int i = 0; i < len; ++i) {
            unsigned v = gen() % 64;
            line += v < 8 ? static_cast<char>(0xE0 + v)
                          : (v < 14 ? ' ' : static_cast<char>('a' + v % 26));
        }
        text += QPEncodeLine(line);
        text += "\n";
    }
    std::string crlf;
    for (char ch : text) {
        if (ch == '\n')
            crlf += '\r';
        crlf += ch;
    }
    Append(f, crlf);
    Append(f, "--=_ Boundary 0123456789abcdef\r\nContent-Type: application/octet-stream\r\n"
              "Content-Transfer-Encoding: base64\r\n"
              "Content-Disposition: attachment; filename=\"data.bin\"\r\n\r\n");
    Append(f, b64);
    Append(f, "--=_ Boundary 0123456789abcdef\r\nContent-Type: text/plain\r\n\r\n"
              "The file follows.\r\n\r\n");
    Append(f, UuText(bin));
    Append(f, "--=_ Boundary 0123456789abcdef--\r\nepilogue\r\n");
    s.iSize = std::ftell(f);
    std::fclose(f);
    return true;
}

Sample& TheSample()
{
    static Sample s = [] {
        Sample r;
        char tmpl[] = "/tmp/bench_msg.XXXXXX";
        if (!::mkdtemp(tmpl) || !WriteSample(tmpl, r)) {
            std::fprintf(stderr, "cannot write the sample message\n");
            std::exit(1);
        }
        return r;
    }();
    return s;
}

void RemoveSample()
{
    Sample& s = TheSample();
    ::unlink(s.message.c_str());
    ::unlink(s.base64.c_str());
    ::rmdir(s.dir.c_str());
}

// The leaf with the given transfer encoding (or the uuencoded text leaf).
template <typename Fn>
std::int64_t ForEachLine(CMIMEBodyPart* p, Fn fn)
{
    char line[1000];
    std::int64_t bytes = 0;
    p->Open();
    p->Rewind();
    int n;
    bool bBody = false; // the part's header block is skipped, as the converter does
    while ((n = p->ReadLine(line, sizeof line)) >= 0) {
        bytes += n;
        if (bBody)
            fn(line, n);
        else if (n == 2 && line[0] == '\r' && line[1] == '\n')
            bBody = true;
    }
    p->Close();
    return bytes;
}

void BM_ParseAndWalk(benchmark::State& state)
{
    Sample& s = TheSample();
    for (auto _ : state) {
        CMIMEMsg msg;
        if (!msg.Open(s.message.c_str()))
            state.SkipWithError("parse failed");
        int leaves = 0;
        for (CMIMEBodyPart* p = msg.FirstPart(); p; p = msg.NextPart())
            ++leaves;
        benchmark::DoNotOptimize(leaves);
    }
    state.SetBytesProcessed(state.iterations() * s.iSize);
}

void BM_ParseAndReadAllLines(benchmark::State& state)
{
    Sample& s = TheSample();
    for (auto _ : state) {
        CMIMEMsg msg;
        msg.Open(s.message.c_str());
        std::int64_t sum = 0;
        for (CMIMEBodyPart* p = msg.FirstPart(); p; p = msg.NextPart())
            ForEachLine(p, [&](const char* l, int n) { sum += n + l[0]; });
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * s.iSize);
}

CMIMEBodyPart* Leaf(CMIMEMsg& msg, int index)
{
    CMIMEBodyPart* p = msg.FirstPart();
    for (int i = 0; i < index && p; ++i)
        p = msg.NextPart();
    return p;
}

void BM_Base64DecodeLines(benchmark::State& state)
{
    Sample& s = TheSample();
    CMIMEMsg msg;
    msg.Open(s.message.c_str());
    CMIMEBodyPart* part = Leaf(msg, 1);
    std::int64_t bytes = 0;
    for (auto _ : state) {
        CBase64Dec dec;
        unsigned char out[1003];
        std::int64_t produced = 0;
        bytes = ForEachLine(
            part, [&](const char* l, int n) { produced += dec.Decode(l, n, out, n + 3); });
        if (produced != static_cast<std::int64_t>(kPartBytes))
            state.SkipWithError("wrong decoded size");
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}

void BM_QuotedPrintableDecodeLines(benchmark::State& state)
{
    Sample& s = TheSample();
    CMIMEMsg msg;
    msg.Open(s.message.c_str());
    CMIMEBodyPart* part = Leaf(msg, 0);
    std::int64_t bytes = 0;
    for (auto _ : state) {
        char out[1000];
        std::int64_t produced = 0;
        bytes = ForEachLine(part, [&](const char* l, int n) {
            produced +=
                QPDecodeLine(std::string_view(l, static_cast<std::size_t>(n)), out, sizeof out);
        });
        benchmark::DoNotOptimize(produced);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}

void BM_UudecodeLines(benchmark::State& state)
{
    Sample& s = TheSample();
    CMIMEMsg msg;
    msg.Open(s.message.c_str());
    CMIMEBodyPart* part = Leaf(msg, 2);
    std::int64_t bytes = 0;
    for (auto _ : state) {
        CUUDEC dec;
        unsigned char out[CUUDEC::kMaxLineBytes];
        std::int64_t produced = 0;
        bytes = ForEachLine(part, [&](const char* l, int n) {
            produced += dec.DecodeLine(std::string_view(l, static_cast<std::size_t>(n)), out);
        });
        if (produced != static_cast<std::int64_t>(kPartBytes))
            state.SkipWithError("wrong decoded size");
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}

void BM_Base64DecodeInMemory(benchmark::State& state)
{
    // The decoder alone, without the file window.
    Sample& s = TheSample();
    std::FILE* f = std::fopen(s.base64.c_str(), "rb");
    std::string text(static_cast<std::size_t>(10u << 20), '\0');
    text.resize(std::fread(text.data(), 1, text.size(), f));
    std::fclose(f);
    std::vector<unsigned char> out(text.size() + 3);
    for (auto _ : state) {
        CBase64Dec dec;
        int n = dec.Decode(text.data(), static_cast<int>(text.size()), out.data(),
                           static_cast<int>(out.size()));
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

BENCHMARK(BM_ParseAndWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseAndReadAllLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64DecodeLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuotedPrintableDecodeLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UudecodeLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64DecodeInMemory)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--write-sample") == 0) {
        Sample s;
        if (!WriteSample(argv[2], s)) {
            std::fprintf(stderr, "cannot write into %s\n", argv[2]);
            return 1;
        }
        std::printf("%s %lld\n", s.message.c_str(), static_cast<long long>(s.iSize));
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    RemoveSample();
    return 0;
}
