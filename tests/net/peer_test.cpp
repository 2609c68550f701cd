// The connection and quillmoor-cli fetch against the servers users meet: nginx directly,
// tinyproxy as HTTP proxy and dante as SOCKS4 server, all on loopback.
#include <gtest/gtest.h>

#include <fstream>

#include "net/client_harness.h"
#include "net/scripted_server.h"
#include "support/peers.h"

using namespace qm;
using namespace qm::test;

namespace {

class PeerTest : public NetTest {
protected:
    static void SetUpTestSuite() {
        root_ = new std::string(MakeTempDir("net-www"));
        std::string body;
        for (int i = 0; i < 1000; ++i) body += "line " + std::to_string(i) + "\n";
        WriteFile(*root_ + "/file.txt", body);
        WriteFile(*root_ + "/private/secret.txt", "top secret\n");
        WriteFile(*root_ + "/new.html", "<p>new</p>");
        WriteFile(*root_ + "/htpasswd", "user:{PLAIN}pass word\n");
        *body_ = body;
        nginx_ = new NginxPeer(*root_, "location /private/ { auth_basic \"Private\"; auth_basic_user_file " + *root_ +
                                           "/htpasswd; }\n"
                                           "location = /old { return 301 /new.html; }\n");
    }
    static void TearDownTestSuite() {
        delete nginx_;
        delete root_;
    }
    void SetUp() override {
        NetTest::SetUp();
        ASSERT_TRUE(nginx_->Ok()) << nginx_->Error();
    }
    static std::string* root_;
    static std::string body_[1];
    static NginxPeer* nginx_;
};
std::string* PeerTest::root_ = nullptr;
std::string PeerTest::body_[1];
NginxPeer* PeerTest::nginx_ = nullptr;

}  // namespace

TEST_F(PeerTest, WholeFileRangeAndNotModified) {
    Events e;
    net::DownloadConnection c;
    Attach(c, e);
    c.SetURL(nginx_->Url("/file.txt"));
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(e)) << e.Dump();
    EXPECT_EQ(e.code, 0);
    EXPECT_EQ(e.body, body_[0]);
    EXPECT_EQ(c.ContentLength, static_cast<std::int64_t>(body_[0].size()));
    EXPECT_TRUE(c.Complete);

    // The date nginx gave is sent back and answered 304.
    std::size_t at = c.Header.find("Last-Modified: ");
    ASSERT_NE(at, std::string::npos);
    std::string date = c.Header.substr(at + 15, c.Header.find("\r\n", at) - at - 15);
    Events e2;
    Attach(c, e2);
    c.IfModifiedSince = date + "\r\n";
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(e2)) << e2.Dump();
    EXPECT_EQ(c.StatusCode, 304);
    EXPECT_EQ(e2.code, 0);
    EXPECT_TRUE(e2.Has("Read Transaction complete. Status: 304 Not Modified.", 2));
    c.IfModifiedSince.clear();

    Events e3;
    Attach(c, e3);
    c.ResumeFrom = 10;
    c.RangeEnd = 19;
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(e3)) << e3.Dump();
    EXPECT_EQ(c.StatusCode, 206);
    EXPECT_EQ(e3.body, body_[0].substr(10, 10));
    EXPECT_EQ(c.Received, 20);
    EXPECT_EQ(e3.code, 0);
}

TEST_F(PeerTest, BasicAuthorizationAndRedirect) {
    Events e;
    net::DownloadConnection c;
    Attach(c, e);
    c.SetURL(nginx_->Url("/private/secret.txt"));
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(e));
    EXPECT_EQ(c.StatusCode, 401);
    EXPECT_TRUE(e.Has("Read Transaction complete. Status: 401 Unauthorized.", 2));

    Events e2;
    Attach(c, e2);
    c.UserName = "user";
    c.Password = "pass word";
    c.Challenge = c.Header;  // credentials go out in answer to the server's challenge
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(e2));
    EXPECT_EQ(c.StatusCode, 200);
    EXPECT_EQ(e2.body, "top secret\n");

    Events e3;
    net::DownloadConnection r;
    Attach(r, e3);
    r.SetURL(nginx_->Url("/old"));
    ASSERT_TRUE(r.Start(false));
    ASSERT_TRUE(RunToDone(e3));
    EXPECT_EQ(r.StatusCode, 301);
    EXPECT_NE(r.Header.find("Location: http://127.0.0.1:" + std::to_string(nginx_->Port()) + "/new.html"),
              std::string::npos)
        << r.Header;
    EXPECT_TRUE(e3.Has("Read Transaction complete. Status: 301 Object Moved.", 2));
}

