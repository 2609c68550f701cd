// The peer servers start, answer on loopback and relay through the proxies; every other
// test that meets a real server relies on this.
#include <gtest/gtest.h>

#include "support/peers.h"

using namespace qm::test;

TEST(PeerFixtures, NginxServesFilesThroughBothProxies) {
    std::string root = MakeTempDir("www");
    ASSERT_TRUE(WriteFile(root + "/hello.txt", "hello from nginx\n"));
    NginxPeer nginx(root);
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();

    RunResult direct = RunProgram({"curl", "-sS", nginx.Url("/hello.txt")}, 20000);
    EXPECT_EQ(direct.exitCode, 0) << direct.err;
    EXPECT_EQ(direct.out, "hello from nginx\n");

    TinyproxyPeer proxy;
    ASSERT_TRUE(proxy.Ok()) << proxy.Error();
    RunResult viaProxy = RunProgram(
        {"curl", "-sS", "-x", "http://127.0.0.1:" + std::to_string(proxy.Port()), nginx.Url("/hello.txt")}, 20000);
    EXPECT_EQ(viaProxy.exitCode, 0) << viaProxy.err;
    EXPECT_EQ(viaProxy.out, "hello from nginx\n");

    DantePeer socks;
    ASSERT_TRUE(socks.Ok()) << socks.Error();
    RunResult viaSocks = RunProgram(
        {"curl", "-sS", "--socks4", "127.0.0.1:" + std::to_string(socks.Port()), nginx.Url("/hello.txt")}, 20000);
    EXPECT_EQ(viaSocks.exitCode, 0) << viaSocks.err;
    EXPECT_EQ(viaSocks.out, "hello from nginx\n");

    RunResult missing = RunProgram({"curl", "-s", "-o", "/dev/null", "-w", "%{http_code}", nginx.Url("/none")}, 20000);
    EXPECT_EQ(missing.out, "404");
}
