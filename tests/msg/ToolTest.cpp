// The date, mime, decode and encode commands of mailtolvan-tool: output,
// exit status and the error exit of each.

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

struct ToolTest : ::testing::Test {
    TempDir home;
    RunResult Tool(std::vector<std::string> args) { return testutil::RunTool(home.Path(), args); }
};

} // namespace

TEST_F(ToolTest, DatePrintsSecondsOrMinusOne)
{
    RunResult r = Tool({"date", "Tue, 07 Nov 1995 08:30:00 -0500"});
    EXPECT_EQ(r.iExit, 0) << r.err;
    EXPECT_EQ(r.out, std::to_string(tz::FromCivil(1995, 11, 7, 13, 30, 0)) + "\n");
    r = Tool({"date", "Tue", "Nov", "7", "08:30:00", "1995"});
    EXPECT_EQ(r.out, std::to_string(tz::FromCivil(1995, 11, 7, 8, 30, 0)) + "\n");
    r = Tool({"date", "no date here"});
    EXPECT_EQ(r.iExit, 0);
    EXPECT_EQ(r.out, "-1\n");
    r = Tool({"date"});
    EXPECT_NE(r.iExit, 0);
    EXPECT_NE(r.err.find("usage"), std::string::npos);
}

TEST_F(ToolTest, MimeListsLeavesOrFails)
{
    std::string text =
        "Subject: x\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nhello\r\n"
        "--b\r\nContent-Type: image/png; name=a.png\r\nContent-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment; filename=\"a b.png\"\r\n\r\nAAAA\r\n--b--\r\n";
    WriteFile(home.File("m.eml"), text);
    RunResult r = Tool({"mime", home.File("m.eml")});
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
    r = Tool({"mime", home.File("bad.eml")});
    EXPECT_EQ(r.iExit, 1);
    EXPECT_NE(r.err.find("does not parse"), std::string::npos);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(Tool({"mime", home.File("missing.eml")}).iExit, 0);
    EXPECT_NE(Tool({"mime", home.Path()}).iExit, 0);
}

// Base64 is compared with coreutils both ways; uuencoded data is decoded
// after text with CR LF line ends, as in a message.
TEST_F(ToolTest, EncodeAndDecodeEachFormat)
{
    std::string data; // every byte value, 20 times over in different orders
    for (int round = 1; round <= 20; ++round)
        for (int i = 0; i < 256; ++i)
            data += static_cast<char>((i * round) & 0xFF);
    WriteFile(home.File("in.bin"), data);
    RunResult sys = testutil::RunProgram({"/usr/bin/base64", "-w", "68", home.File("in.bin")});
    ASSERT_EQ(sys.iExit, 0);
    RunResult r = Tool({"encode", "--base64", home.File("in.bin"), home.File("b64.txt")});
    ASSERT_EQ(r.iExit, 0) << r.err;
    EXPECT_EQ(ReadFile(home.File("b64.txt")), sys.out);
    sys = testutil::RunProgram({"/usr/bin/base64", "-w", "76", home.File("in.bin")});
    WriteFile(home.File("b64.txt"), sys.out);
    r = Tool({"decode", "--base64", home.File("b64.txt"), home.File("out.bin")});
    ASSERT_EQ(r.iExit, 0) << r.err;
    EXPECT_EQ(ReadFile(home.File("out.bin")), data);

    r = Tool({"encode", "--uu", "data.bin", home.File("in.bin"), home.File("uu.txt")});
    ASSERT_EQ(r.iExit, 0) << r.err;
    std::string uu = ReadFile(home.File("uu.txt"));
    EXPECT_EQ(uu.substr(0, 19), "begin 600 data.bin\n");
    EXPECT_EQ(uu.substr(uu.size() - 7), "\n`\nend\n");
    std::string uuCrLf = "Some text first\r\n\r\n";
    for (char c : uu)
        uuCrLf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    WriteFile(home.File("uu.txt"), uuCrLf);
    r = Tool({"decode", "--uu", home.File("uu.txt"), home.File("out.bin")});
    ASSERT_EQ(r.iExit, 0) << r.err;
    EXPECT_EQ(r.out, "data.bin\n");
    EXPECT_EQ(ReadFile(home.File("out.bin")), data);

    WriteFile(home.File("t.txt"), "a b  \r\n" + std::string(200, 'x') + "\nK\xe4se=1\n" +
                                      std::string(600, 'y') + "\nlast");
    r = Tool({"encode", "--qp", home.File("t.txt"), home.File("q.txt")});
    ASSERT_EQ(r.iExit, 0) << r.err;
    std::string want = "a b=20=20\n" + std::string(75, 'x') + "=\n" + std::string(75, 'x') + "=\n" +
                       std::string(50, 'x') + "\nK=E4se=3D1\n";
    // 600 characters: a piece of 499 and one of 101, joined by a soft line
    // break, so the line decodes whole.
    for (int i = 0; i < 499; i += 75)
        want += std::string(static_cast<std::size_t>(std::min(75, 499 - i)), 'y') + "=\n";
    want += std::string(75, 'y') + "=\n" + std::string(26, 'y') + "\nlast\n";
    EXPECT_EQ(ReadFile(home.File("q.txt")), want);

    EXPECT_NE(Tool({"encode", "--base64", home.File("missing"), home.File("o")}).iExit, 0);
    EXPECT_NE(Tool({"encode", "--uu", "n", home.File("missing"), home.File("o")}).iExit, 0);
    EXPECT_NE(
        Tool({"encode", "--uu", std::string(80, 'n'), home.File("t.txt"), home.File("o")}).iExit, 0)
        << "the begin line would not fit 82 characters";
    EXPECT_NE(Tool({"encode", "--qp", home.File("t.txt"), home.File("no/such/dir/o")}).iExit, 0);
    EXPECT_NE(Tool({"encode"}).iExit, 0);
}

TEST_F(ToolTest, DecodeKeepsAnUnpaddedEndAndRefusesWhatItCannotDecode)
{
    RunResult r;
    // Without the final padding the last group is kept (13 and 14 bytes: one
    // or two bytes in the last group); one character left over is reported.
    for (const std::string text : {"hello world!!", "hello world!!!"}) {
        WriteFile(home.File("b64.txt"),
                  text.size() == 13 ? "aGVsbG8gd29ybGQhIQ\r\n" : "aGVsbG8gd29ybGQhISE\r\n");
        r = Tool({"decode", "--base64", home.File("b64.txt"), home.File("out.bin")});
        ASSERT_EQ(r.iExit, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(ReadFile(home.File("out.bin")), text);
    }
    WriteFile(home.File("b64.txt"), "aGk=\nQ\n");
    r = Tool({"decode", "--base64", home.File("b64.txt"), home.File("out.bin")});
    ASSERT_EQ(r.iExit, 0) << r.err;
    EXPECT_EQ(ReadFile(home.File("out.bin")), "hi");
    EXPECT_NE(r.err.find("left over"), std::string::npos) << r.err;

    WriteFile(home.File("plain.txt"), "no uuencoded data\n");
    r = Tool({"decode", "--uu", home.File("plain.txt"), home.File("o")});
    EXPECT_EQ(r.iExit, 1);
    EXPECT_NE(r.err.find("begin"), std::string::npos);
    EXPECT_NE(Tool({"decode", "--base64", home.File("missing"), home.File("o")}).iExit, 0);
    EXPECT_NE(Tool({"decode", "--hex", home.File("plain.txt"), home.File("o")}).iExit, 0);
}
