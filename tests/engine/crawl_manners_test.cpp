// quillmoor-cli against a site behind a log-in form (tests/engine/login_site.py): the whole
// site is mirrored with the session cookie, log-out links are never followed, the jar is kept
// and handled by quillmoor-cli cookies, and the pace per server holds by the server's own
// clock. robots.txt and robots tags served by nginx.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>

#include "support/cli_home.h"
#include "support/peers.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

struct Request {
    std::string line;  // "GET /a.html"
    std::string cookie;
    double when = 0;  // the server's monotonic clock
};

class LoginSite : public PeerBase {
public:
    LoginSite() {
        dir_ = MakeTempDir("loginsite");
        port_ = FreePort();
        const char* src = std::getenv("QM_SOURCE_DIR");
        const std::string script = std::string(src && *src ? src : ".") + "/tests/engine/login_site.py";
        const std::string python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : FindProgram("python3");
        Launch({python, "-u", script, "--port", std::to_string(port_)}, "login");
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    std::vector<Request> Requests() const {
        std::vector<Request> out;
        std::istringstream log(ReadFile(dir_ + "/login.out"));
        for (std::string line; std::getline(log, line);) {
            const std::size_t t1 = line.find('\t'), t2 = line.rfind('\t');
            if (t1 == std::string::npos || t2 == t1) continue;
            out.push_back({line.substr(0, t1), line.substr(t1 + 1, t2 - t1 - 1), std::stod(line.substr(t2 + 1))});
        }
        return out;
    }
    int Count(const std::string& line) const {
        int n = 0;
        for (const Request& r : Requests()) n += r.line == line;
        return n;
    }
};

class CrawlMannersTest : public CliHomeTest {
protected:
    CrawlMannersTest() : CliHomeTest(180000) {}
    void SetUp() override { MakeHome("manners"); }
    bool Stored(const std::string& name) const {
        for (auto& e : fs::recursive_directory_iterator(store_))
            if (e.path().filename() == name) return true;
        return false;
    }
};

TEST_F(CrawlMannersTest, LogInSiteMirroredWholeWithoutLoggingOut) {
    LoginSite site;
    ASSERT_TRUE(site.Ok()) << site.Error();
    ASSERT_EQ(Cli({"add", "Sites", site.Url("/"), "--level", "4"}).exitCode, 0);
    RunResult r =
        Cli({"project", "Sites/0", "LoginURL=" + site.Url("/login"), "LoginFields=user=alice\\npassword=secret"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = Cli({"project", "Sites/0"});
    EXPECT_NE(r.out.find("\nRobots=True\nPerSecond=0\nSitemaps=False\nLoginURL=" + site.Url("/login") +
                         "\nLoginFields=user=alice\\npassword=secret\n"),
              std::string::npos)
        << r.out;

    r = Cli({"start", "--log", "Sites/0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* name : {"a.html", "b.html", "d.html", "pic.png"}) EXPECT_TRUE(Stored(name)) << name;
    std::vector<Request> seen = site.Requests();
    ASSERT_GE(seen.size(), 3u);
    // The form goes first (robots.txt aside), the session cookie with everything after it,
    // the expired cookie with nothing.
    std::size_t first = seen[0].line == "GET /robots.txt" ? 1 : 0;
    EXPECT_EQ(seen[first].line, "POST /login");
    for (std::size_t i = first + 1; i < seen.size(); ++i) {
        if (seen[i].line == "GET /robots.txt") continue;
        EXPECT_EQ(seen[i].cookie.rfind("session=", 0), 0u) << seen[i].line;
        EXPECT_EQ(seen[i].cookie.find("stale"), std::string::npos) << seen[i].line;
    }
    EXPECT_EQ(site.Count("GET /logout"), 0);
    EXPECT_EQ(site.Count("GET /account/sign-out"), 0);
    EXPECT_EQ(site.Count("GET /hidden/c.html"), 0);  // robots.txt refuses it
    EXPECT_EQ(site.Count("GET /robots.txt"), 1);
    EXPECT_EQ(site.Count("GET /a.html"), 1);
    EXPECT_NE(r.err.find("Refused by robots.txt (Disallow: /hidden/): " + site.Url("/hidden/c.html")),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Log-in form posted (303): " + site.Url("/login")), std::string::npos) << r.err;

    r = Cli({"explain", "Sites/0", site.Url("/account/logout")});
    EXPECT_NE(r.out.find("admitted=no\nreason=log-out address"), std::string::npos) << r.out;

    // The jar is kept beside the site map and listed in cookies.txt form.
    r = Cli({"cookies", "Sites/0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("stale"), std::string::npos) << r.out;
    const std::string listing = r.out;

    // Each run logs in again first.
    r = Cli({"start", "Sites/0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(site.Count("POST /login"), 2);
    EXPECT_EQ(site.Count("GET /logout"), 0);

    // Cleared, then the saved listing imported again.
    r = Cli({"cookies", "Sites/0", "--clear"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Cli({"cookies", "Sites/0"}).out, "# Netscape HTTP Cookie File\n");
    ASSERT_TRUE(WriteFile(dir_ + "/saved.txt", listing));
    r = Cli({"cookies", "Sites/0", "--import", dir_ + "/saved.txt"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("1 cookies imported"), std::string::npos) << r.err;
    EXPECT_NE(Cli({"cookies", "Sites/0"}).out.find("\tsession\t"), std::string::npos);
    EXPECT_EQ(Cli({"cookies", "Sites/0", "--import", dir_ + "/missing.txt"}).exitCode, 1);
    EXPECT_EQ(Cli({"cookies"}).exitCode, 2);
}

TEST_F(CrawlMannersTest, PaceHoldsByTheServersClock) {
    LoginSite site;
    ASSERT_TRUE(site.Ok()) << site.Error();
    ASSERT_EQ(Cli({"options", "HTTPCount=4"}).exitCode, 0);
    ASSERT_EQ(Cli({"add", "Slow", site.Url("/"), "--level", "4"}).exitCode, 0);
    RunResult r = Cli({"project", "Slow/0", "PerSecond=2", "LoginURL=" + site.Url("/login"),
                       "LoginFields=user=alice\\npassword=secret"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = Cli({"start", "Slow/0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<double> times;
    for (const Request& q : site.Requests())
        if (q.line.rfind("GET /", 0) == 0 && q.line != "GET /robots.txt") times.push_back(q.when);
    ASSERT_GE(times.size(), 5u);
    // Two a second at most: at least half a second between two requests, less the
    // difference in connection set-up.
    for (std::size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], 0.45) << i;
}

TEST_F(CrawlMannersTest, RobotsTxtAndRobotsTagsFromNginx) {
    const std::string site = dir_ + "/site";
    ASSERT_TRUE(WriteFile(site + "/robots.txt",
                          "User-agent: *\nDisallow: /private/\nAllow: /private/open.html\n\n"
                          "User-agent: quillmoor\nDisallow: /private/\nDisallow: /*.zip$\n"
                          "Allow: /private/open.html\n"));
    ASSERT_TRUE(WriteFile(site + "/index.html",
                          "<html><a href=\"private/x.html\">x</a> <a href=\"private/open.html\">o</a>"
                          " <a href=\"nofollow.html\">n</a> <a href=\"big.zip\">z</a></html>"));
    ASSERT_TRUE(WriteFile(site + "/private/x.html", "<html>private</html>"));
    ASSERT_TRUE(WriteFile(site + "/private/open.html", "<html>open</html>"));
    ASSERT_TRUE(WriteFile(site + "/big.zip", "zip"));
    ASSERT_TRUE(WriteFile(site + "/nofollow.html",
                          "<html><head><meta name=\"robots\" content=\"noindex,nofollow\"></head>"
                          "<body><a href=\"never.html\">never</a><img src=\"shown.gif\"></body></html>"));
    ASSERT_TRUE(WriteFile(site + "/never.html", "<html>never</html>"));
    ASSERT_TRUE(WriteFile(site + "/shown.gif", "GIF89a"));
    NginxPeer nginx(site);
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    ASSERT_EQ(Cli({"add", "Polite", nginx.Url("/index.html"), "--level", "3"}).exitCode, 0);
    RunResult r = Cli({"start", "--log", "Polite/0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Stored("open.html"));
    EXPECT_TRUE(Stored("nofollow.html"));
    EXPECT_TRUE(Stored("shown.gif"));  // what the page shows is no link to follow
    EXPECT_FALSE(Stored("x.html"));
    EXPECT_FALSE(Stored("big.zip"));
    EXPECT_FALSE(Stored("never.html"));
    const std::string log = ReadFile(nginx.Dir() + "/access.log");
    EXPECT_EQ(log.find("/private/x.html"), std::string::npos) << log;
    EXPECT_EQ(log.find("/never.html"), std::string::npos) << log;
    EXPECT_NE(r.err.find("Refused by robots.txt (Disallow: /*.zip$): " + nginx.Url("/big.zip")), std::string::npos)
        << r.err;

    r = Cli({"explain", "Polite/0", nginx.Url("/private/y.html")});
    EXPECT_NE(r.out.find("admitted=no\nreason=robots.txt (Disallow: /private/)\n"), std::string::npos) << r.out;
    r = Cli({"explain", "Polite/0", nginx.Url("/private/open.html")});
    EXPECT_NE(r.out.find("admitted=yes\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("pace="), std::string::npos) << "no pace asked for: " << r.out;

    // A link on a page whose robots tag says nofollow; what the page shows is still taken.
    r = Cli({"explain", "Polite/0", nginx.Url("/never.html"), "--from", nginx.Url("/nofollow.html")});
    EXPECT_NE(r.out.find("admitted=no\nreason=robots tag \"nofollow\" on " + nginx.Url("/nofollow.html") + "\n"),
              std::string::npos)
        << r.out << r.err;
    r = Cli({"explain", "Polite/0", nginx.Url("/shown.gif"), "--embedded", "--from", nginx.Url("/nofollow.html")});
    EXPECT_NE(r.out.find("admitted=yes\n"), std::string::npos) << r.out;
    r = Cli({"explain", "Polite/0", nginx.Url("/never.html"), "--from", nginx.Url("/index.html")});
    EXPECT_NE(r.out.find("admitted=yes\n"), std::string::npos) << r.out;

    // The pace: the Project's own, or a longer robots.txt Crawl-delay.
    ASSERT_EQ(Cli({"project", "Polite/0", "PerSecond=4"}).exitCode, 0);
    r = Cli({"explain", "Polite/0", nginx.Url("/never.html")});
    EXPECT_NE(r.out.find("pace=250 ms between requests to its server (at most 4 a second)\n"), std::string::npos)
        << r.out;
    const std::string slowSite = dir_ + "/slow";
    ASSERT_TRUE(WriteFile(slowSite + "/robots.txt", "User-agent: *\nCrawl-delay: 3\n"));
    NginxPeer slow(slowSite);
    ASSERT_TRUE(slow.Ok()) << slow.Error();
    ASSERT_EQ(Cli({"add", "Slow", slow.Url("/index.html"), "--level", "3"}).exitCode, 0);
    r = Cli({"explain", "Slow/0", slow.Url("/a.html")});
    EXPECT_NE(r.out.find("pace=3000 ms between requests to its server (robots.txt Crawl-delay: 3)\n"),
              std::string::npos)
        << r.out;
    // Without robots.txt obeyed, nothing asks the page or robots.txt: the link is taken.
    ASSERT_EQ(Cli({"project", "Polite/0", "Robots=False", "PerSecond=0"}).exitCode, 0);
    r = Cli({"explain", "Polite/0", nginx.Url("/never.html"), "--from", nginx.Url("/nofollow.html")});
    EXPECT_NE(r.out.find("admitted=yes\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("pace="), std::string::npos) << r.out;

    // A Project stored before robots.txt was obeyed keeps fetching as it did.
    ASSERT_EQ(Cli({"add", "Old", nginx.Url("/index.html"), "--level", "3"}).exitCode, 0);
    ASSERT_EQ(Cli({"project", "Old/0", "Robots=False"}).exitCode, 0);
    r = Cli({"start", "Old/0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string after = ReadFile(nginx.Dir() + "/access.log");
    EXPECT_NE(after.find("/private/x.html"), std::string::npos);
    EXPECT_NE(after.find("/never.html"), std::string::npos);
}

TEST_F(CrawlMannersTest, SitemapsFromNginxAreLinkSources) {
    const std::string site = dir_ + "/maps";
    ASSERT_TRUE(WriteFile(site + "/index.html", "<html>no links here</html>"));
    for (const char* page : {"orphan1.html", "orphan2.html", "orphan3.html", "deep/orphan4.html"})
        ASSERT_TRUE(WriteFile(site + "/" + page, "<html>found through a sitemap</html>"));
    NginxPeer nginx(site);
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    // robots.txt names an index; the index a gzip-compressed sitemap and a plain one.
    ASSERT_TRUE(
        WriteFile(site + "/robots.txt", "User-agent: *\nAllow: /\nSitemap: " + nginx.Url("/s/index.xml") + "\n"));
    ASSERT_TRUE(WriteFile(site + "/s/index.xml",
                          "<?xml version=\"1.0\"?><sitemapindex xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">"
                          "<sitemap><loc>" +
                              nginx.Url("/s/pages.xml.gz") +
                              "</loc></sitemap>"
                              "<sitemap><loc> " +
                              nginx.Url("/s/index.xml") + " </loc></sitemap></sitemapindex>"));
    ASSERT_TRUE(WriteFile(site + "/s/pages.xml", "<urlset><url><loc>" + nginx.Url("/orphan1.html") +
                                                     "</loc></url>"
                                                     "<url><loc><![CDATA[" +
                                                     nginx.Url("/orphan2.html") + "]]></loc></url></urlset>"));
    ASSERT_EQ(RunProgram({"gzip", "-9", site + "/s/pages.xml"}).exitCode, 0);
    ASSERT_TRUE(WriteFile(site + "/sitemap.xml", "<urlset><url><loc>" + nginx.Url("/orphan3.html") +
                                                     "</loc></url><url><loc>" +
                                                     nginx.Url("/deep/orphan4.html?a=1&amp;b=2") +
                                                     "</loc></url><url><loc>ftp://elsewhere/</loc></url></urlset>"));
    ASSERT_EQ(Cli({"add", "Maps", nginx.Url("/index.html"), "--level", "1"}).exitCode, 0);
    ASSERT_EQ(Cli({"project", "Maps/0", "Sitemaps=True", "Robots=False"}).exitCode, 0);
    RunResult r = Cli({"start", "--log", "Maps/0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* name : {"index.html", "orphan1.html", "orphan2.html", "orphan3.html"})
        EXPECT_TRUE(Stored(name)) << name << "\n" << r.err;
    const std::string log = ReadFile(nginx.Dir() + "/access.log");
    EXPECT_NE(log.find("GET /deep/orphan4.html?a=1&b=2 "), std::string::npos) << log;
    // The index naming itself is read once.
    std::size_t indexReads = 0;
    for (std::size_t at = 0; (at = log.find("GET /s/index.xml ", at)) != std::string::npos; ++at) ++indexReads;
    EXPECT_EQ(indexReads, 1u);
    EXPECT_NE(r.err.find("Sitemap read, 2 addresses taken: " + nginx.Url("/s/pages.xml.gz")), std::string::npos)
        << r.err;
}

}  // namespace
}  // namespace qm::test
