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

// n bytes; with n == 256 each byte value once.
std::string Bytes(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(n == 256 ? i : (i * 7 + n) & 0xFF);
    return s;
}

std::vector<std::string> EncodeBase64File(const std::string& path)
{
    CBase64Enc enc;
    EXPECT_EQ(enc.Open(path.c_str()), 0);
    std::vector<std::string> lines;
    char buf[80];
    int rc;
    while ((rc = enc.NextLine(buf, sizeof buf)) == 0)
        lines.push_back(buf);
    EXPECT_EQ(rc, 2);
    EXPECT_STREQ(buf, "");
    return lines;
}

std::string Unsigned(const unsigned char* p, int n)
{
    return std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n));
}

// The lines of a uuencoded file, up to and with "end"; *pLastRc is the last result.
std::vector<std::string> EncodeUu(const std::string& path, const char* name, int* pLastRc)
{
    CUUENC enc(path.c_str(), name);
    std::vector<std::string> lines;
    char buf[82];
    for (int guard = 0; guard < 100000; ++guard) {
        *pLastRc = enc.NextLine(buf, sizeof buf);
        if (*pLastRc == 0 || *pLastRc == 2)
            lines.push_back(buf);
        if (*pLastRc != 0)
            break;
    }
    return lines;
}

// Decodes the soft-broken lines of QPEncodeLine one by one, checking that each
// is plain printable text of at most 78 characters.
std::string QPDecodePieces(const std::string& encoded)
{
    std::string back;
    std::size_t start = 0;
    for (;;) {
        std::size_t nl = encoded.find('\n', start);
        std::string piece = encoded.substr(start, nl == std::string::npos ? nl : nl - start);
        EXPECT_LE(piece.size(), 78u);
        for (unsigned char c : piece)
            EXPECT_TRUE(c == '\t' || (c >= 32 && c <= 126)) << int(c);
        std::vector<char> buf(piece.size() + 1);
        back.append(buf.data(), static_cast<std::size_t>(
                                    QPDecodeLine(piece, buf.data(), static_cast<int>(buf.size()))));
        if (nl == std::string::npos)
            return back;
        start = nl + 1;
    }
}

} // namespace

// ---------------------------------------------------------------- base64

