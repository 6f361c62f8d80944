#include "msg/CFileMap.h"
#include "msg/CMime.h"

#include "TestUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testutil::TempDir;
using testutil::WriteFile;

namespace {

struct Leaf {
    std::string type, subtype, encoding, disposition;
    std::string content; // the part's bytes, read line by line
};

// Reads a part's whole range with ReadLine and checks the line contract.
std::string ReadAll(CMIMEBodyPart* part, int nCap = 1000)
{
    EXPECT_TRUE(part->Open());
    std::string out;
    std::vector<char> buf(static_cast<std::size_t>(nCap));
    part->Rewind();
    for (int guard = 0; guard < 10000000; ++guard) {
        int n = part->ReadLine(buf.data(), nCap);
        if (n == -1)
            break;
        EXPECT_GT(n, 0);
        EXPECT_LE(n, nCap - 1);
        if (n <= 0)
            break;
        EXPECT_EQ(buf[static_cast<std::size_t>(n)], '\0');
        std::string line(buf.data(), static_cast<std::size_t>(n));
        // Only the last line of a part or a full buffer ends without CR LF.
        std::size_t crlf = line.find("\r\n");
        EXPECT_TRUE(crlf == std::string::npos || crlf + 2 == line.size()) << line;
        out += line;
    }
    part->Close();
    return out;
}

std::vector<Leaf> Walk(const std::string& path, bool* pbOk = nullptr, bool bCloseAtEnd = false)
{
    CMIMEMsg msg;
    std::vector<Leaf> leaves;
    bool ok = msg.Open(path.c_str(), bCloseAtEnd);
    if (pbOk)
        *pbOk = ok;
    if (!ok)
        return leaves;
    for (CMIMEBodyPart* p = msg.FirstPart(); p; p = msg.NextPart()) {
        EXPECT_FALSE(p->IsMultipart());
        EXPECT_FALSE(p->IsOpen());
        leaves.push_back({p->Type(), p->SubType(), p->Encoding(),
                          p->DispositionName() ? p->DispositionName() : "(none)", ReadAll(p)});
    }
    return leaves;
}

std::string Crlf(const std::string& lf)
{
    std::string out;
    for (char c : lf) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

} // namespace

// ---------------------------------------------------------------- file map

TEST(CFileMap, BytesWindowsAndErrors)
{
    TempDir dir;
    std::string data;
    for (int i = 0; i < 3000; ++i)
        data += static_cast<char>(i % 256);
    WriteFile(dir.File("f"), data);
    CFileMap map(1024);
    EXPECT_EQ(map.Open(dir.File("missing").c_str()), CFileMap::kOpenFailed);
    EXPECT_EQ(map.Open(dir.Path().c_str()), CFileMap::kOpenFailed) << "a directory";
    ASSERT_EQ(map.Open(dir.File("f").c_str()), 0);
    EXPECT_EQ(map.Size(), 3000);
    for (int i : {0, 1, 255, 1023, 1024, 1025, 2047, 2999, 5, 2048, 0})
        EXPECT_EQ(map.Byte(i), i % 256) << i;
    EXPECT_EQ(map.Byte(3000), -1);
    EXPECT_EQ(map.Byte(4000), -1);
    EXPECT_EQ(map.Byte(-1), -1);
    const unsigned char* p;
    EXPECT_EQ(map.Run(1000, &p), 24);
    EXPECT_EQ(p[0], 1000 % 256);
    EXPECT_EQ(map.Run(2990, &p), 10);
    EXPECT_EQ(map.Run(3000, &p), 0);
    EXPECT_EQ(map.Close(), 0);
    EXPECT_FALSE(map.IsOpen());
    // Reopening works and an empty file has no bytes.
    WriteFile(dir.File("e"), "");
    ASSERT_EQ(map.Open(dir.File("e").c_str()), 0);
    EXPECT_EQ(map.Byte(0), -1);
    EXPECT_EQ(map.Size(), 0);
}

TEST(CFileMapDeathTest, ByteNeedsOpenMap)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    CFileMap map;
    EXPECT_DEATH(map.Byte(0), "m_bIsOpen");
}

// ---------------------------------------------------------------- fields

