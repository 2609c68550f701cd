// Whole sites mirrored by quillmoor-cli get from nginx on loopback: every local link of every
// stored page must lead to a stored file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include <signal.h>

#include "java_class_builder.h"
#include "support/peers.h"

namespace fs = std::filesystem;

namespace qm::test {
namespace {

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Local links (href, src, background) of a stored page that do not resolve. With a source
// folder, links to files the site itself lacks are not counted.
std::vector<std::string> BrokenLinks(const fs::path& page, const fs::path& root, const fs::path& source = {}) {
    static const std::regex attr(R"re((?:href|src|background)\s*=\s*(?:"([^"]*)"|'([^']*)'))re", std::regex::icase);
    std::vector<std::string> broken;
    std::string text = Slurp(page);
    for (std::sregex_iterator it(text.begin(), text.end(), attr), end; it != end; ++it) {
        std::string link = (*it)[1].matched ? (*it)[1].str() : (*it)[2].str();
        std::size_t hash = link.find('#');
        if (hash != std::string::npos) link.erase(hash);
        if (link.empty()) continue;
        if (std::regex_search(link, std::regex("^[a-zA-Z][a-zA-Z0-9+.-]*:")) || link.rfind("//", 0) == 0)
            continue;  // another scheme, or an address left on the web
        fs::path target = (page.parent_path() / link).lexically_normal();
        std::error_code ec;
        if (fs::is_regular_file(target, ec)) continue;
        fs::path rel = target.lexically_relative(root);
        bool inside = !rel.empty() && rel.begin()->string() != "..";
        if (!source.empty() && inside && !fs::exists(source / rel, ec)) continue;
        broken.push_back(page.lexically_relative(root).string() + " -> " + link);
    }
    return broken;
}

struct StoredSite {
    std::vector<fs::path> pages;  // stored documents (not their copies as received)
    std::set<std::string> files;  // every stored file, relative to the host folder
};

StoredSite Scan(const fs::path& hostDir) {
    StoredSite s;
    for (auto& e : fs::recursive_directory_iterator(hostDir)) {
        if (!e.is_regular_file()) continue;
        std::string rel = e.path().lexically_relative(hostDir).string();
        s.files.insert(rel);
        std::string ext = e.path().extension().string();
        if (ext == ".html" || ext == ".htm" || rel.find(".html@") != std::string::npos) s.pages.push_back(e.path());
    }
    return s;
}

// The request lines nginx logged ("GET /x HTTP/1.0"), in order; nginx writes a line after
// its answer went out, so the log is read once its size has settled.
std::vector<std::string> LoggedRequests(const std::string& log) {
    std::uintmax_t last = static_cast<std::uintmax_t>(-1);
    for (int i = 0; i < 40; ++i) {
        std::error_code ec;
        std::uintmax_t size = fs::file_size(log, ec);
        if (!ec && size == last) break;
        last = ec ? 0 : size;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::vector<std::string> requests;
    std::istringstream in(Slurp(log));
    for (std::string line; std::getline(in, line);) {
        std::size_t open = line.find('"');
        std::size_t close = open == std::string::npos ? open : line.find("\" ", open + 1);
        if (close != std::string::npos) requests.push_back(line.substr(open + 1, close - open - 1));
    }
    return requests;
}

// The statistics line quillmoor-cli prints for a Project after a run.
std::string StatisticsOf(const std::string& out) {
    std::size_t at = out.rfind("S200=");
    return at == std::string::npos ? std::string() : out.substr(at, out.find('\n', at) - at);
}

int Statistic(const std::string& line, const std::string& key) {
    std::size_t at = line.find(key + "=");
    return at == std::string::npos ? -1 : std::atoi(line.c_str() + at + key.size() + 1);
}

class SiteMirror : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = MakeTempDir("analysis-mirror-home");
        downloads_ = MakeTempDir("analysis-mirror-files");
        PrepareHome(home_, downloads_, {"HTTPCount=10"});
    }
    // Options for a program folder; new Projects keep to their starting server: nothing is
    // ever fetched from elsewhere.
    static void PrepareHome(const std::string& home, const std::string& downloads,
                            const std::vector<std::string>& options) {
        std::vector<std::string> args = {"--home", home, "options", "PathPrefix=" + downloads + "/"};
        args.insert(args.end(), options.begin(), options.end());
        auto r = RunCli(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        // A first run writes the built-in Defaults, which keep new Projects on their server.
        const std::string reg = ReadFile(home + "/registry.reg");
        ASSERT_NE(reg.find("\"RSrvsBx\"=dword:00000001"), std::string::npos) << reg;
    }
    RunResult Get(const std::string& url, int level) {
        return RunCli({"--home", home_, "get", url, "--level", std::to_string(level)}, 600000);
    }
    std::string home_, downloads_;
};

TEST_F(SiteMirror, SmallSiteWithEveryKindOfLink) {
    std::string site = MakeTempDir("analysis-mirror-site");
    NginxPeer nginx(site, "location = /moved { return 302 /main/target.html; }");
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    const std::string self = "http://127.0.0.1:" + std::to_string(nginx.Port());

    WriteFile(site + "/index.html",
              "<html><frameset cols=\"20%,*\"><frame src=\"nav.html\">"
              "<frame src=\"main/content.html\"></frameset></html>");
    WriteFile(site + "/nav.html",
              "<body background=\"img/bg.gif\"><a href=\"main/content.html\">c</a>"
              "<a href=\"/main/page2.html?x=1\">q</a><a href=\"moved\">r</a>"
              "<a href=\"" +
                  self + "/base/b.html\">b</a><a href=\"mailto:x@y\">m</a></body>");
    WriteFile(site + "/main/content.html",
              "<link rel=stylesheet href=\"../css/style.css\">"
              "<img src=\"../img/pic.gif\" usemap=\"#m\"><map name=m>"
              "<area shape=rect coords=\"0,0,5,5\" href=\"../nav.html\"></map>"
              "<script>function pop(){ window.open('popup.html', 'w'); }</script>"
              "<applet codebase=\"../cls\" code=\"Main\"><param name=pic value=\"pic2.gif\"></applet>"
              "<a href=\"../../../index.html\">top</a><a href=\"/\">home</a>");
    WriteFile(site + "/main/page2.html", "<a href=\"content.html\">back</a>");
    WriteFile(site + "/main/popup.html", "<img src=\"/img/pic.gif\">");
    WriteFile(site + "/main/target.html", "<p>moved here</p>");
    WriteFile(site + "/base/b.html", "<base href=\"" + self + "/main/\"><a href=\"page2.html?x=1\">p</a>");
    WriteFile(site + "/css/style.css", "body { color: black }");
    WriteFile(site + "/img/pic.gif", "GIF89a");
    WriteFile(site + "/img/bg.gif", "GIF89a");
    WriteFile(site + "/cls/pic2.gif", "GIF89a");
    WriteFile(site + "/cls/res/data.gif", "GIF89a");
    ClassFileBuilder main;
    main.Utf8("LHelper;").Utf8("res/data.gif");
    WriteFile(site + "/cls/Main.class", main.Bytes());
    WriteFile(site + "/cls/Helper.class", ClassFileBuilder().Utf8("java/lang/Object").Bytes());

    auto r = Get(self + "/index.html", 5);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    fs::path host = fs::path(downloads_) / ("127.0.0.1+" + std::to_string(nginx.Port()));
    StoredSite stored = Scan(host);
    for (const char* f : {"index.html", "nav.html", "main/content.html", "main/page2.html@x=1", "main/popup.html",
                          "main/target.html", "moved", "base/b.html", "css/style.css", "img/pic.gif", "img/bg.gif",
                          "cls/Main.class", "cls/Helper.class", "cls/res/data.gif", "cls/pic2.gif", "default.htm"}) {
        EXPECT_TRUE(stored.files.count(f)) << f;
    }
    for (const auto& page : stored.pages)
        for (const auto& b : BrokenLinks(page, host)) ADD_FAILURE() << "broken link " << b;
    // Links climbing above the site are cut back to its top; the base tag is gone.
    std::string content = Slurp(host / "main/content.html");
    EXPECT_NE(content.find("href=\"../index.html\""), std::string::npos) << content;
    std::string b = Slurp(host / "base/b.html");
    EXPECT_EQ(b.find("<base"), std::string::npos) << b;
    EXPECT_EQ(Slurp(host / "cls/Main.class"), main.Bytes());
}

TEST_F(SiteMirror, PythonDocumentation) {
    const std::string docs = "/usr/share/doc/python3.11/html";
    if (!fs::exists(docs + "/index.html")) GTEST_SKIP() << "python3.11-doc is not installed";
    NginxPeer nginx(docs);
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    auto r = Get(nginx.Url("/index.html"), 40);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::vector<std::string> firstRequests = LoggedRequests(nginx.Dir() + "/access.log");

    // An update run over the stored copy asks for exactly the same addresses, now answered
    // 304, whether a page's links were rewritten or not, and finds no link the first did not.
    auto again = Get(nginx.Url("/index.html"), 40);
    ASSERT_EQ(again.exitCode, 0) << again.out << again.err;
    std::vector<std::string> all = LoggedRequests(nginx.Dir() + "/access.log");
    ASSERT_GE(all.size(), firstRequests.size());
    std::multiset<std::string> first(firstRequests.begin(), firstRequests.end());
    std::multiset<std::string> second(all.begin() + std::ptrdiff_t(firstRequests.size()), all.end());
    EXPECT_TRUE(first == second) << firstRequests.size() << " requests, then " << second.size();
    const std::string firstStats = StatisticsOf(r.out), secondStats = StatisticsOf(again.out);
    EXPECT_GT(Statistic(firstStats, "S200"), 500) << firstStats;
    EXPECT_EQ(Statistic(secondStats, "S200"), 0) << secondStats;
    EXPECT_EQ(Statistic(secondStats, "S304"), Statistic(firstStats, "S200")) << secondStats;
    EXPECT_EQ(Statistic(secondStats, "S400"), Statistic(firstStats, "S400")) << secondStats;
    EXPECT_EQ(Statistic(secondStats, "SErr") + Statistic(secondStats, "SAbr"), 0) << secondStats;

    fs::path host = fs::path(downloads_) / ("127.0.0.1+" + std::to_string(nginx.Port()));
    StoredSite stored = Scan(host);
    std::size_t sourcePages = 0;
    for (auto& e : fs::recursive_directory_iterator(docs))
        if (e.is_regular_file() && e.path().extension() == ".html") ++sourcePages;
    // Nearly every page of the documentation is reachable from its index.
    EXPECT_GE(stored.pages.size() * 100, sourcePages * 95) << stored.pages.size() << " of " << sourcePages;
    std::size_t broken = 0;
    for (const auto& page : stored.pages)
        for (const auto& b : BrokenLinks(page, host, docs)) {
            if (++broken <= 20) ADD_FAILURE() << "broken link " << b;
        }
    EXPECT_EQ(broken, 0u);
}

// Every file a run leaves behind, by its path below root, with the downloads folder's own
// name replaced so that two runs into different folders compare.
std::string WithoutFolder(std::string text, const std::string& downloads) {
    for (std::size_t at = text.find(downloads); at != std::string::npos; at = text.find(downloads, at))
        text.replace(at, downloads.size(), "<downloads>");
    return text;
}

// A description file's records in name order: with a redirect put back in the queue, the
// order in which files are stored (and so described) depends on timing, never their content.
std::string RecordsInOrder(const std::string& file) {
    std::vector<std::string> records;
    std::size_t at = 0;
    while (at + 12 <= file.size()) {
        std::uint32_t total = 0;
        for (int i = 3; i >= 0; --i) total = total << 8 | static_cast<unsigned char>(file[at + i]);
        if (total < 12 || at + total > file.size()) break;
        records.push_back(file.substr(at, total));
        at += total;
    }
    std::sort(records.begin(), records.end());
    std::string out;
    for (const auto& r : records) out += r;
    return out + file.substr(at);
}

std::map<std::string, std::string> FilesBelow(const fs::path& root, const std::string& downloads) {
    std::map<std::string, std::string> files;
    for (auto& e : fs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file()) continue;
        std::string text = WithoutFolder(Slurp(e.path()), downloads);
        if (e.path().filename() == "Descr.QV3") text = RecordsInOrder(text);
        files[e.path().lexically_relative(root).string()] = text;
    }
    return files;
}

// Kept connections change how answers travel, never what is stored: the stored files, their
// description files and the site map are the same byte for byte with the option on and off.
TEST_F(SiteMirror, KeptConnectionsStoreTheSameBytes) {
    std::string site = MakeTempDir("analysis-keepalive-site");
    NginxPeer nginx(site, "location = /moved { return 302 /ref/p3.html; }");
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    WriteFile(site + "/index.html",
              "<a href=\"ref/p0.html\">start</a><a href=\"moved\">m</a>"
              "<a href=\"missing.html\">gone</a><img src=\"pic.gif\">");
    WriteFile(site + "/pic.gif", "GIF89a" + std::string(3000, 'x'));
    for (int i = 0; i < 40; ++i) {
        std::string page = "<html><body><h1>" + std::to_string(i) + "</h1>" + std::string(500 * (i % 7), 'w');
        for (int j : {i + 1, (i * 7) % 40, (i * 13 + 5) % 40})
            page += "<a href=\"p" + std::to_string(j % 40) + ".html\">" + std::to_string(j) + "</a>";
        page += "<a href=\"../index.html\">up</a></body></html>";
        WriteFile(site + "/ref/p" + std::to_string(i) + ".html", page);
    }
    // One connection each, so that both runs store in nearly the same order.
    struct Run {
        std::string home, downloads;
    } runs[2] = {{MakeTempDir("analysis-keepalive-on"), MakeTempDir("analysis-keepalive-on-files")},
                 {MakeTempDir("analysis-keepalive-off"), MakeTempDir("analysis-keepalive-off-files")}};
    PrepareHome(runs[0].home, runs[0].downloads, {"HTTPCount=1", "KeepAlive=1"});
    PrepareHome(runs[1].home, runs[1].downloads, {"HTTPCount=1", "KeepAlive=0"});
    std::map<std::string, std::string> stored[2], maps[2];
    for (int i = 0; i < 2; ++i) {
        auto r = RunCli({"--home", runs[i].home, "get", nginx.Url("/index.html"), "--level", "20"}, 120000);
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        stored[i] = FilesBelow(runs[i].downloads, runs[i].downloads);
        for (auto& e : fs::directory_iterator(runs[i].home))
            if (e.path().extension() == ".map") maps[i][".map"] = WithoutFolder(Slurp(e.path()), runs[i].downloads);
    }
    EXPECT_GE(stored[0].size(), 40u * 2);
    EXPECT_TRUE(stored[0].count("127.0.0.1+" + std::to_string(nginx.Port()) + "/ref/Descr.QV3"));
    EXPECT_EQ(stored[0], stored[1]);
    ASSERT_EQ(maps[0].size(), 1u);
    EXPECT_EQ(maps[0], maps[1]);
    EXPECT_NE(maps[0].begin()->second.find("p39.html"), std::string::npos);
}

// Runs killed at random moments leave every stored file whole or absent, and the next run
// clears their scratch files and completes the mirror.
TEST_F(SiteMirror, KilledRunsThenANormalRun) {
    const std::string docs = "/usr/share/doc/python3.11/html";
    if (!fs::exists(docs + "/index.html")) GTEST_SKIP() << "python3.11-doc is not installed";
    NginxPeer nginx(docs);
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    const std::string url = nginx.Url("/index.html");
    fs::path host = fs::path(downloads_) / ("127.0.0.1+" + std::to_string(nginx.Port()));

    // Stored files kept as received must equal the site's; rewritten pages are not compared.
    auto expectWholeFiles = [&](const char* when) {
        int compared = 0;
        for (auto& e : fs::recursive_directory_iterator(host)) {
            if (!e.is_regular_file()) continue;
            std::string rel = e.path().lexically_relative(host).string();
            if (e.path().filename() == "Descr.QV3") continue;
            const std::string primary = ".primary";
            bool isPrimary =
                rel.size() > primary.size() && rel.compare(rel.size() - primary.size(), primary.size(), primary) == 0;
            if (isPrimary)
                rel.erase(rel.size() - primary.size());
            else if (rel.find(".html") != std::string::npos)
                continue;
            std::size_t query = rel.find('@', rel.rfind('/') == std::string::npos ? 0 : rel.rfind('/'));
            if (query != std::string::npos) rel.erase(query);
            fs::path source = fs::path(docs) / rel;
            if (!fs::is_regular_file(source)) continue;
            ++compared;
            if (Slurp(e.path()) != Slurp(source)) ADD_FAILURE() << when << ": not whole: " << e.path();
        }
        return compared;
    };

    std::random_device device;
    const unsigned seed = device();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delay(50, 900);
    for (int round = 0; round < 4; ++round) {
        const int ms = delay(random);
        ChildProcess run;
        ASSERT_TRUE(run.Start({CliPath(), "--home", home_, "get", url, "--level", "40"}, home_ + "/killed.log"));
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        ::kill(run.Pid(), SIGKILL);
        run.Stop();
        if (fs::exists(host)) expectWholeFiles("after a kill");
        SCOPED_TRACE("seed " + std::to_string(seed) + ", kill after " + std::to_string(ms) + " ms");
    }

    auto r = Get(url, 40);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    for (auto& e : fs::recursive_directory_iterator(host))
        EXPECT_EQ(e.path().filename().string().find(".qm%"), std::string::npos)
            << "scratch file left: " << e.path() << " (seed " << seed << ")";
    EXPECT_GT(expectWholeFiles("after the normal run"), 500);
    StoredSite stored = Scan(host);
    std::size_t broken = 0;
    for (const auto& page : stored.pages)
        for (const auto& b : BrokenLinks(page, host, docs))
            if (++broken <= 20) ADD_FAILURE() << "broken link " << b << " (seed " << seed << ")";
    EXPECT_GE(stored.pages.size(), 500u);
}

}  // namespace
}  // namespace qm::test