TEST_F(PeerTest, ThroughTinyproxyAndDante) {
    TinyproxyPeer proxy;
    ASSERT_TRUE(proxy.Ok()) << proxy.Error();
    Events e;
    net::DownloadConnection c;
    Attach(c, e);
    c.SetURL(nginx_->Url("/file.txt"));
    c.ProxyType = net::ProxyKind::Http;
    c.ProxyHost = "127.0.0.1";
    c.ProxyPort = proxy.Port();
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(e, 20000)) << e.Dump();
    EXPECT_EQ(c.StatusCode, 200) << c.Header;
    EXPECT_EQ(e.body, body_[0]);

    DantePeer socks;
    ASSERT_TRUE(socks.Ok()) << socks.Error();
    Events e2;
    net::DownloadConnection s;
    Attach(s, e2);
    s.SetURL(nginx_->Url("/file.txt"));
    s.ProxyType = net::ProxyKind::Socks4;
    s.ProxyHost = "127.0.0.1";
    s.ProxyPort = socks.Port();
    ASSERT_TRUE(s.Start(false));
    ASSERT_TRUE(RunToDone(e2, 20000)) << e2.Dump();
    EXPECT_EQ(s.StatusCode, 200) << s.Header;
    EXPECT_EQ(e2.body, body_[0]);
    EXPECT_TRUE(e2.Has("Proxy server connected. Waiting for reply.", 0));
}

// An answer without a length ends when the server closes: that is its normal end, so the
// body is kept, as the download engine keeps it. A body cut by the size rule is not.
TEST_F(PeerTest, FetchKeepsAnAnswerThatEndsWithTheServerClosing) {
    std::string home = MakeTempDir("net-cli-close");
    ScriptedServer s({{ReadRequest(), Send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n"), Pause(50),
                       Send("until the end"), Close()}});
    const std::string out = home + "/closed.txt";
    RunResult r = RunCli({"--home", home, "fetch", s.Url("/x"), "-o", out});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(out), "until the end");
    EXPECT_NE(r.err.find("status=200 complete=yes code=1 bytes=13"), std::string::npos) << r.err;
}

TEST_F(PeerTest, FetchCommandDirectAndThroughProxies) {
    std::string home = MakeTempDir("net-cli-home");
    std::string out = home + "/out.txt";
    RunResult r = RunCli({"--home", home, "fetch", nginx_->Url("/file.txt"), "-o", out});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(out), body_[0]);
    EXPECT_NE(r.err.find("HTTP0: Connecting to host 127.0.0.1..."), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("status=200 complete=yes code=0 bytes=" + std::to_string(body_[0].size()) + "\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("HTTP0: GET /file.txt HTTP/1.1"), std::string::npos) << "protocol text only when verbose";

    RunResult v = RunCli({"--home", home, "fetch", nginx_->Url("/file.txt"), "--verbose"});
    EXPECT_EQ(v.exitCode, 0);
    EXPECT_EQ(v.out, body_[0]);
    EXPECT_NE(v.err.find("HTTP0: GET /file.txt HTTP/1.1\n"), std::string::npos) << v.err;

    RunResult missing = RunCli({"--home", home, "fetch", nginx_->Url("/none"), "-o", home + "/none.txt"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("status=404 complete=yes code=0"), std::string::npos) << missing.err;
    EXPECT_FALSE(std::ifstream(home + "/none.txt").good()) << "nothing is left half-written";

    RunResult refused = RunCli({"--home", home, "fetch", "http://127.0.0.1:" + std::to_string(FreePort()) + "/"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("HTTP0: Connection to host 127.0.0.1 failed."), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("status=0 complete=no code=4 bytes=0"), std::string::npos) << refused.err;

    EXPECT_EQ(RunCli({"--home", home, "fetch"}).exitCode, 2);
    EXPECT_EQ(RunCli({"--home", home, "fetch", "a", "b"}).exitCode, 2);

    TinyproxyPeer proxy;
    ASSERT_TRUE(proxy.Ok()) << proxy.Error();
    RunResult set = RunCli({"--home", home, "options", "ProxyType=1", "ProxyAddr=127.0.0.1",
                            "ProxyPort=" + std::to_string(proxy.Port()), "UAgent=Tester/2"});
    ASSERT_EQ(set.exitCode, 0) << set.err;
    RunResult viaProxy = RunCli({"--home", home, "fetch", nginx_->Url("/file.txt"), "--verbose"});
    EXPECT_EQ(viaProxy.exitCode, 0) << viaProxy.err;
    EXPECT_EQ(viaProxy.out, body_[0]);
    EXPECT_NE(viaProxy.err.find("HTTP0: Connecting to Proxy server..."), std::string::npos);
    EXPECT_NE(viaProxy.err.find("HTTP0: User-Agent: Tester/2\n"), std::string::npos) << viaProxy.err;

    DantePeer socks;
    ASSERT_TRUE(socks.Ok()) << socks.Error();
    ASSERT_EQ(RunCli({"--home", home, "options", "ProxyType=2", "ProxyPort=" + std::to_string(socks.Port())}).exitCode,
              0);
    RunResult viaSocks = RunCli({"--home", home, "fetch", nginx_->Url("/file.txt")});
    EXPECT_EQ(viaSocks.exitCode, 0) << viaSocks.err;
    EXPECT_EQ(viaSocks.out, body_[0]);
    EXPECT_NE(viaSocks.err.find("HTTP0: Proxy server connected. Waiting for reply."), std::string::npos);
}
