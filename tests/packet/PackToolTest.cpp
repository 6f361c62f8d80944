#include "MessageMaker.h"
#include "TestUtil.h"
#include "framework/Files.h"
#include "packet/Et4Zip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;
using namespace testmsg;

namespace {

testutil::RunResult Pack(const TempDir& home, const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {testutil::BinPath("mailtolvan-tool"), "pack"};
    argv.insert(argv.end(), args.begin(), args.end());
    return testutil::RunProgram(argv, {"MAILTOLVAN_HOME=" + home.Path(), "TZ=UTC"});
}

// Unpacks every entry of the archive into the directory; the entry names.
std::vector<std::string> Unzip(const std::string& archive, const std::string& dir)
{
    std::vector<std::string> names;
    ET4HANDLE h = 0;
    if (Et4ZipOpen(archive.c_str(), ET4_MODE_READ, &h) != 0)
        return names;
    ET4FIND find;
    char name[ET4_MAX_NAME] = "*.*";
    for (int r = Et4ZipFindFirst(h, &find, name, "", 0xFFFF, "", 0xFFFF); r == 0;
         r = Et4ZipFindNext(h, &find, name, "", 0xFFFF, "", 0xFFFF)) {
        names.push_back(name);
        EXPECT_EQ(Et4UnZip(&h, dir.c_str(), name, "", ""), 0) << name;
    }
    Et4ZipClose(&h);
    return names;
}

std::uint32_t Msbin(const std::string& s, std::size_t at)
{
    const auto* b = reinterpret_cast<const unsigned char*>(s.data() + at);
    // Decoding as real readers do it.
    return ((b[0] | b[1] << 8 | b[2] << 16) | 0x800000u) >> (24 + 0x80 - b[3]);
}

} // namespace

TEST(PackTool, OneMailGivesTheSmallestPacketByteForByte)
{
    TempDir home, files;
    WriteFile(files.File("m.eml"),
              Crlf({"From: alice@example.org", "Subject: Hi", "Message-ID: <1@x>",
                    "Date: Thu, 07 Mar 2024 14:05:09 +0000", "", "Hello"}));
    std::string qwk = files.File("Home.qwk");
    auto r = Pack(home, {"--out", qwk, "--user", "Joe User", "--packet", "Home", "--email",
                         files.File("m.eml")});
    ASSERT_EQ(r.iExit, 0) << r.err;
    EXPECT_NE(r.out.find("1 messages (1 e-mail, 0 articles)"), std::string::npos) << r.out;
    TempDir out;
    EXPECT_EQ(Unzip(qwk, out.Path()),
              (std::vector<std::string>{"messages.dat", "control.dat", "000.ndx", "personal.ndx"}));
    std::string banner = "Produced by Qmail...Copyright (c) 1987 by Sparkware.  All Rights "
                         "Reserved       Above for Compatibility with Qmail              ";
    std::string header = std::string("*1      03-07-2414:05") + "Joe User                 " +
                         "alice@example.org        " + "Hi                       " +
                         std::string(20, ' ') + "2     " + "\xE1" + std::string(5, '\0');
    std::string text = "From: alice@example.org\xE3Subject: Hi\xE3\xE3Hello\xE3";
    text += std::string(128 - text.size(), ' ');
    EXPECT_EQ(ReadFile(out.File("messages.dat")), banner + header + text);
    EXPECT_EQ(ReadFile(out.File("000.ndx")), std::string("\0\0\0\x82\0", 5));
    EXPECT_EQ(ReadFile(out.File("personal.ndx")), std::string("\0\0\0\x82\0", 5));
    // The work directory is gone again.
    for (const std::string& e : fw::ListDirectory(home.Path()))
        EXPECT_EQ(e.find("packwork"), std::string::npos) << e;
}

