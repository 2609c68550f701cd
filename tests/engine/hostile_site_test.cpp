// quillmoor-cli get against a site made of crawl traps (tests/engine/hostile_site.py):
// redirect loops, redirects that grow for ever, frame chains, <link rel=next> chains,
// paths that repeat themselves, a thousand and one query strings, and a start address
// that moves to another server name or to https. Each run must end by itself; each case
// checks what was stored, what the server was asked and what the log said.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "support/peers.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

class HostileSite : public PeerBase {
public:
    HostileSite(int tlsPort, const std::string& certDir) {
        dir_ = MakeTempDir("hostile");
        port_ = FreePort();
        const char* src = std::getenv("QM_SOURCE_DIR");
        const std::string script = std::string(src && *src ? src : ".") + "/tests/engine/hostile_site.py";
        const std::string python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : FindProgram("python3");
        std::vector<std::string> argv = {python, "-u", script, "--port", std::to_string(port_)};
        if (tlsPort > 0)
            argv.insert(argv.end(), {"--tls-port", std::to_string(tlsPort), "--cert", certDir + "/srv.pem", "--key",
                                     certDir + "/srv.key"});
        Launch(argv, "hostile");
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    // How many requests so far had a path starting with prefix.
    int Requests(const std::string& prefix) const {
        const std::string log = ReadFile(dir_ + "/hostile.out");
        int n = 0;
        std::size_t at = 0;
        for (std::size_t nl; (nl = log.find('\n', at)) != std::string::npos; at = nl + 1) {
            const std::string line = log.substr(at, nl - at);
            const std::size_t space = line.find(' ');
            if (space != std::string::npos && line.compare(space + 1, prefix.size(), prefix) == 0) ++n;
        }
        return n;
    }
};

class HostileSiteTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        certs_ = new std::string(MakeTempDir("hostile-certs"));
        tlsPort_ = FreePort();
        const std::string d = *certs_ + "/";
        WriteFile(d + "san.ext", "subjectAltName=DNS:localhost,IP:127.0.0.1\n");
        RunResult r = RunProgram({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", d + "srv.key",
                                  "-out", d + "srv.pem", "-days", "2", "-subj", "/CN=localhost", "-addext",
                                  "subjectAltName=DNS:localhost"});
        certsMade_ = r.exitCode == 0;
        site_ = new HostileSite(certsMade_ ? tlsPort_ : 0, *certs_);
    }
    static void TearDownTestSuite() {
        delete site_;
        site_ = nullptr;
        delete certs_;
        certs_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(site_->Ok()) << site_->Error();
        dir_ = MakeTempDir("hostile-run");
        home_ = dir_ + "/home";
        store_ = dir_ + "/store";
        fs::create_directories(home_);
        fs::create_directories(store_);
        // Untrusted certificates are accepted: the TLS server's own is self-signed.
        RunResult r = RunCli({"--home", home_, "options", "PathPrefix=" + store_ + "/", "SSLAnyCert=1"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    // quillmoor-cli get; a run that does not end within the time-out is killed (exit -1).
    RunResult Get(const std::string& url, int level) {
        return RunCli({"--home", home_, "get", url, "--level", std::to_string(level), "--folder", "Sites"}, 300000);
    }
    // The stored files below the site folder of host+port, as relative paths.
    std::vector<std::string> Stored(const std::string& siteFolder) const {
        std::vector<std::string> out;
        std::error_code ec;
        const fs::path root = fs::path(store_) / siteFolder;
        for (auto& e : fs::recursive_directory_iterator(root, ec)) {
            const std::string name = e.path().filename().string();
            if (!e.is_regular_file() || name == "Descr.QV3" || e.path().extension() == ".primary") continue;
            out.push_back(fs::relative(e.path(), root).generic_string());
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    std::string SiteFolder() const { return "127.0.0.1+" + std::to_string(site_->Port()); }
    static bool Has(const std::vector<std::string>& files, const std::string& name) {
        return std::find(files.begin(), files.end(), name) != files.end();
    }
    static int Count(const std::string& text, const std::string& part) {
        int n = 0;
        for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
        return n;
    }

    static std::string* certs_;
    static int tlsPort_;
    static bool certsMade_;
    static HostileSite* site_;
    std::string dir_, home_, store_;
};

std::string* HostileSiteTest::certs_ = nullptr;
int HostileSiteTest::tlsPort_ = 0;
bool HostileSiteTest::certsMade_ = false;
HostileSite* HostileSiteTest::site_ = nullptr;

TEST_F(HostileSiteTest, RedirectLoopsAndGrowingRedirectsFailAfterTwentyHops) {
    RunResult r = Get(site_->Url("/loop/a"), 1);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("S200=0 S304=0 S400=0 SErr=1 SAbr=0"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("More than 20 redirects from " + site_->Url("/loop/a")), std::string::npos) << r.err;
    // The first request and twenty redirects followed.
    EXPECT_EQ(site_->Requests("/loop/"), 21);

    r = Get(site_->Url("/grow/x"), 1);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("SErr=1"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("More than 20 redirects from " + site_->Url("/grow/x")), std::string::npos) << r.err;
    EXPECT_EQ(site_->Requests("/grow/"), 21);
    EXPECT_EQ(site_->Requests("/grow/" + std::string(22, 'x')), 0);
    EXPECT_TRUE(Stored(SiteFolder()).empty());
}

TEST_F(HostileSiteTest, FrameChainsEndThreeStepsOn) {
    RunResult r = Get(site_->Url("/t/0"), 1);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> files = Stored(SiteFolder());
    EXPECT_EQ(files, (std::vector<std::string>{"t/0", "t/1", "t/2", "t/3"})) << r.err;
    EXPECT_EQ(site_->Requests("/t/4"), 0);

    // <frame> likewise, and explain tells why the next one is refused.
    r = Get(site_->Url("/f/0"), 0);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    files = Stored(SiteFolder());
    EXPECT_TRUE(Has(files, "f/3") && !Has(files, "f/4")) << r.err;
    r = RunCli({"--home", home_, "explain", "Sites/0", site_->Url("/f/9"), "--beyond", "3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "admitted=no\nreason=steps beyond the last level\n");
    r = RunCli({"--home", home_, "explain", "Sites/0", site_->Url("/f/9"), "--beyond", "2"});
    EXPECT_EQ(r.out.rfind("admitted=yes\n", 0), 0u) << r.out;
    // A file the deepest frame shows is still taken.
    r = RunCli({"--home", home_, "explain", "Sites/0", site_->Url("/f/9.gif"), "--beyond", "3", "--embedded"});
    EXPECT_EQ(r.out.rfind("admitted=yes\n", 0), 0u) << r.out;
}

TEST_F(HostileSiteTest, StyleSheetImportChainsGoFurtherThanFramesAndEnd) {
    // Each sheet imports the next and shows a picture: themes import four or five deep, and
    // the pictures of those sheets are part of the page.
    RunResult r = Get(site_->Url("/css/page.html"), 1);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> files = Stored(SiteFolder());
    for (int n = 0; n < 8; ++n) EXPECT_TRUE(Has(files, "css/" + std::to_string(n) + ".css")) << n << "\n" << r.err;
    for (int n = 0; n < 7; ++n) EXPECT_TRUE(Has(files, "css/" + std::to_string(n) + ".png")) << n << "\n" << r.err;
    // Eight steps on the chain ends: neither the ninth sheet nor the eighth sheet's picture.
    EXPECT_EQ(site_->Requests("/css/8.css"), 0);
    EXPECT_EQ(site_->Requests("/css/7.png"), 0);
    r = RunCli({"--home", home_, "explain", "Sites/0", site_->Url("/css/9.css"), "--beyond", "7", "--embedded"});
    EXPECT_EQ(r.out.rfind("admitted=yes\n", 0), 0u) << r.out;
    r = RunCli({"--home", home_, "explain", "Sites/0", site_->Url("/css/9.css"), "--beyond", "8", "--embedded"});
    EXPECT_EQ(r.out, "admitted=no\nreason=steps beyond the last level\n");
}

TEST_F(HostileSiteTest, LinkRelationsOtherThanWhatThePageShowsTakeALevelStep) {
    RunResult r = Get(site_->Url("/doc/0.html"), 1);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> files = Stored(SiteFolder());
    // The start page, the pages one hyperlink away, its style sheet and icon; never 2.html.
    EXPECT_TRUE(Has(files, "doc/0.html") && Has(files, "doc/1.html") && Has(files, "doc/s.css") &&
                Has(files, "doc/icon.png"))
        << ::testing::PrintToString(files);
    EXPECT_FALSE(Has(files, "doc/2.html")) << ::testing::PrintToString(files);
    EXPECT_EQ(site_->Requests("/doc/2.html"), 0);
}

TEST_F(HostileSiteTest, RepeatingPathsAndEndlessQueryStringsAreRefused) {
    RunResult r = Get(site_->Url("/rep/"), 30);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> files = Stored(SiteFolder());
    EXPECT_TRUE(Has(files, "rep/a/b/a/b/a/b/default.htm")) << ::testing::PrintToString(files);
    EXPECT_EQ(site_->Requests("/rep/a/b/a/b/a/b/a/b/"), 0);
    EXPECT_EQ(
        Count(r.err, "Crawl trap: a path that repeats itself is not followed: " + site_->Url("/rep/a/b/a/b/a/b/a/b/")),
        1)
        << r.err;
    r = RunCli({"--home", home_, "explain", "Sites/0", site_->Url("/x/y/x/y/x/y/x/y/")});
    EXPECT_EQ(r.out, "admitted=no\nreason=repeating path segments\n");

    r = Get(site_->Url("/q/"), 1);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("S200=1001 "), std::string::npos) << r.out;
    EXPECT_EQ(site_->Requests("/q/list?"), 1000);
    EXPECT_EQ(Count(r.err, "Crawl trap: more than 1000 query strings under " + site_->Url("/q/list")), 1) << r.err;
    r = RunCli({"--home", home_, "explain", "Sites/1", site_->Url("/q/list?p=5000"), "--queries", "1000"});
    EXPECT_EQ(r.out, "admitted=no\nreason=too many query strings\n");

    // Switched off for the Project, the rules refuse nothing.
    r = RunCli({"--home", home_, "project", "Sites/1"});
    EXPECT_NE(r.out.find("CrawlTraps=True\n"), std::string::npos) << r.out;
    ASSERT_EQ(RunCli({"--home", home_, "project", "Sites/1", "CrawlTraps=False"}).exitCode, 0);
    r = RunCli({"--home", home_, "explain", "Sites/1", site_->Url("/q/list?p=5000"), "--queries", "1000"});
    EXPECT_EQ(r.out.rfind("admitted=yes\n", 0), 0u) << r.out;
    r = Get(site_->Url("/q/"), 1);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("Crawl trap"), std::string::npos) << r.err;
    EXPECT_EQ(site_->Requests("/q/list?p=1000"), 1);
}

TEST_F(HostileSiteTest, TheStartAddressRedirectsDefineTheSite) {
    // localhost moves to 127.0.0.1: the site is stored from there.
    const std::string start = "http://localhost:" + std::to_string(site_->Port()) + "/start/index.html";
    RunResult r = Get(start, 1);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("S200=3 "), std::string::npos) << r.out;
    std::vector<std::string> files = Stored(SiteFolder());
    EXPECT_TRUE(Has(files, "start/index.html") && Has(files, "start/page.html") && Has(files, "start/pic.gif"))
        << ::testing::PrintToString(files) << r.err;
    EXPECT_NE(
        r.err.find("the server 127.0.0.1:" + std::to_string(site_->Port()) + " is a starting server for this run"),
        std::string::npos)
        << r.err;

    // http moves to https on another port.
    ASSERT_TRUE(certsMade_);
    r = Get(site_->Url("/to-https"), 1);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("S200=3 "), std::string::npos) << r.out << r.err;
    files = Stored("localhost+" + std::to_string(tlsPort_));
    EXPECT_TRUE(Has(files, "start/page.html") && Has(files, "start/pic.gif"))
        << ::testing::PrintToString(files) << r.err;
}

}  // namespace
}  // namespace qm::test
