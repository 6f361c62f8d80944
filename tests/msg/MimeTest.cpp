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
    if (!ok) {
        EXPECT_EQ(msg.FirstPart(), nullptr);
        EXPECT_EQ(msg.NextPart(), nullptr);
        return leaves;
    }
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

// The leaves of a message as "type/subtype[ encoding][ name=N]:body | ...", the
// body being what follows the part's header block, with LF line ends; "fails"
// when the message does not parse.
std::string Summary(const std::string& path)
{
    bool ok = false;
    std::string out;
    for (const Leaf& l : Walk(path, &ok)) {
        std::size_t at = l.content.rfind("\r\n", 0) == 0 ? 2 : l.content.find("\r\n\r\n");
        std::string body = at == 2                   ? l.content.substr(2)
                           : at == std::string::npos ? ""
                                                     : l.content.substr(at + 4);
        for (std::size_t i; (i = body.find("\r\n")) != std::string::npos;)
            body.replace(i, 2, "\n");
        out += (out.empty() ? "" : " | ") + l.type + "/" + l.subtype +
               (l.encoding == "7bit" ? "" : " " + l.encoding) +
               (l.disposition == "(none)" ? "" : " name=" + l.disposition) + ":" + body;
    }
    return ok ? out : "fails";
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

// ---------------------------------------------------------------- fields

TEST(MimeFields, ContentTypeStrictAndLenient)
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
                            "Content-Type: text/pl\001ain", "Content-Type:"}) {
        EXPECT_FALSE(CMIMEBodyPart::ParseContentType(bad, type, sub, params)) << bad;
        EXPECT_EQ(type, "keep");
    }
    // The lenient parse keeps what came before a fault; without a type it
    // fails as well.
    EXPECT_FALSE(CMIMEBodyPart::ParseContentType("Content-Type: image/gif; x=1; name=a(b).gif",
                                                 type, sub, params));
    ASSERT_TRUE(CMIMEBodyPart::ParseContentTypeLenient(
        "Content-Type: image/gif; x=1; name=a(b).gif", type, sub, params));
    EXPECT_EQ(type + "/" + sub, "image/gif");
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

TEST(MimeFields, EncodingDispositionVersionAndNames)
{
    // Each parser's result as text; "refused" when it refuses the field.
    std::string enc = "x", name;
    bool bHas = true;
    auto cte = [&](const char* f) {
        return CMIMEBodyPart::ParseContentTransferEncoding(f, enc) ? enc : "refused";
    };
    auto disposition = [&](const char* f) {
        bool ok = CMIMEBodyPart::ParseContentDisposition(f, bHas, name);
        return !ok ? "refused" : bHas ? "file " + name : "no file";
    };
    EXPECT_EQ(cte("Content-Transfer-Encoding:  BASE64 (c)"), "BASE64");
    EXPECT_EQ(cte("Content-Transfer-Encoding: base 64"), "refused");
    EXPECT_EQ(cte("Content-Transfer-Encoding:"), "refused");
    EXPECT_EQ(enc, "BASE64") << "a refusal leaves the result alone";
    EXPECT_EQ(disposition("Content-Disposition: attachment; filename=\"my file.txt\"; size=3"),
              "file my file.txt");
    EXPECT_EQ(disposition("Content-Disposition: inline"), "no file");
    EXPECT_EQ(disposition("Content-Disposition: inline; x"), "no file");
    EXPECT_EQ(disposition("Content-Disposition: ; a=b"), "refused");
    for (const char* v : {"MIME-Version: 1.0", "MIME-Version: 1 . 0 (produced by x)"})
        EXPECT_TRUE(CMIMEBodyPart::ParseMimeVersion(v)) << v;
    for (const char* v : {"MIME-Version: 1.1", "MIME-Version: 1.0 x"})
        EXPECT_FALSE(CMIMEBodyPart::ParseMimeVersion(v)) << v;
    EXPECT_TRUE(CMIMEBodyPart::HeaderNameIs("content-type \t: x", "Content-Type"));
    for (const char* h : {"Content-Types: x", "Content-Type x", " Content-Type: x"})
        EXPECT_FALSE(CMIMEBodyPart::HeaderNameIs(h, "Content-Type")) << h;
}

// ---------------------------------------------------------------- messages

