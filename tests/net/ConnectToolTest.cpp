// mailtolvan-tool connect against loopback ports.

#include "TestUtil.h"

#include <gtest/gtest.h>

namespace {

TEST(ConnectTool, ConnectsOrExitsOneWithTheReason)
{
    testutil::TempDir home;
    testutil::LoopbackListener listener;
    std::string port = std::to_string(listener.Port()), closed;
    auto r = testutil::RunTool(home.Path(), {"connect", "127.0.0.1", port});
    EXPECT_EQ(0, r.iExit) << r.err;
    EXPECT_EQ("connected to 127.0.0.1:" + port + "\n", r.out);
    {
        testutil::LoopbackListener gone;
        closed = std::to_string(gone.Port());
    }
    const struct {
        std::vector<std::string> args;
        std::string reason;
    } rows[] = {
        {{"127.0.0.1", closed}, "The server has refused your connection."},
        // A label longer than 63 characters: refused before any query is sent.
        {{std::string(70, 'x') + ".invalid", "110"}, "The server name was not listed"},
        {{"127.0.0.1", "0"}, "port"},
        {{"127.0.0.1", "65536"}, "port"},
        {{"127.0.0.1", "12x"}, "port"},
        {{"127.0.0.1", ""}, "port"},
        {{"127.0.0.1", "-5"}, "port"},
        {{"127.0.0.1"}, "usage: connect HOST PORT"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args = row.args;
        args.insert(args.begin(), "connect");
        r = testutil::RunTool(home.Path(), args);
        EXPECT_EQ(1, r.iExit) << r.err;
        EXPECT_EQ("", r.out);
        EXPECT_NE(std::string::npos, r.err.find(row.reason)) << r.err;
    }
}

} // namespace
