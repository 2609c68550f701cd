// The server against clients that connect and wait, send slowly, send too much, leave in the
// middle of a request, or come many times in a row: none of them may delay the others.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "client.h"
#include "platform/event_loop.h"
#include "server/responses.h"
#include "server/web_server.h"
#include "server/worker_pool.h"
#include "store/folder.h"
#include "store/options.h"
#include "store/project_tree.h"
#include "support/peers.h"

namespace qm {
namespace {

using test::BodyOf;
using test::StatusLine;
using Clock = std::chrono::steady_clock;

int Connect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// True when the server has closed fd within waitMs (end of stream or reset, nothing sent).
bool ClosedByServer(int fd, int waitMs) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0) return false;
    char c;
    return ::recv(fd, &c, 1, MSG_DONTWAIT) <= 0;
}

std::string ReadToEnd(int fd, int timeoutMs = 10000) {
    std::string out;
    char buf[8192];
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < until) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) < 0) break;
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN)) break;
        if (n > 0) out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

// Waits for a state the server's threads reach without telling the main thread.
bool WaitFor(const std::function<bool()>& pred, int timeoutMs) {
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < until)
        if (platform::RunUntil(pred, 20)) return true;
    return pred();
}

// Runs fn on another thread while the main thread serves the server's main-thread work.
void OnClientThread(const std::function<void()>& fn) {
    std::atomic<bool> done{false};
    std::thread t([&] {
        fn();
        done = true;
        platform::Post([] {});
    });
    platform::RunUntil([&] { return done.load(); }, 60000);
    t.join();
}

class SlowClients : public ::testing::Test {
protected:
    static void SetUpTestSuite() { platform::InitEventLoop(); }

    void SetUp() override {
        store::Options().Reset();
        root_ = test::MakeTempDir("slow-clients");
        store::Options().PathPrefix = root_ + "/default/";
        store::Options().HTTPPort = test::FreePort();
        tree_.AddFolder("Sites").Dir = root_ + "/sites/";
        for (int i = 0; i < 3000; ++i) page_ += static_cast<char>('a' + i % 26);
        ASSERT_TRUE(test::WriteFile(root_ + "/sites/host/page.bin", page_));
        SetServedTree(&tree_);
        Restart(ServerLimits{});
    }
    void TearDown() override {
        StopServer();
        SetServedTree(nullptr);
        SetServerLimits(ServerLimits{});
    }
    void Restart(const ServerLimits& limits) {
        StopServer();
        SetServerLimits(limits);
        StartServer();
        ASSERT_TRUE(platform::RunUntil([] { return ServerRunning(); }, 10000));
        port_ = ServerPort();
    }
    std::string Get(const std::string& path) { return test::Get(port_, path); }
    bool AllSettled() {
        return WaitFor([] { return ActiveConnections() == 0 && WaitingConnections() == 0; }, 5000);
    }

    store::ProjectTree tree_;
    std::string root_, page_;
    int port_ = 0;
};

TEST_F(SlowClients, IdleFloodDelaysNoOneAndTheOldestMakeRoom) {
    std::vector<int> idle;
    for (int i = 0; i < 200; ++i) {
        idle.push_back(Connect(port_));
        ASSERT_GE(idle.back(), 0);
    }
    EXPECT_TRUE(WaitFor([] { return WaitingConnections() >= 200; }, 5000));
    const auto start = Clock::now();
    const std::string r = Get("/Sites/host/page.bin");
    EXPECT_EQ(StatusLine(r), "HTTP/1.0 200 OK");
    EXPECT_EQ(BodyOf(r), page_);
    // Generous: without a thread to spare the answer came only when idle clients timed out.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    int stillOpen = 0;
    for (int fd : idle) stillOpen += ClosedByServer(fd, 0) ? 0 : 1;
    EXPECT_EQ(stillOpen, 200);
    for (int fd : idle) ::close(fd);

    // With room for ten waiting clients, the five that came first are closed for the newer.
    ServerLimits limits;
    limits.maxWaiting = 10;
    Restart(limits);
    idle.clear();
    for (int i = 0; i < 15; ++i) idle.push_back(Connect(port_));
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(ClosedByServer(idle[i], 5000)) << i;
    for (int i = 5; i < 15; ++i) EXPECT_FALSE(ClosedByServer(idle[i], 0)) << i;
    EXPECT_EQ(BodyOf(Get("/Sites/host/page.bin")), page_);
    for (int fd : idle) ::close(fd);
    EXPECT_TRUE(AllSettled());
}

