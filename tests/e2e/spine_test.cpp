// The process spine through the real server and real pipes: banner,
// framing, the request loop and shut-down.
#include "pipe_host.h"
#include <gtest/gtest.h>

namespace {

const std::string Banner = "info:Orvanta Plugin Scan Server (x64)\n";

TEST(Spine, BannerThenReadyThenCleanExit)
{
    ServerProcess server;
    ASSERT_TRUE(server.Start());
    EXPECT_EQ(server.ReadUntilReady(), Banner + "ready:\n");
    server.CloseInput();
    EXPECT_EQ(server.ReadToEnd(), "");
    EXPECT_EQ(server.WaitExit(), 0u);
}

} // namespace
