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

TEST(BodyFile, WritesUnstuffedLinesWithCrLfAndDiscardRemovesTheFile)
{
    testutil::TempDir dir;
    CBodyFile f, g;
    EXPECT_FALSE(f.Create(dir.Path() + "/nope", "PWZ"));
    EXPECT_NE(f.Error(), 0);
    EXPECT_FALSE(f.IsOpen());
    ASSERT_TRUE(f.Create(dir.Path(), "PWZ"));
    ASSERT_TRUE(g.Create(dir.Path(), "PWZ"));
    EXPECT_NE(f.Name(), g.Name()) << "each Create gives a new file";
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
    g.WriteLine("x", 1);
    g.Discard();
    EXPECT_FALSE(g.WriteLine("x", 1));
    EXPECT_EQ(fw::ListDirectory(dir.Path()), std::vector<std::string>{fw::BaseName(name)});
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

TEST(BodyLineSource, LinesAsTheyGoOnTheWire)
{
    const struct {
        const char* name;
        std::string body;
        std::vector<std::string> wire;
    } rows[] = {
        {"dots stuffed, the end a dot line",
         "one\n.two\n.\n..\n\nlast",
         {"one\r\n", "..two\r\n", "..\r\n", "...\r\n", "\r\n", "last\r\n", ".\r\n"}},
        {"CR LF input", "a\r\nb\r\n", {"a\r\n", "b\r\n", ".\r\n"}},
        {"8-bit bytes unchanged", "\xE4\xC1x\n", {"\xE4\xC1x\r\n", ".\r\n"}},
        {"an empty body", "", {".\r\n"}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Wire(row.body), row.wire) << row.name;
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