TEST_F(SlowClients, SlowPartialAndOverlongRequests) {
    const std::string whole = Get("/Sites/host/page.bin");
    ASSERT_EQ(BodyOf(whole), page_);
    OnClientThread([&] {
        // A head dripped in pieces is answered once whole, as if sent at once.
        const int fd = Connect(port_);
        for (const char* piece : {"G", "ET /Sit", "es/host/pa", "ge.bin HTTP/1.0\r\n", "Accept: */*\r\n", "\r\n"}) {
            ::send(fd, piece, std::strlen(piece), MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
        }
        EXPECT_EQ(ReadToEnd(fd), whole);
        ::close(fd);

        // A client that stops sending half-way and shuts its side: what came is the request.
        const int half = Connect(port_);
        const std::string line = "GET /empty.gif HTTP/1.0\r\n";
        ::send(half, line.data(), line.size(), MSG_NOSIGNAL);
        ::shutdown(half, SHUT_WR);
        EXPECT_EQ(StatusLine(ReadToEnd(half)), "HTTP/1.0 200 OK");
        ::close(half);

        // One that leaves in the middle of its request costs nothing further.
        const int gone = Connect(port_);
        ::send(gone, "GET /Sites/ho", 13, MSG_NOSIGNAL);
        ::close(gone);

        // Only the first 2048 bytes of a head count: a range named after them is not seen,
        // and a request line longer than that has no path.
        const std::string filler(16 * 1024, 'x');
        EXPECT_EQ(test::Exchange(port_, "GET /Sites/host/page.bin HTTP/1.0\r\nX-Filler: " + filler +
                                            "\r\nRange: bytes=100-\r\n\r\n"),
                  whole);
        EXPECT_EQ(test::Exchange(port_, "GET /" + std::string(3000, 'a') + " HTTP/1.0\r\n\r\n"), server::Response500());
    });
    EXPECT_TRUE(AllSettled());

    // A head never finished is answered from what arrived when its time is up.
    ServerLimits limits;
    limits.receiveTimeoutMs = 300;
    Restart(limits);
    OnClientThread([&] {
        const int fd = Connect(port_);
        const std::string line = "GET /empty.gif HTTP/1.0\r\n";
        ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
        EXPECT_EQ(StatusLine(ReadToEnd(fd)), "HTTP/1.0 200 OK");
        ::close(fd);
    });
    EXPECT_EQ(Get("/Sites/host/page.bin"), whole);
}

TEST_F(SlowClients, ManyRequestsInARow) {
    const std::string whole = Get("/Sites/host/page.bin");
    int same = 0, pictures = 0;
    OnClientThread([&] {
        for (int i = 0; i < 300; ++i) {
            if (i % 3 == 2)
                pictures += StatusLine(test::Get(port_, "/folder.gif")) == "HTTP/1.0 200 OK" ? 1 : 0;
            else
                same += test::Get(port_, "/Sites/host/page.bin") == whole ? 1 : 0;
        }
    });
    EXPECT_EQ(same, 200);
    EXPECT_EQ(pictures, 100);
    EXPECT_TRUE(AllSettled());
}

TEST(ServerWorkerPool, BoundedThreadsRunEveryJob) {
    server::WorkerPool pool;
    pool.SetMaxThreads(3);
    std::atomic<int> ran{0};
    std::atomic<bool> release{false};
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(pool.Submit([&] {
            while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ++ran;
        }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_LE(pool.Threads(), 3u);
    release = true;
    pool.Stop();
    EXPECT_EQ(ran.load(), 20);
    EXPECT_EQ(pool.Threads(), 0u);
    // Usable again after stopping.
    ASSERT_TRUE(pool.Submit([&] { ++ran; }));
    pool.Stop();
    EXPECT_EQ(ran.load(), 21);
}

}  // namespace
}  // namespace qm