TEST(MimeFields, ContentType)
{
    std::string type, sub;
    CMIMEParamList params;
    ASSERT_TRUE(CMIMEBodyPart::ParseContentType(
        "Content-Type: Multipart/Mixed; boundary=\"a b\"; (c) Charset=us-ascii", type, sub,
        params));
    EXPECT_EQ(type, "Multipart");
    EXPECT_EQ(sub, "Mixed");
    ASSERT_EQ(params.Count(), 2u);
    EXPECT_STREQ(params.Find("BOUNDARY"), "a b");
    EXPECT_STREQ(params.Find("charset"), "us-ascii");
    EXPECT_EQ(params.Find("name"), nullptr);
    // A ";" after the last parameter is allowed.
    EXPECT_TRUE(CMIMEBodyPart::ParseContentType("Content-Type: text/plain;", type, sub, params));
    EXPECT_TRUE(
        CMIMEBodyPart::ParseContentType("Content-Type: text/plain; a=b;", type, sub, params));
    // Malformed fields leave the results alone.
    type = "keep";
    for (const char* bad : {"Content-Type: text", "Content-Type: text/", "Content-Type: /plain",
                            "Content-Type: text/plain x", "Content-Type: text/plain; a",
                            "Content-Type: text/plain; a=", "Content-Type: text/plain; a=\"b",
                            "Content-Type: text/plain; =b", "Content-Type: text/plain;; a=b",
                            "Content-Type text/plain", "Content-Type: text/plain; a=b c",
                            "Content-Type: text/pl\x01"
                            "ain",
                            "Content-Type:"}) {
        EXPECT_FALSE(CMIMEBodyPart::ParseContentType(bad, type, sub, params)) << bad;
        EXPECT_EQ(type, "keep");
    }
}

TEST(MimeFields, EncodingDispositionVersionAndNames)
{
    std::string enc = "x";
    EXPECT_TRUE(
        CMIMEBodyPart::ParseContentTransferEncoding("Content-Transfer-Encoding:  BASE64 (c)", enc));
    EXPECT_EQ(enc, "BASE64");
    EXPECT_FALSE(
        CMIMEBodyPart::ParseContentTransferEncoding("Content-Transfer-Encoding: base 64", enc));
    EXPECT_FALSE(CMIMEBodyPart::ParseContentTransferEncoding("Content-Transfer-Encoding:", enc));
    EXPECT_EQ(enc, "BASE64");

    bool bHas = true;
    std::string name;
    EXPECT_TRUE(CMIMEBodyPart::ParseContentDisposition(
        "Content-Disposition: attachment; filename=\"my file.txt\"; size=3", bHas, name));
    EXPECT_TRUE(bHas);
    EXPECT_EQ(name, "my file.txt");
    EXPECT_TRUE(CMIMEBodyPart::ParseContentDisposition("Content-Disposition: inline", bHas, name));
    EXPECT_FALSE(bHas);
    EXPECT_TRUE(
        CMIMEBodyPart::ParseContentDisposition("Content-Disposition: inline; x", bHas, name));
    EXPECT_FALSE(bHas);
    EXPECT_FALSE(CMIMEBodyPart::ParseContentDisposition("Content-Disposition: ; a=b", bHas, name));

    EXPECT_TRUE(CMIMEBodyPart::ParseMimeVersion("MIME-Version: 1.0"));
    EXPECT_TRUE(CMIMEBodyPart::ParseMimeVersion("MIME-Version: 1 . 0 (produced by x)"));
    EXPECT_FALSE(CMIMEBodyPart::ParseMimeVersion("MIME-Version: 1.1"));
    EXPECT_FALSE(CMIMEBodyPart::ParseMimeVersion("MIME-Version: 1.0 x"));

    EXPECT_TRUE(CMIMEBodyPart::HeaderNameIs("content-type \t: x", "Content-Type"));
    EXPECT_FALSE(CMIMEBodyPart::HeaderNameIs("Content-Types: x", "Content-Type"));
    EXPECT_FALSE(CMIMEBodyPart::HeaderNameIs("Content-Type x", "Content-Type"));
    EXPECT_FALSE(CMIMEBodyPart::HeaderNameIs(" Content-Type: x", "Content-Type"));
}

// ---------------------------------------------------------------- messages

