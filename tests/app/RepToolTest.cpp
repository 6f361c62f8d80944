// mailtolvan-tool rep and compose on REP packets built here: what each reply
// holds, and the RFC 822 text of every part.
#include "RepMaker.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>

using testutil::ReadFile;
using testutil::TempDir;

namespace {

testutil::RunResult Tool(const TempDir& home, std::vector<std::string> args)
{
    return testutil::RunTool(home.Path(), std::move(args));
}

// A packet as a real reader writes it: lower-case name, upper-case members,
// a public reply in conference 3 (two mailing lists: the first group of the
// list), a private one with an attachment and a long subject.
std::string ReaderPacket(const TempDir& home)
{
    testrep::Reply news =
        testrep::ReaderStyleReply(3, "Ann Example", "Group talk", {"Lunch at the caf\x82?"});
    testrep::Reply mail = testrep::ReaderStyleReply(
        0, "bob@example.org", "A subject longer than twenty-five letters", {"See the file."});
    mail.status = '*';
    std::string rep = home.File("tolvan.rep");
    EXPECT_TRUE(
        testrep::WriteZip(rep, {{"TOLVAN.MSG", testrep::MessageFile("TOLVAN", {news, mail})},
                                {"TOLVAN.DAT", "\r\nATT1.BIN,notes.txt\r\n"},
                                {"ATT1.BIN", std::string("line one\nline two\n")}}));
    testutil::WriteFile(home.File("groups.nws"), "");
    return rep;
}

TEST(RepTool, ListsEveryReply)
{
    TempDir home;
    std::string rep = ReaderPacket(home);
    // The newsgroup file of the packet the replies answer.
    testutil::WriteFile(home.File("TOLVAN.NWS"), "0\nlocal.test.post,1,1,0,,\n");
    auto r = Tool(home, {"rep", rep, "--lists", "2"});
    ASSERT_EQ(r.iExit, 0) << r.err << r.out;
    EXPECT_EQ(r.out, "2 replies (1 e-mail, 1 news)\n"
                     "reply 1: news\n  newsgroups: local.test.post\n  subject: Group talk\n"
                     "  attachment: -\n  body: 81 bytes, 5 lines\n"
                     "reply 2: mail\n  to: bob@example.org\n"
                     "  subject: A subject longer than twenty-five letters\n"
                     "  attachment: notes.txt (18 bytes)\n  body: 79 bytes, 5 lines\n");
    // Without the mailing lists conference 3 names no group: exit 1.
    r = Tool(home, {"rep", rep, "--lists", "0"});
    EXPECT_EQ(r.iExit, 1);
    EXPECT_NE(r.out.find("cannot be sent: conference 3 is no newsgroup"), std::string::npos);
    r = Tool(home, {"rep", rep, "--packet", "Other"});
    EXPECT_EQ(r.iExit, 1);
    EXPECT_NE(r.err.find("This packet does not belong to Other.Ini."), std::string::npos);
    testutil::WriteFile(home.File("not.rep"), "plain text");
    r = Tool(home, {"rep", home.File("not.rep")});
    EXPECT_EQ(r.iExit, 1);
    EXPECT_NE(r.err.find("This is not a valid Mail Tolvan REP file."), std::string::npos);
}

TEST(RepTool, ComposesOneFilePerPart)
{
    TempDir home;
    std::string rep = ReaderPacket(home);
    testutil::WriteFile(home.File("TOLVAN.NWS"), "0\nlocal.test.post,1,1,0,,\n");
    ASSERT_EQ(Tool(home, {"config", "Email", "PostSize", "1"}).iExit, 0);
    ASSERT_EQ(Tool(home, {"config", "User", "EmailAddress", "me@host.test"}).iExit, 0);
    std::string out = home.File("out");
    auto r = Tool(home, {"compose", rep, "--out", out, "--lists", "2"});
    ASSERT_EQ(r.iExit, 0) << r.err << r.out;
    std::string news = ReadFile(out + "/reply-1-part-1.eml");
    EXPECT_EQ(news.rfind("Newsgroups: local.test.post\r\nSubject: Group talk\r\n"
                         "From: me@host.test (Your Name Here)\r\n",
                         0),
              0u);
    EXPECT_NE(news.find("\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
                        "Content-Transfer-Encoding: quoted-printable\r\n"),
              std::string::npos);
    EXPECT_NE(news.find("\r\n\r\nLunch at the caf=E9?\r\n"), std::string::npos);
    std::string mail = ReadFile(out + "/reply-2-part-1.eml");
    EXPECT_EQ(mail.rfind("To: bob@example.org\r\nSubject: A subject longer than twenty-five "
                         "letters\r\n",
                         0),
              0u);
    EXPECT_NE(mail.find("filename=\"notes.txt\""), std::string::npos);
    EXPECT_FALSE(testutil::Exists(out + "/reply-2-part-2.eml"));
    // Every line ends with CR LF.
    for (std::size_t i = mail.find('\n'); i != std::string::npos; i = mail.find('\n', i + 1))
        ASSERT_EQ(mail[i - 1], '\r');
}

} // namespace
