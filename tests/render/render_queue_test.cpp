// Pages in the browser and the rest of the run: downloads go on while a page renders, a run
// suspended to a file keeps the pages the browser had, and the browser uses the program's
// proxy and log-ins. The site's page asks, from its script, for slow.json, which the scripted
// server answers only once another address has been asked for; the JSON names the page
// the script links to, so that page is stored only when the browser got the JSON.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "render/browser.h"
#include "support/cli_home.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPage =
    "<html><body><a href=\"a.html\">a</a> <a href=\"b.html\">b</a><div id=\"list\"></div>\n"
    "<script>\n"
    "fetch('slow.json').then(r => r.json()).then(j => {\n"
    "  const a = document.createElement('a'); a.href = j.link; a.textContent = 'made';\n"
    "  document.getElementById('list').appendChild(a);\n"
    "});\n"
    "EXTRA\n"
    "</script></body></html>\n";

// Where a line stands in the server's log (the log's size when it is not there).
std::size_t LineIndex(const std::vector<std::string>& log, const std::string& start) {
    auto it = std::find_if(log.begin(), log.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
    return static_cast<std::size_t>(it - log.begin());
}

class RenderQueueTest : public CliHomeTest {
protected:
    RenderQueueTest() : CliHomeTest(240000) {}

    void SetUp() override {
        render::Browser probe;
        std::string why;
        if (!probe.Start(why) || !probe.WaitUntilReady(why)) GTEST_SKIP() << "Chromium cannot start here: " << why;
    }

    // The site with extraScript in the page's script, served with slow.json held until
    // holdUntil has been asked for; one connection, one Project rendering its pages.
    void Serve(const std::string& holdUntil, const std::string& extraScript = "", std::vector<std::string> options = {},
               SitePeerSettings settings = {}) {
        options.insert(options.end(), {"HTTPCount=1", "TimeOut=120000"});
        MakeHome("render-queue", options);
        std::string page = kPage;
        page.replace(page.find("EXTRA"), 5, extraScript);
        ASSERT_TRUE(WriteFile(Site("web") + "/index.html", page));
        ASSERT_TRUE(WriteFile(Site("web") + "/a.html", "<p>a</p>"));
        ASSERT_TRUE(WriteFile(Site("web") + "/b.html", "<p>b</p>"));
        ASSERT_TRUE(WriteFile(Site("web") + "/made.html", "<p>made by the script</p>"));
        ASSERT_TRUE(WriteFile(Site("web") + "/slow.json", "{\"link\": \"made.html\"}"));
        settings.hold = "/slow.json " + holdUntil;
        peer_ = std::make_unique<SitePeer>(Site("web"), settings);
        ASSERT_TRUE(peer_->Ok()) << peer_->Error();
        ASSERT_EQ(Cli({"add", "Sites", peer_->Url("/index.html"), "--level", "2"}).exitCode, 0);
        ASSERT_EQ(Cli({"project", "Sites/0", "RenderPages=True"}).exitCode, 0);
    }
    std::string Stored(const std::string& name) const {
        return store_ + "/127.0.0.1+" + std::to_string(peer_->Port()) + "/" + name;
    }

    std::unique_ptr<SitePeer> peer_;
};

TEST_F(RenderQueueTest, DownloadsGoOnWhileAPageRenders) {
    // slow.json is answered only after a.html was asked for: with one connection, that
    // happens only when the connection is not kept waiting for the browser.
    Serve("/a.html");
    const RunResult run = Cli({"start", "--log", "Sites/0"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> log = peer_->Requests();
    const std::size_t asked = LineIndex(log, "/slow.json"), answered = LineIndex(log, "answered /slow.json");
    ASSERT_LT(answered, log.size()) << run.err;
    EXPECT_LT(LineIndex(log, "/a.html"), answered);
    EXPECT_LT(LineIndex(log, "/b.html"), log.size());
    EXPECT_LT(asked, answered);
    // The rendering ended well: the page its script linked to was found and stored, and the
    // run waited for it before it ended.
    EXPECT_TRUE(fs::exists(Stored("made.html"))) << run.err;
    EXPECT_TRUE(fs::exists(Stored("slow.json")));
    EXPECT_NE(run.err.find("Rendered " + peer_->Url("/index.html") + ": "), std::string::npos) << run.err;
}

TEST_F(RenderQueueTest, ASuspendedRunKeepsThePageInTheBrowser) {
    Serve("/release");
    const std::string queueFile = dir_ + "/paused.queue", log = dir_ + "/start.log";
    ChildProcess start;
    ASSERT_TRUE(start.Start({CliPath(), "--home", home_, "start", "--log", "--suspend-to", queueFile, "Sites/0"}, log));
    // The page is in the browser once its script asked for slow.json, which waits.
    bool rendering = false;
    for (int i = 0; i < 600 && !rendering; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        rendering = LineIndex(peer_->Requests(), "/slow.json") < peer_->Requests().size();
    }
    ASSERT_TRUE(rendering) << ReadFile(log);
    // The progress line counts the page in the browser and the two waiting for it (one at a
    // time in the browser) while the downloads are all done.
    bool counted = false;
    for (int i = 0; i < 100 && !counted; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        counted = ReadFile(log).find("Rendering: 3") != std::string::npos;
    }
    EXPECT_TRUE(counted) << ReadFile(log);
    ::kill(start.Pid(), SIGTERM);
    for (int i = 0; i < 600 && start.Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_FALSE(start.Running());
    EXPECT_NE(ReadFile(log).find("The queue was written to " + queueFile), std::string::npos) << ReadFile(log);
    EXPECT_NE(ReadFile(queueFile).find("URL=" + peer_->Url("/index.html")), std::string::npos) << ReadFile(queueFile);
    EXPECT_FALSE(fs::exists(Stored("made.html")));

    // The resumed run fetches the page again and renders it to its end.
    ASSERT_EQ(RunProgram({"curl", "-s", "--noproxy", "*", peer_->Url("/release")}).exitCode, 0);
    const RunResult resumed = Cli({"resume", queueFile});
    ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
    EXPECT_TRUE(fs::exists(Stored("made.html"))) << resumed.err;
}

TEST_F(RenderQueueTest, TheBrowserUsesTheProxyAndLogsInOnlyWhereThePasswordBelongs) {
    // A second server asking for a log-in: the page's picture from there must not get the
    // Project's password.
    SitePeerSettings other;
    other.protect = "/";
    other.user = "name:secret";
    const std::string otherRoot = MakeTempDir("render-other");
    ASSERT_TRUE(WriteFile(otherRoot + "/pic.png", "png"));
    SitePeer stranger(otherRoot, other);
    ASSERT_TRUE(stranger.Ok()) << stranger.Error();
    TinyproxyPeer proxy;
    ASSERT_TRUE(proxy.Ok()) << proxy.Error();

    SitePeerSettings own;
    own.protect = "/slow.json";
    own.user = "name:secret";
    const std::string extra =
        "fetch('beacon.txt', {method: 'POST', body: 'x'});\n"
        "const img = new Image(); img.src = '" +
        stranger.Url("/pic.png") + "'; document.body.appendChild(img);";
    Serve("/index.html", extra, {"ProxyType=1", "ProxyAddr=127.0.0.1", "ProxyPort=" + std::to_string(proxy.Port())},
          own);
    ASSERT_EQ(Cli({"project", "Sites/0", "User=name", "Psw=secret", "pswMethod=0"}).exitCode, 0);
    const RunResult run = Cli({"start", "--log", "Sites/0"});
    ASSERT_EQ(run.exitCode, 0) << run.err;

    // The script's request went through the proxy (only the browser sends a POST).
    const std::string proxyLog = ReadFile(proxy.Dir() + "/tinyproxy.out");
    EXPECT_NE(proxyLog.find("POST " + peer_->Url("/beacon.txt")), std::string::npos) << proxyLog;
    // The browser answered its own server's challenge: it got the JSON and followed the link.
    EXPECT_TRUE(fs::exists(Stored("made.html"))) << run.err;
    // The other server asked too, and got no password.
    const std::vector<std::string> strangerLog = stranger.Requests();
    EXPECT_LT(LineIndex(strangerLog, "/pic.png"), strangerLog.size());
    for (const std::string& line : strangerLog) EXPECT_EQ(line.find("Basic"), std::string::npos) << line;
}

}  // namespace
}  // namespace qm::test
