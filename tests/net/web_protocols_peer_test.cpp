// Today's web protocols against real peers on loopback, grouped by feature: compression from
// nginx with gzip and brotli (bodies decoded, a mirror stored exactly as without compression,
// the web archive keeping the bytes as they came), and IPv6 (nginx on [::1], a name with
// only an IPv6 address, raced connects, and a whole mirror of http://[::1]:PORT/).
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "archive/digest.h"
#include "archive/warc_reader.h"
#include "archive/warc_record.h"
#include "archive/warc_writer.h"
#include "codings/chunked_body.h"
#include "net/client_harness.h"
#include "net/connect_race.h"
#include "net/host_lookup.h"
#include "net/kept_connections.h"
#include "support/peers.h"

using namespace qm;
using namespace qm::test;
namespace fs = std::filesystem;

namespace {

// A small site: pages that link each other (one by an absolute address), a style sheet and a
// longer text, all of which nginx compresses.
void WriteSite(const std::string& root, const std::string& absoluteBase) {
    std::string big;
    for (int i = 0; i < 4000; ++i) big += "Row " + std::to_string(i) + ": the same words again and again.\n";
    WriteFile(root + "/index.html",
              "<html><head><link rel=stylesheet href=\"s/site.css\"></head><body>"
              "<a href=\"a.html\">a</a> <a href=\"" +
                  absoluteBase + "/docs/b.html\">b</a> <a href=\"big.txt\">big</a>" + std::string(3000, ' ') +
                  "</body></html>\n");
    WriteFile(root + "/a.html",
              "<html><body><a href=\"docs/b.html\">b</a><p>" + big.substr(0, 5000) + "</p></body></html>\n");
    WriteFile(root + "/docs/b.html", "<html><body><a href=\"../index.html\">home</a></body></html>\n");
    WriteFile(root + "/s/site.css", "body { color: black; background: white; }\n" + big.substr(0, 2000));
    WriteFile(root + "/big.txt", big);
}

// Every stored file under folder, by its path relative to it.
std::map<std::string, std::string> StoredFiles(const std::string& folder) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (auto& e : fs::recursive_directory_iterator(folder, ec))
        if (e.is_regular_file()) files[fs::relative(e.path(), folder).string()] = ReadFile(e.path().string());
    return files;
}

class WebProtocolsPeerTest : public NetTest {
protected:
    void SetUp() override {
        NetTest::SetUp();
        net::kept::CloseAll();
        dir_ = MakeTempDir("webprotocols");
    }
    void TearDown() override { net::kept::CloseAll(); }
    // quillmoor-cli with its own program folder and download folder under name.
    RunResult Cli(const std::string& name, std::vector<std::string> args) {
        const std::string home = dir_ + "/" + name + "/home";
        fs::create_directories(home);
        if (!fs::exists(home + "/registry.reg"))
            // One connection: files end in the same order on every run, and so do the
            // entries of the description files compared below.
            RunCli({"--home", home, "options", "PathPrefix=" + dir_ + "/" + name + "/store/", "KeepAlive=1",
                    "HTTPCount=1"});
        args.insert(args.begin(), {"--home", home});
        return RunCli(args, 300000);
    }
    std::string Store(const std::string& name) const { return dir_ + "/" + name + "/store"; }
    std::string dir_;
};

}  // namespace

// ---- compression ---------------------------------------------------------------------------

TEST_F(WebProtocolsPeerTest, NginxGzipAndBrotliAnswersAreDecoded) {
    const std::string root = dir_ + "/www";
    WriteSite(root, "");
    NginxPeer gzipOnly(root, "gzip on; gzip_min_length 1; gzip_types text/plain;\n");
    NginxPeer both(root, NginxCompressionServer(), NginxCompressionMain());
    ASSERT_TRUE(gzipOnly.Ok()) << gzipOnly.Error();
    ASSERT_TRUE(both.Ok()) << both.Error();
    const std::string big = ReadFile(root + "/big.txt");
    const std::pair<const NginxPeer*, const char*> peers[] = {{&gzipOnly, "gzip"}, {&both, "br"}};
    for (const auto& [peer, coding] : peers) {
        Events e;
        net::DownloadConnection c;
        Attach(c, e);
        c.SetURL(peer->Url("/big.txt"));
        c.TimeOut = 10000;
        ASSERT_TRUE(c.Start(false));
        ASSERT_TRUE(RunToDone(e)) << e.Dump();
        EXPECT_EQ(c.StatusCode, 200);
        EXPECT_NE(c.Header.find("Content-Encoding: " + std::string(coding)), std::string::npos) << c.Header;
        EXPECT_NE(c.Header.find("Transfer-Encoding: chunked"), std::string::npos) << c.Header;
        EXPECT_EQ(e.body, big) << coding;
        EXPECT_TRUE(c.EndedWhole(static_cast<net::DoneCode>(e.code)));
    }
    // A part asks for the stored form: nginx answers it uncompressed, from the byte asked for.
    Events part;
    net::DownloadConnection c;
    Attach(c, part);
    c.SetURL(both.Url("/big.txt"));
    c.ResumeFrom = 1000;
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(part)) << part.Dump();
    EXPECT_EQ(c.StatusCode, 206);
    EXPECT_EQ(c.Header.find("Content-Encoding"), std::string::npos) << c.Header;
    EXPECT_EQ(part.body, big.substr(1000));
}

