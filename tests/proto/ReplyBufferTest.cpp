// The receive buffer: CR LF line splitting over any cut of the input, the
// overlong-line rule, and overlong lines taken in pieces.
#include "proto/ReplyBuffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Feeds the chunks in order, taking lines after each one.  With pPieces,
// overlong lines are taken in pieces: the pieces are counted and each line
// is returned whole.
std::vector<std::string> Feed(CReplyBuffer& b, const std::vector<std::string>& chunks,
                              bool* pbOverlong = nullptr, int* pPieces = nullptr)
{
    std::string partial;
    std::vector<std::string> lines;
    for (const auto& c : chunks) {
        std::size_t pos = 0;
        while (pos < c.size()) {
            int room = 0;
            char* p = b.FreeSpace(&room);
            EXPECT_GT(room, 0);
            if (room <= 0)
                return lines;
            int n = static_cast<int>(std::min<std::size_t>(room, c.size() - pos));
            std::memcpy(p, c.data() + pos, static_cast<std::size_t>(n));
            b.Commit(n);
            pos += static_cast<std::size_t>(n);
            const char* l;
            int len;
            while (b.NextLine(&l, &len)) {
                lines.push_back(partial + std::string(l, static_cast<std::size_t>(len)));
                partial.clear();
            }
            if (b.Overlong() && pPieces) {
                b.TakePiece(&l, &len);
                EXPECT_TRUE(len == b.Capacity() || (len == b.Capacity() - 1 && l[len] == '\r'));
                partial.append(l, static_cast<std::size_t>(len));
                ++*pPieces;
            } else if (b.Overlong()) {
                if (pbOverlong)
                    *pbOverlong = true;
                return lines;
            }
        }
    }
    return lines;
}

TEST(ReplyBuffer, EveryCutGivesTheSameLines)
{
    const std::string wire = "+OK hi\r\na\rb\r\nc\nd\r\n\r\n.\r\n..x\r\ntwo\r\r\nthree\n\r\n";
    const std::vector<std::string> want = {"+OK hi", "a\rb", "c\nd",  "",
                                           ".",      "..x",  "two\r", "three\n"};
    for (std::size_t i = 0; i <= wire.size(); ++i)
        for (std::size_t j = i; j <= wire.size(); ++j) {
            CReplyBuffer b(64);
            auto got = Feed(b, {wire.substr(0, i), wire.substr(i, j - i), wire.substr(j)});
            EXPECT_EQ(got, want) << "cut at " << i << " and " << j;
            EXPECT_EQ(b.Length(), 0);
        }
    // Byte by byte through a small buffer, which has to move its rest.
    CReplyBuffer b(16);
    std::vector<std::string> bytes;
    for (char c : wire)
        bytes.emplace_back(1, c);
    EXPECT_EQ(Feed(b, bytes), want);
}

TEST(ReplyBuffer, TheLongestLineAndOneMore)
{
    // Capacity 10: 8 characters and CR LF fit; one more is overlong (and
    // leaves no room), the lines before it still delivered.
    const struct {
        const char* wire;
        std::vector<std::string> lines;
        bool bOverlong;
    } rows[] = {
        {"12345678\r\n", {"12345678"}, false},
        {"123456789\r\n", {}, true},
        {"12345678\r\r\n", {}, true},
        {"1234567890", {}, true},
        {"ok\r\nxxxxxxxxxxxxxxx\r\n", {"ok"}, true},
    };
    for (const auto& row : rows) {
        CReplyBuffer b(10);
        bool bOverlong = false;
        EXPECT_EQ(Feed(b, {row.wire}, &bOverlong), row.lines) << row.wire;
        EXPECT_EQ(bOverlong, row.bOverlong) << row.wire;
        int room = -1;
        b.FreeSpace(&room);
        EXPECT_EQ(room == 0, row.bOverlong) << row.wire;
    }
}

TEST(ReplyBuffer, OverlongLinesComeInPiecesWithTheirCrLfKeptTogether)
{
    // Capacity 8: a 20-byte line, a CR that would end a piece, a rest that
    // is a lone "." and a lone CR at a piece's end.
    const std::string wire = "abcdefghijklmnopqrst\r\n1234567\r\nABCDEFGH.\r\nxyzuvwx\rq\r\nok\r\n";
    const std::vector<std::string> want = {"abcdefghijklmnopqrst", "1234567", "ABCDEFGH.",
                                           "xyzuvwx\rq", "ok"};
    for (std::size_t i = 0; i <= wire.size(); ++i) {
        CReplyBuffer b(8);
        int pieces = 0;
        EXPECT_EQ(Feed(b, {wire.substr(0, i), wire.substr(i)}, nullptr, &pieces), want)
            << "cut at " << i;
        EXPECT_EQ(pieces, 5) << "cut at " << i;
        EXPECT_EQ(b.Length(), 0);
    }
}

} // namespace
