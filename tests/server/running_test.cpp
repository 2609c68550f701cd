// The server running on loopback: every answer byte for byte, the path mapping into stored
// sites, and the guards against escaping the download folders and against idle clients.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "client.h"
#include "platform/event_loop.h"
#include "server/responses.h"
#include "net/sockets.h"
#include "server/web_server.h"
#include "store/description_file.h"
#include "store/folder.h"
#include "store/options.h"
#include "store/project.h"
#include "store/project_tree.h"
#include "support/peers.h"

namespace qm {
namespace {

using test::BodyOf;
using test::Exchange;
using test::Get;
using test::HeaderOf;
using test::StatusLine;

const char kStub[] =
    "<HTML><HEAD><META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; URL=../new/x.htm\"><TITLE>302 File "
    "moved</TITLE></HEAD></HTML>";

std::string Bytes1000() {
    std::string s;
    for (int i = 0; i < 1000; ++i) s += static_cast<char>('a' + i % 26);
    return s;
}

class RunningServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { platform::InitEventLoop(); }

    void SetUp() override {
        store::Options().Reset();
        root_ = test::MakeTempDir("served");
        store::Options().PathPrefix = root_ + "/default/";
        store::Options().HTTPPort = test::FreePort();
        store::ProjectFolder& sites = tree_.AddFolder("Sites");
        sites.Dir = root_ + "/sites/";
        auto p = std::make_unique<store::Project>();
        p->IID = 7;
        p->Caption = "Host site";
        p->URL = "http://host/index.htm";
        tree_.AddProject(sites, std::move(p));
        const std::string site = root_ + "/sites/host/";
        ASSERT_TRUE(test::WriteFile(site + "index.htm", "<html>start</html>"));
        ASSERT_TRUE(test::WriteFile(site + "data.bin", Bytes1000()));
        ASSERT_TRUE(test::WriteFile(site + "old.htm", kStub));
        ASSERT_TRUE(
            test::WriteFile(site + "fake.htm", "<HTML><HEAD><META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; URL=no-quote"));
        ASSERT_TRUE(test::WriteFile(site + "dir/default.htm", "<html>default doc</html>"));
        ASSERT_TRUE(test::WriteFile(site + "list/a.htm", "<html>a</html>"));
        ASSERT_TRUE(test::WriteFile(site + "list/a.htm.primary", "<html>a as received</html>"));
        ASSERT_TRUE(test::WriteFile(site + "list/Descr.QV3", "a.htm\r\ntext/html\r\n"));
        ASSERT_TRUE(test::WriteFile(root_ + "/secret.txt", "not for the web"));
        ASSERT_TRUE(test::WriteFile(root_ + "/dd/other/page.htm", "<html>from dd</html>"));
        SetServedTree(&tree_);
        StartServer();
        ASSERT_TRUE(platform::RunUntil([] { return ServerRunning(); }, 10000));
        port_ = ServerPort();
    }

    void TearDown() override {
        StopServer();
        SetServedTree(nullptr);
        SetServerLimits(ServerLimits{});
    }

    std::string Get(const std::string& path, const std::string& extra = "") { return test::Get(port_, path, extra); }

