// https against nginx on loopback with certificates made here by the openssl command: a
// trusted one, an expired one, one for another host name and a self-signed one; ranges and
// "not modified" over TLS, tunnels through tinyproxy (CONNECT) and dante (SOCKS4), and
// quillmoor-cli get following a redirect from http to https. Trust comes from the test's own
// certificate authority through SSL_CERT_FILE; the system's trusted certificates are never
// touched.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "net/client_harness.h"
#include "support/peers.h"

using namespace qm;
using namespace qm::test;

namespace {

namespace fs = std::filesystem;

bool Openssl(const std::vector<std::string>& args, std::string& error) {
    std::vector<std::string> argv{"openssl"};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = RunProgram(argv, 60000);
    if (r.exitCode != 0) error += "openssl failed: " + r.err;
    return r.exitCode == 0;
}

// The test's certificate authority and server certificates, in dir.
bool MakeCertificates(const std::string& dir, std::string& error) {
    const std::string d = dir + "/";
    WriteFile(d + "local.ext", "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1\n");
    WriteFile(d + "other.ext", "subjectAltName=DNS:other.example\n");
    return Openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", d + "ca.key", "-out", d + "ca.pem",
                    "-days", "2", "-subj", "/CN=Quillmoor Test CA"},
                   error) &&
           Openssl({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", d + "srv.key", "-out", d + "srv.csr", "-subj",
                    "/CN=localhost"},
                   error) &&
           Openssl({"x509", "-req", "-in", d + "srv.csr", "-CA", d + "ca.pem", "-CAkey", d + "ca.key",
                    "-CAcreateserial", "-out", d + "good.pem", "-days", "2", "-extfile", d + "local.ext"},
                   error) &&
           Openssl({"x509", "-req", "-in", d + "srv.csr", "-CA", d + "ca.pem", "-CAkey", d + "ca.key",
                    "-CAcreateserial", "-out", d + "expired.pem", "-days", "-1", "-extfile", d + "local.ext"},
                   error) &&
           Openssl({"x509", "-req", "-in", d + "srv.csr", "-CA", d + "ca.pem", "-CAkey", d + "ca.key",
                    "-CAcreateserial", "-out", d + "other.pem", "-days", "2", "-extfile", d + "other.ext"},
                   error) &&
           Openssl({"req", "-x509", "-key", d + "srv.key", "-out", d + "self.pem", "-days", "2", "-subj",
                    "/CN=localhost", "-addext", "subjectAltName=DNS:localhost"},
                   error);
}

class HttpsTest : public NetTest {
protected:
    static void SetUpTestSuite() {
        dir_ = new std::string(MakeTempDir("https"));
        const std::string root = *dir_ + "/www";
        for (int i = 0; i < 2000; ++i) body_ += "secure line " + std::to_string(i) + "\n";
        WriteFile(root + "/file.txt", body_);
        WriteFile(root + "/index.html",
                  "<html><head><link rel=stylesheet href=\"s.css\"></head>"
                  "<body><a href=\"page.html\">next</a></body></html>");
        WriteFile(root + "/s.css", "body{background:url(bg.png)}");
        WriteFile(root + "/bg.png", "PNG");
        WriteFile(root + "/page.html", "<p>secure page</p>");
        if (!MakeCertificates(*dir_, *error_)) return;
        // The trusted certificates of this process and of the programs it starts.
        setenv("SSL_CERT_FILE", (*dir_ + "/ca.pem").c_str(), 1);
        for (int& p : ports_) p = FreePort();
        auto server = [&](int port, const std::string& cert) {
            return "  server {\n    listen 127.0.0.1:" + std::to_string(port) + " ssl;\n    root " + root +
                   ";\n    ssl_certificate " + *dir_ + "/" + cert + ";\n    ssl_certificate_key " + *dir_ +
                   "/srv.key;\n";
        };
        // The plain server first (the peer's own), then one TLS server per certificate; the
        // peer closes the last block.
        std::string directives = "location = /to-secure { return 301 https://localhost:" + std::to_string(ports_[0]) +
                                 "/index.html; }\n  }\n" + server(ports_[0], "good.pem") + "  }\n" +
                                 server(ports_[1], "expired.pem") + "  }\n" + server(ports_[2], "other.pem") + "  }\n" +
                                 server(ports_[3], "self.pem");
        nginx_ = new NginxPeer(root, directives);
        for (int p : ports_)
            if (nginx_->Ok() && !WaitForPort(p, 5000)) *error_ = "nginx did not listen on " + std::to_string(p);
    }
    static void TearDownTestSuite() {
        delete nginx_;
        nginx_ = nullptr;
        unsetenv("SSL_CERT_FILE");
    }
    void SetUp() override {
        NetTest::SetUp();
        ASSERT_TRUE(error_->empty()) << *error_;
        ASSERT_TRUE(nginx_->Ok()) << nginx_->Error();
        net::DownloadConnection::AcceptUntrusted = false;
    }
    void TearDown() override { net::DownloadConnection::AcceptUntrusted = false; }
    static std::string Url(int which, const std::string& path) {
        return "https://localhost:" + std::to_string(ports_[which]) + path;
    }
    // A finished fetch of url: its events.
    static Events Fetch(net::DownloadConnection& c, const std::string& url) {
        Events e;
        Attach(c, e);
        c.SetURL(url);
        EXPECT_TRUE(c.Start(false));
        EXPECT_TRUE(RunToDone(e)) << e.Dump();
        return e;
    }
    static bool Logged(const Events& e, const std::string& part) {
        for (const auto& s : e.status)
            if (s.first.find(part) != std::string::npos) return true;
        return false;
    }

