#include "msg/Base64.h"
#include "msg/QuotedPrintable.h"
#include "msg/UniqueName.h"
#include "msg/UuCodec.h"

#include "TestUtil.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

using testutil::TempDir;
using testutil::WriteFile;

namespace {

std::string AllBytes(std::size_t n, unsigned seed = 0)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 7 + seed) & 0xFF);
    return s;
}

std::vector<std::string> EncodeBase64File(const std::string& path, int nBuf = 80)
{
    CBase64Enc enc;
    EXPECT_EQ(enc.Open(path.c_str()), 0);
    std::vector<std::string> lines;
    std::vector<char> buf(static_cast<std::size_t>(nBuf));
    for (int guard = 0; guard < 100000; ++guard) {
        int rc = enc.NextLine(buf.data(), nBuf);
        if (rc != 0) {
            EXPECT_EQ(rc, 2);
            EXPECT_STREQ(buf.data(), "");
            break;
        }
        lines.push_back(buf.data());
    }
    return lines;
}

std::string DecodeBase64(const std::string& text)
{
    CBase64Dec dec;
    std::vector<unsigned char> out(text.size() + 3);
    int n = dec.Decode(text.data(), static_cast<int>(text.size()), out.data(),
                       static_cast<int>(out.size()));
    EXPECT_GE(n, 0);
    return std::string(reinterpret_cast<char*>(out.data()),
                       n > 0 ? static_cast<std::size_t>(n) : 0);
}

struct UuResult {
    std::vector<std::string> lines;
    int lastRc = -1;
};

UuResult EncodeUu(const std::string& path, const char* name, int nBuf = 82)
{
    CUUENC enc(path.c_str(), name);
    UuResult r;
    std::vector<char> buf(static_cast<std::size_t>(nBuf));
    for (int guard = 0; guard < 100000; ++guard) {
        int rc = enc.NextLine(buf.data(), nBuf);
        if (rc == 0 || rc == 2)
            r.lines.push_back(buf.data());
        if (rc != 0) {
            r.lastRc = rc;
            break;
        }
    }
    return r;
}

} // namespace

// ---------------------------------------------------------------- base64 out

TEST(Base64Enc, EmptyFileGivesNoLine)
{
    TempDir dir;
    WriteFile(dir.File("e"), "");
    EXPECT_TRUE(EncodeBase64File(dir.File("e")).empty());
}