    store::ProjectTree tree_;
    std::string root_;
    int port_ = 0;
};

// Browsers that try [::1] first find the same server there, with the same answers.
TEST_F(RunningServer, AlsoListensOnIpv6Loopback) {
    if (!test::HasIpv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback ([::1])";
    const std::string request =
        "GET /Sites/host/index.htm HTTP/1.0\r\nHost: [::1]:" + std::to_string(port_) + "\r\n\r\n";
    const std::string over6 = Exchange(port_, request, 20000, true);
    EXPECT_EQ(BodyOf(over6), "<html>start</html>") << over6;
    EXPECT_EQ(over6, Exchange(port_, request));
    EXPECT_EQ(StatusLine(Exchange(port_, "GET / HTTP/1.0\r\nHost: example.org\r\n\r\n", 20000, true)),
              StatusLine(Exchange(port_, "GET / HTTP/1.0\r\nHost: example.org\r\n\r\n")))
        << "the same host check on both";
}

TEST_F(RunningServer, OtherMethodsAndMissingPathsGet500) {
    EXPECT_EQ(Exchange(port_, "POST / HTTP/1.0\r\nContent-Length: 0\r\n\r\n"), server::Response500());
    EXPECT_EQ(Exchange(port_, "head / HTTP/1.0\r\n\r\n"), server::Response500());
    // The path "/" with nothing after it: no second blank, so no path.
    EXPECT_EQ(Exchange(port_, "GET /\r\n\r\n"), server::Response500());
    EXPECT_EQ(Exchange(port_, "garbage"), server::Response500());
    // A connection that sends nothing is closed without an answer.
    EXPECT_EQ(Exchange(port_, "", 1000), "");
}

TEST_F(RunningServer, IndexAndProjectPages) {
    const std::string index = Get("/");
    const std::string body = BodyOf(index);
    EXPECT_EQ(HeaderOf(index), server::PageHeader(body.size()));
    EXPECT_NE(body.find(">Sites</u>"), std::string::npos);
    EXPECT_NE(body.find("<a href=\"/?exec/7\">Host site</a>"), std::string::npos);

    const std::string info = Get("/?exec/7");
    EXPECT_EQ(HeaderOf(info), server::PageHeader(BodyOf(info).size()));
    EXPECT_NE(info.find("<a href=\"Sites/host/index.htm\">Host site</a>"), std::string::npos);
    const std::string unknown = Get("/?exec/seven");
    EXPECT_EQ(StatusLine(unknown), "HTTP/1.0 200 OK");
    EXPECT_EQ(unknown.find("Project name"), std::string::npos);
}

TEST_F(RunningServer, PicturesInAnyLetterCase) {
    for (const char* path : {"/UpFold.gif", "/upfold.gif", "/UPFOLD.GIF"}) {
        const std::string r = Get(path);
        EXPECT_EQ(
            HeaderOf(r),
            "HTTP/1.0 200 OK\r\nServer: Velloran 4.0 (Win32)\r\nContent-Type: image/gif\r\nContent-Length: 151\r\n\r\n")
            << path;
        EXPECT_EQ(BodyOf(r).size(), 151u);
        EXPECT_EQ(BodyOf(r).substr(0, 6), "GIF89a");
    }
    EXPECT_EQ(BodyOf(Get("/Folder.gif")).size(), 145u);
    EXPECT_EQ(BodyOf(Get("/empty.gif")).size(), 58u);
    EXPECT_EQ(BodyOf(Get("/start.GIF")).size(), 147u);
}

TEST_F(RunningServer, StoredFilesWholeAndRanges) {
    const std::string whole = Get("/Sites/host/data.bin");
    EXPECT_EQ(HeaderOf(whole),
              "HTTP/1.0 200 OK\r\nServer: Velloran 4.0 (Win32)\r\nContent-Type: \r\nContent-Length: 1000\r\n\r\n");
    EXPECT_EQ(BodyOf(whole), Bytes1000());

    const std::string part = Get("/Sites/host/data.bin", "Range: bytes=100-\r\n");
    EXPECT_EQ(HeaderOf(part),
              "HTTP/1.0 206 Partial content\r\nServer: Velloran 4.0 (Win32)\r\nContent-Type: \r\n"
              "Content-Length: 900\r\nContent-Range: bytes 100-999/1000\r\n\r\n");
    EXPECT_EQ(BodyOf(part), Bytes1000().substr(100));
    // The end of a range is not honoured: the answer runs to the end of the file.
    EXPECT_EQ(HeaderOf(Get("/Sites/host/data.bin", "Range: bytes=100-199\r\n")), HeaderOf(part));
    // No digit: the whole file.
    EXPECT_EQ(HeaderOf(Get("/Sites/host/data.bin", "Range: bytes=x\r\nAccept: */*\r\n")), HeaderOf(whole));
    // A start past the end cannot be served as a part: the whole file again.
    const std::string past = Get("/Sites/host/data.bin", "Range: bytes=5000-\r\n");
    EXPECT_EQ(HeaderOf(past), HeaderOf(whole));
    EXPECT_EQ(BodyOf(past).size(), 1000u);

    const std::string page = Get("/Sites/host/index.htm");
    EXPECT_NE(HeaderOf(page).find("Content-Type: text/html\r\nContent-Length: 18\r\n"), std::string::npos);
    EXPECT_EQ(BodyOf(page), "<html>start</html>");
    // The folder caption is matched without regard to case and may be escaped.
    EXPECT_EQ(BodyOf(Get("/SITES/host/index.htm")), "<html>start</html>");
    EXPECT_EQ(BodyOf(Get("/Si%74es/host/index.htm")), "<html>start</html>");
}

TEST_F(RunningServer, StubsFoldersAndMissingFiles) {
    EXPECT_EQ(Get("/Sites/host/old.htm"), server::Response302("../new/x.htm"));
    EXPECT_EQ(BodyOf(Get("/Sites/host/fake.htm")).substr(0, 6), "<HTML>");
    EXPECT_EQ(Get("/Sites/host/dir"), server::Response302("/Sites/host/dir/"));
    EXPECT_EQ(BodyOf(Get("/Sites/host/dir/")), "<html>default doc</html>");
    EXPECT_EQ(Get("/Sites/host/nothing.htm"), server::Response404());
    EXPECT_EQ(Get("/Elsewhere/x.htm"), server::Response404());
    EXPECT_EQ(Get("/Sites/"), server::Response302("/"));

    const std::string listing = Get("/Sites/host/list/");
    EXPECT_EQ(HeaderOf(listing), server::PageHeader(BodyOf(listing).size()));
    EXPECT_NE(listing.find("<h3>Directory of /Sites/host/list/</h3>"), std::string::npos);
    EXPECT_NE(listing.find("<a href=\"a.htm\">a.htm</a>"), std::string::npos);
    EXPECT_NE(listing.find("<a href=\"..\">..</a>"), std::string::npos);
    EXPECT_EQ(listing.find(".primary"), std::string::npos);
    EXPECT_EQ(listing.find("Descr"), std::string::npos);
}

TEST_F(RunningServer, OfferedDownloadFoldersAreSearched) {
    store::Options().DDs.Add(root_ + "/nowhere/");
    store::Options().DDs.Add(root_ + "/dd/");
    EXPECT_EQ(BodyOf(Get("/other/page.htm")), "<html>from dd</html>");
    // Found again through the remembered folder.
    EXPECT_EQ(BodyOf(Get("/other/page.htm")), "<html>from dd</html>");
}

TEST_F(RunningServer, NothingOutsideTheDownloadFolders) {
    const std::string secret = root_ + "/secret.txt";
    for (const std::string& path :
         {std::string("/Sites/../secret.txt"), std::string("/Sites/%2e%2e/secret.txt"),
          std::string("/Sites/%2E%2E%2Fsecret.txt"), std::string("/Sites/host/..%2f..%2fsecret.txt"),
          std::string("/Sites/host/..\\..\\secret.txt"), std::string("/Sites/host/%2e%2e%5c%2e%2e%5csecret.txt"),
          std::string("/../secret.txt"), std::string("/c%") + secret, std::string("/c%/etc/passwd"),
          std::string("/c%") + root_ + "/sites/host/../../secret.txt",
          std::string("/c%") + root_ + "/sites/host/%2e%2e/%2e%2e/secret.txt"}) {
        EXPECT_EQ(Get(path), server::Response404()) << path;
    }
    // The local drive form inside a download folder still works.
    EXPECT_EQ(BodyOf(Get(std::string("/c%") + root_ + "/sites/host/index.htm")), "<html>start</html>");
    EXPECT_EQ(BodyOf(Get(std::string("/c%") + root_ + "/sites/ho%73t/index.htm")), "<html>start</html>");
}

// Addresses a stored page's scripts ask for with a query find the files their downloads were
// stored under ("items?page=2" in "items@page=2"), with the type the download recorded.
TEST_F(RunningServer, QueryAddressesFindTheirStoredFiles) {
    const std::string site = root_ + "/sites/host/";
    ASSERT_TRUE(test::WriteFile(site + "api/items@page=2", "{\"items\":[2]}"));
    ASSERT_TRUE(test::WriteFile(site + "api/items@q=a_20b&n=1", "{\"q\":\"a b\"}"));
    ASSERT_TRUE(test::WriteFile(site + "api/moved@id=1", kStub));
    ASSERT_TRUE(test::WriteFile(site + "style.css@v=3", "p{color:red}"));
    ASSERT_TRUE(test::WriteFile(site + "mail@home.htm", "<html>at sign</html>"));
    ASSERT_TRUE(test::WriteFile(site + "legacy.htm@x=A", "<html>decoded query</html>"));
    ASSERT_TRUE(test::WriteFile(site + "feed@v=2.json", "{\"feed\":1}"));
    store::FileDescription json;
    json.Name = "items@page=2";
    json.ContentType = "application/json; charset=utf-8";
    ASSERT_TRUE(store::WriteDescription(site + "api", json));
    store::FileDescription stub;
    stub.Name = "moved@id=1";
    stub.ContentType = "text/html";
    ASSERT_TRUE(store::WriteDescription(site + "api", stub));
    store::FileDescription hostile;
    hostile.Name = "items@q=a_20b&n=1";
    hostile.ContentType = "text/plain\r\nX-Injected: 1";
    ASSERT_TRUE(store::WriteDescription(site + "api", hostile));

    const std::string items = Get("/Sites/host/api/items?page=2");
    EXPECT_EQ(HeaderOf(items),
              "HTTP/1.0 200 OK\r\nServer: Velloran 4.0 (Win32)\r\nContent-Type: application/json; charset=utf-8\r\n"
              "Content-Length: 13\r\n\r\n");
    EXPECT_EQ(BodyOf(items), "{\"items\":[2]}");
    // The stored name itself still answers, and so does a name that really holds "@".
    EXPECT_EQ(BodyOf(Get("/Sites/host/api/items@page=2")), "{\"items\":[2]}");
    EXPECT_EQ(BodyOf(Get("/Sites/host/mail@home.htm")), "<html>at sign</html>");
    // The query is named as the download named it: its "%" became "_".
    const std::string escaped = Get("/Sites/host/api/items?q=a%20b&n=1");
    EXPECT_EQ(BodyOf(escaped), "{\"q\":\"a b\"}");
    EXPECT_NE(HeaderOf(escaped).find("Content-Type: \r\n"), std::string::npos)
        << "a recorded type that is no header value";
    EXPECT_EQ(escaped.find("X-Injected"), std::string::npos);
    // A stored redirect is followed, the type of the file before the query is kept.
    EXPECT_EQ(Get("/Sites/host/api/moved?id=1"), server::Response302("../new/x.htm"));
    EXPECT_NE(HeaderOf(Get("/Sites/host/style.css?v=3")).find("Content-Type: text/css\r\n"), std::string::npos);
    ASSERT_TRUE(test::WriteFile(site + "app.mjs@v=1", "export const x = 1;"));
    ASSERT_TRUE(test::WriteFile(site + "app.mjs", "export const x = 2;"));
    for (const char* path : {"/Sites/host/app.mjs?v=1", "/Sites/host/app.mjs"})
        EXPECT_NE(HeaderOf(Get(path)).find("Content-Type: text/javascript\r\n"), std::string::npos) << path;
    // A query decoded whole, as such requests were looked for before.
    EXPECT_EQ(BodyOf(Get("/Sites/host/legacy.htm?x=%41")), "<html>decoded query</html>");
    // Names stored with the extension last.
    EXPECT_EQ(Get("/Sites/host/feed.json?v=2"), server::Response404());
    store::Options().ExtLast = true;
    EXPECT_EQ(BodyOf(Get("/Sites/host/feed.json?v=2")), "{\"feed\":1}");
    EXPECT_EQ(BodyOf(Get("/Sites/host/api/items?page=2")), "{\"items\":[2]}");
    store::Options().ExtLast = false;
    // Nothing stored for the query.
    EXPECT_EQ(Get("/Sites/host/api/items?page=3"), server::Response404());
    EXPECT_EQ(Get("/Sites/host/api/items"), server::Response404());
    // A query never climbs out of the download folders.
    for (const std::string& path :
         {std::string("/Sites/host/api/items?x=/../../../secret.txt"),
          std::string("/Sites/host/x?/../../../secret.txt"), std::string("/Sites/host/..?x=1"),
          std::string("/Sites/host/%2e%2e/%2e%2e/secret.txt?x=1"), std::string("/c%") + root_ + "/secret.txt?x=1"}) {
        EXPECT_EQ(Get(path), server::Response404()) << path;
    }
}

// A script's request for an address from the top of the server ("/api/items?page=2") is
// looked for in the stored site of the page that made it, which the Referer names.
TEST_F(RunningServer, TopLevelAddressesOfAStoredPage) {
    const std::string site = root_ + "/sites/host/";
    ASSERT_TRUE(test::WriteFile(site + "api/items@page=2", "{\"items\":[2]}"));
    ASSERT_TRUE(test::WriteFile(root_ + "/default/plain/api/items@page=2", "{\"plain\":1}"));
    const std::string us = "http://127.0.0.1:" + std::to_string(port_);
    const std::string fromPage = "Referer: " + us + "/Sites/host/sub/index.htm?tab=1\r\n";
    EXPECT_EQ(BodyOf(Get("/api/items?page=2", fromPage)), "{\"items\":[2]}");
    EXPECT_EQ(BodyOf(Get("/index.htm", "Referer: http://localhost:" + std::to_string(port_) + "/sites/host/x.htm\r\n")),
              "<html>start</html>");
    // A site under the download folder, reached without a folder caption.
    EXPECT_EQ(BodyOf(Get("/api/items?page=2", "Referer: " + us + "/plain/page.htm\r\n")), "{\"plain\":1}");
    // Found as it stands first: the Referer only helps what is missing.
    EXPECT_EQ(BodyOf(Get("/Sites/host/index.htm", "Referer: " + us + "/plain/page.htm\r\n")), "<html>start</html>");
    // No Referer, another server's page, or one that names no site: not found.
    EXPECT_EQ(Get("/api/items?page=2"), server::Response404());
    EXPECT_EQ(Get("/api/items?page=2", "Referer: http://example.org/Sites/host/index.htm\r\n"), server::Response404());
    EXPECT_EQ(Get("/api/items?page=2", "Referer: http://127.0.0.1:1/Sites/host/index.htm\r\n"), server::Response404());
    EXPECT_EQ(Get("/api/items?page=2", "Referer: " + us + "/\r\n"), server::Response404());
    EXPECT_EQ(Get("/api/items?page=2", "Referer: " + us + "/Sites/x.htm\r\n"), server::Response404());
    // A Referer cannot lead out of the download folders either.
    for (const std::string& referer :
         {us + "/../x.htm", us + "/Sites/%2e%2e/x.htm", us + "/Sites/../x.htm", us + "/..%2f../x.htm"}) {
        EXPECT_EQ(Get("/secret.txt", "Referer: " + referer + "\r\n"), server::Response404()) << referer;
    }
}

TEST_F(RunningServer, ListensOnLoopbackOnly) {
    // A listener on every local address would also answer at 127.0.0.2.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port_));
    ::inet_pton(AF_INET, "127.0.0.2", &a.sin_addr);
    EXPECT_NE(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::close(fd);
    EXPECT_EQ(StatusLine(Get("/empty.gif")), "HTTP/1.0 200 OK");
}

TEST_F(RunningServer, TakenPortFallsBackAndRestartMoves) {
    // Another program holds the configured port.
    const int holder = net::CreateListener(test::FreePort(), 0, true);
    ASSERT_GE(holder, 0);
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(holder, reinterpret_cast<sockaddr*>(&a), &len);
    store::Options().HTTPPort = ntohs(a.sin_port);
    StartServer();
    EXPECT_FALSE(ServerRunning() && ServerPort() == port_);
    ASSERT_TRUE(platform::RunUntil([] { return ServerRunning(); }, 10000));
    EXPECT_GE(ServerPort(), 7000);
    EXPECT_LE(ServerPort(), 9000);
    EXPECT_EQ(StatusLine(test::Get(ServerPort(), "/empty.gif")), "HTTP/1.0 200 OK");
    ::close(holder);
}

TEST_F(RunningServer, IdleClientsCannotBlockOthers) {
    StopServer();
    SetServerLimits(ServerLimits{2, 500, 5000});
    StartServer();
    ASSERT_TRUE(platform::RunUntil([] { return ServerRunning(); }, 10000));
    const int port = ServerPort();
    // Two clients that connect and never send take every connection thread.
    std::atomic<int> closedSilently{0};
    std::vector<std::thread> idle;
    for (int i = 0; i < 2; ++i)
        idle.emplace_back([&closedSilently, port] {
            if (test::Exchange(port, "", 20000).empty()) ++closedSilently;
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(StatusLine(test::Get(port, "/empty.gif")), "HTTP/1.0 200 OK");
    for (auto& t : idle) t.join();
    EXPECT_EQ(closedSilently.load(), 2);
}

TEST_F(RunningServer, ManyClientsWhileTheTreeChanges) {
    std::atomic<int> answered{0}, bad{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> clients;
    for (int c = 0; c < 6; ++c)
        clients.emplace_back([&, c] {
            for (int i = 0; i < 15; ++i) {
                const std::string path = (i + c) % 3 == 0 ? "/" : (i % 2 ? "/Sites/host/index.htm" : "/Added/x.htm");
                const std::string r = test::Exchange(port_, "GET " + path + " HTTP/1.0\r\n\r\n");
                const std::string status = StatusLine(r);
                if (status == "HTTP/1.0 200 OK" || status == "HTTP/1.0 404 Not Found")
                    ++answered;
                else
                    ++bad;
            }
        });
    // The main thread keeps changing the tree between the requests it serves.
    platform::Timer changer([this] {
        if (tree_.Folders.size() > 3)
            tree_.Folders.pop_back();
        else
            tree_.AddFolder("Added").Dir = root_ + "/added/";
    });
    changer.Start(1);
    std::thread watcher([&] {
        for (auto& t : clients) t.join();
        done = true;
        platform::Post([] {});
    });
    platform::RunUntil([&] { return done.load(); }, 120000);
    changer.Stop();
    watcher.join();
    EXPECT_EQ(answered.load(), 90);
    EXPECT_EQ(bad.load(), 0);
}

TEST_F(RunningServer, StoredFilesNeedNoMainThreadAndFollowChanges) {
    std::string big;
    for (int i = 0; big.size() < 12u * 1024 * 1024; ++i) big += "line " + std::to_string(i) + "\n";
    ASSERT_TRUE(test::WriteFile(root_ + "/sites/host/big.txt", big));
    ASSERT_TRUE(test::WriteFile(root_ + "/moved/host/index.htm", "<html>moved</html>"));
    // Clients on another thread while the main thread only waits for them, its loop not
    // running: stored files are still answered, a large one to a client that starts reading
    // late (the answer waits for it on an answering thread) as well.
    auto fromOtherThread = [this](const std::function<void()>& fn) {
        std::thread t(fn);
        t.join();
    };
    fromOtherThread([&] {
        EXPECT_EQ(BodyOf(test::Get(port_, "/Sites/host/index.htm")), "<html>start</html>");
        EXPECT_EQ(BodyOf(test::Get(port_, "/sites/host/data.bin", "Range: bytes=990-\r\n")), Bytes1000().substr(990));
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port_));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        const std::string request = "GET /Sites/host/big.txt HTTP/1.0\r\n\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        std::string got;
        char buf[65536];
        for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) got.append(buf, static_cast<std::size_t>(n));
        ::close(fd);
        EXPECT_EQ(StatusLine(got), "HTTP/1.0 200 OK");
        EXPECT_TRUE(BodyOf(got) == big) << BodyOf(got).size() << " of " << big.size() << " bytes";
    });
    // A named pipe is no stored file, and looking at it holds no thread.
    ASSERT_EQ(::mkfifo((root_ + "/sites/host/pipe.htm").c_str(), 0600), 0);
    EXPECT_EQ(Get("/Sites/host/pipe.htm"), server::Response404());
    EXPECT_EQ(BodyOf(Get("/Sites/host/index.htm")), "<html>start</html>");

    // A folder moved: once the main thread has finished that work, requests map to the new place.
    tree_.Folders[0]->Dir = root_ + "/moved/";
    platform::RunUntil([] { return false; }, 20);
    fromOtherThread([&] { EXPECT_EQ(BodyOf(test::Get(port_, "/Sites/host/index.htm")), "<html>moved</html>"); });
    // What the moved folder lacks is looked for with the settings as they stand.
    EXPECT_EQ(Get("/Sites/host/data.bin"), server::Response404());
}

TEST_F(RunningServer, StopEndsListenerAndConnections) {
    StopServer();
    EXPECT_FALSE(ServerRunning());
    EXPECT_EQ(ActiveConnections(), 0);
    EXPECT_EQ(test::Get(port_, "/empty.gif"), "");
}

}  // namespace
}  // namespace qm