    static std::string* dir_;
    static std::string error_[1];
    static std::string body_;
    static int ports_[4];
    static NginxPeer* nginx_;
};
std::string* HttpsTest::dir_ = nullptr;
std::string HttpsTest::error_[1];
std::string HttpsTest::body_;
int HttpsTest::ports_[4] = {};
NginxPeer* HttpsTest::nginx_ = nullptr;

}  // namespace

TEST_F(HttpsTest, TrustedServerWholeFileResumeAndNotModified) {
    net::DownloadConnection c;
    Events e = Fetch(c, Url(0, "/file.txt"));
    EXPECT_EQ(c.Scheme, net::UrlScheme::Https);
    EXPECT_EQ(c.GetURL(), Url(0, "/file.txt"));
    net::DownloadConnection q;
    q.SetURL("http://h/go?to=https://other/");
    EXPECT_EQ(q.Scheme, net::UrlScheme::Http);
    EXPECT_EQ(q.Host, "h");
    q.SetURL("HTTPS://h/x?to=http://other/");
    EXPECT_EQ(q.Scheme, net::UrlScheme::Https);
    EXPECT_EQ(q.Port, 443);
    EXPECT_EQ(e.code, 0) << e.Dump();
    EXPECT_EQ(c.StatusCode, 200);
    EXPECT_EQ(e.body, body_);
    EXPECT_TRUE(c.Complete);

    net::DownloadConnection r;
    r.ResumeFrom = 1000;
    Events ranged = Fetch(r, Url(0, "/file.txt"));
    EXPECT_EQ(r.StatusCode, 206) << ranged.Dump();
    EXPECT_EQ(ranged.body, body_.substr(1000));
    EXPECT_TRUE(Logged(ranged, "Range: bytes=1000-")) << ranged.Dump();

    // The stored copy's date, as the engine sends it back.
    const std::size_t at = c.Header.find("Last-Modified: ");
    ASSERT_NE(at, std::string::npos) << c.Header;
    net::DownloadConnection m;
    m.IfModifiedSince = c.Header.substr(at + 15, c.Header.find('\r', at) - at - 15);
    Events same = Fetch(m, Url(0, "/file.txt"));
    EXPECT_EQ(m.StatusCode, 304) << same.Dump();
    EXPECT_TRUE(same.body.empty());
}

TEST_F(HttpsTest, RefusedCertificatesSayWhyAndTheOptionAcceptsThem) {
    struct Case {
        int port;
        const char* reason;
    } cases[] = {{1, "certificate has expired"}, {2, "hostname mismatch"}, {3, "self-signed certificate"}};
    for (const Case& k : cases) {
        net::DownloadConnection c;
        Events e = Fetch(c, Url(k.port, "/page.html"));
        EXPECT_EQ(e.code, 4) << k.reason;
        EXPECT_TRUE(e.body.empty());
        EXPECT_TRUE(Logged(e, "Secure connection to host localhost failed: certificate refused: ")) << e.Dump();
        EXPECT_TRUE(Logged(e, k.reason)) << e.Dump();
    }
    net::DownloadConnection::AcceptUntrusted = true;
    for (const Case& k : cases) {
        net::DownloadConnection c;
        Events e = Fetch(c, Url(k.port, "/page.html"));
        EXPECT_EQ(e.code, 0) << e.Dump();
        EXPECT_EQ(e.body, "<p>secure page</p>");
    }
}