TEST(MimeMsg, PlainMessageIsOneTextLeaf)
{
    TempDir dir;
    std::string text = Crlf("From: a@b\nSubject: hi\n\nline one\nline two\n");
    WriteFile(dir.File("m"), text);
    auto leaves = Walk(dir.File("m"));
    ASSERT_EQ(leaves.size(), 1u);
    EXPECT_EQ(leaves[0].type, "text");
    EXPECT_EQ(leaves[0].subtype, "plain");
    EXPECT_EQ(leaves[0].encoding, "7bit");
    EXPECT_EQ(leaves[0].disposition, "(none)");
    EXPECT_EQ(leaves[0].content, text) << "the root part reads the whole file";
}

TEST(MimeMsg, MultipartPartsAndOffsets)
{
    TempDir dir;
    std::string text = Crlf("From: a@b\n"
                            "MIME-Version: 1.0\n"
                            "Content-Type: multipart/mixed; boundary=\"XyZ\"\n"
                            "\n"
                            "preamble\n"
                            "--XyZ\n"
                            "Content-Type: text/plain; charset=us-ascii\n"
                            "\n"
                            "Hello\n"
                            "--XyZ  \n"
                            "Content-Type: application/octet-stream; name=x.bin\n"
                            "Content-Transfer-Encoding: base64\n"
                            "Content-Disposition: attachment; filename=\"my file.bin\"\n"
                            "\n"
                            "AAEC\n"
                            "--XyZ--\n"
                            "epilogue\n");
    WriteFile(dir.File("m"), text);
    CMIMEMsg msg;
    ASSERT_TRUE(msg.Open(dir.File("m").c_str()));
    EXPECT_TRUE(msg.Root()->HasMimeVersion());
    CMIMEBodyPart* a = msg.FirstPart();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Start(), static_cast<std::int64_t>(text.find("Content-Type: text/plain")));
    EXPECT_EQ(a->End(), static_cast<std::int64_t>(text.find("\r\n--XyZ  ")));
    EXPECT_EQ(ReadAll(a), Crlf("Content-Type: text/plain; charset=us-ascii\n\nHello"));
    EXPECT_STREQ(a->Params().Find("charset"), "us-ascii");
    CMIMEBodyPart* b = msg.NextPart();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Type(), "application");
    EXPECT_EQ(b->Encoding(), "base64");
    EXPECT_STREQ(b->DispositionName(), "my file.bin");
    EXPECT_STREQ(b->Params().Find("name"), "x.bin");
    EXPECT_EQ(ReadAll(b).substr(ReadAll(b).find("\r\n\r\n") + 4), "AAEC");
    EXPECT_EQ(b->Parent(), msg.Root());
    EXPECT_EQ(msg.NextPart(), nullptr);
    EXPECT_EQ(msg.NextPart(), nullptr);
}

TEST(MimeMsg, FirstDelimiterRightAfterHeaders)
{
    TempDir dir;
    WriteFile(dir.File("m"), Crlf("Content-Type: multipart/mixed; boundary=b\n"
                                  "\n"
                                  "--b\n"
                                  "\n"
                                  "one\n"
                                  "--b--\n"));
    auto leaves = Walk(dir.File("m"));
    ASSERT_EQ(leaves.size(), 1u);
    EXPECT_EQ(leaves[0].content, "\r\none");
}

TEST(MimeMsg, FoldedContentTypeParsesTheSame)
{
    TempDir dir;
    std::string body = Crlf("\n--b\n\none\n--b\nContent-Type: image/gif\n\ntwo\n--b--\n");
    WriteFile(dir.File("flat"), Crlf("Content-Type: multipart/mixed; boundary=b; x=y\n") + body);
    WriteFile(dir.File("folded"),
              Crlf("Content-Type: multipart/mixed;\n\tboundary=b;\n  x=y\nSubject: s\n") + body);
    auto flat = Walk(dir.File("flat"));
    auto folded = Walk(dir.File("folded"));
    ASSERT_EQ(flat.size(), 2u);
    ASSERT_EQ(folded.size(), 2u);
    EXPECT_EQ(flat[1].type, "image");
    EXPECT_EQ(folded[1].type, "image");
    EXPECT_EQ(flat[1].content, folded[1].content);
}

TEST(MimeMsg, QuotedBoundaryFoldedAcrossLines)
{
    TempDir dir;
    WriteFile(dir.File("m"),
              Crlf("Content-type: multipart/mixed; boundary=\"simple\n boundary\"\n\n"
                   "preamble\n--simple boundary\n\none\n"
                   "--simple boundary\nContent-type: text/x-two\n\ntwo\n"
                   "--simple boundary--\n"));
    auto leaves = Walk(dir.File("m"));
    ASSERT_EQ(leaves.size(), 2u);
    EXPECT_EQ(leaves[0].content, "\r\none");
    EXPECT_EQ(leaves[1].subtype, "x-two");
}