TEST(PackTool, EveryAttachmentDecodesToTheOriginalBytes)
{
    TempDir home, files;
    std::map<std::string, std::string> originals = {
        {"photo.jpg", Bytes(70000, 1)},
        {"notes.bin", Bytes(3001, 2)},
        {"archive.tar.gz", Bytes(10000, 3)},
        {"qp.dat", std::string("a=b\r\n\xE3\xFF\x00z", 10)}};
    std::vector<std::string> args = {"--out", files.File("P.qwk"), "--packet", "P"};
    args.push_back("--email");
    WriteFile(
        files.File("1.eml"),
        "Message-ID: <m1@x>\r\nSubject: photo\r\nContent-Type: multipart/mixed; boundary=B\r\n"
        "\r\n--B\r\nContent-Type: text/plain\r\n\r\nsee attached\r\n--B\r\n"
        "Content-Type: image/jpeg\r\nContent-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment; filename=photo.jpg\r\n\r\n" +
            Base64(originals["photo.jpg"]) + "--B--\r\n");
    WriteFile(files.File("2.eml"), "Message-ID: <m2@x>\r\nSubject: uu\r\n\r\ntext first\r\n" +
                                       Uuencode(originals["notes.bin"], "notes.bin"));
    std::string qp;
    for (unsigned char c : originals["qp.dat"]) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "=%02X", c);
        qp += buf;
    }
    WriteFile(files.File("3.eml"),
              "Message-ID: <m3@x>\r\nSubject: qp\r\nContent-Type: application/octet-stream; "
              "name=\"qp.dat\"\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
                  qp.substr(0, 12) + "=\r\n" + qp.substr(12) + "=\r\n");
    args.insert(args.end(), {files.File("1.eml"), files.File("2.eml"), files.File("3.eml")});
    // A split archive in a newsgroup, in two articles.
    std::string b64 = Base64(originals["archive.tar.gz"]);
    std::size_t cut = 78 * 60;
    WriteFile(files.File("a1.eml"),
              "Message-ID: <n1@x>\r\nSubject: archive.tar.gz [1/2]\r\nNewsgroups: alt.bin\r\n"
              "Content-Type: application/gzip; name=\"archive.tar.gz\"\r\n"
              "Content-Transfer-Encoding: base64\r\n\r\n" +
                  b64.substr(0, cut));
    WriteFile(files.File("a2.eml"),
              "Message-ID: <n2@x>\r\nSubject: archive.tar.gz [2/2]\r\nNewsgroups: alt.bin\r\n\r\n" +
                  b64.substr(cut));
    args.insert(args.end(), {"--group", "alt.bin", files.File("a1.eml"), files.File("a2.eml")});

    auto r = Pack(home, args);
    ASSERT_EQ(r.iExit, 0) << r.err;
    TempDir out;
    std::vector<std::string> names = Unzip(files.File("P.qwk"), out.Path());
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names[0], "attached.lst");

    // attached.lst: conference, number, name in the packet, short name.
    const std::string lst = ReadFile(out.File("attached.lst"));
    const std::regex line("\\d+,\\d+,([^,\r\n]+),([^,\r\n]+)\r\n");
    std::map<std::string, std::string> found; // short name -> bytes
    std::size_t nMatched = 0;
    for (std::sregex_iterator m(lst.begin(), lst.end(), line), end; m != end; ++m) {
        found[(*m)[2]] = ReadFile(out.File((*m)[1]));
        nMatched += static_cast<std::size_t>(m->length());
    }
    EXPECT_EQ(nMatched, lst.size()) << lst;
    EXPECT_EQ(found.size(), 4u);
    EXPECT_EQ(found["photo.jpg"], originals["photo.jpg"]);
    EXPECT_EQ(found["notes.bin"], originals["notes.bin"]);
    EXPECT_EQ(found["qp.dat"], originals["qp.dat"]);
    // The split archive came back whole, under its short name.
    EXPECT_EQ(found["arch~tar.gz"], originals["archive.tar.gz"]);

    // messages.dat is consistent with its indexes: each index entry points at
    // a header block whose block count leads to the next message.
    std::string m = ReadFile(out.File("messages.dat"));
    ASSERT_EQ(m.size() % 128, 0u);
    std::vector<std::uint32_t> headers;
    for (std::size_t at = 128; at < m.size();) {
        headers.push_back(static_cast<std::uint32_t>(at / 128 + 1));
        EXPECT_EQ(static_cast<unsigned char>(m[at + 122]), 0xE1);
        int blocks = std::atoi(m.substr(at + 116, 6).c_str());
        ASSERT_GE(blocks, 2);
        at += static_cast<std::size_t>(blocks) * 128;
        ASSERT_LE(at, m.size());
    }
    EXPECT_EQ(headers.size(), 4u); // three mails and the joined article
    std::vector<std::uint32_t> indexed;
    for (const std::string& n : names) {
        if (n.size() != 7 || n.substr(3) != ".ndx")
            continue;
        std::string ndx = ReadFile(out.File(n));
        ASSERT_EQ(ndx.size() % 5, 0u);
        for (std::size_t i = 0; i < ndx.size(); i += 5)
            indexed.push_back(Msbin(ndx, i));
    }
    std::sort(indexed.begin(), indexed.end());
    EXPECT_EQ(indexed, headers);
}