TEST(Base64Enc, LineLengthsAndPadding)
{
    TempDir dir;
    WriteFile(dir.File("a"), std::string(51, 'x'));
    auto lines = EncodeBase64File(dir.File("a"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 68u);
    EXPECT_EQ(lines[0].find('='), std::string::npos);

    WriteFile(dir.File("b"), std::string(52, 'x'));
    lines = EncodeBase64File(dir.File("b"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "eA==");

    WriteFile(dir.File("c"), "Man"
                             "Ma");
    lines = EncodeBase64File(dir.File("c"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "TWFuTWE=");
}

TEST(Base64Enc, ResultCodes)
{
    TempDir dir;
    CBase64Enc enc;
    char buf[80];
    EXPECT_EQ(enc.NextLine(buf, sizeof buf), 1) << "not opened";
    EXPECT_EQ(enc.Open(dir.File("missing").c_str()), 1);
    WriteFile(dir.File("f"), "abc");
    ASSERT_EQ(enc.Open(dir.File("f").c_str()), 0);
    EXPECT_EQ(enc.NextLine(buf, 68), 3);
    EXPECT_EQ(enc.NextLine(buf, 69), 0);
    EXPECT_STREQ(buf, "YWJj");
    EXPECT_EQ(enc.NextLine(buf, 69), 2);
    EXPECT_EQ(enc.NextLine(buf, 69), 2) << "stays at the end";
    // A directory opens but cannot be read.
    CBase64Enc dirEnc;
    ASSERT_EQ(dirEnc.Open(dir.Path().c_str()), 0);
    EXPECT_EQ(dirEnc.NextLine(buf, sizeof buf), 1);
}

TEST(Base64, RoundTripAllByteValuesAndSizes)
{
    TempDir dir;
    for (std::size_t n : {0u, 1u, 2u, 3u, 50u, 51u, 52u, 53u, 255u, 256u, 1000u, 5000u}) {
        std::string data = AllBytes(n, static_cast<unsigned>(n));
        if (n == 256)
            for (std::size_t i = 0; i < 256; ++i)
                data[i] = static_cast<char>(i);
        WriteFile(dir.File("f"), data);
        auto lines = EncodeBase64File(dir.File("f"));
        EXPECT_EQ(lines.size(), (n + 50) / 51);
        std::string text;
        for (const auto& l : lines) {
            EXPECT_LE(l.size(), 68u);
            text += l + "\r\n";
        }
        EXPECT_EQ(DecodeBase64(text), data) << n;
    }
}

// ---------------------------------------------------------------- base64 in

TEST(Base64Dec, SplitAtEveryPositionDecodesTheSame)
{
    std::string data;
    for (int i = 0; i < 256; ++i)
        data += static_cast<char>(i);
    data += "xy"; // a padded last group
    TempDir dir;
    WriteFile(dir.File("f"), data);
    std::string text;
    for (const auto& l : EncodeBase64File(dir.File("f")))
        text += l + "\r\n";
    for (std::size_t k = 0; k <= text.size(); ++k) {
        CBase64Dec dec;
        std::vector<unsigned char> out(text.size() + 3);
        int a = dec.Decode(text.data(), static_cast<int>(k), out.data(), static_cast<int>(k) + 3);
        ASSERT_GE(a, 0);
        int b = dec.Decode(text.data() + k, static_cast<int>(text.size() - k), out.data() + a,
                           static_cast<int>(text.size() - k) + 3);
        ASSERT_GE(b, 0);
        ASSERT_EQ(std::string(reinterpret_cast<char*>(out.data()), static_cast<std::size_t>(a + b)),
                  data)
            << "split at " << k;
    }
    // One character per call.
    CBase64Dec dec;
    std::string got;
    for (char c : text) {
        unsigned char out[4];
        int n = dec.Decode(&c, 1, out, 4);
        ASSERT_GE(n, 0);
        got.append(reinterpret_cast<char*>(out), static_cast<std::size_t>(n));
        EXPECT_LT(dec.Pending(), 4);
    }
    EXPECT_EQ(got, data);
}

TEST(Base64Dec, PaddingEndsTheCall)
{
    CBase64Dec dec;
    unsigned char out[16];
    // The third character is "=": one byte, the rest of the input ignored.
    EXPECT_EQ(dec.Decode("QQ==QUJD", 8, out, 16), 1);
    EXPECT_EQ(out[0], 'A');
    EXPECT_EQ(dec.Pending(), 0);
    EXPECT_EQ(dec.Decode("QUI=QUJD", 8, out, 16), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 2), "AB");
    // The next call starts afresh.
    EXPECT_EQ(dec.Decode("QUJD", 4, out, 16), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 3), "ABC");
}

TEST(Base64Dec, SkipsForeignCharactersAndChecksCapacity)
{
    CBase64Dec dec;
    unsigned char out[16];
    const char* text = "Q U\r\nJ*D\x80\xff";
    EXPECT_EQ(dec.Decode(text, 10, out, 16), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 3), "ABC");
    EXPECT_EQ(dec.Decode("QUJDREVG", 8, out, 5), -1);
    CBase64Dec exact;
    EXPECT_EQ(exact.Decode("QUJDREVG", 8, out, 6), 6);
    CBase64Dec empty;
    EXPECT_EQ(empty.Decode("", 0, out, 0), 0);
    EXPECT_EQ(empty.Decode("QUJ", 3, out, 0), 0);
    EXPECT_EQ(empty.Pending(), 3);
}