TEST(Base64Enc, KnownLinesAndResultCodes)
{
    TempDir dir;
    // Whole lines and a last group of two bytes are compared with coreutils
    // by the tool's test; a last group of one byte gets two "=" (which the
    // decoder of the round trips would not miss).
    WriteFile(dir.File("b"), std::string(52, 'x'));
    auto lines = EncodeBase64File(dir.File("b"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "eA==");

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

// Every size of last group, each text cut in two at every position: the
// decoder carries an unfinished group from one call to the next.
TEST(Base64, RoundTripOfAllSizesSplitAtEveryPosition)
{
    TempDir dir;
    for (std::size_t n : {0u, 1u, 2u, 3u, 50u, 51u, 52u, 53u, 256u, 258u, 5000u}) {
        std::string data = n == 258 ? Bytes(256) + "xy" : Bytes(n);
        WriteFile(dir.File("f"), data);
        auto lines = EncodeBase64File(dir.File("f"));
        EXPECT_EQ(lines.size(), (n + 50) / 51);
        std::string text;
        for (const auto& l : lines) {
            EXPECT_LE(l.size(), 68u);
            text += l + "\r\n";
        }
        for (std::size_t k = 0; k <= text.size(); ++k) {
            CBase64Dec dec;
            std::vector<unsigned char> out(text.size() + 3);
            int a =
                dec.Decode(text.data(), static_cast<int>(k), out.data(), static_cast<int>(k) + 3);
            ASSERT_GE(a, 0);
            EXPECT_LT(dec.Pending(), 4);
            int b = dec.Decode(text.data() + k, static_cast<int>(text.size() - k), out.data() + a,
                               static_cast<int>(text.size() - k) + 3);
            ASSERT_GE(b, 0);
            ASSERT_EQ(Unsigned(out.data(), a + b), data) << n << " bytes split at " << k;
        }
    }
}

TEST(Base64Dec, PaddingEndsTheCallAndForeignCharactersAreSkipped)
{
    CBase64Dec dec;
    unsigned char out[16];
    // The third character is "=": one byte, the rest of the input ignored.
    EXPECT_EQ(dec.Decode("QQ==QUJD", 8, out, 16), 1);
    EXPECT_EQ(out[0], 'A');
    EXPECT_EQ(dec.Pending(), 0);
    EXPECT_EQ(dec.Decode("QUI=QUJD", 8, out, 16), 2);
    EXPECT_EQ(Unsigned(out, 2), "AB");
    // The next call starts afresh; blanks, line ends and 8-bit bytes are skipped.
    EXPECT_EQ(dec.Decode("Q U\r\nJ*D\x80\xff", 10, out, 16), 3);
    EXPECT_EQ(Unsigned(out, 3), "ABC");
    // The capacity is checked.
    EXPECT_EQ(dec.Decode("QUJDREVG", 8, out, 5), -1);
    CBase64Dec exact;
    EXPECT_EQ(exact.Decode("QUJDREVG", 8, out, 6), 6);
    CBase64Dec empty;
    EXPECT_EQ(empty.Decode("", 0, out, 0), 0);
    EXPECT_EQ(empty.Decode("QUJ", 3, out, 0), 0);
    EXPECT_EQ(empty.Pending(), 3);
}

// ---------------------------------------------------------------- uuencode

TEST(UuEnc, LinesAndResultCodes)
{
    TempDir dir;
    int rc = -1;
    WriteFile(dir.File("e"), "");
    EXPECT_EQ(EncodeUu(dir.File("e"), "empty.bin", &rc),
              (std::vector<std::string>{"begin 600 empty.bin", "`", "end"}));
    EXPECT_EQ(rc, 2);
    // A zero is a grave accent, never a blank.
    WriteFile(dir.File("f"), std::string(45, '\0') + "A");
    EXPECT_EQ(EncodeUu(dir.File("f"), "f.bin", &rc),
              (std::vector<std::string>{"begin 600 f.bin", "M" + std::string(60, '`'), "!00``", "`",
                                        "end"}));

    // The results of NextLine with the given buffer sizes in turn: a begin
    // line needs 10 + the name + 1, a full line 62, "end" 4; after an error
    // the end.
    auto results = [&dir](const char* file, std::vector<int> sizes) {
        CUUENC enc(dir.File(file).c_str(), "name");
        std::vector<int> got;
        char buf[100];
        for (int n : sizes)
            got.push_back(enc.NextLine(buf, n));
        return got;
    };
    WriteFile(dir.File("z"), std::string(100, 'z'));
    WriteFile(dir.File("abc"), "abc");
    EXPECT_EQ(results("missing", {100, 100}), (std::vector<int>{1, 2}));
    EXPECT_EQ(results("z", {14, 100}), (std::vector<int>{4, 2}));
    EXPECT_EQ(results("z", {15, 61, 100}), (std::vector<int>{0, 4, 2}));
    EXPECT_EQ(results("abc", {15, 6, 2, 3, 100}), (std::vector<int>{0, 0, 0, 4, 2}));
}

TEST(UuCodec, RoundTripAllByteValuesAndSizes)
{
    TempDir dir;
    for (std::size_t n : {1u, 2u, 3u, 44u, 45u, 46u, 90u, 256u, 4099u}) {
        WriteFile(dir.File("f"), Bytes(n));
        int rc = -1;
        auto lines = EncodeUu(dir.File("f"), "data.bin", &rc);
        ASSERT_EQ(rc, 2);
        for (bool bCrLf : {false, true}) {
            CUUDEC dec;
            std::string got;
            dec.DecodeLine("some text before", nullptr, 0);
            for (const auto& l : lines) {
                unsigned char out[CUUDEC::kMaxLineBytes];
                got += Unsigned(out, dec.DecodeLine(bCrLf ? l + "\r\n" : l, out));
            }
            EXPECT_EQ(got, Bytes(n)) << n;
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
    for (const char* bad : {"begin 644\r\n", "begin x.txt", "begin 9 x", "BEGIN 644 x", "begin"})
        EXPECT_FALSE(CUUDEC::ScanBeginLine(bad, false, &mode, &name)) << bad;
    EXPECT_TRUE(CUUDEC::ScanBeginLine("BEGIN 644 x", true, &mode, &name));
    EXPECT_TRUE(CUUDEC::ScanBeginLine("begin 600 " + std::string(300, 'n'), false, &mode, &name));
    EXPECT_EQ(name.size(), 127u);
}

TEST(UuDec, StatesAndShortLines)
{
    unsigned char out[CUUDEC::kMaxLineBytes];
    CUUDEC dec;
    EXPECT_EQ(dec.DecodeLine("Begin 644 x", out), 0);
    EXPECT_EQ(dec.GetState(), CUUDEC::Seeking);
    EXPECT_EQ(dec.DecodeLine("begin 644 x\r\n", out), 0);
    EXPECT_EQ(dec.GetState(), CUUDEC::Body);
    EXPECT_EQ(dec.DecodeLine("#86)C\r\n", out), 3);
    EXPECT_EQ(Unsigned(out, 3), "abc");
    // A blank declares no bytes as well as the grave accent.
    EXPECT_EQ(dec.DecodeLine(" \r\n", out), 0);
    EXPECT_EQ(dec.GetState(), CUUDEC::End);
    EXPECT_EQ(dec.DecodeLine("end\r\n", out), 0);
    EXPECT_EQ(dec.GetState(), CUUDEC::Done);
    EXPECT_EQ(dec.DecodeLine("#86)C", out), 0) << "nothing after end";

    // A line shorter than it declares, an empty line, or a line declaring more
    // than the caller's buffer holds ends the decoding.
    const struct {
        const char* line;
        int nCapacity;
    } enders[] = {{"M86)C", CUUDEC::kMaxLineBytes}, {"", CUUDEC::kMaxLineBytes}, {"#86)C", 2}};
    for (const auto& e : enders) {
        CUUDEC body;
        body.StartInBody();
        EXPECT_EQ(body.DecodeLine(e.line, out, e.nCapacity), 0) << e.line;
        EXPECT_EQ(body.GetState(), CUUDEC::Done) << e.line;
        EXPECT_EQ(body.DecodeLine("#86)C", out), 0);
    }
    // Every character maps into 0..63: no failure on foreign bytes
    // (0xFF declares 31 bytes).
    std::string foreign = "\xff";
    for (int c = 1; c < 92; ++c)
        foreign += static_cast<char>(c * 37 % 256);
    CUUDEC body;
    body.StartInBody();
    EXPECT_EQ(body.DecodeLine(foreign, out), 31);
}

// ---------------------------------------------------------------- quoted-printable

TEST(QPEncode, EveryByteValueTrailingBlanksAndSoftBreaks)
{
    for (int c = 0; c < 256; ++c) {
        std::string in(1, static_cast<char>(c));
        bool bLiteral = (c >= 33 && c <= 126 && c != '=') || c == ' ' || c == '\t';
        char hex[4];
        std::snprintf(hex, sizeof hex, "=%02X", c);
        EXPECT_EQ(QPEncodeLine(in + "x"), (bLiteral ? in : std::string(hex)) + "x") << c;
    }
    EXPECT_EQ(QPEncodeLine("a b  "), "a b=20=20");
    EXPECT_EQ(QPEncodeLine("a\tb\t"), "a\tb=09");
    EXPECT_EQ(QPEncodeLine(" \t "), "=20=09=20");
    EXPECT_EQ(QPEncodeLine(""), "");
    EXPECT_EQ(QPEncodeLine(std::string(75, 'a')), std::string(75, 'a'));
    EXPECT_EQ(QPEncodeLine(std::string(76, 'a')), std::string(75, 'a') + "=\na");
    EXPECT_EQ(QPEncodeLine(std::string(200, 'a')),
              std::string(75, 'a') + "=\n" + std::string(75, 'a') + "=\n" + std::string(50, 'a'));
    // An escape is never split; a line may reach 77 characters before "=".
    EXPECT_EQ(QPEncodeLine(std::string(74, 'a') + "\xe4" + "b"), std::string(74, 'a') + "=E4=\nb");
}

TEST(QPCodec, RoundTripOfLongAndRandomLines)
{
    EXPECT_EQ(QPDecodePieces(QPEncodeLine(std::string(499, '\xe4'))), std::string(499, '\xe4'));
    std::mt19937 gen(12345);
    for (int round = 0; round < 300; ++round) {
        // Any byte but the line end, with extra blanks and tabs.
        std::string line(gen() % 600, '\0');
        for (char& c : line) {
            unsigned v = gen() % 300;
            c = static_cast<char>(v < 256 ? v : (v < 280 ? ' ' : '\t'));
            if (c == '\r' || c == '\n')
                c = 'x';
        }
        ASSERT_EQ(QPDecodePieces(QPEncodeLine(line)), line) << round;
    }
}

TEST(QPDecode, EscapesSoftBreaksAndCapacity)
{
    const struct {
        const char* in;
        int nCapacity, n;
        std::string out;
    } rows[] = {
        {"=41=42c", 64, 3, "ABc"},   {"=4a=e4", 64, 2, "J\xe4"},
        {"a=G1=4", 64, 6, "a=G1=4"}, // a broken escape stays as written
        {"abc=\r\n", 64, 3, "abc"},  {"abc= \t\r\n", 64, 3, "abc"},
        {"abc=", 64, 3, "abc"},      {"abc\r\n", 64, 5, "abc\r\n"},
        {"abcdef", 4, 3, "abc"},     {"abc", 1, 0, ""},
    };
    for (const auto& r : rows) {
        char buf[64];
        EXPECT_EQ(QPDecodeLine(r.in, buf, r.nCapacity), r.n) << r.in;
        EXPECT_EQ(std::string(buf), r.out) << r.in;
    }
}

// ---------------------------------------------------------------- names

TEST(UniqueName, FormatFreshNamesAndDrawingAgain)
{
    TempDir dir;
    std::set<std::string> names;
    for (int i = 0; i < 200; ++i) {
        std::string name, path;
        ASSERT_TRUE(MakeUniqueFileName(dir.Path(), "txt", name, path));
        ASSERT_EQ(name.size(), 12u);
        EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyz"), 8u) << name;
        EXPECT_EQ(name.substr(8), ".txt");
        EXPECT_EQ(path, dir.Path() + "/" + name);
        names.insert(name);
        WriteFile(path, "x");
    }
    EXPECT_EQ(names.size(), 200u);
    // A name that exists is drawn again.
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
