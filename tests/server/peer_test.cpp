// quillmoor-cli serve against real clients: Debian's headless Chromium renders the generated
// pages and a stored site, and wget's spider crawls a site that quillmoor-cli get fetched
// from nginx, finding no broken link.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

#include "support/peers.h"

namespace qm {
namespace {

// quillmoor-cli serve as a child process, its output in a file.
class ServeProcess {
public:
    bool Start(const std::string& home, const std::string& log) {
        log_ = log;
        pid_ = ::fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) {
                ::dup2(fd, 1);
                ::dup2(fd, 2);
            }
            const std::string cli = test::CliPath();
            ::execl(cli.c_str(), cli.c_str(), "--home", home.c_str(), "serve", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // The first line names the port.
        const std::regex line("Serving stored sites at http://127\\.0\\.0\\.1:([0-9]+)/");
        for (int i = 0; i < 200; ++i) {
            std::smatch m;
            const std::string text = test::ReadFile(log_);
            if (std::regex_search(text, m, line)) {
                port_ = std::stoi(m[1]);
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    // Sends SIGTERM and returns the exit status (-1 when it did not end normally).
    int Stop() {
        if (pid_ <= 0) return -1;
        ::kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 200; ++i) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return -1;
    }
    ~ServeProcess() { Stop(); }
    int Port() const { return port_; }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    std::string Log() const { return test::ReadFile(log_); }

private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string log_;
};

// Sets the options of a fresh program folder through the CLI.
void Configure(const std::string& home, const std::vector<std::string>& settings) {
    std::vector<std::string> args = {"--home", home, "options"};
    args.insert(args.end(), settings.begin(), settings.end());
    const test::RunResult r = test::RunCli(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
}

// Chromium's rendering of a page as HTML, with everything that would reach beyond this
// machine switched off.
std::string RenderedDom(const std::string& url, const std::string& profile) {
    const test::RunResult r = test::RunProgram(
        {"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-proxy-server",
         "--disable-background-networking", "--disable-component-update", "--disable-sync", "--disable-default-apps",
         "--disable-extensions", "--no-first-run", "--no-default-browser-check", "--disable-domain-reliability",
         "--no-pings", "--metrics-recording-only", "--user-data-dir=" + profile, "--virtual-time-budget=3000",
         "--dump-dom", url},
        120000);
    return r.out;
}

class ServeWithBrowser : public ::testing::Test {
protected:
    void SetUp() override {
        if (test::FindProgram("chromium").empty()) GTEST_SKIP() << "chromium is not installed";
        dir_ = test::MakeTempDir("serve-browser");
        home_ = dir_ + "/home";
        Configure(home_, {"PathPrefix=" + dir_ + "/stored/", "HTTPPort=" + std::to_string(test::FreePort())});
        const test::RunResult added = test::RunCli(
            {"--home", home_, "add", "Sites", "http://site.example/index.htm", "--caption", "Site example"});
        ASSERT_EQ(added.exitCode, 0) << added.err;
        const std::string site = dir_ + "/stored/site.example/";
        // A stored page that reports, once loaded, the size of a built-in picture it shows.
        ASSERT_TRUE(test::WriteFile(site + "index.htm",
                                    "<html><head><title>Stored start</title></head><body>"
                                    "<p id=text>Offline copy of the start page</p><img id=pic src=\"/folder.gif\">"
                                    "<a href=\"sub/page.htm\">next</a><p id=size>unknown</p>"
                                    "<script>window.onload = function() { var i = document.getElementById('pic');"
                                    " document.getElementById('size').textContent = i.naturalWidth + 'x' + "
                                    "i.naturalHeight; };</script></body></html>"));
        ASSERT_TRUE(test::WriteFile(site + "sub/page.htm", "<html><body>second page</body></html>"));
        ASSERT_TRUE(test::WriteFile(site + "sub/page.htm.primary", "<html>as received</html>"));
        ASSERT_TRUE(serve_.Start(home_, dir_ + "/serve.log")) << serve_.Log();
    }

    std::string dir_, home_;
    ServeProcess serve_;
};

TEST_F(ServeWithBrowser, BrowserReadsIndexInformationAndStoredSite) {
    const std::string profile = dir_ + "/profile";
    const std::string index = RenderedDom(serve_.Url("/"), profile);
    EXPECT_NE(index.find("<title>Quillmoor 1.0</title>"), std::string::npos) << index;
    // The folder's entry, its block hidden until the folder is clicked.
    EXPECT_TRUE(std::regex_search(
        index,
        std::regex(">Sites</u><div id=\"Out[0-9]+details\" style=\"display:None; position:relative; left:16;\">")))
        << index;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(index, m, std::regex("<a href=\"/\\?exec/([0-9]+)\">Site example</a>"))) << index;

    const std::string info = RenderedDom(serve_.Url("/?exec/" + m[1].str()), profile);
    EXPECT_NE(info.find("<b>Project name:</b> <a href=\"Sites/site.example/index.htm\">Site example</a>"),
              std::string::npos)
        << info;
    // A new Project carries its creation time as its last start.
    EXPECT_TRUE(std::regex_search(info, std::regex("<b>Download last time started:</b> [^<]+<br>"
                                                   "<b>Still downloading...</b>")))
        << info;
    EXPECT_NE(info.find("<td><b>Downloaded files:</b></td><td> 0</td>"), std::string::npos) << info;

    // The stored start page, with a built-in picture it shows.
    const std::string page = RenderedDom(serve_.Url("/Sites/site.example/index.htm"), profile);
    EXPECT_NE(page.find("Offline copy of the start page"), std::string::npos) << page;
    EXPECT_NE(page.find("<p id=\"size\">16x16</p>"), std::string::npos) << page;

    // A folder without its "/" is redirected, then listed without the received copies.
    const std::string listing = RenderedDom(serve_.Url("/Sites/site.example/sub"), profile);
    EXPECT_NE(listing.find("Directory of /Sites/site.example/sub/"), std::string::npos) << listing;
    EXPECT_NE(listing.find("<a href=\"page.htm\">page.htm</a>"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("primary"), std::string::npos) << listing;

    EXPECT_EQ(serve_.Stop(), 0);
}

// A stored page whose scripts ask for addresses with a query, from its own folder and from the
// top of the server, gets every answer from the stored files: a JSON list (with and without a
// recorded type), an inserted style sheet and a picture.
TEST_F(ServeWithBrowser, ScriptsOfAStoredPageGetTheirQueryAnswers) {
    const std::string site = dir_ + "/stored/site.example/";
    ASSERT_TRUE(
        test::WriteFile(site + "app.htm",
                        "<!DOCTYPE html><html><head><title>App</title></head><body><ul id=list></ul>"
                        "<p id=css>none</p><p id=pic>none</p><p id=mod>none</p>"
                        "<script type=module src='/mod.mjs?v=1'></script><script>\n"
                        "fetch('/api/items?page=2').then(r => r.json()).then(d => { for (const t of d.items) {"
                        " const li = document.createElement('li'); li.textContent = t;"
                        " document.getElementById('list').appendChild(li); } })"
                        ".catch(e => document.getElementById('list').textContent = 'failed ' + e);\n"
                        "fetch('api/items?q=a%20b').then(r => r.json()).then(d =>"
                        " document.body.insertAdjacentHTML('beforeend', '<p id=q>' + d.q + '</p>'));\n"
                        "const l = document.createElement('link'); l.rel = 'stylesheet'; l.href = 'style.css?v=3';"
                        " l.onload = () => { const p = document.getElementById('css');"
                        " p.textContent = getComputedStyle(p).color; }; document.head.appendChild(l);\n"
                        "const i = new Image(); i.onload = () => document.getElementById('pic').textContent ="
                        " i.naturalWidth + 'x' + i.naturalHeight; i.src = '/pic.gif?size=2';\n"
                        "</script></body></html>"));
    ASSERT_TRUE(test::WriteFile(site + "api/items@page=2", "{\"items\":[\"first item\",\"second item\"]}"));
    ASSERT_TRUE(test::WriteFile(site + "api/items@q=a_20b", "{\"q\":\"spaced query\"}"));
    ASSERT_TRUE(test::WriteFile(site + "style.css@v=3", "#css { color: rgb(255, 0, 0); }"));
    ASSERT_TRUE(test::WriteFile(site + "mod.mjs@v=1", "document.getElementById('mod').textContent = 'module ran';"));
    ASSERT_TRUE(test::WriteFile(site + "pic.gif@size=2",
                                std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00"
                                            "\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3b",
                                            35)));
    const std::string page = RenderedDom(serve_.Url("/Sites/site.example/app.htm"), dir_ + "/profile");
    EXPECT_NE(page.find("<li>first item</li><li>second item</li>"), std::string::npos) << page;
    EXPECT_NE(page.find("<p id=\"q\">spaced query</p>"), std::string::npos) << page;
    EXPECT_NE(page.find("<p id=\"css\">rgb(255, 0, 0)</p>"), std::string::npos) << page;
    EXPECT_NE(page.find("<p id=\"pic\">1x1</p>"), std::string::npos) << page;
    EXPECT_NE(page.find("<p id=\"mod\">module ran</p>"), std::string::npos) << page;
    EXPECT_EQ(serve_.Stop(), 0);
}

TEST(ServeCrawl, DownloadedSiteHasNoBrokenLinks) {
    if (test::FindProgram("wget").empty()) GTEST_SKIP() << "wget is not installed";
    const std::string dir = test::MakeTempDir("serve-crawl");
    const std::string web = dir + "/web/";
    ASSERT_TRUE(test::WriteFile(web + "index.htm",
                                "<html><body><a href=\"a.htm\">A</a> <a href=\"sub/\">Sub</a> "
                                "<a href=\"sub/b.htm#part\">B</a><img src=\"pic.gif\"></body></html>"));
    ASSERT_TRUE(test::WriteFile(web + "a.htm",
                                "<html><body><a href=\"index.htm\">back</a> "
                                "<a href=\"/sub/b.htm\">B</a></body></html>"));
    ASSERT_TRUE(test::WriteFile(web + "sub/index.htm",
                                "<html><body><a href=\"b.htm\">b</a> "
                                "<a href=\"../a.htm\">up</a></body></html>"));
    ASSERT_TRUE(test::WriteFile(web + "sub/b.htm", "<html><body><a href=\"../index.htm\">home</a></body></html>"));
    ASSERT_TRUE(test::WriteFile(web + "pic.gif", std::string("GIF89a\x01\x00\x01\x00\x00\x00\x00;", 14)));
    test::NginxPeer nginx(web, "index index.htm;");
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();

    const std::string home = dir + "/home";
    Configure(home, {"PathPrefix=" + dir + "/stored/", "HTTPPort=" + std::to_string(test::FreePort())});
    const test::RunResult got = test::RunCli({"--home", home, "get", nginx.Url("/index.htm"), "--level", "5"}, 120000);
    ASSERT_EQ(got.exitCode, 0) << got.out << got.err;
    const std::string stored = dir + "/stored/127.0.0.1+" + std::to_string(nginx.Port()) + "/";
    ASSERT_FALSE(test::ReadFile(stored + "index.htm").empty()) << got.out;

    ServeProcess serve;
    ASSERT_TRUE(serve.Start(home, dir + "/serve.log")) << serve.Log();
    const std::string start = serve.Url("/Default/127.0.0.1+" + std::to_string(nginx.Port()) + "/index.htm");
    const test::RunResult crawl =
        test::RunProgram({"wget", "--spider", "-r", "-l", "10", "--no-proxy", "-e", "robots=off", "-nv", "-P",
                          dir + "/spider", "-o", dir + "/wget.log", start},
                         120000);
    const std::string log = test::ReadFile(dir + "/wget.log");
    EXPECT_EQ(crawl.exitCode, 0) << log;
    EXPECT_EQ(log.find("ERROR 404"), std::string::npos) << log;  // not a port number that holds 404
    EXPECT_NE(log.find("Found no broken links."), std::string::npos) << log;
    // The crawl reached the pages behind the start page, through the stored copies.
    EXPECT_NE(log.find("/a.htm"), std::string::npos) << log;
    EXPECT_NE(log.find("/sub/b.htm"), std::string::npos) << log;
    EXPECT_EQ(serve.Stop(), 0);
}

}  // namespace
}  // namespace qm
