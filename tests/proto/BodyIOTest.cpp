// Message bodies: unstuffed into temporary files, stuffed for sending.
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

TEST(BodyLineSource, LinesAsTheyGoOnTheWireAndThe998CharacterRule)
{
    const std::string x998(998, 'x');
    const struct {
        const char* name;
        std::string body;
        std::vector<std::string> wire;
        CBodyLineSource::Result last = CBodyLineSource::END;
    } rows[] = {
        {"dots stuffed, the end a dot line",
         "one\n.two\n.\n..\n\nlast",
         {"one\r\n", "..two\r\n", "..\r\n", "...\r\n", "\r\n", "last\r\n", ".\r\n"}},
        {"CR LF input", "a\r\nb\r\n", {"a\r\n", "b\r\n", ".\r\n"}},
        {"8-bit bytes unchanged", "\xE4\xC1x\n", {"\xE4\xC1x\r\n", ".\r\n"}},
        {"an empty body", "", {".\r\n"}},
        {"998 characters", x998 + "\n", {x998 + "\r\n", ".\r\n"}},
        {"998 characters and CR LF", x998 + "\r\n", {x998 + "\r\n", ".\r\n"}},
        // 999 on the wire, allowed: the limit is on the line as written.
        {"998 characters, the first a dot",
         "." + x998.substr(1) + "\n",
         {".." + x998.substr(1) + "\r\n", ".\r\n"}},
        {"999 characters", "ok\n" + x998 + "x\n", {"ok\r\n"}, CBodyLineSource::TOO_LONG},
        {"a long last line", std::string(5000, 'x'), {}, CBodyLineSource::TOO_LONG},
    };
    for (const auto& row : rows) {
        CBodyLineSource::Result r;
        EXPECT_EQ(Wire(row.body, &r), row.wire) << row.name;
        EXPECT_EQ(r, row.last) << row.name;
    }
}

} // namespace
