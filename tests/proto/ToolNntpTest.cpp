// mailtolvan-tool nntp against scripted servers.
#include "ScriptedServer.h"
#include "TestUtil.h"

#include "framework/Files.h"

#include <gtest/gtest.h>

namespace {

const char kGreeting[] = "200 news ready\r\n";

testutil::RunResult Tool(unsigned short port, std::vector<std::string> args)
{
    testutil::TempDir home;
    args.insert(args.begin(), {"nntp", "--host", "127.0.0.1", "--port", std::to_string(port)});
    return testutil::RunTool(home.Path(), args);
}

TEST(ToolNntp, ListPrintsEveryUsableGroup)
{
    ScriptedServer s(ScriptedServer::Split::Pairs);
    s.Say(kGreeting).Expect("LIST\r\n").Say("215 follows\r\na.b 10 1 y\r\nbad,name 5 1 y\r\n");
    s.Say("c.d 0 1 m\r\n.\r\n").Expect("QUIT\r\n").Say("205 bye\r\n").ExpectClose();
    ASSERT_TRUE(s.Start());
    auto r = Tool(s.Port(), {"list"});
    EXPECT_TRUE(s.Finish()) << s.Report();
    EXPECT_EQ(r.iExit, 0) << r.err;
    EXPECT_EQ(r.out, "a.b 10 1\nc.d 0 1\nend 1 quit\n");
    EXPECT_NE(r.err.find("bad,name"), std::string::npos);
    EXPECT_NE(r.err.find("comma"), std::string::npos);
}

TEST(ToolNntp, GroupSinceAndRefusals)
{
    ScriptedServer s;
    s.Say(kGreeting).Expect("GROUP a.b\r\n").Say("211 3 1 3 a.b\r\n");
    s.Expect("NEWNEWS a.b 240102 030405 GMT\r\n").Say("230 follows\r\n<x@y>\r\n.\r\n");
    s.Expect("STAT <x@y>\r\n").Say("223 2 <x@y>\r\n");
    s.Expect("QUIT\r\n").Say("205 bye\r\n").ExpectClose();
    ASSERT_TRUE(s.Start());
    auto r = Tool(s.Port(), {"group", "a.b", "--since", "2024-01-02 03:04:05"});
    EXPECT_TRUE(s.Finish()) << s.Report();
    EXPECT_EQ(r.iExit, 0) << r.err;
    EXPECT_EQ(r.out, "count 3 first 1 last 3 first-new 2\nend 1 quit\n");

    ScriptedServer t;
    t.Say(kGreeting).Expect("GROUP no.such\r\n").Say("411 No such group\r\n");
    t.Expect("QUIT\r\n").Say("205 bye\r\n").ExpectClose();
    ASSERT_TRUE(t.Start());
    r = Tool(t.Port(), {"xover", "no.such", "1-5"});
    EXPECT_TRUE(t.Finish()) << t.Report();
    EXPECT_NE(r.iExit, 0);
    EXPECT_NE(r.err.find("411 No such group"), std::string::npos) << r.err;

    // Nothing goes out for bad arguments.
    for (auto args : std::vector<std::vector<std::string>>{{"group", "a,b"},
                                                           {"xover", "a.b", "5-1"},
                                                           {"newgroups", "yesterday"},
                                                           {"article", "a.b", "1"},
                                                           {"list", "--user", "joe"}}) {
        r = Tool(1, args);
        EXPECT_NE(r.iExit, 0) << args[0];
        EXPECT_EQ(r.err.find("Connect"), std::string::npos) << r.err;
    }
}

TEST(ToolNntp, ArticlesWithLoginIntoFiles)
{
    testutil::TempDir out;
    ScriptedServer s(ScriptedServer::Split::Pairs);
    s.Say(kGreeting).Expect("GROUP a.b\r\n").Say("480 Authentication required\r\n");
    s.Expect("AUTHINFO USER joe\r\n").Say("381 More\r\n");
    s.Expect("AUTHINFO PASS s3cret\r\n").Say("281 ok\r\n");
    s.Expect("GROUP a.b\r\n").Say("211 3 1 3 a.b\r\n");
    s.Expect("ARTICLE 1\r\n").Say("220 1 <1@x>\r\nSubject: one\r\n\r\n..dot\r\n.\r\n");
    s.Expect("ARTICLE 2\r\n").Say("423 No such article number\r\n");
    s.Expect("ARTICLE 3\r\n").Say("220 3 <3@x>\r\nSubject: three\r\n.\r\n");
    s.Expect("QUIT\r\n").Say("205 bye\r\n").ExpectClose();
    ASSERT_TRUE(s.Start());
    testutil::TempDir pw;
    testutil::WriteFile(pw.File("pw"), "s3cret\n");
    auto r = Tool(s.Port(), {"--user", "joe", "--password-file", pw.File("pw"), "articles", "a.b",
                             "1-3", "--dir", out.Path()});
    EXPECT_TRUE(s.Finish()) << s.Report();
    EXPECT_EQ(r.iExit, 0) << r.err;
    EXPECT_EQ(r.out, "missing 2 423 No such article number\nfetched 2 missing 1\nend 1 quit\n");
    EXPECT_EQ(testutil::ReadFile(out.File("1")), "Subject: one\r\n\r\n.dot\r\n");
    EXPECT_EQ(testutil::ReadFile(out.File("3")), "Subject: three\r\n");
    EXPECT_EQ(fw::ListDirectory(out.Path()).size(), 2u);

    ScriptedServer t;
    t.Say(kGreeting).Expect("GROUP a.b\r\n").Say("211 3 1 3 a.b\r\n");
    t.Expect("ARTICLE 3\r\n").Say("220 3 <3@x>\r\nSubject: three\r\n.\r\n");
    t.Expect("QUIT\r\n").Say("205 bye\r\n").ExpectClose();
    ASSERT_TRUE(t.Start());
    r = Tool(t.Port(), {"article", "a.b", "3", "--out", out.File("art")});
    EXPECT_TRUE(t.Finish()) << t.Report();
    EXPECT_EQ(r.iExit, 0) << r.err;
    EXPECT_EQ(testutil::ReadFile(out.File("art")), "Subject: three\r\n");
    EXPECT_EQ(fw::ListDirectory(out.Path()).size(), 3u);
}

} // namespace