TEST(MimeMsg, CaseKeptAsWrittenAndDefaults)
{
    TempDir dir;
    WriteFile(
        dir.File("m"),
        Crlf("Content-Type: MultiPart/ALTERNATIVE; BOUNDARY=q\n\n"
             "--q\nContent-Type: Text/HTML\nContent-Transfer-Encoding: quoted printable\n\nx\n"
             "--q\nContent-Type: text/\nContent-Disposition: inline\n\ny\n"
             "--q--"));
    CMIMEMsg msg;
    ASSERT_TRUE(msg.Open(dir.File("m").c_str()));
    EXPECT_EQ(msg.Root()->Type(), "MultiPart");
    EXPECT_EQ(msg.Root()->SubType(), "ALTERNATIVE");
    CMIMEBodyPart* a = msg.FirstPart();
    EXPECT_EQ(a->Type(), "Text");
    EXPECT_EQ(a->SubType(), "HTML");
    EXPECT_EQ(a->Encoding(), "7bit") << "a malformed encoding field is absent";
    CMIMEBodyPart* b = msg.NextPart();
    EXPECT_EQ(b->Type(), "text");
    EXPECT_EQ(b->SubType(), "plain");
    EXPECT_EQ(b->DispositionName(), nullptr);
}

TEST(MimeMsg, ClosingDelimiterAtTheEndOfTheFile)
{
    TempDir dir;
    std::string head = Crlf("Content-Type: multipart/mixed; boundary=b\n\n--b\n\none\n");
    WriteFile(dir.File("crlf"), head + "--b--\r\n");
    WriteFile(dir.File("bare"), head + "--b--");
    for (const char* f : {"crlf", "bare"}) {
        bool ok = false;
        auto leaves = Walk(dir.File(f), &ok);
        EXPECT_TRUE(ok) << f;
        ASSERT_EQ(leaves.size(), 1u) << f;
        EXPECT_EQ(leaves[0].content, "\r\none");
    }
}

TEST(MimeMsg, NestedMultipartsWalkDepthFirst)
{
    TempDir dir;
    WriteFile(dir.File("m"), Crlf("Content-Type: multipart/mixed; boundary=outer\n\n"
                                  "--outer\nContent-Type: text/plain\n\nA\n"
                                  "--outer\nContent-Type: multipart/alternative; boundary=inner\n\n"
                                  "--inner\nContent-Type: text/plain\n\nB1\n"
                                  "--inner\nContent-Type: text/html\n\nB2\n"
                                  "--inner--\n"
                                  "--outer\nContent-Type: image/png\n\nC\n"
                                  "--outer--\n"));
    auto leaves = Walk(dir.File("m"));
    ASSERT_EQ(leaves.size(), 4u);
    const char* want[] = {"A", "B1", "B2", "C"};
    const char* sub[] = {"plain", "plain", "html", "png"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(leaves[i].subtype, sub[i]);
        EXPECT_EQ(leaves[i].content.substr(leaves[i].content.find("\r\n\r\n") + 4), want[i]);
    }
}

TEST(MimeMsg, EveryByteValueIsData)
{
    TempDir dir;
    std::string body;
    for (int i = 0; i < 256; ++i)
        if (i != '\r' && i != '\n')
            body += static_cast<char>(i);
    std::string text = Crlf("Content-Type: multipart/mixed; boundary=b\n\n--b\n\n") + body +
                       "\r\n" + body + "\r\n--b--\r\n";
    WriteFile(dir.File("m"), text);
    auto leaves = Walk(dir.File("m"));
    ASSERT_EQ(leaves.size(), 1u);
    EXPECT_EQ(leaves[0].content, "\r\n" + body + "\r\n" + body);
}

