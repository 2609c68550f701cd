// What a remote site may make quillmoor-cli do, tried with small hostile sites on loopback:
// it never reads this machine's files, and the Project's password goes only to the start
// server, only in answer to its challenge. Every run still stores the ordinary pages.
#include <gtest/gtest.h>

#include <algorithm>

#include <stdlib.h>

#include <filesystem>

#include "support/cli_home.h"
#include "support/peers.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

struct Logged {
    std::string path, authorization, referer;
};

std::vector<Logged> RequestsOf(const SitePeer& peer) {
    std::vector<Logged> out;
    for (const std::string& line : peer.Requests()) {
        Logged l;
        const std::size_t a = line.find('\t'), b = line.find('\t', a == std::string::npos ? a : a + 1);
        l.path = line.substr(0, a);
        if (a != std::string::npos) l.authorization = line.substr(a + 1, b == std::string::npos ? b : b - a - 1);
        if (b != std::string::npos) l.referer = line.substr(b + 1);
        out.push_back(l);
    }
    return out;
}

// The authorizations sent for path, in order ("" for a request without one).
std::vector<std::string> AuthorizationsFor(const SitePeer& peer, const std::string& path) {
    std::vector<std::string> out;
    for (const Logged& l : RequestsOf(peer))
        if (l.path == path) out.push_back(l.authorization);
    return out;
}

bool NoAuthorizationAtAll(const SitePeer& peer) {
    for (const Logged& l : RequestsOf(peer))
        if (!l.authorization.empty()) return false;
    return true;
}

class RemoteSiteTest : public CliHomeTest {
protected:
    void SetUp() override { MakeHome("remote-site", {"HTTPCount=1"}); }
    // A Project in folder "Sites" with the given settings (stream keys), started and run.
    RunResult RunProject(const std::string& caption, const std::string& url, int level,
                         std::vector<std::string> settings) {
        RunResult r = Cli({"add", "Sites", url, "--level", std::to_string(level), "--caption", caption});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        settings.insert(settings.begin(), {"project", "Sites/" + caption});
        r = Cli(settings);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return Cli({"start", "Sites/" + caption});
    }
    // Stored files whose name is name.
    int Stored(const std::string& name) const {
        int n = 0;
        std::error_code ec;
        for (auto& e : fs::recursive_directory_iterator(store_, ec))
            if (e.path().filename() == name) ++n;
        return n;
    }
    bool AnyStoredFileHolds(const std::string& text) const {
        std::error_code ec;
        for (auto& e : fs::recursive_directory_iterator(store_, ec))
            if (e.is_regular_file() && ReadFile(e.path().string()).find(text) != std::string::npos) return true;
        return false;
    }
};