// An IPv6 literal is no server name: no SNI goes out (RFC 6066), and the certificate is
// checked against the address itself.
TEST_F(HttpsTest, Ipv6LiteralSendsNoServerNameAndIsCheckedAgainstTheAddress) {
    if (!HasIpv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback ([::1])";
    const int good = FreePort(), other = FreePort(), named4 = FreePort();
    const std::string root = *dir_ + "/www";
    auto tls = [&](int port, const std::string& cert) {
        return "listen [::1]:" + std::to_string(port) + " ssl;\n    ssl_certificate " + *dir_ + "/" + cert +
               ";\n    ssl_certificate_key " + *dir_ + "/srv.key;\n";
    };
    NginxPeer v6(root, tls(good, "good.pem") + "listen 127.0.0.1:" + std::to_string(named4) +
                           " ssl;\n    location = /sni { return 200 \"[$ssl_server_name]\"; }\n  }\n" +
                           "  server {\n    root " + root + ";\n    " + tls(other, "other.pem"));
    ASSERT_TRUE(v6.Ok()) << v6.Error();
    const std::string base = "https://[::1]:" + std::to_string(good);
    {
        net::DownloadConnection c;
        Events e = Fetch(c, base + "/file.txt");
        EXPECT_EQ(e.code, 0) << e.Dump();
        EXPECT_EQ(e.body, body_);
        EXPECT_EQ(c.Host, "[::1]");
        EXPECT_TRUE(Logged(e, "Host: [::1]:" + std::to_string(good))) << e.Dump();
    }
    {
        net::DownloadConnection c;
        Events e = Fetch(c, base + "/sni");
        EXPECT_EQ(e.body, "[]") << "an address is never sent as the server's name";
        net::DownloadConnection named;
        Events byName = Fetch(named, "https://localhost:" + std::to_string(named4) + "/sni");
        EXPECT_EQ(byName.body, "[localhost]") << byName.Dump();
    }
    {
        // The certificate names localhost but not ::1.
        net::DownloadConnection c;
        Events e = Fetch(c, "https://[::1]:" + std::to_string(other) + "/page.html");
        EXPECT_EQ(e.code, 4);
        EXPECT_TRUE(Logged(e, "certificate refused: ")) << e.Dump();
        EXPECT_TRUE(Logged(e, "IP address mismatch")) << e.Dump();
    }
}

TEST_F(HttpsTest, TunnelsThroughHttpProxyAndSocks) {
    TinyproxyPeer proxy;
    ASSERT_TRUE(proxy.Ok()) << proxy.Error();
    net::DownloadConnection c;
    c.ProxyType = net::ProxyKind::Http;
    c.ProxyHost = "127.0.0.1";
    c.ProxyPort = proxy.Port();
    Events e = Fetch(c, Url(0, "/file.txt"));
    EXPECT_EQ(e.code, 0) << e.Dump();
    EXPECT_EQ(e.body, body_);
    // The request inside the tunnel names the path, as to the server itself.
    EXPECT_TRUE(Logged(e, "GET /file.txt HTTP/1.1")) << e.Dump();

    DantePeer socks;
    ASSERT_TRUE(socks.Ok()) << socks.Error();
    net::DownloadConnection s;
    s.ProxyType = net::ProxyKind::Socks4;
    s.ProxyHost = "127.0.0.1";
    s.ProxyPort = socks.Port();
    Events f = Fetch(s, "https://127.0.0.1:" + std::to_string(ports_[0]) + "/page.html");
    EXPECT_EQ(f.code, 0) << f.Dump();
    EXPECT_EQ(f.body, "<p>secure page</p>");
}

TEST_F(HttpsTest, GetFollowsARedirectToHttpsAndMirrorsTheSite) {
    const std::string home = *dir_ + "/home", store = *dir_ + "/store";
    fs::create_directories(home);
    fs::create_directories(store);
    RunResult r = RunCli({"--home", home, "options", "PathPrefix=" + store + "/"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = RunCli({"--home", home, "get", nginx_->Url("/to-secure"), "--level", "2", "--all-servers"}, 120000);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // One folder per host and port, whatever the scheme: the https site lands in localhost+PORT.
    const std::string site = store + "/localhost+" + std::to_string(ports_[0]);
    EXPECT_EQ(ReadFile(site + "/page.html"), "<p>secure page</p>");
    EXPECT_EQ(ReadFile(site + "/bg.png"), "PNG");
    EXPECT_EQ(ReadFile(site + "/s.css"), "body{background:url(bg.png)}");
    EXPECT_NE(ReadFile(site + "/index.html").find("href=\"page.html\""), std::string::npos);

    // An address of a scheme the program cannot fetch is refused before anything is made.
    r = RunCli({"--home", home, "get", "gopher://localhost/"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("cannot fetch gopher: addresses"), std::string::npos) << r.err;
    r = RunCli({"--home", home, "list"});
    EXPECT_EQ(r.out.find("gopher"), std::string::npos) << r.out;
}