TEST(MimeMsg, ReadLineCapacityAndEnd)
{
    TempDir dir;
    WriteFile(dir.File("m"), "abcdef\r\ngh\r\n\n\rx");
    CMIMEMsg msg;
    ASSERT_TRUE(msg.Open(dir.File("m").c_str()));
    CMIMEBodyPart* p = msg.FirstPart();
    ASSERT_TRUE(p->Open());
    char buf[5];
    EXPECT_EQ(p->RewindAndReadLine(buf, 5), 4);
    EXPECT_STREQ(buf, "abcd");
    EXPECT_EQ(p->ReadLine(buf, 5), 4);
    EXPECT_STREQ(buf, "ef\r\n");
    EXPECT_EQ(p->ReadLine(buf, 5), 4);
    EXPECT_STREQ(buf, "gh\r\n");
    EXPECT_EQ(p->ReadLine(buf, 5), 3) << "a bare LF or CR is no line end";
    EXPECT_STREQ(buf, "\n\rx");
    EXPECT_EQ(p->ReadLine(buf, 5), -1);
    EXPECT_EQ(p->ReadLine(buf, 5), -1);
    EXPECT_EQ(p->RewindAndReadLine(buf, 2), 1);
    EXPECT_STREQ(buf, "a");
    p->Close();
}

TEST(MimeMsg, BrokenStructuresFail)
{
    TempDir dir;
    const char* cases[] = {
        // no boundary parameter
        "Content-Type: multipart/mixed\n\n--b\n\nx\n--b--\n",
        // no closing delimiter
        "Content-Type: multipart/mixed; boundary=b\n\n--b\n\nx\n--b\n\ny\n",
        // a closing delimiter first
        "Content-Type: multipart/mixed; boundary=b\n\n--b--\n\nx\n--b--\n",
        // no line end after a delimiter
        "Content-Type: multipart/mixed; boundary=b\n\n--b",
        // a delimiter line that runs to the end of the part
        "Content-Type: multipart/mixed; boundary=b\n\n--b\n\nx\n--b\n",
        // a broken nested part breaks the whole message
        "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: multipart/mixed\n\n"
        "x\n--b--\n",
        // nothing at all after the header
        "Content-Type: multipart/mixed; boundary=b\n",
    };
    for (const char* c : cases) {
        WriteFile(dir.File("m"), Crlf(c));
        CMIMEMsg msg;
        EXPECT_FALSE(msg.Open(dir.File("m").c_str())) << c;
        EXPECT_EQ(msg.FirstPart(), nullptr);
        EXPECT_EQ(msg.NextPart(), nullptr);
    }
    CMIMEMsg msg;
    EXPECT_FALSE(msg.Open(dir.File("missing").c_str()));
}

TEST(MimeMsg, ToleratedBrokenStructuresKeepEveryByteInTheirParts)
{
    TempDir dir;
    // Each broken structure, read tolerantly: the leaves and their contents.
    const std::vector<std::pair<const char*, std::vector<std::string>>> cases = {
        // truncated: the end of the message closes the open part
        {"Content-Type: multipart/mixed; boundary=b\n\n--b\n\nx\n--b\n\ny\n",
         {"\r\nx", "\r\ny\r\n"}},
        // a delimiter line at the very end (with and without its line end)
        {"Content-Type: multipart/mixed; boundary=b\n\n--b\n\nx\n--b\n", {"\r\nx"}},
        {"Content-Type: multipart/mixed; boundary=b\n\n--b\n\nx\n--b", {"\r\nx"}},
        // an inner multipart without its closing delimiter ends at the
        // outer delimiter; the outer one ends at the end of the file
        {"Content-Type: multipart/mixed; boundary=b\n\n--b\n"
         "Content-Type: multipart/alternative; boundary=c\n\n--c\n\np\n--c\n\nh\n"
         "--b\n\nlast",
         {"\r\np", "\r\nh", "\r\nlast"}},
        // no parts can be found: the whole message is one text part
        {"Content-Type: multipart/mixed\n\n--b\n\nx\n--b--\n",
         {"Content-Type: multipart/mixed\r\n\r\n--b\r\n\r\nx\r\n--b--\r\n"}},
        {"Content-Type: multipart/mixed; boundary=b\n\n--b--\n\nx\n",
         {"Content-Type: multipart/mixed; boundary=b\r\n\r\n--b--\r\n\r\nx\r\n"}},
    };
    for (const auto& [text, want] : cases) {
        WriteFile(dir.File("m"), Crlf(text));
        bool ok = false;
        auto leaves = Walk(dir.File("m"), &ok, true);
        ASSERT_TRUE(ok) << text;
        std::vector<std::string> got;
        for (const Leaf& l : leaves) {
            got.push_back(l.content);
            EXPECT_EQ(l.type + "/" + l.subtype, "text/plain") << text;
        }
        EXPECT_EQ(got, want) << text;
        CMIMEMsg strict;
        EXPECT_FALSE(strict.Open(dir.File("m").c_str())) << text;
    }
}

