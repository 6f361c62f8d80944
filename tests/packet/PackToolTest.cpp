#include "MessageMaker.h"
#include "TestUtil.h"
#include "framework/Files.h"
#include "packet/Et4Zip.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>
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

} // namespace

// The packet's bytes and each encoding are the writer's and the converter's
// tests; here the tool's pipeline from files to an unpacked packet.
TEST(PackTool, MailAndASplitPostMakeOnePacketAndTheGroupListStays)
{
    TempDir home, files;
    std::string nws = home.File("TOLVAN.NWS");
    std::string list = "z.last,1,5,5,,\r\ncomp.x,3,1,1,,\r\n";
    WriteFile(nws, list);
    const std::string photo = Bytes(70000, 1), notes = Bytes(3001, 2), archive = Bytes(10000, 3);
    WriteFile(files.File("1.eml"),
              "Message-ID: <m1@x>\r\nSubject: photo\r\nContent-Type: image/jpeg\r\n"
              "Content-Transfer-Encoding: base64\r\n"
              "Content-Disposition: attachment; filename=photo.jpg\r\n\r\n" +
                  Base64(photo));
    WriteFile(files.File("2.eml"), "Message-ID: <m2@x>\r\nSubject: uu\r\n\r\ntext first\r\n" +
                                       Uuencode(notes, "notes.bin"));
    std::string b64 = Base64(archive);
    std::size_t cut = 78 * 60;
    WriteFile(files.File("a1.eml"),
              "Message-ID: <n1@x>\r\nSubject: archive.tar.gz [1/2]\r\nNewsgroups: alt.bin\r\n"
              "Content-Type: application/gzip; name=\"archive.tar.gz\"\r\n"
              "Content-Transfer-Encoding: base64\r\n\r\n" +
                  b64.substr(0, cut));
    WriteFile(files.File("a2.eml"),
              "Message-ID: <n2@x>\r\nSubject: archive.tar.gz [2/2]\r\nNewsgroups: alt.bin\r\n\r\n" +
                  b64.substr(cut));
    auto r = Pack(home, {"--out", files.File("P.qwk"), "--packet", "P", "--user", "Joe User",
                         "--email", files.File("1.eml"), files.File("2.eml"), "--group", "alt.bin",
                         files.File("a1.eml"), files.File("a2.eml")});
    ASSERT_EQ(r.iExit, 0) << r.err;
    // Two articles of one post are one message of the packet.
    EXPECT_NE(r.out.find(": 4 messages (2 e-mail, 2 articles) as 3 packet messages, 3 attachments"),
              std::string::npos)
        << r.out;
    TempDir out;
    std::vector<std::string> names = Unzip(files.File("P.qwk"), out.Path());
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names[0], "attached.lst");
    EXPECT_EQ(ReadFile(out.File("messages.dat")).substr(128 + 21, 25),
              "Joe User" + std::string(17, ' '));

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
    EXPECT_EQ(found, (std::map<std::string, std::string>{
                         {"photo.jpg", photo}, {"notes.bin", notes}, {"arch~tar.gz", archive}}));
    // alt.bin was added and the list sorted: the conferences follow it.
    EXPECT_NE(ReadFile(out.File("control.dat"))
                  .find("\r\n1\r\nalt.bin\r\n2\r\ncomp.x\r\n3\r\nz.last\r\n"),
              std::string::npos);
    EXPECT_EQ(ReadFile(nws), list);
    for (const std::string& e : fw::ListDirectory(home.Path()))
        EXPECT_EQ(e.find("packwork"), std::string::npos) << "the work directory is gone: " << e;
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