TEST_F(RemoteSiteTest, HostileSiteCannotMakeTheProgramReadLocalFiles) {
    const std::string secretDir = Site("private");
    ASSERT_TRUE(WriteFile(secretDir + "/secret.txt", "TOP SECRET"));
    const std::string secret = "file://" + secretDir + "/secret.txt";
    const std::string root = Site("hostile");
    ASSERT_TRUE(
        WriteFile(root + "/index.html", "<html><head><base href=\"file://" + secretDir +
                                            "/\"></head><body>"
                                            "<img src=\"secret.txt\"><a href=\"page2.html\">next</a></body></html>"));
    ASSERT_TRUE(WriteFile(root + "/page2.html", "<a href=\"" + secret +
                                                    "\">a</a><a href=\"/go\">b</a><img src=\"ok.gif\">"
                                                    "<script>var s = \"" +
                                                    secret +
                                                    "\";</script>"
                                                    "<link rel=stylesheet href=\"s.css\"><frame src=\"FILE://" +
                                                    secretDir + "/secret.txt\">"));
    ASSERT_TRUE(WriteFile(root + "/s.css", "body{background:url(" + secret + ")}"));
    ASSERT_TRUE(WriteFile(root + "/ok.gif", "GIF89a"));
    SitePeerSettings settings;
    settings.redirects = "/go " + secret + "\n";
    SitePeer site(root, settings);
    ASSERT_TRUE(site.Ok()) << site.Error();

    RunResult r = Cli({"get", site.Url("/index.html"), "--level", "3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // The redirect was tried; nothing of the secret folder was stored.
    bool redirectTried = false;
    for (const Logged& l : RequestsOf(site)) {
        redirectTried = redirectTried || l.path == "/go";
        // A refused file: address is not asked of the server as a path either.
        EXPECT_EQ(l.path.find("file:"), std::string::npos) << l.path;
    }
    EXPECT_TRUE(redirectTried);
    EXPECT_EQ(Stored("secret.txt"), 0);
    EXPECT_FALSE(AnyStoredFileHolds("TOP SECRET"));
    EXPECT_EQ(Stored("Local Files"), 0);
    // The ordinary pages are there.
    EXPECT_EQ(Stored("index.html"), 1);
    EXPECT_EQ(Stored("page2.html"), 1);
    EXPECT_EQ(Stored("ok.gif"), 1);
    EXPECT_EQ(Stored("s.css"), 1);
}

TEST_F(RemoteSiteTest, ProjectPasswordGoesOnlyToTheStartServerAfterItsChallenge) {
    const std::string basicAlice = "Basic YWxpY2U6c2VjcmV0";  // alice:secret
    SitePeerSettings otherSettings;
    otherSettings.protect = "/";
    otherSettings.user = "alice:secret";
    ASSERT_TRUE(WriteFile(Site("other") + "/page.html", "<p>other server</p>"));
    ASSERT_TRUE(WriteFile(Site("other") + "/landing.html", "<p>landing</p>"));
    SitePeer other(Site("other"), otherSettings);
    ASSERT_TRUE(other.Ok()) << other.Error();

    SitePeerSettings startSettings;
    startSettings.protect = "/private/";
    startSettings.user = "alice:secret";
    startSettings.redirects = "/to-other " + other.Url("/landing.html") + "\n";
    ASSERT_TRUE(WriteFile(Site("start") + "/index.html", "<a href=\"private/page.html\">p</a><a href=\"" +
                                                             other.Url("/page.html") +
                                                             "\">o</a><a href=\"/to-other\">r</a>"));
    ASSERT_TRUE(WriteFile(Site("start") + "/private/page.html", "<p>members only</p>"));
    SitePeer start(Site("start"), startSettings);
    ASSERT_TRUE(start.Ok()) << start.Error();

    RunResult r =
        RunProject("Pw", start.Url("/index.html"), 2, {"User=alice", "Psw=secret", "pswMethod=0", "RSrvsBx=0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(AuthorizationsFor(start, "/index.html"), std::vector<std::string>{""});
    EXPECT_EQ(AuthorizationsFor(start, "/private/page.html"), (std::vector<std::string>{"", basicAlice}));
    EXPECT_EQ(Stored("page.html"), 1);  // the protected one; the other server's stays locked
    // The other server was asked, challenged, and never answered, by link or by redirect.
    EXPECT_EQ(AuthorizationsFor(other, "/page.html"), std::vector<std::string>{""});
    EXPECT_EQ(AuthorizationsFor(other, "/landing.html"), std::vector<std::string>{""});

    // Credentials written into the start address behave the same: they stay with it.
    std::string withUser = start.Url("/index.html");
    withUser.insert(withUser.find("//") + 2, "alice:secret@");
    r = Cli({"get", withUser, "--level", "2", "--all-servers", "--folder", "Typed"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(AuthorizationsFor(start, "/private/page.html"),
              (std::vector<std::string>{"", basicAlice, "", basicAlice}));
    EXPECT_TRUE(NoAuthorizationAtAll(other));
    EXPECT_EQ(AuthorizationsFor(other, "/landing.html"), (std::vector<std::string>{"", ""}));
}

TEST_F(RemoteSiteTest, DigestIsAnsweredAndAWrongPasswordOnlyOnce) {
    for (const char* algorithm : {"MD5", "SHA-256", "SHA-256-sess"}) {
        SCOPED_TRACE(algorithm);
        const std::string root = Site(std::string("digest-") + algorithm);
        ASSERT_TRUE(WriteFile(root + "/index.html", "<a href=\"private/page.html\">p</a>"));
        ASSERT_TRUE(WriteFile(root + "/private/page.html", std::string("<p>digest ") + algorithm + "</p>"));
        SitePeerSettings settings;
        settings.protect = "/private/";
        settings.user = "alice:s\"cret";
        settings.auth = algorithm;
        SitePeer site(root, settings);
        ASSERT_TRUE(site.Ok()) << site.Error();
        RunResult r = RunProject(std::string("D") + algorithm, site.Url("/index.html"), 1,
                                 {"User=alice", "Psw=s\"cret", "pswMethod=0"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const auto sent = AuthorizationsFor(site, "/private/page.html");
        ASSERT_EQ(sent.size(), 2u);
        EXPECT_EQ(sent[0], "");
        EXPECT_EQ(sent[1].rfind("Digest username=\"alice\"", 0), 0u) << sent[1];
        EXPECT_TRUE(AnyStoredFileHolds(std::string("<p>digest ") + algorithm + "</p>"));
    }

    // A wrong password is sent once; the second 401 ends the record.
    const std::string root = Site("wrong");
    ASSERT_TRUE(WriteFile(root + "/index.html", "<a href=\"private/page.html\">p</a>"));
    ASSERT_TRUE(WriteFile(root + "/private/page.html", "<p>locked</p>"));
    SitePeerSettings settings;
    settings.protect = "/private/";
    settings.user = "alice:secret";
    SitePeer site(root, settings);
    ASSERT_TRUE(site.Ok()) << site.Error();
    RunResult r = RunProject("Wrong", site.Url("/index.html"), 1, {"User=alice", "Psw=guess", "pswMethod=0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(AuthorizationsFor(site, "/private/page.html").size(), 2u);
    EXPECT_FALSE(AnyStoredFileHolds("locked"));
    EXPECT_NE(r.out.find("S400=1"), std::string::npos) << r.out;
}

TEST_F(RemoteSiteTest, PasswordMethodsSkipOrStop) {
    const std::string root = Site("methods");
    ASSERT_TRUE(WriteFile(root + "/index.html",
                          "<a href=\"private/a.html\">a</a><a href=\"private/b.html\">b</a>"
                          "<a href=\"plain.html\">plain</a>"));
    ASSERT_TRUE(WriteFile(root + "/private/a.html", "<p>a</p>"));
    ASSERT_TRUE(WriteFile(root + "/private/b.html", "<p>b</p>"));
    ASSERT_TRUE(WriteFile(root + "/plain.html", "<p>plain</p>"));
    SitePeerSettings settings;
    settings.protect = "/private/";
    settings.user = "alice:secret";
    SitePeer site(root, settings);
    ASSERT_TRUE(site.Ok()) << site.Error();
    auto requestsOf = [&](const std::string& path) { return AuthorizationsFor(site, path).size(); };

    // 2 skips the protected pages with a log line each; 1 does the same without a window.
    RunResult r = RunProject("Skip", site.Url("/index.html"), 1, {"User=alice", "Psw=secret", "pswMethod=2"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Password protected, skipped: " + site.Url("/private/a.html")), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Password protected, skipped: " + site.Url("/private/b.html")), std::string::npos);
    EXPECT_EQ(Stored("plain.html"), 1);
    EXPECT_EQ(Stored("a.html") + Stored("b.html"), 0);
    EXPECT_EQ(requestsOf("/private/a.html"), 1u);

    r = RunProject("Ask", site.Url("/index.html"), 1, {"User=alice", "Psw=secret", "pswMethod=1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("asking for a password needs the window"), std::string::npos) << r.err;
    EXPECT_EQ(Stored("a.html") + Stored("b.html"), 0);
    EXPECT_EQ(requestsOf("/private/a.html"), 2u);
    EXPECT_TRUE(NoAuthorizationAtAll(site));

    // 3 stops the Project at the first protected page: the page after it is never asked for.
    r = RunProject("Stop", site.Url("/index.html"), 1, {"User=alice", "Psw=secret", "pswMethod=3"});
    ASSERT_NE(r.exitCode, -1);
    EXPECT_NE(r.err.find("Password protected: " + site.Url("/private/a.html") + "; the Project stops."),
              std::string::npos)
        << r.err;
    EXPECT_EQ(requestsOf("/private/a.html"), 3u);
    EXPECT_EQ(requestsOf("/plain.html"), 2u);
    EXPECT_TRUE(NoAuthorizationAtAll(site));
}

TEST_F(RemoteSiteTest, HttpsProjectSendsNothingOverPlainHttp) {
    ASSERT_NO_FATAL_FAILURE(TrustLocalhostCertificate());
    const std::string certDir = Site("tls");

    SitePeerSettings plainSettings;
    plainSettings.protect = "/";
    plainSettings.user = "alice:secret";
    ASSERT_TRUE(WriteFile(Site("plain") + "/page.html", "<p>plain</p>"));
    ASSERT_TRUE(WriteFile(Site("plain") + "/landing.html", "<p>landing</p>"));
    SitePeer plain(Site("plain"), plainSettings);
    ASSERT_TRUE(plain.Ok()) << plain.Error();
    const std::string plainHere = "http://localhost:" + std::to_string(plain.Port());

    SitePeerSettings secureSettings;
    secureSettings.protect = "/private/";
    secureSettings.user = "alice:secret";
    secureSettings.cert = certDir + "/cert.pem";
    secureSettings.key = certDir + "/key.pem";
    secureSettings.redirects = "/down " + plainHere + "/landing.html\n";
    ASSERT_TRUE(WriteFile(Site("secure") + "/index.html", "<a href=\"private/p.html\">p</a><a href=\"" + plainHere +
                                                              "/page.html\">plain</a><a href=\"/down\">down</a>"));
    ASSERT_TRUE(WriteFile(Site("secure") + "/private/p.html", "<p>secure members</p>"));
    SitePeer secure(Site("secure"), secureSettings);
    ASSERT_TRUE(secure.Ok()) << secure.Error();
    const std::string start = "https://localhost:" + std::to_string(secure.Port()) + "/index.html";

    RunResult r = RunProject("Tls", start, 2, {"User=alice", "Psw=secret", "pswMethod=0", "RSrvsBx=0"});
    unsetenv("SSL_CERT_FILE");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(AuthorizationsFor(secure, "/private/p.html"), (std::vector<std::string>{"", "Basic YWxpY2U6c2VjcmV0"}));
    EXPECT_TRUE(AnyStoredFileHolds("secure members"));
    // Over plain http: asked, challenged, no password and no https Referer.
    // (Its robots.txt is asked for too, the same way.)
    const auto plainRequests = RequestsOf(plain);
    const auto robots = std::count_if(plainRequests.begin(), plainRequests.end(),
                                      [](const Logged& l) { return l.path == "/robots.txt"; });
    EXPECT_EQ(robots, 1);
    EXPECT_EQ(plainRequests.size() - static_cast<std::size_t>(robots), 2u);
    for (const Logged& l : plainRequests) {
        EXPECT_EQ(l.authorization, "") << l.path;
        EXPECT_EQ(l.referer.find("https:"), std::string::npos) << l.path << " " << l.referer;
    }
}

}  // namespace
}  // namespace qm::test
