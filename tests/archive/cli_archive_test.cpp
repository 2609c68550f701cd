// Web archives of real runs: a small site (pages, a style sheet, images, a redirect, a 404,
// an https page, an ftp file) recorded, every record read back and checked, the index
// opening its records, warcio (an independent reader) agreeing, an update run's "not
// modified" answers recorded as revisits, and a run killed while recording.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "archive/cdxj.h"
#include "archive/digest.h"
#include "archive/warc_reader.h"
#include "archive/warc_writer.h"
#include "support/cli_home.h"
#include "support/peers.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;
using archive::ReadRecord;

std::string ArchiveFolderUnder(const std::string& store) {
    std::error_code ec;
    for (auto& e : fs::directory_iterator(store + "/Web archives", ec))
        if (e.is_directory()) return e.path().string();
    return {};
}

std::vector<ReadRecord> ReadWhole(const std::string& path) {
    std::vector<ReadRecord> out;
    archive::WarcReader reader(path);
    ReadRecord r;
    while (reader.Next(r)) out.push_back(r);
    EXPECT_EQ(reader.Error(), "") << path;
    EXPECT_EQ(reader.GoodEnd(), fs::file_size(path)) << path << " does not read to its end";
    return out;
}

// Installs warcio into the build's npm folder once; its node_modules folder.
std::string WarcioModules() {
    const std::string dir = QM_NPM_DIR;
    if (!fs::exists(dir + "/node_modules/warcio/package.json")) {
        fs::create_directories(dir);
        RunResult r =
            RunProgram({"npm", "install", "--no-audit", "--no-fund", "--prefix", dir, "warcio@2.4.11"}, 300000);
        if (r.exitCode != 0) ADD_FAILURE() << "npm could not install warcio: " << r.err;
    }
    return dir + "/node_modules";
}

class CliArchiveTest : public CliHomeTest {
protected:
    CliArchiveTest() : CliHomeTest(300000) {}
    void SetUp() override { MakeHome("cliarchive"); }
    RunResult r_;
};

