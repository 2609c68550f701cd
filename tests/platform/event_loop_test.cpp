// The main-thread event loop: posted work runs later and in order, synchronous sends from
// other threads, timers and socket watches that may be destroyed from their own callbacks.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/event_loop.h"

using namespace qm::platform;

class EventLoopTest : public ::testing::Test {
protected:
    void SetUp() override { InitEventLoop(); }
};

TEST_F(EventLoopTest, PostsRunLaterInOrderAndFromAnyThread) {
    EXPECT_TRUE(IsMainThread());
    std::vector<int> order;
    Post([&] { order.push_back(1); });
    Post([&] { order.push_back(2); });
    EXPECT_TRUE(order.empty()) << "never during the call";
    std::thread([&] { Post([&] { order.push_back(3); }); }).join();
    ASSERT_TRUE(RunUntil([&] { return order.size() == 3; }, 2000));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(EventLoopTest, SendAndWaitRunsOnTheMainThread) {
    bool onMain = false;
    EXPECT_TRUE(SendAndWait([&] { onMain = IsMainThread(); }));  // at once on the main thread
    EXPECT_TRUE(onMain);
    std::atomic<bool> finished{false};
    std::atomic<bool> ranOnMain{false};
    std::thread worker([&] {
        EXPECT_FALSE(IsMainThread());
        bool ok = SendAndWait([&] { ranOnMain = IsMainThread(); });
        EXPECT_TRUE(ok);
        finished = true;
    });
    ASSERT_TRUE(RunUntil([&] { return finished.load(); }, 3000));
    worker.join();
    EXPECT_TRUE(ranOnMain);
}

TEST_F(EventLoopTest, TimersTickAndStopForGood) {
    int ticks = 0;
    Timer t([&] { ++ticks; });
    t.Start(10);
    EXPECT_TRUE(t.Active());
    ASSERT_TRUE(RunUntil([&] { return ticks >= 3; }, 2000));
    t.Stop();
    int seen = ticks;
    RunUntil([] { return false; }, 60);
    EXPECT_EQ(ticks, seen);

    int once = 0;
    Timer single([&] { ++once; });
    single.Start(5, true);
    RunUntil([] { return false; }, 80);
    EXPECT_EQ(once, 1);
    EXPECT_FALSE(single.Active());

    // A timer destroyed from its own tick.
    int selfTicks = 0;
    Timer* doomed = nullptr;
    doomed = new Timer([&] {
        ++selfTicks;
        delete doomed;
    });
    doomed->Start(5);
    RunUntil([] { return false; }, 60);
    EXPECT_EQ(selfTicks, 1);
}

TEST_F(EventLoopTest, SocketWatchReportsReadinessAndMayDieInItsCallback) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    int events = 0;
    SocketWatch* watch = nullptr;
    watch = new SocketWatch(fds[0], [&](int e) {
        events |= e;
        if (e & SocketWatch::kReadable) {
            delete watch;
            watch = nullptr;
        }
    });
    watch->SetInterest(false, true);
    ASSERT_TRUE(RunUntil([&] { return (events & SocketWatch::kWritable) != 0; }, 2000));
    watch->SetInterest(true, false);
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    ASSERT_TRUE(RunUntil([&] { return watch == nullptr; }, 2000));
    RunUntil([] { return false; }, 30);
    EXPECT_TRUE(events & SocketWatch::kReadable);
    close(fds[0]);
    close(fds[1]);
}

// A thread still waiting for the main thread when the program ends (a host lookup that
// finished as the user pressed Ctrl+C) must not keep the process from exiting.
TEST_F(EventLoopTest, ExitingWhileAThreadWaitsForTheMainThreadEnds) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::thread([] { SendAndWait([] {}); }).detach();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::exit(0);  // runs the exit handlers, as returning from main does
    }
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 100 && done == 0; ++i) {
        done = ::waitpid(child, &status, WNOHANG);
        if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (done == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    EXPECT_EQ(done, child) << "the process did not end within 10 s";
}