TEST_F(WebProtocolsPeerTest, AMirrorWithCompressionStoresWhatOneWithoutDoes) {
    const std::string root = dir_ + "/www";
    WriteSite(root, "");
    NginxPeer plain(root);
    NginxPeer compressed(root, NginxCompressionServer(), NginxCompressionMain());
    ASSERT_TRUE(plain.Ok()) << plain.Error();
    ASSERT_TRUE(compressed.Ok()) << compressed.Error();
    RunResult a = Cli("plain", {"get", plain.Url("/index.html"), "--level", "5"});
    ASSERT_EQ(a.exitCode, 0) << a.err;
    RunResult b = Cli("compressed", {"get", compressed.Url("/index.html"), "--level", "5"});
    ASSERT_EQ(b.exitCode, 0) << b.err;
    const auto withoutCoding = StoredFiles(Store("plain") + "/127.0.0.1+" + std::to_string(plain.Port()));
    const auto withCoding = StoredFiles(Store("compressed") + "/127.0.0.1+" + std::to_string(compressed.Port()));
    ASSERT_GE(withoutCoding.size(), 5u);
    EXPECT_EQ(withoutCoding.count("big.txt"), 1u);
    EXPECT_EQ(withoutCoding.count("Descr.QV3"), 1u) << "the description files are compared too";
    ASSERT_EQ(withCoding.size(), withoutCoding.size());
    for (const auto& [name, bytes] : withoutCoding) {
        ASSERT_EQ(withCoding.count(name), 1u) << name;
        EXPECT_TRUE(withCoding.at(name) == bytes) << name << " differs";
    }
    // An update run from the compressed server finds nothing changed and keeps every file.
    RunResult update = Cli("compressed", {"get", compressed.Url("/index.html"), "--level", "5"});
    ASSERT_EQ(update.exitCode, 0) << update.err;
    EXPECT_NE(update.out.find("S200=0 S304="), std::string::npos) << update.out;
    EXPECT_EQ(StoredFiles(Store("compressed") + "/127.0.0.1+" + std::to_string(compressed.Port())), withCoding);
    const std::string log = ReadFile(compressed.Dir() + "/access.log");
    EXPECT_NE(log.find("GET /big.txt HTTP/1.1\" 304"), std::string::npos) << log;
}

