// A small themed site (a sheet with a query in its name importing sheets that import more,
// pictures named inside sheets, a <style> block, a style value, srcset, <object data>, an icon)
// mirrored by quillmoor-cli get and opened in headless Chromium: the stored copy, through the
// built-in server and from disk with the extension-last option, applies as many style rules
// and shows as many pictures as the original. Loopback only.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "support/peers.h"

namespace fs = std::filesystem;

namespace qm::test {
namespace {

const std::string kPng(
    "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x00\x01\x00\x00\x00"
    "\x01\x08\x06\x00\x00\x00\x1f\x15\xc4\x89\x00\x00\x00\x0d\x49\x44\x41\x54\x78\xda\x63\x64\xf8"
    "\xcf\x50\x0f\x00\x03\x86\x01\x80\x5a\x34\x7d\x6b\x00\x00\x00\x00\x49\x45\x4e\x44\xae\x42\x60\x82",
    70);

// Counts, once the page has loaded, the style rules whose selector matches something and the
// pictures that were drawn, and writes both into the page for --dump-dom.
const char* kCounter = R"js(<script>
function countRules(){var n=0;function walk(list){for(var i=0;i<list.length;i++){var r=list[i];
if(r.styleSheet){try{walk(r.styleSheet.cssRules)}catch(e){}}
else if(r.selectorText!==undefined){try{if(document.querySelector(r.selectorText))n++}catch(e){}}
else if(r.cssRules){walk(r.cssRules)}}}
for(var s=0;s<document.styleSheets.length;s++){try{walk(document.styleSheets[s].cssRules)}catch(e){}}
return n}
window.addEventListener('load',function(){var ok=0;
for(var i=0;i<document.images.length;i++)if(document.images[i].naturalWidth>0)ok++;
document.getElementById('out').textContent='RULES='+countRules()+' IMAGES='+ok;});
</script>)js";

void MakeSite(const std::string& root) {
    WriteFile(root + "/index.html",
              std::string("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>t</title>\n"
                          "<link rel=\"stylesheet\" href=\"_static/theme.css?2022.1\" type=\"text/css\">\n"
                          "<link rel=\"icon\" href=\"_static/icon.png\">\n"
                          "<style>@import url(\"_static/extra.css\"); .boxed{border:1px solid red}</style>\n") +
                  kCounter +
                  "</head><body><div class=\"related\"><span class=\"boxed\">x</span></div>\n"
                  "<div class=\"hero\" style=\"background-image:url('_static/bg.png')\">h</div>\n"
                  "<img srcset=\"_static/pic.png 1x, _static/pic2.png 2x\" alt=\"p\">"
                  "<img src=\"_static/pic.png?v=3\" alt=\"q\">\n"
                  "<object data=\"_static/fig.svg\" type=\"image/svg+xml\"></object>\n"
                  "<p class=\"note\">n</p><h1>T</h1><pre>code</pre><div id=\"out\"></div></body></html>\n");
    WriteFile(root + "/_static/theme.css", "@import url(\"default.css\");\n.related{color:#123}\n");
    WriteFile(root + "/_static/default.css",
              "/* the theme's base */\n@import \"basic.css\";\n@import 'sub/classic.css';\nbody{margin:0}\n");
    WriteFile(root + "/_static/basic.css",
              "p.note{padding:3px}\nh1{font-size:20px}\n@media screen { pre{color:blue} }\n");
    WriteFile(root + "/_static/sub/classic.css",
              "div.hero{height:10px}\nbody{background:url(../bg.png) repeat}\n"
              "@font-face{font-family:X;src:url(\"../f.woff2?v=1#iefix\") format(\"woff2\")}\n");
    WriteFile(root + "/_static/extra.css", ".note{color:green}\n");
    WriteFile(
        root + "/_static/fig.svg",
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"4\" height=\"4\"><rect width=\"4\" height=\"4\"/></svg>");
    WriteFile(root + "/_static/f.woff2", "wOF2");
    for (const char* p : {"/_static/pic.png", "/_static/pic2.png", "/_static/bg.png", "/_static/icon.png"})
        WriteFile(root + p, kPng);
}

struct Counts {
    int rules = -1;
    int images = -1;
};

Counts Measure(const std::string& url) {
    const std::string profile = MakeTempDir("chromium-profile");
    RunResult r =
        RunProgram({"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                    "--disable-component-update", "--disable-sync", "--no-first-run", "--user-data-dir=" + profile,
                    "--host-resolver-rules=MAP * ~NOTFOUND , EXCLUDE 127.0.0.1", "--allow-file-access-from-files",
                    "--virtual-time-budget=5000", "--dump-dom", url},
                   90000);
    Counts c;
    std::smatch m;
    if (std::regex_search(r.out, m, std::regex("RULES=(\\d+) IMAGES=(\\d+)"))) {
        c.rules = std::stoi(m[1]);
        c.images = std::stoi(m[2]);
    }
    return c;
}

class StyleFidelity : public ::testing::Test {
protected:
    void SetUp() override {
        if (FindProgram("chromium").empty()) GTEST_SKIP() << "chromium is not installed";
        site_ = MakeTempDir("fidelity-site");
        MakeSite(site_);
        nginx_ = std::make_unique<NginxPeer>(site_);
        ASSERT_TRUE(nginx_->Ok()) << nginx_->Error();
    }
    // Mirrors the site into a fresh program folder; returns the stored host folder.
    std::string Mirror(const std::string& home, bool extLast) {
        const std::string store = MakeTempDir("fidelity-store");
        RunResult r =
            RunCli({"--home", home, "options", "PathPrefix=" + store + "/",
                    std::string("ExtLast=") + (extLast ? "1" : "0"), "HTTPPort=" + std::to_string(FreePort())});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        r = RunCli({"--home", home, "get", nginx_->Url("/index.html"), "--level", "1", "--folder", "Sites"}, 120000);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return store + "/127.0.0.1+" + std::to_string(nginx_->Port());
    }
    std::string site_;
    std::unique_ptr<NginxPeer> nginx_;
};

TEST_F(StyleFidelity, StoredPageAppliesEveryRuleOfTheOriginal) {
    const Counts original = Measure(nginx_->Url("/index.html"));
    ASSERT_EQ(original.rules, 9);  // every rule of the theme matches something
    ASSERT_EQ(original.images, 2);

    // Through the built-in server.
    const std::string home = MakeTempDir("fidelity-home");
    const std::string host = Mirror(home, false);
    EXPECT_TRUE(fs::exists(host + "/_static/theme.css@2022.1"));
    EXPECT_TRUE(fs::exists(host + "/_static/sub/classic.css"));
    EXPECT_TRUE(fs::exists(host + "/_static/f.woff2@v=1"));
    EXPECT_TRUE(fs::exists(host + "/_static/fig.svg"));
    EXPECT_TRUE(fs::exists(host + "/_static/icon.png"));
    EXPECT_TRUE(fs::exists(host + "/_static/pic2.png"));
    const std::string registry = ReadFile(home + "/registry.reg");
    std::smatch port;
    ASSERT_TRUE(std::regex_search(registry, port, std::regex("\"HTTPPort\"=dword:([0-9a-f]+)")));
    const int serverPort = std::stoi(port[1], nullptr, 16);
    ChildProcess serve;
    ASSERT_TRUE(serve.Start({CliPath(), "--home", home, "serve"}, MakeTempDir("fidelity-serve") + "/log"));
    ASSERT_TRUE(WaitForPort(serverPort, 10000));
    const std::string base =
        "http://127.0.0.1:" + std::to_string(serverPort) + "/Sites/127.0.0.1+" + std::to_string(nginx_->Port());
    const Counts served = Measure(base + "/index.html");
    EXPECT_EQ(served.rules, original.rules);
    EXPECT_EQ(served.images, original.images);
    serve.Stop();

    // From disk, with names that end in their extension.
    const std::string diskHome = MakeTempDir("fidelity-home-disk");
    const std::string diskHost = Mirror(diskHome, true);
    EXPECT_TRUE(fs::exists(diskHost + "/_static/theme@2022.1.css"));
    EXPECT_NE(ReadFile(diskHost + "/index.html").find("href=\"_static/theme@2022.1.css\""), std::string::npos);
    const Counts disk = Measure("file://" + diskHost + "/index.html");
    EXPECT_EQ(disk.rules, original.rules);
    EXPECT_EQ(disk.images, original.images);
}

}  // namespace
}  // namespace qm::test