TEST(MimeMsg, EmptyPartsAndBoundaryPrefixes)
{
    TempDir dir;
    // Two delimiter lines in a row give an empty part.
    WriteFile(dir.File("m"),
              Crlf("Content-Type: multipart/mixed; boundary=b\n\n--b\n--b\n\nx\n--b--\n"));
    auto leaves = Walk(dir.File("m"));
    ASSERT_EQ(leaves.size(), 2u);
    EXPECT_EQ(leaves[0].content, "");
    EXPECT_EQ(leaves[0].type, "text");
    EXPECT_EQ(leaves[1].content, "\r\nx");
}

TEST(MimeMsg, ABoundaryThatOnlyBeginsWithOursIsNoDelimiter)
{
    TempDir dir;
    // The inner boundary is the outer one with something added, at its end
    // and (with a "-") where a closing "--" would begin.
    for (const char* inner : {"q_alt", "q-1", "q.x"}) {
        std::string in = inner;
        WriteFile(
            dir.File("m"),
            Crlf("Content-Type: multipart/mixed; boundary=\"q\"\n\n"
                 "--q\nContent-Type: multipart/alternative; boundary=\"" +
                 in +
                 "\"\n\n"
                 "--" +
                 in + "\n\nplain\n--" + in +
                 "\nContent-Type: text/html\n\n<p>\n"
                 "--" +
                 in +
                 "--\n"
                 "--q \t\nContent-Type: image/png\nContent-Transfer-Encoding: base64\n\nAAAA\n"
                 "--q--\n"));
        bool ok = false;
        auto leaves = Walk(dir.File("m"), &ok);
        ASSERT_TRUE(ok) << inner;
        ASSERT_EQ(leaves.size(), 3u) << inner;
        EXPECT_EQ(leaves[0].content, "\r\nplain");
        EXPECT_EQ(leaves[1].subtype, "html");
        EXPECT_EQ(leaves[1].content, "Content-Type: text/html\r\n\r\n<p>");
        EXPECT_EQ(leaves[2].type, "image") << "blanks may follow a delimiter";
        EXPECT_EQ(leaves[2].content,
                  "Content-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n\r\nAAAA");
    }
    // Only the look-alike lines in the part: no closing delimiter at all.
    WriteFile(dir.File("m"),
              Crlf("Content-Type: multipart/mixed; boundary=q\n\n--q\n\nx\n--qq--\n"));
    bool ok = true;
    Walk(dir.File("m"), &ok);
    EXPECT_FALSE(ok);
}