TEST_F(CliArchiveTest, EveryRecordReadsBackAndAnUpdateRunRecordsRevisits) {
    ASSERT_NO_FATAL_FAILURE(TrustLocalhostCertificate());
    const std::string certDir = Site("tls");
    SitePeerSettings tls;
    tls.cert = certDir + "/cert.pem";
    tls.key = certDir + "/key.pem";
    ASSERT_TRUE(WriteFile(Site("secure") + "/secure.html", "<p>secure page</p>"));
    SitePeer secure(Site("secure"), tls);
    ASSERT_TRUE(secure.Ok()) << secure.Error();
    const std::string secureUrl = "https://localhost:" + std::to_string(secure.Port()) + "/secure.html";

    ASSERT_TRUE(WriteFile(Site("ftp") + "/notes.txt", "ftp notes"));
    FtpPeer ftp(Site("ftp"));
    ASSERT_TRUE(ftp.Ok()) << ftp.Error();

    std::string image;
    for (int i = 0; i < 5000; ++i) image += static_cast<char>((i * 7919) % 251);
    ASSERT_TRUE(WriteFile(Site("www") + "/img.png", image));
    ASSERT_TRUE(WriteFile(Site("www") + "/style.css", "body { background: url(bg.png) }"));
    ASSERT_TRUE(WriteFile(Site("www") + "/bg.png", std::string(300, '\x89')));
    ASSERT_TRUE(WriteFile(Site("www") + "/b.html", "<p>page b</p>"));
    ASSERT_TRUE(WriteFile(Site("www") + "/index.html",
                          "<html><head><title>Start</title><link rel=stylesheet href=style.css></head><body>"
                          "<img src=img.png><a href=b.html>b</a><a href=old>old</a><a href=missing.html>m</a>"
                          "<a href=\"" +
                              secureUrl + "\">s</a><a href=\"" + ftp.Url("/notes.txt") + "\">f</a></body></html>"));
    NginxPeer www(Site("www"), "location = /old { return 301 /b.html; }\n");
    ASSERT_TRUE(www.Ok()) << www.Error();

    ASSERT_EQ(Cli({"add", "Sites", www.Url("/index.html"), "--level", "3", "--caption", "site"}).exitCode, 0);
    RunResult r = Cli({"project", "Sites/site", "WebArchive=True", "RSrvsBx=0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = Cli({"start", "Sites/site"});
    ASSERT_EQ(r.exitCode, 0) << r.err;

    const std::string folder = ArchiveFolderUnder(store_);
    ASSERT_FALSE(folder.empty());
    std::vector<std::string> files = archive::ArchiveFiles(folder);
    ASSERT_EQ(files.size(), 1u);
    const std::string path = folder + "/" + files[0];
    const std::vector<ReadRecord> records = ReadWhole(path);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0].record.Field("WARC-Type"), "warcinfo");
    EXPECT_NE(records[0].record.block.find("isPartOf: " + www.Url("/index.html")), std::string::npos);

    std::map<std::string, std::string> ids;                     // record id -> type
    std::map<std::string, int> statusOf;                        // response address -> status
    std::map<std::string, std::string> bodyOf, typeOf, dateOf;  // by address
    std::size_t indexed = 0;
    for (const ReadRecord& rr : records) {
        const archive::WarcRecord& rec = rr.record;
        const std::string type = rec.Field("WARC-Type");
        SCOPED_TRACE(type + " " + rec.Field("WARC-Target-URI"));
        EXPECT_NE(rec.Field("WARC-Record-ID"), "");
        EXPECT_EQ(archive::IndexTimestamp(rec.Field("WARC-Date")).size(), 14u);
        EXPECT_EQ(archive::Sha1Base32(rec.block), rec.Field("WARC-Block-Digest"));
        ids[rec.Field("WARC-Record-ID")] = type;
        const std::string url = rec.Field("WARC-Target-URI");
        if (type != "warcinfo") {
            EXPECT_EQ(url.find('<'), std::string::npos);
        }
        if (type == "response" || type == "revisit" || type == "resource") ++indexed;
        typeOf[url] = type;
        if (type == "response") {
            std::string_view head, body;
            ASSERT_TRUE(archive::SplitHttpMessage(rec.block, head, body));
            EXPECT_EQ(archive::Sha1Base32(body), rec.Field("WARC-Payload-Digest"));
            EXPECT_EQ(rec.Field("Content-Type"), "application/http;msgtype=response");
            statusOf[url] = archive::HttpStatus(head);
            bodyOf[url] = std::string(body);
            dateOf[url] = rec.Field("WARC-Date");
            if (url.rfind("http://", 0) == 0) {
                EXPECT_EQ(rec.Field("WARC-IP-Address"), "127.0.0.1");
            }
        }
        if (type == "resource") bodyOf[url] = rec.block;
        if (type == "metadata") typeOf["metadata " + url] = rec.block;
    }
    // Requests and responses name each other.
    for (const ReadRecord& rr : records) {
        const std::string type = rr.record.Field("WARC-Type");
        if (type == "request") {
            const std::string answer = ids[rr.record.Field("WARC-Concurrent-To")];
            EXPECT_TRUE(answer == "response" || answer == "revisit") << answer;
        }
        if (type == "response") {
            EXPECT_EQ(ids[rr.record.Field("WARC-Concurrent-To")], "request");
        }
    }
    EXPECT_EQ(statusOf[www.Url("/index.html")], 200);
    EXPECT_EQ(statusOf[www.Url("/style.css")], 200);
    EXPECT_EQ(statusOf[www.Url("/bg.png")], 200);
    EXPECT_EQ(statusOf[www.Url("/old")], 301);
    EXPECT_EQ(statusOf[www.Url("/b.html")], 200);
    EXPECT_EQ(statusOf[www.Url("/missing.html")], 404);
    EXPECT_EQ(statusOf[secureUrl], 200);
    EXPECT_EQ(bodyOf[www.Url("/img.png")], image);  // the bytes as sent
    EXPECT_EQ(bodyOf[secureUrl], "<p>secure page</p>");
    const std::string outlinks = typeOf["metadata " + www.Url("/index.html")];
    EXPECT_NE(outlinks.find("outlink: " + www.Url("/b.html") + "\r\n"), std::string::npos) << outlinks;
    EXPECT_NE(outlinks.find("outlink: " + secureUrl + "\r\n"), std::string::npos) << outlinks;

    // The index names every response, revisit and resource, and its offsets open them.
    std::vector<std::string> lines;
    {
        std::string text = ReadFile(folder + "/" + archive::IndexNameOf(files[0]));
        for (std::size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
            lines.push_back(text.substr(at, nl - at));
    }
    EXPECT_EQ(lines.size(), indexed);
    EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end()));
    for (const std::string& line : lines) {
        archive::IndexEntry e;
        ASSERT_TRUE(archive::ParseIndexLine(line, e)) << line;
        archive::WarcRecord at;
        ASSERT_TRUE(archive::ReadRecordAt(path, e.offset, e.length, at)) << line;
        EXPECT_EQ(at.Field("WARC-Target-URI"), e.url);
        EXPECT_EQ(archive::IndexTimestamp(at.Field("WARC-Date")), e.timestamp);
        EXPECT_EQ(line.substr(0, line.find(' ')), archive::Surt(e.url));
    }

    // An update run: nginx answers "not modified", recorded as revisits of the first run.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // a run of its own second
    r = Cli({"start", "Sites/site"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    unsetenv("SSL_CERT_FILE");
    files = archive::ArchiveFiles(folder);
    ASSERT_EQ(files.size(), 2u);
    int notModified = 0, identical = 0;
    for (const ReadRecord& rr : ReadWhole(folder + "/" + files[1])) {
        const archive::WarcRecord& rec = rr.record;
        EXPECT_EQ(archive::Sha1Base32(rec.block), rec.Field("WARC-Block-Digest"));
        if (rec.Field("WARC-Type") != "revisit") continue;
        EXPECT_EQ(rec.Field("WARC-Refers-To-Target-URI"), rec.Field("WARC-Target-URI"));
        EXPECT_EQ(rec.Field("WARC-Refers-To-Date"), dateOf[rec.Field("WARC-Target-URI")]);
        if (rec.Field("WARC-Target-URI") == secureUrl) {
            // The scripted server answers in full each time: the same payload as before.
            EXPECT_EQ(rec.Field("WARC-Profile"), "http://netpreserve.org/warc/1.1/revisit/identical-payload-digest");
            EXPECT_EQ(rec.Field("WARC-Payload-Digest"), archive::Sha1Base32("<p>secure page</p>"));
            ++identical;
            continue;
        }
        EXPECT_EQ(rec.Field("WARC-Profile"), "http://netpreserve.org/warc/1.1/revisit/server-not-modified");
        EXPECT_EQ(archive::HttpStatus(rec.block), 304);
        ++notModified;
    }
    EXPECT_GE(notModified, 5);  // index, style sheet, images, page b
    EXPECT_EQ(identical, 1);

    // warcio reads every record of both runs and finds the same digests.
    const std::string modules = WarcioModules();
    RunResult check = RunProgram({"node", std::string(QM_ARCHIVE_TEST_DIR) + "/warcio_check.mjs", modules,
                                  folder + "/" + files[0], folder + "/" + files[1]});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_NE(check.out.find(files[0] + " records=" + std::to_string(records.size()) + " "), std::string::npos)
        << check.out;
    for (const std::string& line : lines) {
        archive::IndexEntry e;
        archive::ParseIndexLine(line, e);
        EXPECT_NE(check.out.find(std::to_string(e.offset)), std::string::npos)
            << "warcio found no record at " << e.offset;
    }

    // Both runs in one WACZ package, as Python's zip and hash modules read it.
    const std::string wacz = dir_ + "/site.wacz";
    r = Cli({"export", "Sites/site", wacz});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    RunResult pack = RunProgram({"python3", std::string(QM_ARCHIVE_TEST_DIR) + "/wacz_check.py", wacz});
    EXPECT_EQ(pack.exitCode, 0) << pack.out << pack.err;
    EXPECT_NE(pack.out.find("\nok\n"), std::string::npos) << pack.out;
    for (const std::string& name : {"archive/" + files[0], "archive/" + files[1], std::string("indexes/index.cdx"),
                                    std::string("pages/pages.jsonl")})
        EXPECT_NE(pack.out.find(name + "\n"), std::string::npos) << name;
    EXPECT_NE(pack.out.find("page {\"title\": \"Start\", \"ts\": \"" + dateOf[www.Url("/index.html")] +
                            "\", \"url\": \"" + www.Url("/index.html") + "\"}"),
              std::string::npos)
        << pack.out;
    EXPECT_EQ(Cli({"export", "Sites/site"}).exitCode, 2);

    // An ftp file is a resource record holding the file.
    ASSERT_EQ(Cli({"add", "Files", ftp.Url("/notes.txt"), "--level", "1", "--caption", "ftp"}).exitCode, 0);
    ASSERT_EQ(Cli({"project", "Files/ftp", "WebArchive=True"}).exitCode, 0);
    r = Cli({"start", "Files/ftp"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string ftpFolder;
    std::error_code ec;
    for (auto& e : fs::directory_iterator(store_ + "/Web archives", ec))
        if (e.path().string() != folder) ftpFolder = e.path().string();
    ASSERT_FALSE(ftpFolder.empty());
    files = archive::ArchiveFiles(ftpFolder);
    ASSERT_EQ(files.size(), 1u);
    const std::vector<ReadRecord> ftpRecords = ReadWhole(ftpFolder + "/" + files[0]);
    int resources = 0;
    for (const ReadRecord& rr : ftpRecords) {
        if (rr.record.Field("WARC-Type") != "resource") continue;
        ++resources;
        EXPECT_EQ(rr.record.Field("WARC-Target-URI"), ftp.Url("/notes.txt"));
        EXPECT_EQ(rr.record.block, "ftp notes");
        EXPECT_EQ(archive::Sha1Base32("ftp notes"), rr.record.Field("WARC-Payload-Digest"));
    }
    EXPECT_EQ(resources, 1);
    // A Project that recorded nothing has nothing to export.
    ASSERT_EQ(Cli({"add", "Files", www.Url("/b.html"), "--caption", "plain"}).exitCode, 0);
    r = Cli({"export", "Files/plain", dir_ + "/none.wacz"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("has no web archive yet"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir_ + "/none.wacz"));
}

TEST_F(CliArchiveTest, AKilledRunLeavesFilesThatReadToTheirEnd) {
    std::string links;
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(
            WriteFile(Site("www") + "/p" + std::to_string(i) + ".html", "<p>page " + std::to_string(i) + "</p>"));
        links += "<a href=p" + std::to_string(i) + ".html>p</a>";
    }
    ASSERT_TRUE(WriteFile(Site("www") + "/slow.bin", std::string(4000000, 's')));
    ASSERT_TRUE(WriteFile(Site("www") + "/index.html", links + "<a href=slow.bin>slow</a>"));
    NginxPeer www(Site("www"), "location /slow { limit_rate 20k; }\n");
    ASSERT_TRUE(www.Ok()) << www.Error();
    ASSERT_EQ(Cli({"add", "Sites", www.Url("/index.html"), "--level", "2", "--caption", "site"}).exitCode, 0);
    ASSERT_EQ(Cli({"project", "Sites/site", "WebArchive=True"}).exitCode, 0);

    ChildProcess run;
    ASSERT_TRUE(run.Start({CliPath(), "--home", home_, "start", "Sites/site"}, dir_ + "/killed.log"));
    // Killed once the small pages are recorded and the slow file is still coming.
    std::string folder, file;
    for (int i = 0; i < 600 && run.Running(); ++i) {
        folder = ArchiveFolderUnder(store_);
        std::vector<std::string> files = folder.empty() ? std::vector<std::string>{} : archive::ArchiveFiles(folder);
        std::error_code ec;
        if (!files.empty() && fs::file_size(folder + "/" + files[0], ec) > 20000) {
            file = folder + "/" + files[0];
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_FALSE(file.empty()) << ReadFile(dir_ + "/killed.log");
    ASSERT_EQ(::kill(run.Pid(), SIGKILL), 0);
    while (run.Running()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(fs::exists(archive::IndexNameOf(file))) << "a killed run writes no index";

    fs::remove(Site("www") + "/slow.bin");
    RunResult r = Cli({"start", "Sites/site"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> files = archive::ArchiveFiles(folder);
    ASSERT_EQ(files.size(), 2u);
    for (const std::string& name : files) {
        SCOPED_TRACE(name);
        const std::vector<ReadRecord> records = ReadWhole(folder + "/" + name);
        EXPECT_GE(records.size(), 10u);
        EXPECT_TRUE(fs::exists(folder + "/" + archive::IndexNameOf(name)));
        for (const ReadRecord& rr : records)
            EXPECT_EQ(archive::Sha1Base32(rr.record.block), rr.record.Field("WARC-Block-Digest"));
    }
}

// Every stored file below root (archive folders left out), by its path under root.
std::map<std::string, std::string> StoredFiles(const std::string& root) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        const std::string rel = fs::relative(it->path(), root, ec).string();
        if (rel.rfind("Web archives", 0) == 0) {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file(ec)) out[rel] = ReadFile(it->path().string());
    }
    return out;
}

TEST_F(CliArchiveTest, ALargeAnswerIsRecordedFromDiskAndReadsBackWhole) {
    // 40 MB that do not compress, ten times what a transfer keeps in memory.
    std::string big(40u << 20, '\0');
    std::uint32_t seed = 12345;
    for (char& c : big) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    ASSERT_TRUE(WriteFile(Site("www") + "/big.bin", big));
    ASSERT_TRUE(WriteFile(Site("www") + "/index.html", "<a href=big.bin>big</a>"));
    NginxPeer www(Site("www"));
    ASSERT_TRUE(www.Ok()) << www.Error();
    ASSERT_EQ(Cli({"add", "Sites", www.Url("/index.html"), "--level", "2", "--caption", "big"}).exitCode, 0);
    ASSERT_EQ(Cli({"project", "Sites/big", "WebArchive=True"}).exitCode, 0);
    RunResult r = Cli({"start", "Sites/big"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string folder = ArchiveFolderUnder(store_);
    const std::vector<std::string> files = archive::ArchiveFiles(folder);
    ASSERT_EQ(files.size(), 1u);
    bool found = false;
    for (const ReadRecord& rr : ReadWhole(folder + "/" + files[0])) {
        const archive::WarcRecord& rec = rr.record;
        EXPECT_EQ(archive::Sha1Base32(rec.block), rec.Field("WARC-Block-Digest"));
        if (rec.Field("WARC-Type") != "response" || rec.Field("WARC-Target-URI") != www.Url("/big.bin")) continue;
        found = true;
        std::string_view head, body;
        ASSERT_TRUE(archive::SplitHttpMessage(rec.block, head, body));
        EXPECT_EQ(body.size(), big.size());
        EXPECT_TRUE(body == big);
        EXPECT_EQ(rec.Field("WARC-Payload-Digest"), archive::Sha1Base32(big));
        EXPECT_EQ(rec.Field("WARC-Truncated"), "");
    }
    EXPECT_TRUE(found);
    // The bytes waited in files nobody sees: the archive and its index are all there is.
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    EXPECT_EQ(names.size(), 2u) << ::testing::PrintToString(names);
}

TEST_F(CliArchiveTest, ImportedArchivesOfWgetAndOfOurOwnGiveWholeStoredSites) {
    std::string image;
    for (int i = 0; i < 3000; ++i) image += static_cast<char>((i * 31) % 256);
    ASSERT_TRUE(WriteFile(Site("www") + "/img.png", image));
    ASSERT_TRUE(WriteFile(Site("www") + "/style.css", "body { background: url(bg.png) }"));
    ASSERT_TRUE(WriteFile(Site("www") + "/bg.png", std::string(200, '\x89')));
    ASSERT_TRUE(WriteFile(Site("www") + "/sub/b.html", "<p>page b</p><a href=../index.html>home</a>"));
    ASSERT_TRUE(WriteFile(Site("www") + "/index.html",
                          "<html><head><title>Start</title><link rel=stylesheet href=style.css></head><body>"
                          "<img src=img.png><a href=sub/b.html>b</a><a href=old>old</a></body></html>"));
    NginxPeer www(Site("www"),
                  "gzip on; gzip_types text/css; gzip_min_length 1;\n"
                  "location = /old { return 301 /sub/b.html; }\n");
    ASSERT_TRUE(www.Ok()) << www.Error();

    const std::string host = "127.0.0.1+" + std::to_string(www.Port());
    // A second program folder with a download folder of its own for each import.
    auto otherCli = [this](const std::string& name) {
        const std::string home = dir_ + "/" + name + "-home", files = dir_ + "/" + name + "-files";
        fs::create_directories(home);
        fs::create_directories(files);
        EXPECT_EQ(RunCli({"--home", home, "options", "PathPrefix=" + files + "/"}).exitCode, 0);
        return std::pair<std::string, std::string>(home, files);
    };

    // Our own recording, exported as WACZ and imported elsewhere: the same stored site.
    ASSERT_EQ(Cli({"add", "Sites", www.Url("/index.html"), "--level", "5", "--caption", "own"}).exitCode, 0);
    ASSERT_EQ(Cli({"project", "Sites/own", "WebArchive=True"}).exitCode, 0);
    r_ = Cli({"start", "Sites/own"});
    ASSERT_EQ(r_.exitCode, 0) << r_.err;
    const std::map<std::string, std::string> downloaded = StoredFiles(store_);
    r_ = Cli({"export", "Sites/own", dir_ + "/own.wacz"});
    ASSERT_EQ(r_.exitCode, 0) << r_.err;
    const auto [copyHome, copyFiles] = otherCli("copy");
    r_ = RunCli({"--home", copyHome, "import", dir_ + "/own.wacz", "Copies", "--caption", "copy"}, 300000);
    ASSERT_EQ(r_.exitCode, 0) << r_.err;
    RunResult check = RunCli({"--home", copyHome, "check", "Copies/copy"});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    const std::map<std::string, std::string> imported = StoredFiles(copyFiles);
    for (const char* name : {"/index.html", "/img.png", "/style.css", "/bg.png", "/sub/b.html", "/old"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(imported.count(host + name));
        ASSERT_TRUE(downloaded.count(host + name));
        EXPECT_TRUE(imported.at(host + name) == downloaded.at(host + name));
    }
    // The archive is kept with the Project, indexed: it exports again.
    const std::string kept = ArchiveFolderUnder(copyFiles);
    ASSERT_EQ(archive::ArchiveFiles(kept).size(), 1u);
    EXPECT_TRUE(fs::exists(kept + "/" + archive::IndexNameOf(archive::ArchiveFiles(kept)[0])));
    EXPECT_EQ(RunCli({"--home", copyHome, "export", "Copies/copy", dir_ + "/again.wacz"}).exitCode, 0);

    // wget's archive of the site (its css sent compressed), imported.
    const std::string wgetDir = Site("wget");
    fs::create_directories(wgetDir);
    RunResult got = RunProgram({"wget", "-q", "-r", "-l", "5", "-p", "-e", "robots=off", "--compression=auto", "-P",
                                wgetDir + "/files", "--warc-file=" + wgetDir + "/site", www.Url("/index.html")},
                               120000);
    ASSERT_TRUE(fs::exists(wgetDir + "/site.warc.gz")) << got.err;
    const auto [wgetHome, wgetFiles] = otherCli("wget");
    r_ = RunCli({"--home", wgetHome, "import", wgetDir + "/site.warc.gz", "Imported"}, 300000);
    ASSERT_EQ(r_.exitCode, 0) << r_.err;
    check = RunCli({"--home", wgetHome, "check", "Imported/site"});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_NE(check.out.find(" broken=0 "), std::string::npos) << check.out;
    std::map<std::string, std::string> stored = StoredFiles(wgetFiles);
    const std::string index = stored[host + "/index.html"];
    // Links translated for offline reading, as after a download.
    EXPECT_EQ(index, downloaded.at(host + "/index.html"));
    EXPECT_TRUE(stored[host + "/img.png"] == image);
    EXPECT_EQ(stored[host + "/style.css"], "body { background: url(bg.png) }");  // unpacked from gzip
    EXPECT_EQ(stored[host + "/old"], downloaded.at(host + "/old")) << "the redirect leads on";
    const std::string& otherHome = copyHome;

    // Damaged or foreign input: a clear failure, and no Project made.
    ASSERT_TRUE(WriteFile(dir_ + "/junk.wacz", "not a zip"));
    r_ = RunCli({"--home", otherHome, "import", dir_ + "/junk.wacz", "Copies"});
    EXPECT_EQ(r_.exitCode, 1);
    EXPECT_NE(r_.err.find("not a ZIP file"), std::string::npos) << r_.err;
    EXPECT_EQ(RunCli({"--home", otherHome, "import", dir_ + "/junk.wacz"}).exitCode, 2);
    EXPECT_EQ(RunCli({"--home", otherHome, "list"}).out.find("junk"), std::string::npos);
}

// Installs ReplayWeb.page's built player (index.html, ui.js, sw.js: no dependencies) into
// the build's npm folder once; the folder holding it.
std::string ReplayWebPage() {
    const std::string dir = std::string(QM_NPM_DIR) + "/replaywebpage";
    if (!fs::exists(dir + "/package/sw.js")) {
        fs::create_directories(dir);
        RunResult r = RunProgram({"npm", "pack", "--silent", "--pack-destination", dir, "replaywebpage@2.4.6"}, 300000);
        if (r.exitCode != 0) ADD_FAILURE() << "npm could not fetch replaywebpage: " << r.err;
        r = RunProgram({"tar", "-xzf", dir + "/replaywebpage-2.4.6.tgz", "-C", dir});
        if (r.exitCode != 0) ADD_FAILURE() << "cannot unpack replaywebpage: " << r.err;
    }
    return dir + "/package";
}

TEST_F(CliArchiveTest, AnExportedArchiveReplaysInAPlayerAfterTheSiteIsGone) {
    if (FindProgram("chromium").empty()) GTEST_SKIP() << "chromium is not installed";
    // A 20 x 10 red image: the player must serve it from the package for it to load.
    RunResult made = RunProgram(
        {"python3", "-c",
         "import sys,zlib,struct\n"
         "def c(t,d): return struct.pack('>I',len(d))+t+d+struct.pack('>I',zlib.crc32(t+d)&0xffffffff)\n"
         "raw=b''.join(b'\\x00'+b'\\xff\\x00\\x00'*20 for _ in range(10))\n"
         "sys.stdout.buffer.write(b'\\x89PNG\\r\\n\\x1a\\n'+c(b'IHDR',struct.pack('>IIBBBBB',20,10,8,2,0,0,0))"
         "+c(b'IDAT',zlib.compress(raw))+c(b'IEND',b''))"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    ASSERT_TRUE(WriteFile(Site("www") + "/pic.png", made.out));
    ASSERT_TRUE(WriteFile(Site("www") + "/index.html",
                          "<html><head><title>Replay start</title></head><body><p>Hello from the archived "
                          "page</p><img src=pic.png></body></html>"));
    std::string pageUrl;
    {
        NginxPeer www(Site("www"));
        ASSERT_TRUE(www.Ok()) << www.Error();
        pageUrl = www.Url("/index.html");
        ASSERT_EQ(Cli({"add", "Sites", pageUrl, "--level", "2", "--caption", "replay"}).exitCode, 0);
        ASSERT_EQ(Cli({"project", "Sites/replay", "WebArchive=True"}).exitCode, 0);
        RunResult r = Cli({"start", "Sites/replay"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }  // the original server is gone from here on

    // The player and the package served from one loopback server.
    const std::string player = ReplayWebPage();
    const std::string served = Site("served");
    fs::create_directories(served);
    for (const char* name : {"index.html", "ui.js", "sw.js"}) fs::copy_file(player + "/" + name, served + "/" + name);
    RunResult r = Cli({"export", "Sites/replay", served + "/site.wacz"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    NginxPeer host(served);
    ASSERT_TRUE(host.Ok()) << host.Error();
    const int devtools = FreePort();
    ChildProcess browser;
    ASSERT_TRUE(
        browser.Start({"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                       "--no-first-run", "--user-data-dir=" + MakeTempDir("replay-profile"),
                       "--remote-debugging-port=" + std::to_string(devtools), "about:blank"},
                      dir_ + "/chromium.log"));
    const std::string address = host.Url("/index.html?source=") + host.Url("/site.wacz") + "#view=pages&url=" + pageUrl;
    RunResult shown =
        RunProgram({"node", "--experimental-websocket", std::string(QM_ARCHIVE_TEST_DIR) + "/replay_check.mjs",
                    std::to_string(devtools), address, "90000"},
                   180000);
    EXPECT_EQ(shown.exitCode, 0) << shown.out << shown.err << ReadFile(dir_ + "/chromium.log");
    EXPECT_NE(shown.out.find("\"text\":\"Hello from the archived page\""), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("\"title\":\"Replay start\""), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("\"image\":\"20x10\""), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("/mp_/" + pageUrl), std::string::npos) << "replayed from the archive: " << shown.out;
}

}  // namespace
}  // namespace qm::test
