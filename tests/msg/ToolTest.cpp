// The date, mime, decode and encode subcommands of mailtolvan-tool.

#include "util/TimeZone.h"

#include "TestUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testutil::ReadFile;
using testutil::RunResult;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

RunResult Tool(const TempDir& home, std::vector<std::string> args)
{
    args.insert(args.begin(), testutil::BinPath("mailtolvan-tool"));
    return testutil::RunProgram(args, {"MAILTOLVAN_HOME=" + home.Path()});
}

} // namespace

TEST(ToolDate, PrintsSecondsOrMinusOne)
{
    TempDir home;
    RunResult r = Tool(home, {"date", "Tue, 07 Nov 1995 08:30:00 -0500"});
    EXPECT_EQ(r.iExit, 0) << r.err;
    EXPECT_EQ(r.out, std::to_string(tz::FromCivil(1995, 11, 7, 13, 30, 0)) + "\n");
    r = Tool(home, {"date", "Tue", "Nov", "7", "08:30:00", "1995"});
    EXPECT_EQ(r.out, std::to_string(tz::FromCivil(1995, 11, 7, 8, 30, 0)) + "\n");
    r = Tool(home, {"date", "no date here"});
    EXPECT_EQ(r.iExit, 0);
    EXPECT_EQ(r.out, "-1\n");
    r = Tool(home, {"date"});
    EXPECT_NE(r.iExit, 0);
    EXPECT_NE(r.err.find("usage"), std::string::npos);
}

TEST(ToolMime, ListsLeavesOrFails)
{
    TempDir home;
    std::string text =
        "Subject: x\r\n"
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
        "--b\r\n\r\nhello\r\n"
        "--b\r\nContent-Type: image/png; name=a.png\r\nContent-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment; filename=\"a b.png\"\r\n\r\nAAAA\r\n"
        "--b--\r\n";
    WriteFile(home.File("m.eml"), text);
    RunResult r = Tool(home, {"mime", home.File("m.eml")});
    EXPECT_EQ(r.iExit, 0) << r.err;
    std::size_t s1 = text.find("--b\r\n\r\nhello") + 5;
    std::size_t e1 = text.find("\r\n--b\r\nContent-Type");
    std::size_t s2 = e1 + 7;
    std::size_t e2 = text.find("\r\n--b--");
    EXPECT_EQ(r.out, "text/plain\t7bit\t-\t" + std::to_string(s1) + "\t" + std::to_string(e1) +
                         "\nimage/png\tbase64\ta b.png\t" + std::to_string(s2) + "\t" +
                         std::to_string(e2) + "\n");

    WriteFile(home.File("bad.eml"),
              "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nx\r\n");
    r = Tool(home, {"mime", home.File("bad.eml")});
    EXPECT_EQ(r.iExit, 1);
    EXPECT_NE(r.err.find("does not parse"), std::string::npos);
    EXPECT_EQ(r.out, "");
    r = Tool(home, {"mime", home.File("missing.eml")});
    EXPECT_NE(r.iExit, 0);
    r = Tool(home, {"mime", home.Path()});
    EXPECT_NE(r.iExit, 0);
}

TEST(ToolCodec, Base64AndUuRoundTrips)
{
    TempDir home;
    std::string data;
    for (int round = 0; round < 20; ++round)
        for (int i = 0; i < 256; ++i)
            data += static_cast<char>((i * (round + 1)) & 0xFF);
    WriteFile(home.File("in.bin"), data);

    RunResult r = Tool(home, {"encode", "--base64", home.File("in.bin"), home.File("b64.txt")});
    ASSERT_EQ(r.iExit, 0) << r.err;
    std::string b64 = ReadFile(home.File("b64.txt"));
    EXPECT_EQ(b64.substr(0, 69).back(), '\n');
    EXPECT_EQ(b64.find('\r'), std::string::npos);
    r = Tool(home, {"decode", "--base64", home.File("b64.txt"), home.File("out.bin")});
    ASSERT_EQ(r.iExit, 0) << r.err;
    EXPECT_EQ(ReadFile(home.File("out.bin")), data);

    r = Tool(home, {"encode", "--uu", "data.bin", home.File("in.bin"), home.File("uu.txt")});
    ASSERT_EQ(r.iExit, 0) << r.err;
    std::string uu = ReadFile(home.File("uu.txt"));
    EXPECT_EQ(uu.substr(0, 19), "begin 600 data.bin\n");
    EXPECT_EQ(uu.substr(uu.size() - 7), "\n`\nend\n");
    r = Tool(home, {"decode", "--uu", home.File("uu.txt"), home.File("out2.bin")});
    ASSERT_EQ(r.iExit, 0) << r.err;
    EXPECT_EQ(r.out, "data.bin\n");
    EXPECT_EQ(ReadFile(home.File("out2.bin")), data);

    // The same with CR LF line ends, as in a retrieved message.
    std::string uuCrLf;
    for (char c : uu) {
        if (c == '\n')
            uuCrLf += '\r';
        uuCrLf += c;
    }
    WriteFile(home.File("uu2.txt"), "Some text first\r\n\r\n" + uuCrLf);
    r = Tool(home, {"decode", "--uu", home.File("uu2.txt"), home.File("out3.bin")});
    ASSERT_EQ(r.iExit, 0) << r.err;
    EXPECT_EQ(ReadFile(home.File("out3.bin")), data);
}