// ---------------------------------------------------------------- uuencode

TEST(UuEnc, EmptyFileGivesThreeLines)
{
    TempDir dir;
    WriteFile(dir.File("e"), "");
    UuResult r = EncodeUu(dir.File("e"), "empty.bin");
    EXPECT_EQ(r.lines, (std::vector<std::string>{"begin 600 empty.bin", "`", "end"}));
    EXPECT_EQ(r.lastRc, 2);
}

TEST(UuEnc, FullAndShortLines)
{
    TempDir dir;
    WriteFile(dir.File("f"), std::string(45, '\0') + "A");
    UuResult r = EncodeUu(dir.File("f"), "f.bin");
    ASSERT_EQ(r.lines.size(), 5u);
    EXPECT_EQ(r.lines[1], "M" + std::string(60, '`'));
    EXPECT_EQ(r.lines[2], "!00``");
    EXPECT_EQ(r.lines[3], "`");
    EXPECT_EQ(r.lines[4], "end");
    for (std::size_t i = 1; i < r.lines.size(); ++i)
        EXPECT_EQ(r.lines[i].find(' '), std::string::npos) << "a zero is a grave accent";
}

TEST(UuEnc, ResultCodes)
{
    TempDir dir;
    char buf[100];
    {
        CUUENC enc(dir.File("missing").c_str(), "x");
        EXPECT_EQ(enc.NextLine(buf, sizeof buf), 1);
        EXPECT_EQ(enc.GetState(), CUUENC::Done);
        EXPECT_EQ(enc.NextLine(buf, sizeof buf), 2);
    }
    WriteFile(dir.File("f"), std::string(100, 'z'));
    {
        CUUENC enc(dir.File("f").c_str(), "name");
        EXPECT_EQ(enc.NextLine(buf, 14), 4) << "begin 600 name needs 15";
        EXPECT_EQ(enc.NextLine(buf, sizeof buf), 2);
    }
    {
        CUUENC enc(dir.File("f").c_str(), "name");
        EXPECT_EQ(enc.NextLine(buf, 15), 0);
        EXPECT_STREQ(buf, "begin 600 name");
        EXPECT_EQ(enc.NextLine(buf, 61), 4) << "a full line needs 62";
        EXPECT_EQ(enc.NextLine(buf, sizeof buf), 2);
    }
    {
        WriteFile(dir.File("g"), "abc");
        CUUENC enc(dir.File("g").c_str(), "g");
        EXPECT_EQ(enc.NextLine(buf, sizeof buf), 0);
        EXPECT_EQ(enc.NextLine(buf, 6), 0);
        EXPECT_STREQ(buf, "#86)C");
        EXPECT_EQ(enc.NextLine(buf, 2), 0);
        EXPECT_STREQ(buf, "`");
        EXPECT_EQ(enc.NextLine(buf, 3), 4) << "end does not fit";
        EXPECT_EQ(enc.NextLine(buf, sizeof buf), 2);
    }
}

TEST(UuCodec, RoundTripAllByteValuesAndSizes)
{
    TempDir dir;
    for (std::size_t n : {1u, 2u, 3u, 44u, 45u, 46u, 90u, 256u, 4099u}) {
        std::string data = AllBytes(n, 3);
        if (n == 256)
            for (std::size_t i = 0; i < 256; ++i)
                data[i] = static_cast<char>(i);
        WriteFile(dir.File("f"), data);
        UuResult r = EncodeUu(dir.File("f"), "data.bin");
        ASSERT_EQ(r.lastRc, 2);
        for (bool bCrLf : {false, true}) {
            CUUDEC dec;
            std::string got;
            dec.DecodeLine("some text before", nullptr, 0);
            for (const auto& l : r.lines) {
                unsigned char out[CUUDEC::kMaxLineBytes];
                int k = dec.DecodeLine(bCrLf ? l + "\r\n" : l, out);
                got.append(reinterpret_cast<char*>(out), static_cast<std::size_t>(k));
            }
            EXPECT_EQ(got, data) << n;
            EXPECT_EQ(dec.GetName(), "data.bin");
            EXPECT_EQ(dec.GetMode(), 0600u);
            EXPECT_EQ(dec.GetState(), CUUDEC::Done);
        }
    }
}