TEST(MimeMsg, AContentTypeWithBadParametersKeepsItsType)
{
    TempDir dir;
    WriteFile(dir.File("m"),
              Crlf("Content-Type: multipart/mixed; boundary=b\n\n"
                   "--b\nContent-Type: application/pdf name=\"a.pdf\"\n\nA\n"
                   "--b\nContent-Type: application/pdf; name==?utf-8?B?YS5wZGY=?=\n\nB\n"
                   "--b\nContent-Type: image/gif; x=1; name=odd_(1).gif\n\nC\n"
                   "--b\nContent-Type: text/\n\nD\n"
                   "--b\nContent-Type: multipart/mixed boundary=c\n\n--c\n\nE\n--c--\n"
                   "--b\nContent-Type: image/png; x=1; boundary=c; =\n\nF\n"
                   "--b--\n"));
    bool ok = false;
    auto leaves = Walk(dir.File("m"), &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(leaves.size(), 6u);
    EXPECT_EQ(leaves[0].type + "/" + leaves[0].subtype, "application/pdf");
    EXPECT_EQ(leaves[1].type + "/" + leaves[1].subtype, "application/pdf");
    EXPECT_EQ(leaves[2].type + "/" + leaves[2].subtype, "image/gif");
    // No subtype: no type at all.
    EXPECT_EQ(leaves[3].type + "/" + leaves[3].subtype, "text/plain");
    // A multipart whose boundary is lost stays one plain leaf.
    EXPECT_EQ(leaves[4].type + "/" + leaves[4].subtype, "text/plain");
    EXPECT_EQ(leaves[5].type + "/" + leaves[5].subtype, "image/png");

    // The parameters before the fault are kept; the strict parse still
    // refuses the field.
    std::string type, sub;
    CMIMEParamList params;
    EXPECT_FALSE(CMIMEBodyPart::ParseContentType("Content-Type: image/gif; x=1; name=a(b).gif",
                                                 type, sub, params));
    ASSERT_TRUE(CMIMEBodyPart::ParseContentTypeLenient(
        "Content-Type: image/gif; x=1; name=a(b).gif", type, sub, params));
    EXPECT_EQ(type, "image");
    EXPECT_EQ(sub, "gif");
    ASSERT_EQ(params.Count(), 2u);
    EXPECT_STREQ(params.Find("x"), "1");
    EXPECT_STREQ(params.Find("name"), "a");
    type = "keep";
    for (const char* bad : {"Content-Type: text", "Content-Type: text/", "Content-Type: /plain",
                            "Content-Type text/plain", "Content-Type:"}) {
        EXPECT_FALSE(CMIMEBodyPart::ParseContentTypeLenient(bad, type, sub, params)) << bad;
        EXPECT_EQ(type, "keep");
    }
}

TEST(MimeMsg, HeadersDoNotRunIntoTheNextPart)
{
    TempDir dir;
    // The first part has no empty line: its header block ends with the part,
    // it must not take the second part's Content-Type.
    WriteFile(dir.File("m"), Crlf("Content-Type: multipart/mixed; boundary=b\n\n"
                                  "--b\nX-Note: no body\n"
                                  "--b\nContent-Type: image/png\n\nx\n--b--\n"));
    auto leaves = Walk(dir.File("m"));
    ASSERT_EQ(leaves.size(), 2u);
    EXPECT_EQ(leaves[0].type, "text");
    EXPECT_EQ(leaves[1].type, "image");
}

TEST(MimeMsg, DelimitersAndHeadersAcrossWindowBoundaries)
{
    TempDir dir;
    for (int pad = 960; pad < 1100; ++pad) {
        std::string filler(static_cast<std::size_t>(pad), 'f');
        std::string text =
            Crlf("X-Pad: ") + filler +
            Crlf("\nContent-Type: multipart/mixed;\n boundary=\"=_Part_0123456789\"\n\n"
                 "--=_Part_0123456789\n\n") +
            filler + Crlf("\n--=_Part_0123456789\nContent-Type: image/png;\n name=a\n\n") + filler +
            Crlf("\n--=_Part_0123456789--\n");
        WriteFile(dir.File("m"), text);
        auto leaves = Walk(dir.File("m"));
        ASSERT_EQ(leaves.size(), 2u) << pad;
        EXPECT_EQ(leaves[0].content, "\r\n" + filler) << pad;
        EXPECT_EQ(leaves[1].type, "image") << pad;
        EXPECT_EQ(leaves[1].content.substr(leaves[1].content.size() - filler.size()), filler);
    }
}

TEST(MimeMsg, DeepNestingAndManyParts)
{
    TempDir dir;
    const int depth = 3000;
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "x\r\n\r\n--b" +
                std::to_string(i) + "x\r\n";
    text += "\r\ncore\r\n";
    for (int i = depth - 1; i >= 0; --i)
        text += "--b" + std::to_string(i) + "x--\r\n";
    WriteFile(dir.File("deep"), text);
    {
        CMIMEMsg msg;
        ASSERT_TRUE(msg.Open(dir.File("deep").c_str()));
        CMIMEBodyPart* leaf = msg.FirstPart();
        ASSERT_NE(leaf, nullptr);
        EXPECT_EQ(ReadAll(leaf), "\r\ncore");
        EXPECT_EQ(msg.NextPart(), nullptr);
    }
    std::string many = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
    for (int i = 0; i < 50000; ++i)
        many += "--b\r\n\r\n" + std::to_string(i) + "\r\n";
    many += "--b--\r\n";
    WriteFile(dir.File("many"), many);
    CMIMEMsg msg;
    ASSERT_TRUE(msg.Open(dir.File("many").c_str()));
    int n = 0;
    for (CMIMEBodyPart* p = msg.FirstPart(); p; p = msg.NextPart())
        ++n;
    EXPECT_EQ(n, 50000);
}
