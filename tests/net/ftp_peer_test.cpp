// The FTP conversation against pyftpdlib on 127.0.0.1: active and passive data connections,
// a user with a password, a large file resumed with REST, a refused REST, refused active
// mode, and quillmoor-cli fetch.
#include <filesystem>
#include <string>
#include <vector>

#include "net/client_harness.h"
#include "support/peers.h"

namespace qm::test {
namespace {

std::string Pattern(std::size_t size) {
    std::string s(size, '\0');
    std::uint32_t x = 12345;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

class FtpPeerTest : public NetTest {
protected:
    void SetUp() override {
        NetTest::SetUp();
        root_ = MakeTempDir("ftproot");
        ASSERT_TRUE(WriteFile(root_ + "/pub/small.txt", "hello over ftp\n"));
        ASSERT_TRUE(WriteFile(root_ + "/pub/sub dir/x.html", "<a href=x>x</a>"));
        big_ = Pattern(6 << 20);
        ASSERT_TRUE(WriteFile(root_ + "/big.bin", big_));
    }
    struct Result {
        Events e;
        int status = 0;
        bool complete = false;
        std::int64_t contentLength = 0;
    };
    Result Fetch(const std::string& url, bool passive, std::int64_t resumeFrom = 0, const std::string& user = "",
                 const std::string& password = "") {
        Result r;
        net::DownloadConnection c;
        Attach(c, r.e);
        c.FtpPassive = passive;
        c.ResumeFrom = resumeFrom;
        c.UserName = user;
        c.Password = password;
        c.TimeOut = 10000;
        c.SetURL(url);
        EXPECT_TRUE(c.Start(false));
        EXPECT_TRUE(RunToDone(r.e, 30000)) << r.e.Dump();
        r.status = c.StatusCode;
        r.complete = c.Complete;
        r.contentLength = c.ContentLength;
        return r;
    }
    std::string root_, big_;
};

TEST_F(FtpPeerTest, ActivePassiveUserAndListing) {
    FtpPeer peer(root_, "alice:s3cret");
    ASSERT_TRUE(peer.Ok()) << peer.Error();
    for (bool passive : {false, true}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        Result anon = Fetch(peer.Url("/pub/small.txt"), passive);
        EXPECT_EQ(anon.e.code, 0) << anon.e.Dump();
        EXPECT_EQ(anon.e.body, "hello over ftp\n");
        EXPECT_EQ(anon.status, 200);
        EXPECT_TRUE(anon.complete);

        Result user = Fetch(peer.Url("/big.bin"), passive, 0, "alice", "s3cret");
        EXPECT_EQ(user.e.code, 0) << user.e.Dump();
        EXPECT_TRUE(user.e.body == big_);
        EXPECT_EQ(user.contentLength, static_cast<std::int64_t>(big_.size()));

        Result wrong = Fetch(peer.Url("/pub/small.txt"), passive, 0, "alice", "wrong");
        EXPECT_EQ(wrong.e.code, 4);
        EXPECT_TRUE(wrong.e.Has("Logon failed.", 2)) << wrong.e.Dump();

        Result list = Fetch(peer.Url("/pub/"), passive);
        EXPECT_EQ(list.e.code, 0) << list.e.Dump();
        EXPECT_TRUE(list.complete);
        EXPECT_EQ(list.e.body.rfind("<HTML><PRE>\r\n", 0), 0u);
        EXPECT_NE(list.e.body.find("<a href=\"small.txt\">small.txt</a>"), std::string::npos) << list.e.body;
        EXPECT_NE(list.e.body.find("<a href=\"sub dir/\">sub</a>"), std::string::npos) << list.e.body;

        Result missing = Fetch(peer.Url("/nothing/"), passive);
        EXPECT_TRUE(missing.e.Has("Change directory failed.", 2)) << missing.e.Dump();
    }
}

TEST_F(FtpPeerTest, ResumeWithRestAndWithoutIt) {
    const std::int64_t half = static_cast<std::int64_t>(big_.size() / 2);
    {
        FtpPeer peer(root_);
        ASSERT_TRUE(peer.Ok()) << peer.Error();
        Result r = Fetch(peer.Url("/big.bin"), false, half);
        EXPECT_EQ(r.e.code, 0) << r.e.Dump();
        EXPECT_EQ(r.status, 206);
        EXPECT_EQ(r.contentLength, static_cast<std::int64_t>(big_.size()) - half);
        EXPECT_TRUE(r.e.body == big_.substr(static_cast<std::size_t>(half)));
    }
    {
        FtpPeer peer(root_, "", /*noRest=*/true, /*noActive=*/true);
        ASSERT_TRUE(peer.Ok()) << peer.Error();
        Result r = Fetch(peer.Url("/big.bin"), false, half);
        EXPECT_TRUE(r.e.Has("Active mode refused; trying passive mode.", 0)) << r.e.Dump();
        EXPECT_TRUE(r.e.Has("Reget is not supported.", 0));
        EXPECT_EQ(r.e.code, 0);
        EXPECT_EQ(r.status, 200);
        EXPECT_TRUE(r.e.body == big_);
    }
}

// Over IPv6 the data connection is set up with EPSV and EPRT (a PASV reply carries only an
// IPv4 address); IPv4 keeps PASV and PORT.
TEST_F(FtpPeerTest, Ipv6UsesExtendedPassiveAndActiveModes) {
    if (!HasIpv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback ([::1])";
    FtpPeer peer(root_, "", false, false, /*ipv6=*/true);
    ASSERT_TRUE(peer.Ok()) << peer.Error();
    auto sent = [](const Events& e, const std::string& prefix) {
        for (const auto& s : e.status)
            if (s.second == 3 && s.first.rfind(prefix, 0) == 0) return true;
        return false;
    };
    for (bool passive : {false, true}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        Result file = Fetch(peer.Url6("/big.bin"), passive);
        EXPECT_EQ(file.e.code, 0) << file.e.Dump();
        EXPECT_TRUE(file.e.body == big_);
        EXPECT_EQ(sent(file.e, "EPSV"), passive) << file.e.Dump();
        EXPECT_EQ(sent(file.e, "EPRT |2|::1|"), !passive) << file.e.Dump();
        EXPECT_FALSE(sent(file.e, "PASV") || sent(file.e, "PORT")) << file.e.Dump();

        Result list = Fetch(peer.Url6("/pub/"), passive);
        EXPECT_EQ(list.e.code, 0) << list.e.Dump();
        EXPECT_NE(list.e.body.find("<a href=\"small.txt\">small.txt</a>"), std::string::npos) << list.e.body;

        Result resumed = Fetch(peer.Url6("/big.bin"), passive, 1000);
        EXPECT_EQ(resumed.status, 206);
        EXPECT_TRUE(resumed.e.body == big_.substr(1000));

        Result v4 = Fetch(peer.Url("/pub/small.txt"), passive);
        EXPECT_EQ(v4.e.body, "hello over ftp\n");
        EXPECT_EQ(sent(v4.e, "PASV"), passive) << v4.e.Dump();
        EXPECT_EQ(sent(v4.e, "PORT "), !passive) << v4.e.Dump();
        EXPECT_FALSE(sent(v4.e, "EPSV") || sent(v4.e, "EPRT")) << v4.e.Dump();
    }
    // A server that cannot connect back falls back to EPSV, never to PASV.
    FtpPeer refusing(root_, "", false, /*noActive=*/true, /*ipv6=*/true);
    ASSERT_TRUE(refusing.Ok()) << refusing.Error();
    Result r = Fetch(refusing.Url6("/pub/small.txt"), false);
    EXPECT_TRUE(r.e.Has("Active mode refused; trying passive mode.", 0)) << r.e.Dump();
    EXPECT_EQ(r.e.body, "hello over ftp\n");
    EXPECT_TRUE(sent(r.e, "EPSV"));
    EXPECT_FALSE(sent(r.e, "PASV"));
}

TEST_F(FtpPeerTest, ThroughSocksAndPastAnHttpProxy) {
    FtpPeer peer(root_);
    ASSERT_TRUE(peer.Ok()) << peer.Error();
    DantePeer dante;
    ASSERT_TRUE(dante.Ok()) << dante.Error();
    for (net::ProxyKind proxyType : {net::ProxyKind::Socks4, net::ProxyKind::Http}) {
        Events e;
        net::DownloadConnection c;
        Attach(c, e);
        c.ProxyType = proxyType;
        c.ProxyHost = "127.0.0.1";
        // SOCKS4 carries the control connection; an HTTP proxy cannot carry FTP, and the
        // address is fetched directly (nothing listens at the proxy's port).
        c.ProxyPort = proxyType == net::ProxyKind::Socks4 ? dante.Port() : FreePort();
        c.TimeOut = 10000;
        c.SetURL(peer.Url("/pub/small.txt"));
        ASSERT_TRUE(c.Start(false));
        ASSERT_TRUE(RunToDone(e, 30000));
        EXPECT_EQ(e.code, 0) << static_cast<int>(proxyType) << "\n" << e.Dump();
        EXPECT_EQ(e.body, "hello over ftp\n");
        EXPECT_EQ(e.Has("Proxy server connected. Waiting for reply.", 0), proxyType == net::ProxyKind::Socks4)
            << e.Dump();
    }
}

TEST_F(FtpPeerTest, CliFetch) {
    FtpPeer peer(root_, "bob:pa%ss");
    ASSERT_TRUE(peer.Ok()) << peer.Error();
    std::string home = MakeTempDir("ftpcli");
    std::string out = home + "/big.bin";
    std::string url = peer.Url("/big.bin");
    url.insert(6, "bob:pa%25ss@");
    RunResult r = RunCli({"--home", home, "fetch", url, "-o", out});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("status=200 complete=yes code=0 bytes=" + std::to_string(big_.size())), std::string::npos)
        << r.err;
    EXPECT_TRUE(ReadFile(out) == big_);

    ASSERT_EQ(RunCli({"--home", home, "options", "FtpPassive=1"}).exitCode, 0);
    r = RunCli({"--home", home, "fetch", peer.Url("/pub/"), "--verbose"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("HTTP0: PASV"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("<a href=\"small.txt\">small.txt</a>"), std::string::npos) << r.out;
}

TEST_F(FtpPeerTest, DeepTreeMirroredWithGet) {
    std::string tree = MakeTempDir("ftptree");
    std::vector<std::string> names;
    std::string dir = "/top";
    for (int level = 0; level < 6; ++level) {
        for (int f = 0; f < 2; ++f) {
            std::string name = dir + "/f" + std::to_string(level) + "_" + std::to_string(f) + ".txt";
            ASSERT_TRUE(WriteFile(tree + name, "content of " + name + "\n"));
            names.push_back(name);
        }
        dir += "/d" + std::to_string(level);
    }
    FtpPeer peer(tree);
    ASSERT_TRUE(peer.Ok()) << peer.Error();
    std::string home = MakeTempDir("ftpget-home"), downloads = MakeTempDir("ftpget-files");
    ASSERT_EQ(RunCli({"--home", home, "options", "PathPrefix=" + downloads + "/", "HTTPCount=4"}).exitCode, 0);
    // New Projects keep to their starting server by default.
    ASSERT_NE(ReadFile(home + "/registry.reg").find("\"RSrvsBx\"=dword:00000001"), std::string::npos);

    RunResult r = RunCli({"--home", home, "get", peer.Url("/top/"), "--level", "20"}, 120000);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // Every file of the tree is stored under the server's folder, as it is on the server.
    std::string site;
    for (const auto& entry : std::filesystem::directory_iterator(downloads)) site = entry.path().string();
    ASSERT_FALSE(site.empty());
    for (const std::string& name : names)
        EXPECT_EQ(ReadFile(site + name), "content of " + name + "\n") << name << "\n" << r.err;
    // The listings are stored as pages whose links lead to the stored copies.
    std::string page;
    for (const auto& entry : std::filesystem::directory_iterator(site + "/top"))
        if (entry.is_regular_file() && entry.path().extension() != ".primary" &&
            entry.path().filename().string().rfind("f0_", 0) != 0 && entry.path().filename() != "Descr.QV3")
            page = ReadFile(entry.path().string());
    EXPECT_NE(page.find("f0_0.txt\">f0_0.txt</a>"), std::string::npos) << page;
}

}  // namespace
}  // namespace qm::test