TEST(MimeMsg, Structures)
{
    const std::string mixed = "Content-Type: multipart/mixed; boundary=b\n\n";
    // Inner boundaries that are the outer one with something added, at its
    // end and (with a "-") where a closing "--" would begin.
    auto lookAlike = [](const std::string& in) {
        return "Content-Type: multipart/mixed; boundary=\"q\"\n\n"
               "--q\nContent-Type: multipart/alternative; boundary=\"" +
               in + "\"\n\n--" + in + "\n\nplain\n--" + in +
               "\nContent-Type: text/html\n\n<p>\n--" + in +
               "--\n--q \t\nContent-Type: image/png\nContent-Transfer-Encoding: base64\n\nAAAA\n"
               "--q--\n";
    };
    const std::string lookAlikeParts = "text/plain:plain | text/html:<p> | image/png base64:AAAA";
    std::string allBytes;
    for (int i = 0; i < 256; ++i)
        if (i != '\r' && i != '\n')
            allBytes += static_cast<char>(i);
    const struct {
        const char* name;
        std::string text;
        std::string want;
    } rows[] = {
        // The root part of a plain message reads the whole file: header and body.
        {"a plain message is one text leaf", "From: a@b\nSubject: hi\n\nline one\nline two\n",
         "text/plain:line one\nline two\n"},
        {"preamble, epilogue, blanks after a delimiter, a named file",
         "From: a@b\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"XyZ\"\n\n"
         "preamble\n--XyZ\nContent-Type: text/plain; charset=us-ascii\n\nHello\n"
         "--XyZ  \nContent-Type: application/octet-stream; name=x.bin\n"
         "Content-Transfer-Encoding: base64\n"
         "Content-Disposition: attachment; filename=\"my file.bin\"\n\nAAEC\n--XyZ--\nepilogue\n",
         "text/plain:Hello | application/octet-stream base64 name=my file.bin:AAEC"},
        {"first delimiter right after the header", mixed + "--b\n\none\n--b--\n", "text/plain:one"},
        {"closing delimiter without a line end", mixed + "--b\n\none\n--b--", "text/plain:one"},
        {"every byte value is data", mixed + "--b\n\n" + allBytes + "\n" + allBytes + "\n--b--\n",
         "text/plain:" + allBytes + "\n" + allBytes},
        {"folded Content-Type",
         "Content-Type: multipart/mixed;\n\tboundary=b;\n  x=y\nSubject: s\n\n"
         "--b\n\none\n--b\nContent-Type: image/gif\n\ntwo\n--b--\n",
         "text/plain:one | image/gif:two"},
        {"quoted boundary folded across lines",
         "Content-type: multipart/mixed; boundary=\"simple\n boundary\"\n\npreamble\n"
         "--simple boundary\n\none\n--simple boundary\nContent-type: text/x-two\n\ntwo\n"
         "--simple boundary--\n",
         "text/plain:one | text/x-two:two"},
        {"case kept as written; bad encoding and inline have no value",
         "Content-Type: MultiPart/ALTERNATIVE; BOUNDARY=q\n\n"
         "--q\nContent-Type: Text/HTML\nContent-Transfer-Encoding: quoted printable\n\nx\n"
         "--q\nContent-Type: text/\nContent-Disposition: inline\n\ny\n--q--",
         "Text/HTML:x | text/plain:y"},
        {"nested parts depth first",
         "Content-Type: multipart/mixed; boundary=outer\n\n"
         "--outer\nContent-Type: text/plain\n\nA\n"
         "--outer\nContent-Type: multipart/alternative; boundary=inner\n\n"
         "--inner\nContent-Type: text/plain\n\nB1\n--inner\nContent-Type: text/html\n\nB2\n"
         "--inner--\n--outer\nContent-Type: image/png\n\nC\n--outer--\n",
         "text/plain:A | text/plain:B1 | text/html:B2 | image/png:C"},
        {"two delimiters in a row: an empty part", mixed + "--b\n--b\n\nx\n--b--\n",
         "text/plain: | text/plain:x"},
        {"a header block without an empty line ends with its part",
         mixed + "--b\nX-Note: no body\n--b\nContent-Type: image/png\n\nx\n--b--\n",
         "text/plain: | image/png:x"},
        {"look-alike boundary q_alt", lookAlike("q_alt"), lookAlikeParts},
        {"look-alike boundary q-1", lookAlike("q-1"), lookAlikeParts},
        {"look-alike boundary q.x", lookAlike("q.x"), lookAlikeParts},
        {"a Content-Type with bad parameters keeps its type",
         mixed + "--b\nContent-Type: application/pdf name=\"a.pdf\"\n\nA\n"
                 "--b\nContent-Type: application/pdf; name==?utf-8?B?YS5wZGY=?=\n\nB\n"
                 "--b\nContent-Type: image/gif; x=1; name=odd_(1).gif\n\nC\n"
                 "--b\nContent-Type: text/\n\nD\n"
                 "--b\nContent-Type: multipart/mixed boundary=c\n\n--c\n\nE\n--c--\n"
                 "--b\nContent-Type: image/png; x=1; boundary=c; =\n\nF\n--b--\n",
         // No subtype: no type; a multipart whose boundary is lost is one leaf.
         "application/pdf:A | application/pdf:B | image/gif:C | text/plain:D | "
         "text/plain:--c\n\nE\n--c-- | image/png:F"},
        // Broken structures (more, read tolerantly, below).
        {"only look-alike lines: no closing delimiter", mixed + "--b\n\nx\n--bb--\n", "fails"},
        {"a closing delimiter first", mixed + "--b--\n\nx\n--b--\n", "fails"},
        {"no line end after a delimiter", mixed + "--b", "fails"},
        {"a broken nested part", mixed + "--b\nContent-Type: multipart/mixed\n\nx\n--b--\n",
         "fails"},
        {"nothing after the header", "Content-Type: multipart/mixed; boundary=b\n", "fails"},
    };
    TempDir dir;
    for (const auto& row : rows) {
        WriteFile(dir.File("m"), Crlf(row.text));
        EXPECT_EQ(Summary(dir.File("m")), row.want) << row.name;
    }
    CMIMEMsg msg;
    EXPECT_FALSE(msg.Open(dir.File("missing").c_str()));
    EXPECT_EQ(msg.FirstPart(), nullptr);
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