TEST_F(WebProtocolsPeerTest, TheWebArchiveKeepsChunkedCompressedAnswersAsTheyCame) {
    const std::string root = dir_ + "/www";
    WriteSite(root, "");
    NginxPeer compressed(root, NginxCompressionServer(), NginxCompressionMain());
    ASSERT_TRUE(compressed.Ok()) << compressed.Error();
    ASSERT_EQ(
        Cli("warc", {"add", "Sites", compressed.Url("/index.html"), "--level", "3", "--caption", "site"}).exitCode, 0);
    ASSERT_EQ(Cli("warc", {"project", "Sites/site", "WebArchive=True"}).exitCode, 0);
    RunResult r = Cli("warc", {"start", "Sites/site"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string folder;
    std::error_code ec;
    for (auto& e : fs::recursive_directory_iterator(Store("warc"), ec))
        if (e.is_directory() && e.path().filename() != "Web archives" &&
            e.path().parent_path().filename() == "Web archives")
            folder = e.path().string();
    ASSERT_FALSE(folder.empty());
    int coded = 0;
    std::string heads;
    const std::string big = ReadFile(root + "/big.txt");
    for (const std::string& file : archive::ArchiveFiles(folder)) {
        archive::WarcReader reader(folder + "/" + file);
        archive::ReadRecord rr;
        while (reader.Next(rr)) {
            if (rr.record.Field("WARC-Type") != "response") continue;
            std::string_view head, body;
            ASSERT_TRUE(archive::SplitHttpMessage(rr.record.block, head, body));
            heads += std::string(head) + "\n";
            std::string payload;
            const bool chunked = archive::HttpHeaderValue(head, "Transfer-Encoding") == "chunked";
            if (chunked)
                ASSERT_TRUE(codings::Dechunk(body, payload));
            else
                payload = std::string(body);
            EXPECT_EQ(archive::Sha1Base32(payload), rr.record.Field("WARC-Payload-Digest"))
                << rr.record.Field("WARC-Target-URI");
            if (chunked && archive::HttpHeaderValue(head, "Content-Encoding") == "br") {
                ++coded;
                // The payload is the coded body itself, smaller than what was stored.
                if (rr.record.Field("WARC-Target-URI").find("big.txt") != std::string::npos) {
                    EXPECT_LT(payload.size() * 5, big.size());
                }
            }
        }
    }
    EXPECT_GE(coded, 3) << "pages, style sheet and text came chunked and compressed\n" << heads;

    // Imported again, the archive gives back the decoded files.
    auto storedBig = [&] {
        std::vector<fs::path> found;
        for (auto& e : fs::recursive_directory_iterator(Store("warc"), ec))
            if (e.is_regular_file() && e.path().filename() == "big.txt") found.push_back(e.path());
        return found;
    };
    for (const fs::path& p : storedBig()) fs::remove(p);
    const std::vector<std::string> files = archive::ArchiveFiles(folder);
    ASSERT_FALSE(files.empty());
    r = Cli("warc", {"import", folder + "/" + files.front(), "Sites", "--caption", "again"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::vector<fs::path> again = storedBig();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_TRUE(ReadFile(again.front().string()) == big) << "big.txt imported as it was served";
}

// ---- IPv6 ----------------------------------------------------------------------------------

TEST(ConnectRaceOrder, FamiliesAlternateIpv6First) {
    in6_addr one{}, two{};
    one.s6_addr[15] = 1;
    two.s6_addr[15] = 2;
    const auto order = net::RaceOrder({one, two}, {htonl(0x7F000001), htonl(0x7F000002), htonl(0x7F000003)}, 8080);
    ASSERT_EQ(order.size(), 5u);
    const int families[] = {AF_INET6, AF_INET, AF_INET6, AF_INET, AF_INET};
    for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(order[i].ss_family, families[i]) << i;
    EXPECT_EQ(reinterpret_cast<const sockaddr_in6&>(order[2]).sin6_addr.s6_addr[15], 2);
    EXPECT_EQ(ntohs(reinterpret_cast<const sockaddr_in&>(order[4]).sin_port), 8080);
    EXPECT_EQ(reinterpret_cast<const sockaddr_in&>(order[4]).sin_addr.s_addr, htonl(0x7F000003));
}

TEST_F(WebProtocolsPeerTest, RacedConnectsTakeTheAddressThatAnswers) {
    if (!HasIpv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback ([::1])";
    const std::string root = dir_ + "/www";
    WriteSite(root, "");
    NginxPeer v4only(root);
    NginxPeer both(root, "", "", true);
    ASSERT_TRUE(v4only.Ok()) << v4only.Error();
    ASSERT_TRUE(both.Ok()) << both.Error();
    auto race = [](int port) {
        int got = -1, error = -1;
        bool done = false;
        net::ConnectRace r(net::RaceOrder({in6addr_loopback}, {htonl(INADDR_LOOPBACK)}, port), [&](int fd, int e) {
            got = fd;
            error = e;
            done = true;
        });
        r.Start();
        EXPECT_TRUE(platform::RunUntil([&] { return done; }, 10000));
        int family = -1;
        if (got >= 0) {
            sockaddr_storage peer{};
            socklen_t size = sizeof peer;
            getpeername(got, reinterpret_cast<sockaddr*>(&peer), &size);
            family = peer.ss_family;
            ::close(got);
        }
        EXPECT_EQ(error, 0);
        return family;
    };
    // Both answer: IPv6 starts first, but on a busy machine its answer may come after the
    // stagger has started IPv4 too, so either may win; one connection it is.
    const int winner = race(both.Port());
    EXPECT_TRUE(winner == AF_INET6 || winner == AF_INET) << winner;
    EXPECT_EQ(race(v4only.Port()), AF_INET) << "[::1] refuses: IPv4 is tried at once";
    // Nothing listens on either: the race fails with the last refusal.
    int fd = 0, error = 0;
    bool done = false;
    net::ConnectRace nobody(net::RaceOrder({in6addr_loopback}, {htonl(INADDR_LOOPBACK)}, FreePort()),
                            [&](int f, int e) {
                                fd = f;
                                error = e;
                                done = true;
                            });
    nobody.Start();
    ASSERT_TRUE(platform::RunUntil([&] { return done; }, 10000));
    EXPECT_EQ(fd, net::kNoSocket);
    EXPECT_EQ(error, ECONNREFUSED);
}

TEST_F(WebProtocolsPeerTest, Ipv6LiteralsAndNamesWithOnlyIpv6AddressesAreFetched) {
    if (!HasIpv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback ([::1])";
    const std::string root = dir_ + "/www";
    WriteSite(root, "");
    NginxPeer nginx(root, NginxCompressionServer(), NginxCompressionMain(), true);
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    const std::string big = ReadFile(root + "/big.txt");

    Events e;
    net::DownloadConnection c;
    Attach(c, e);
    c.SetURL(nginx.Url6("/big.txt"));
    EXPECT_EQ(c.Host, "[::1]");
    EXPECT_EQ(c.Port, nginx.Port());
    EXPECT_EQ(c.GetURL(), nginx.Url6("/big.txt"));
    c.KeepAlive = true;
    std::string peerAddress;
    c.OnHeader = [&](net::DownloadConnection& conn) { peerAddress = conn.ServerAddress(); };
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(e)) << e.Dump();
    EXPECT_EQ(c.StatusCode, 200);
    EXPECT_EQ(e.body, big);
    EXPECT_EQ(peerAddress, "::1");
    EXPECT_EQ(net::kept::Count(), 1u) << "a kept IPv6 connection serves the next request";

    // A name that has an IPv6 address only.
    net::ClearHostCache();
    net::SetResolverForTesting([](const std::string&) { return net::kNoAddress; });
    net::SetResolver6ForTesting([](const std::string& name) {
        return name == "v6only.test" ? std::vector<in6_addr>{in6addr_loopback} : std::vector<in6_addr>{};
    });
    Events named;
    net::DownloadConnection d;
    Attach(d, named);
    d.SetURL("http://v6only.test:" + std::to_string(nginx.Port()) + "/docs/b.html");
    ASSERT_TRUE(d.Start(false));
    ASSERT_TRUE(RunToDone(named)) << named.Dump();
    EXPECT_EQ(d.StatusCode, 200);
    EXPECT_EQ(named.body, ReadFile(root + "/docs/b.html"));
    Events missing;
    Attach(d, missing);
    d.SetURL("http://nowhere.test:" + std::to_string(nginx.Port()) + "/");
    ASSERT_TRUE(d.Start(false));
    ASSERT_TRUE(RunToDone(missing)) << missing.Dump();
    EXPECT_TRUE(missing.Has("Host nowhere.test not found.", 0)) << missing.Dump();
    net::SetResolverForTesting(nullptr);
    net::SetResolver6ForTesting(nullptr);
    net::ClearHostCache();
}

TEST_F(WebProtocolsPeerTest, AMirrorOfAnIpv6AddressWorksOffline) {
    if (!HasIpv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback ([::1])";
    const std::string root = dir_ + "/www";
    const int port = FreePort();
    const std::string base = "http://[::1]:" + std::to_string(port);
    WriteSite(root, base);
    // nginx on [::1] at the port the pages name.
    NginxPeer nginx(root, "listen [::1]:" + std::to_string(port) + ";\n");
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    RunResult r = Cli("v6", {"get", base + "/index.html", "--level", "5"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string host = Store("v6") + "/ipv6_--1+" + std::to_string(port);
    const auto files = StoredFiles(host);
    for (const char* name : {"index.html", "a.html", "docs/b.html", "s/site.css", "big.txt"})
        EXPECT_EQ(files.count(name), 1u) << name << " in " << host;
    // The absolute link to [::1] leads to the stored copy.
    const std::string index = ReadFile(host + "/index.html");
    EXPECT_EQ(index.find("[::1]"), std::string::npos) << index;
    const std::string link = "../ipv6_--1+" + std::to_string(port) + "/docs/b.html";
    EXPECT_NE(index.find("href=\"" + link + "\""), std::string::npos) << index;
    EXPECT_TRUE(fs::exists(host + "/" + link));
}
