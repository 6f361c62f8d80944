// Message bodies: dot-unstuffing into temporary files, and the sending
// side's dot-stuffing, bytes passed unchanged and 998-character rule.
#include "proto/BodyIO.h"

#include "TestUtil.h"
#include "framework/Files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

TEST(BodyFile, WritesUnstuffedLinesWithCrLf)
{
    testutil::TempDir dir;
    CBodyFile f;
    ASSERT_TRUE(f.Create(dir.Path(), "PWZ"));
    EXPECT_EQ(fw::BaseName(f.Name()).substr(0, 3), "PWZ");
    EXPECT_TRUE(f.IsOpen());
    for (const char* l : {"plain", "..", ". ", "...x", ".y", ""})
        ASSERT_TRUE(f.WriteLine(l, static_cast<int>(std::strlen(l))));
    ASSERT_TRUE(f.WriteLine("a\0b", 3)); // bytes, not C strings
    std::string name = f.Name();
    ASSERT_TRUE(f.Close());
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(testutil::ReadFile(name),
              std::string("plain\r\n.\r\n \r\n..x\r\ny\r\n\r\na\0b\r\n", 28));
    f.Release();
    f.Discard(); // released: the file stays
    EXPECT_TRUE(testutil::Exists(name));
}

TEST(BodyFile, DiscardRemovesTheFile)
{
    testutil::TempDir dir;
    CBodyFile f;
    ASSERT_TRUE(f.Create(dir.Path(), "NWZ"));
    f.WriteLine("x", 1);
    std::string name = f.Name();
    f.Discard();
    EXPECT_FALSE(testutil::Exists(name));
    EXPECT_TRUE(fw::ListDirectory(dir.Path()).empty());
    EXPECT_FALSE(f.WriteLine("x", 1));
}

TEST(BodyFile, CreateFailsInAMissingDirectory)
{
    testutil::TempDir dir;
    CBodyFile f;
    EXPECT_FALSE(f.Create(dir.Path() + "/nope", "PWZ"));
    EXPECT_NE(f.Error(), 0);
    EXPECT_FALSE(f.IsOpen());
}

TEST(BodyFile, EachCreateGivesANewFile)
{
    testutil::TempDir dir;
    CBodyFile a, b;
    ASSERT_TRUE(a.Create(dir.Path(), "PWZ"));
    ASSERT_TRUE(b.Create(dir.Path(), "PWZ"));
    EXPECT_NE(a.Name(), b.Name());
    a.Discard();
    b.Discard();
}

// Lines from a body stream, as they go on the wire.
std::vector<std::string> Wire(const std::string& body, CBodyLineSource::Result* pLast = nullptr)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(
        fmemopen(const_cast<char*>(body.data()), body.size(), "rb"), std::fclose);
    if (body.empty())
        f.reset(std::fopen("/dev/null", "rb"));
    CBodyLineSource src(f.get());
    std::vector<std::string> out;
    std::string line;
    for (;;) {
        auto r = src.Next(line);
        if (pLast)
            *pLast = r;
        if (r != CBodyLineSource::LINE) {
            if (r == CBodyLineSource::END)
                out.push_back(line);
            break;
        }
        out.push_back(line);
    }
    return out;
}

TEST(BodyLineSource, StuffsDotsAndEndsWithADotLine)
{
    auto w = Wire("one\n.two\n.\n..\n\nlast");
    EXPECT_EQ(w, (std::vector<std::string>{"one\r\n", "..two\r\n", "..\r\n", "...\r\n", "\r\n",
                                           "last\r\n", ".\r\n"}));
}

TEST(BodyLineSource, AcceptsCrLfInput)
{
    EXPECT_EQ(Wire("a\r\nb\r\n"), (std::vector<std::string>{"a\r\n", "b\r\n", ".\r\n"}));
}

TEST(BodyLineSource, NeverAltersEightBitBytes)
{
    EXPECT_EQ(Wire("\xE4\xC1x\n"), (std::vector<std::string>{"\xE4\xC1x\r\n", ".\r\n"}));
}

TEST(BodyLineSource, EmptyBodyIsJustTheEnd)
{
    EXPECT_EQ(Wire(""), std::vector<std::string>{".\r\n"});
}

TEST(BodyLineSource, The998CharacterRule)
{
    CBodyLineSource::Result r;
    auto w = Wire(std::string(998, 'x') + "\n", &r);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0].size(), 1000u);
    EXPECT_EQ(r, CBodyLineSource::END);
    // With CR LF the limit is the same.
    EXPECT_EQ(Wire(std::string(998, 'x') + "\r\n").size(), 2u);
    // 998 characters of which the first is a dot: 999 on the wire, allowed.
    EXPECT_EQ(Wire("." + std::string(997, 'x') + "\n")[0].size(), 1001u);
    Wire("ok\n" + std::string(999, 'x') + "\n", &r);
    EXPECT_EQ(r, CBodyLineSource::TOO_LONG);
    Wire(std::string(5000, 'x'), &r);
    EXPECT_EQ(r, CBodyLineSource::TOO_LONG);
}

TEST(BodyLineSource, EndComesOnceThenNothing)
{
    std::string body = "x\n";
    std::FILE* f = fmemopen(body.data(), body.size(), "rb");
    CBodyLineSource src(f);
    std::string line;
    EXPECT_EQ(src.Next(line), CBodyLineSource::LINE);
    EXPECT_EQ(src.Next(line), CBodyLineSource::END);
    EXPECT_EQ(line, ".\r\n");
    EXPECT_EQ(src.Next(line), CBodyLineSource::END);
    EXPECT_TRUE(line.empty());
    EXPECT_EQ(src.Lines(), 1);
    std::fclose(f);
}

} // namespace
