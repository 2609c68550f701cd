// The host lookup service: numeric names, one thread per name, the cache and its age,
// cancelled requesters. A stand-in resolver keeps every name off the network.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "net/host_lookup.h"
#include "platform/event_loop.h"

using namespace qm;

namespace {

std::atomic<int> g_calls{0};
std::atomic<bool> g_slow{false};

std::uint32_t FakeResolve(const std::string& name) {
    ++g_calls;
    if (g_slow) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (name == "nowhere.test") return net::kNoAddress;
    in_addr a{};
    inet_pton(AF_INET, name == "other.test" ? "10.1.2.4" : "10.1.2.3", &a);
    return a.s_addr;
}

std::uint32_t Dotted(const char* text) {
    in_addr a{};
    inet_pton(AF_INET, text, &a);
    return a.s_addr;
}

class LookupTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::InitEventLoop();
        net::SetResolverForTesting(&FakeResolve);
        net::SetClockOffsetForTesting(0);
        net::ClearHostCache();
        g_calls = 0;
        g_slow = false;
    }
    void TearDown() override {
        platform::RunUntil([] { return net::RunningLookups() == 0 && net::PendingRequests() == 0; }, 5000);
        net::SetResolverForTesting(nullptr);
        net::SetClockOffsetForTesting(0);
    }
};

}  // namespace

TEST_F(LookupTest, DottedAddressIsAnsweredWithoutLookupAndNotCached) {
    EXPECT_EQ(net::CachedAddress("10.0.0.1"), Dotted("10.0.0.1"));
    std::uint32_t got = 0;
    int answers = 0;
    net::HostLookup* h = net::LookupHost(
        this,
        [&](std::uint32_t a) {
            got = a;
            ++answers;
        },
        "10.0.0.1");
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(answers, 0) << "the answer never comes during the call";
    ASSERT_TRUE(platform::RunUntil([&] { return answers == 1; }, 2000));
    EXPECT_EQ(got, Dotted("10.0.0.1"));
    EXPECT_EQ(g_calls, 0);
    EXPECT_EQ(net::CacheSize(), 0u);
    EXPECT_EQ(net::CachedAddress("not.cached"), net::kNoAddress);
}

TEST_F(LookupTest, TwoRequestersShareOneThreadAndBothAreAnswered) {
    g_slow = true;
    std::uint32_t a1 = 0, a2 = 0;
    int n1 = 0, n2 = 0;
    int tag1, tag2;
    net::HostLookup* h1 = net::LookupHost(
        &tag1,
        [&](std::uint32_t a) {
            a1 = a;
            ++n1;
        },
        "www.test");
    net::HostLookup* h2 = net::LookupHost(
        &tag2,
        [&](std::uint32_t a) {
            a2 = a;
            ++n2;
        },
        "www.test");
    EXPECT_NE(h1, nullptr);
    EXPECT_EQ(h2, nullptr) << "the second requester joins the running lookup";
    ASSERT_TRUE(platform::RunUntil([&] { return n1 == 1 && n2 == 1; }, 5000));
    EXPECT_EQ(a1, Dotted("10.1.2.3"));
    EXPECT_EQ(a2, Dotted("10.1.2.3"));
    EXPECT_EQ(g_calls, 1);
    EXPECT_EQ(net::CachedAddress("www.test"), Dotted("10.1.2.3"));
    EXPECT_EQ(net::CachedAddress("WWW.test"), net::kNoAddress) << "names are compared exactly";

    // Now cached: answered (later) without a thread.
    int n3 = 0;
    EXPECT_EQ(net::LookupHost(
                  &tag1, [&](std::uint32_t) { ++n3; }, "www.test"),
              nullptr);
    EXPECT_EQ(n3, 0);
    ASSERT_TRUE(platform::RunUntil([&] { return n3 == 1; }, 2000));
    EXPECT_EQ(g_calls, 1);
}

TEST_F(LookupTest, CacheEntriesAgeOutAfterATenthOfADay) {
    int n = 0;
    net::LookupHost(
        this, [&](std::uint32_t) { ++n; }, "other.test");
    ASSERT_TRUE(platform::RunUntil([&] { return n == 1; }, 5000));
    net::SetClockOffsetForTesting(0.099);
    EXPECT_EQ(net::CachedAddress("other.test"), Dotted("10.1.2.4"));
    net::SetClockOffsetForTesting(0.101);
    EXPECT_EQ(net::CachedAddress("other.test"), net::kNoAddress);
    EXPECT_EQ(net::CacheSize(), 0u) << "the old entry is dropped";
    net::LookupHost(
        this, [&](std::uint32_t) { ++n; }, "other.test");
    ASSERT_TRUE(platform::RunUntil([&] { return n == 2; }, 5000));
    EXPECT_EQ(g_calls, 2);
    EXPECT_EQ(net::CacheSize(), 1u) << "a new answer replaces the old, never adds a second";
}

TEST_F(LookupTest, UnresolvedNamesAreAnsweredNoneAndNotCached) {
    std::uint32_t got = 0;
    int n = 0;
    net::LookupHost(
        this,
        [&](std::uint32_t a) {
            got = a;
            ++n;
        },
        "nowhere.test");
    ASSERT_TRUE(platform::RunUntil([&] { return n == 1; }, 5000));
    EXPECT_EQ(got, net::kNoAddress);
    EXPECT_EQ(net::CacheSize(), 0u);
}

TEST_F(LookupTest, CancelledRequesterIsSkippedOthersStillAnswered) {
    g_slow = true;
    int tag1, tag2;
    int n1 = 0, n2 = 0;
    net::HostLookup* h = net::LookupHost(
        &tag1, [&](std::uint32_t) { ++n1; }, "www.test");
    net::LookupHost(
        &tag2, [&](std::uint32_t) { ++n2; }, "www.test");
    net::CancelLookup(h);
    ASSERT_TRUE(platform::RunUntil([&] { return n2 == 1; }, 5000));
    platform::RunUntil([] { return net::RunningLookups() == 0; }, 5000);
    platform::RunUntil([] { return false; }, 50);
    EXPECT_EQ(n1, 0);
    EXPECT_EQ(net::CachedAddress("www.test"), Dotted("10.1.2.3")) << "the lookup still fills the cache";

    // A requester that goes away after its answer was posted never hears of it.
    int n3 = 0;
    int tag3;
    net::LookupHost(
        &tag3, [&](std::uint32_t) { ++n3; }, "www.test");  // cached: answer posted
    net::CancelLookupsOf(&tag3);
    platform::RunUntil([] { return false; }, 50);
    EXPECT_EQ(n3, 0);
}