TEST(ToolCodec, Base64WithoutFinalPaddingKeepsItsLastBytes)
{
    TempDir home;
    // Thirteen and fourteen bytes: one or two bytes in the last group.
    for (const char* text : {"hello world!!", "hello world!!!"}) {
        WriteFile(home.File("in.bin"), text);
        RunResult r = Tool(home, {"encode", "--base64", home.File("in.bin"), home.File("b64.txt")});
        ASSERT_EQ(r.iExit, 0) << r.err;
        std::string b64 = ReadFile(home.File("b64.txt"));
        b64.erase(b64.find('='));
        WriteFile(home.File("b64.txt"), b64 + "\r\n");
        r = Tool(home, {"decode", "--base64", home.File("b64.txt"), home.File("out.bin")});
        ASSERT_EQ(r.iExit, 0) << r.err;
        EXPECT_EQ(ReadFile(home.File("out.bin")), text);
        EXPECT_EQ(r.err, "");
    }
    // One character left over makes no byte, and is reported.
    WriteFile(home.File("b64.txt"), "aGk=\nQ\n");
    RunResult r = Tool(home, {"decode", "--base64", home.File("b64.txt"), home.File("out.bin")});
    ASSERT_EQ(r.iExit, 0) << r.err;
    EXPECT_EQ(ReadFile(home.File("out.bin")), "hi");
    EXPECT_NE(r.err.find("left over"), std::string::npos) << r.err;
}

TEST(ToolCodec, CrossCheckWithCoreutilsBase64)
{
    TempDir home;
    std::string data;
    for (int i = 0; i < 5000; ++i)
        data += static_cast<char>((i * 131 + 7) & 0xFF);
    WriteFile(home.File("in.bin"), data);
    RunResult sys = testutil::RunProgram({"/usr/bin/base64", "-w", "68", home.File("in.bin")});
    if (sys.iExit != 0)
        GTEST_SKIP() << "no base64 program";
    RunResult r = Tool(home, {"encode", "--base64", home.File("in.bin"), home.File("b64.txt")});
    ASSERT_EQ(r.iExit, 0) << r.err;
    EXPECT_EQ(ReadFile(home.File("b64.txt")), sys.out);
}

TEST(ToolCodec, QuotedPrintableLines)
{
    TempDir home;
    WriteFile(home.File("t.txt"), "a b  \r\n" + std::string(200, 'x') + "\nK\xe4se=1\n" +
                                      std::string(600, 'y') + "\nlast");
    RunResult r = Tool(home, {"encode", "--qp", home.File("t.txt"), home.File("q.txt")});
    ASSERT_EQ(r.iExit, 0) << r.err;
    std::string want = "a b=20=20\n" + std::string(75, 'x') + "=\n" + std::string(75, 'x') + "=\n" +
                       std::string(50, 'x') + "\nK=E4se=3D1\n";
    // 600 characters: a piece of 499 and one of 101, joined by a soft line
    // break, so the line decodes whole.
    std::string p1;
    for (int i = 0; i < 499; i += 75)
        p1 += std::string(static_cast<std::size_t>(std::min(75, 499 - i)), 'y') + "=\n";
    want += p1 + std::string(75, 'y') + "=\n" + std::string(26, 'y') + "\nlast\n";
    EXPECT_EQ(ReadFile(home.File("q.txt")), want);
}

TEST(ToolCodec, BadArgumentsAndInputs)
{
    TempDir home;
    WriteFile(home.File("plain.txt"), "no uuencoded data\n");
    RunResult r = Tool(home, {"decode", "--uu", home.File("plain.txt"), home.File("o")});
    EXPECT_EQ(r.iExit, 1);
    EXPECT_NE(r.err.find("begin"), std::string::npos);
    r = Tool(home, {"decode", "--base64", home.File("missing"), home.File("o")});
    EXPECT_NE(r.iExit, 0);
    r = Tool(home, {"decode", "--hex", home.File("plain.txt"), home.File("o")});
    EXPECT_NE(r.iExit, 0);
    r = Tool(home, {"encode", "--base64", home.File("missing"), home.File("o")});
    EXPECT_NE(r.iExit, 0);
    r = Tool(home, {"encode", "--uu", "n", home.File("missing"), home.File("o")});
    EXPECT_NE(r.iExit, 0);
    r = Tool(home,
             {"encode", "--uu", std::string(80, 'n'), home.File("plain.txt"), home.File("o")});
    EXPECT_NE(r.iExit, 0) << "the begin line would not fit 82 characters";
    r = Tool(home, {"encode", "--qp", home.File("plain.txt"), home.Path() + "/no/such/dir/o"});
    EXPECT_NE(r.iExit, 0);
    r = Tool(home, {"encode"});
    EXPECT_NE(r.iExit, 0);
}