TEST(UuDec, BeginLine)
{
    unsigned mode = 0;
    std::string name;
    EXPECT_TRUE(CUUDEC::ScanBeginLine("begin 644 my file.txt\r\n", false, &mode, &name));
    EXPECT_EQ(mode, 0644u);
    EXPECT_EQ(name, "my");
    EXPECT_FALSE(CUUDEC::ScanBeginLine("begin 644\r\n", false, &mode, &name));
    EXPECT_FALSE(CUUDEC::ScanBeginLine("begin x.txt", false, &mode, &name));
    EXPECT_FALSE(CUUDEC::ScanBeginLine("begin 9 x", false, &mode, &name));
    EXPECT_FALSE(CUUDEC::ScanBeginLine("BEGIN 644 x", false, &mode, &name));
    EXPECT_TRUE(CUUDEC::ScanBeginLine("BEGIN 644 x", true, &mode, &name));
    EXPECT_FALSE(CUUDEC::ScanBeginLine("begin", false, &mode, &name));
    EXPECT_TRUE(CUUDEC::ScanBeginLine("begin 600 " + std::string(300, 'n'), false, &mode, &name));
    EXPECT_EQ(name.size(), 127u);
}

TEST(UuDec, StatesAndShortLines)
{
    unsigned char out[CUUDEC::kMaxLineBytes];
    {
        CUUDEC dec;
        EXPECT_EQ(dec.DecodeLine("Begin 644 x", out), 0);
        EXPECT_EQ(dec.GetState(), CUUDEC::Seeking);
        EXPECT_EQ(dec.DecodeLine("begin 644 x\r\n", out), 0);
        EXPECT_EQ(dec.GetState(), CUUDEC::Body);
        EXPECT_EQ(dec.DecodeLine("#86)C\r\n", out), 3);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 3), "abc");
        // A blank declares no bytes as well as the grave accent.
        EXPECT_EQ(dec.DecodeLine(" \r\n", out), 0);
        EXPECT_EQ(dec.GetState(), CUUDEC::End);
        EXPECT_EQ(dec.DecodeLine("end\r\n", out), 0);
        EXPECT_EQ(dec.GetState(), CUUDEC::Done);
        EXPECT_EQ(dec.DecodeLine("#86)C", out), 0) << "nothing after end";
    }
    {
        // A line shorter than it declares ends the decoding.
        CUUDEC dec;
        dec.StartInBody();
        EXPECT_EQ(dec.DecodeLine("M86)C", out), 0);
        EXPECT_EQ(dec.GetState(), CUUDEC::Done);
        EXPECT_EQ(dec.DecodeLine("#86)C", out), 0);
    }
    {
        // An empty line in the data also ends it.
        CUUDEC dec;
        dec.StartInBody();
        EXPECT_EQ(dec.DecodeLine("", out), 0);
        EXPECT_EQ(dec.GetState(), CUUDEC::Done);
    }
    {
        // A line declaring more than the caller's buffer holds.
        CUUDEC dec;
        dec.StartInBody();
        EXPECT_EQ(dec.DecodeLine("#86)C", out, 2), 0);
        EXPECT_EQ(dec.GetState(), CUUDEC::Done);
    }
    {
        // Every character maps into 0..63: no failure on foreign bytes.
        CUUDEC dec;
        dec.StartInBody();
        EXPECT_EQ(dec.DecodeLine(
                      "\xff\xfe\x01\x02\x7f\x80\xe0\xa0\x10\x11\x12\x13\x14\x15\x16\x16\x17\x18\x19"
                      "\x1a\x1b\x1c\x1d\x1e\x1f\x20\x21\x22\x23\x24\x25\x26\x27\x28\x29\x2a\x2b\x2c"
                      "\x2d\x2e\x2f\x30\x31\x32\x33\x34\x35\x36\x37\x38\x39\x3a\x3b\x3c\x3d\x3e\x3f"
                      "\x40\x41\x42\x43\x44\x45\x46\x47\x48\x49\x4a\x4b\x4c\x4d\x4e\x4f\x50\x51\x52"
                      "\x53\x54\x55\x56\x57\x58\x59\x5a\x5b\x5c",
                      out),
                  31);
    }
}