TEST(PackTool, BadArgumentsAreRefusedWithAReason)
{
    TempDir home, files;
    WriteFile(files.File("m.eml"), "Message-ID: <1@x>\r\n\r\nx\r\n");
    struct Case {
        std::vector<std::string> args;
        const char* pszReason;
    };
    std::vector<Case> cases = {
        {{"--email", files.File("m.eml")}, "usage"},
        {{"--out", files.File("x.qwk"), files.File("m.eml")}, "needs --email"},
        {{"--out", files.File("x.qwk"), "--email", files.File("absent.eml")}, "cannot read"},
        {{"--out", files.File("x.qwk"), "--group", "bad,name", files.File("m.eml")},
         "not a newsgroup"},
        {{"--out", files.File("x.qwk"), "--packet", "much-too-long"}, "packet name"},
        {{"--out", files.File("x.qwk"), "--bogus"}, "unknown option"},
        {{"--out"}, "needs"},
        {{"--out", files.File("no/such/dir/x.qwk"), "--email", files.File("m.eml")},
         "cannot create"},
    };
    for (const Case& c : cases) {
        auto r = Pack(home, c.args);
        EXPECT_NE(r.iExit, 0) << c.pszReason;
        EXPECT_NE(r.err.find(c.pszReason), std::string::npos) << r.err;
    }
    EXPECT_FALSE(testutil::Exists(files.File("x.qwk")));
}

TEST(PackTool, TheNewsgroupListIsReadButNeverWritten)
{
    TempDir home, files;
    std::string nws = home.File("TOLVAN.NWS");
    std::string list = "z.last,1,5,5,,\r\ncomp.x,3,1,1,,\r\n";
    WriteFile(nws, list);
    WriteFile(files.File("a.eml"), "Message-ID: <1@x>\r\nSubject: s\r\n\r\nx\r\n");
    auto r = Pack(home, {"--out", files.File("o.qwk"), "--group", "comp.x", files.File("a.eml"),
                         "--group", "new.group", files.File("a.eml")});
    ASSERT_EQ(r.iExit, 0) << r.err;
    EXPECT_EQ(ReadFile(nws), list);
    TempDir out;
    Unzip(files.File("o.qwk"), out.Path());
    // comp.x keeps position 1 of the file's order... after new.group was
    // added and the list sorted: comp.x, new.group, z.last.
    std::string control = ReadFile(out.File("control.dat"));
    EXPECT_NE(control.find("\r\n1\r\ncomp.x\r\n2\r\nnew.group\r\n3\r\nz.last\r\n"),
              std::string::npos)
        << control;
    EXPECT_TRUE(testutil::Exists(out.File("001.ndx")));
    EXPECT_TRUE(testutil::Exists(out.File("002.ndx")));
}
