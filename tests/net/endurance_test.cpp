// Many transfers in a row, half of them failing in different ways, leave the process with
// the descriptors and threads it started with.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>

#include <chrono>
#include <memory>
#include <thread>

#include "net/client_harness.h"
#include "net/host_lookup.h"
#include "net/scripted_server.h"
#include "support/peers.h"

using namespace qm;
using namespace qm::test;

namespace {

int CountEntries(const char* dir) {
    int n = 0;
    if (DIR* d = opendir(dir)) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n;
}

std::uint32_t NoSuchHost(const std::string&) { return net::kNoAddress; }

}  // namespace

TEST(Endurance, TenThousandTransfersLeakNothing) {
    platform::InitEventLoop();
    net::NetStartup();
    net::SetResolverForTesting(&NoSuchHost);
    std::string root = MakeTempDir("net-endurance");
    ASSERT_TRUE(WriteFile(root + "/small.txt", "small body\n"));
    ASSERT_TRUE(WriteFile(root + "/two-k.bin", std::string(2048, 'z')));
    NginxPeer nginx(root);
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    ScriptedServer resetter({{ReadRequest(), Reset()}}, true);
    int refusedPort = FreePort();

    constexpr int kTotal = 10000, kPool = 8;
    std::vector<std::unique_ptr<net::DownloadConnection>> pool;
    int started = 0, finished = 0, ok = 0;
    int codes[6] = {0, 0, 0, 0, 0, 0};
    std::function<void(net::DownloadConnection&)> next;
    next = [&](net::DownloadConnection& c) {
        if (started >= kTotal) return;
        int i = started++;
        c.SizeLimit = 0;
        c.OnHeader = nullptr;
        c.TimeOut = 10000;
        switch (i % 10) {
        case 1: c.SetURL(nginx.Url("/missing")); break;
        case 3: c.SetURL("http://nosuch.test/"); break;
        case 5: c.SetURL(resetter.Url("/")); break;
        case 7:
            c.SetURL(nginx.Url("/two-k.bin"));
            c.SizeLimit = 1;
            break;
        case 9:
            if (i % 1000 == 9) {
                c.SetURL("http://127.0.0.1:" + std::to_string(refusedPort) + "/");
            } else {
                c.SetURL(nginx.Url("/two-k.bin"));
                c.OnHeader = [](net::DownloadConnection& self) { self.Abort(); };
            }
            break;
        default: c.SetURL(nginx.Url("/small.txt"));
        }
        if (!c.Start(false)) ++finished;  // no end event follows
    };

    auto runAll = [&](int total) {
        started = finished = ok = 0;
        for (int& n : codes) n = 0;
        pool.clear();
        for (int k = 0; k < kPool; ++k) {
            auto c = std::make_unique<net::DownloadConnection>();
            c->Index = k;
            c->OnDone = [&](net::DownloadConnection& self, net::DoneCode done) {
                const int code = static_cast<int>(done);
                ++finished;
                if (code >= 0 && code <= 5) ++codes[code];
                if (code == 0 && self.StatusCode == 200) ++ok;
                if (started < total) next(self);
            };
            pool.push_back(std::move(c));
        }
        for (auto& c : pool)
            if (started < total) next(*c);
        return platform::RunUntil([&] { return finished >= total; }, 300000);
    };

    // A first round brings the event loop's own descriptors into being.
    ASSERT_TRUE(runAll(20));
    pool.clear();
    platform::RunUntil([] { return net::RunningLookups() == 0; }, 5000);
    Settle(200);
    int fdsBefore = CountEntries("/proc/self/fd");
    int threadsBefore = CountEntries("/proc/self/task");

    ASSERT_TRUE(runAll(kTotal)) << finished << " of " << kTotal;
    EXPECT_EQ(finished, kTotal);
    EXPECT_EQ(ok, kTotal / 2);
    EXPECT_EQ(codes[0], kTotal / 2 + kTotal / 10);  // successes and the 404s
    EXPECT_EQ(codes[1], kTotal / 10);               // resets
    EXPECT_EQ(codes[3], kTotal / 10 - kTotal / 1000);
    EXPECT_EQ(codes[4], kTotal / 10 + kTotal / 1000);  // unknown host, refused
    EXPECT_EQ(codes[5], kTotal / 10);
    for (auto& c : pool) EXPECT_FALSE(c->Busy);
    pool.clear();

    platform::RunUntil([] { return net::RunningLookups() == 0; }, 5000);
    for (int i = 0; i < 50 && CountEntries("/proc/self/task") > threadsBefore; ++i) Settle(20);
    Settle(200);
    EXPECT_EQ(CountEntries("/proc/self/fd"), fdsBefore);
    EXPECT_LE(CountEntries("/proc/self/task"), threadsBefore);
    EXPECT_EQ(net::PendingRequests(), 0u);
    net::SetResolverForTesting(nullptr);
}