// ---------------------------------------------------------------- quoted-printable

TEST(QPEncode, TrailingBlanksAndEquals)
{
    EXPECT_EQ(QPEncodeLine("a b  "), "a b=20=20");
    EXPECT_EQ(QPEncodeLine("a\tb\t"), "a\tb=09");
    EXPECT_EQ(QPEncodeLine(" \t "), "=20=09=20");
    EXPECT_EQ(QPEncodeLine("1+1=2"), "1+1=3D2");
    EXPECT_EQ(QPEncodeLine(""), "");
    EXPECT_EQ(QPEncodeLine("gr\xfc\xdf"), "gr=FC=DF");
}

TEST(QPEncode, EveryByteValue)
{
    for (int c = 0; c < 256; ++c) {
        std::string in(1, static_cast<char>(c));
        std::string out = QPEncodeLine(in + "x"); // not trailing
        bool bLiteral = (c >= 33 && c <= 126 && c != '=') || c == ' ' || c == '\t';
        if (bLiteral) {
            EXPECT_EQ(out, in + "x") << c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02X", c);
            EXPECT_EQ(out, std::string("=") + hex + "x") << c;
        }
    }
}

TEST(QPEncode, SoftBreaks)
{
    std::string out = QPEncodeLine(std::string(200, 'a'));
    EXPECT_EQ(out,
              std::string(75, 'a') + "=\n" + std::string(75, 'a') + "=\n" + std::string(50, 'a'));
    // Exactly 75 characters need no break.
    EXPECT_EQ(QPEncodeLine(std::string(75, 'a')), std::string(75, 'a'));
    EXPECT_EQ(QPEncodeLine(std::string(76, 'a')), std::string(75, 'a') + "=\na");
    // An escape is never split; a line may reach 77 characters before "=".
    std::string mixed = std::string(74, 'a') + "\xe4" + "b";
    EXPECT_EQ(QPEncodeLine(mixed), std::string(74, 'a') + "=E4=\nb");
}

TEST(QPEncode, LongEightBitLineLosesNothing)
{
    std::string line(499, '\xe4');
    std::string out = QPEncodeLine(line);
    EXPECT_GT(out.size(), 1490u);
    std::string back;
    std::size_t start = 0;
    while (start <= out.size()) {
        std::size_t nl = out.find('\n', start);
        std::string piece =
            out.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        EXPECT_LE(piece.size(), 78u);
        char buf[200];
        int n = QPDecodeLine(piece, buf, sizeof buf);
        back.append(buf, static_cast<std::size_t>(n));
        if (nl == std::string::npos)
            break;
        start = nl + 1;
    }
    EXPECT_EQ(back, line);
}

TEST(QPCodec, RandomRoundTrip)
{
    std::mt19937 gen(12345);
    for (int round = 0; round < 300; ++round) {
        std::string line(gen() % 600, '\0');
        for (char& c : line) {
            unsigned v = gen() % 300;
            c = static_cast<char>(v < 256 ? v : (v < 280 ? ' ' : '\t'));
        }
        // Lines come without their line end.
        for (char& c : line)
            if (c == '\r' || c == '\n')
                c = 'x';
        std::string out = QPEncodeLine(line);
        std::string back;
        std::size_t start = 0;
        for (;;) {
            std::size_t nl = out.find('\n', start);
            std::string piece =
                out.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
            for (unsigned char c : piece)
                ASSERT_TRUE(c == '\t' || (c >= 32 && c <= 126)) << int(c);
            std::vector<char> buf(piece.size() + 1);
            int n = QPDecodeLine(piece, buf.data(), static_cast<int>(buf.size()));
            back.append(buf.data(), static_cast<std::size_t>(n));
            if (nl == std::string::npos)
                break;
            start = nl + 1;
        }
        ASSERT_EQ(back, line) << round;
    }
}

TEST(QPDecode, EscapesSoftBreaksAndCapacity)
{
    char buf[64];
    EXPECT_EQ(QPDecodeLine("=41=42c", buf, sizeof buf), 3);
    EXPECT_STREQ(buf, "ABc");
    EXPECT_EQ(QPDecodeLine("=4a=e4", buf, sizeof buf), 2);
    EXPECT_EQ(std::string(buf, 2), "J\xe4");
    EXPECT_EQ(QPDecodeLine("a=G1=4", buf, sizeof buf), 6);
    EXPECT_STREQ(buf, "a=G1=4") << "a broken escape stays as written";
    EXPECT_EQ(QPDecodeLine("abc=\r\n", buf, sizeof buf), 3);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(QPDecodeLine("abc= \t\r\n", buf, sizeof buf), 3);
    EXPECT_EQ(QPDecodeLine("abc=", buf, sizeof buf), 3);
    EXPECT_EQ(QPDecodeLine("abc\r\n", buf, sizeof buf), 5);
    EXPECT_STREQ(buf, "abc\r\n");
    EXPECT_EQ(QPDecodeLine("abcdef", buf, 4), 3);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(QPDecodeLine("abc", buf, 1), 0);
    EXPECT_STREQ(buf, "");
}

// ---------------------------------------------------------------- names

TEST(UniqueName, FormatAndFreshNames)
{
    TempDir dir;
    std::set<std::string> names;
    for (int i = 0; i < 200; ++i) {
        std::string name, path;
        ASSERT_TRUE(MakeUniqueFileName(dir.Path(), "txt", name, path));
        ASSERT_EQ(name.size(), 12u);
        for (int k = 0; k < 8; ++k)
            EXPECT_TRUE(name[k] >= 'a' && name[k] <= 'z') << name;
        EXPECT_EQ(name.substr(8), ".txt");
        EXPECT_EQ(path, dir.Path() + "/" + name);
        names.insert(name);
        WriteFile(path, "x");
    }
    EXPECT_EQ(names.size(), 200u);
}

TEST(UniqueName, DrawsAgainWhileTheNameExists)
{
    TempDir dir;
    WriteFile(dir.File("aaaaaaaa.att"), "");
    WriteFile(dir.File("bbbbbbbb.att"), "");
    int draw = 0;
    auto seq = [&draw] { return draw++ / 8; }; // a*8, then b*8, then c*8
    std::string name, path;
    ASSERT_TRUE(MakeUniqueFileName(dir.Path(), "att", name, path, seq));
    EXPECT_EQ(name, "cccccccc.att");
    EXPECT_EQ(draw, 24);
    // Nothing free: gives up instead of looping for ever.
    auto always = [] { return 0; };
    EXPECT_FALSE(MakeUniqueFileName(dir.Path(), "att", name, path, always, 50));
    // A dangling symbolic link counts as taken.
    ASSERT_EQ(::symlink("/nonexistent/target", dir.File("dddddddd.att").c_str()), 0);
    draw = 24;
    ASSERT_TRUE(MakeUniqueFileName(dir.Path(), "att", name, path, seq));
    EXPECT_EQ(name, "eeeeeeee.att");
}
