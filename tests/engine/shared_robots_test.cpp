// One robots.txt fetch serves every Project waiting for the same server, and it ends with
// the last of them: a stopped Project leaves no fetch behind that holds a connection or
// keeps another Project's records waiting.
#include <gtest/gtest.h>

#include <memory>

#include "engine/get_rec.h"
#include "engine/server_manners.h"
#include "net/client_harness.h"
#include "net/scripted_server.h"
#include "store/project.h"

namespace qm::test {
namespace {

using Gate = engine::ServerManners::Gate;

const char* const kRobots =
    "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 35\r\n\r\nUser-agent: *\nDisallow: /private/\n";

class SharedRobotsTest : public NetTest {
protected:
    void SetUp() override {
        NetTest::SetUp();
        for (store::Project* p : {&a_, &b_}) p->Robots = true;
    }
    Gate Check(engine::ServerManners& manners, store::Project& project, const std::string& url) {
        engine::DownloadRecord rec;
        rec.Project = &project;
        rec.URL = url;
        std::int64_t due = 0;
        return manners.Check(rec, 0, due);
    }
    // Runs the event loop until project's record of url is no longer held back.
    Gate Settled(engine::ServerManners& manners, store::Project& project, const std::string& url, int ms) {
        Gate gate = Gate::Wait;
        platform::RunUntil(
            [&] {
                gate = Check(manners, project, url);
                return gate != Gate::Wait;
            },
            ms);
        return gate;
    }
    store::Project a_, b_;
};

TEST_F(SharedRobotsTest, AFetchOutlivesOneStoppedProjectAndEndsWithTheLast) {
    // Two Projects wait for one robots.txt; one stops; the other still gets it.
    {
        ScriptedServer s({{ReadRequest(), Pause(300), Send(kRobots), Close()}});
        engine::ServerManners manners([] {}, nullptr, nullptr);
        EXPECT_EQ(Check(manners, a_, s.Url("/private/a.html")), Gate::Wait);
        EXPECT_EQ(Check(manners, b_, s.Url("/private/b.html")), Gate::Wait);
        manners.Cancel(&a_);
        EXPECT_EQ(Settled(manners, b_, s.Url("/private/b.html"), 10000), Gate::Refused);
        EXPECT_EQ(Check(manners, b_, s.Url("/open.html")), Gate::Go);
        EXPECT_EQ(s.Accepted(), 1) << "one fetch for both Projects";
    }
    // The only Project waiting stops while its server holds robots.txt back: the fetch
    // ends, and the next Project to ask for that server fetches it anew at once.
    {
        ScriptedServer s({{ReadRequest(), Hold(60000)}, {ReadRequest(), Send(kRobots), Close()}});
        engine::ServerManners manners([] {}, nullptr, nullptr);
        EXPECT_EQ(Check(manners, a_, s.Url("/private/a.html")), Gate::Wait);
        ASSERT_TRUE(platform::RunUntil([&] { return !s.Received().empty() && !s.Received()[0].empty(); }, 10000));
        manners.Cancel(&a_);
        EXPECT_EQ(Settled(manners, b_, s.Url("/private/b.html"), 10000), Gate::Refused);
        EXPECT_EQ(s.Accepted(), 2);
    }
    // A stop of every Project ends every fetch.
    {
        ScriptedServer s({{ReadRequest(), Hold(60000)}, {ReadRequest(), Send(kRobots), Close()}});
        engine::ServerManners manners([] {}, nullptr, nullptr);
        EXPECT_EQ(Check(manners, a_, s.Url("/x.html")), Gate::Wait);
        EXPECT_EQ(Check(manners, b_, s.Url("/x.html")), Gate::Wait);
        ASSERT_TRUE(platform::RunUntil([&] { return !s.Received().empty() && !s.Received()[0].empty(); }, 10000));
        manners.Cancel(nullptr);
        EXPECT_EQ(Settled(manners, a_, s.Url("/private/a.html"), 10000), Gate::Refused);
    }
}

TEST(ServerOriginTest, AnAddressIsMatchedToItsServerInPlace) {
    using engine::ServerManners;
    const std::string origin = ServerManners::OriginOf("HTTP://Example.COM:8080/a/b.html?q#f");
    EXPECT_EQ(origin, "http://example.com:8080");
    for (const char* url : {"http://example.com:8080/x.html", "HTTP://EXAMPLE.com:8080", "http://example.com:8080?q",
                            "http://example.com:8080#top"})
        EXPECT_TRUE(ServerManners::HasOrigin(url, origin)) << url;
    // Another port, a longer host name, a user name before the host, another scheme.
    for (const char* url : {"http://example.com:80/x.html", "http://example.com:80800/", "http://example.com/",
                            "http://example.com:8080.evil/", "http://user@example.com:8080/",
                            "https://example.com:8080/", "ftp://example.com:8080/", "http://example.co"})
        EXPECT_FALSE(ServerManners::HasOrigin(url, origin)) << url;
    EXPECT_FALSE(ServerManners::HasOrigin("http://example.com:8080/", ""));
}

TEST_F(SharedRobotsTest, RecordsOnTwoServersMeetEachServersOwnRules) {
    // Records of one Project alternate between a server that refuses /private/ and one that
    // allows everything: each is judged by its own server's robots.txt.
    ScriptedServer strict({{ReadRequest(), Send(kRobots), Close()}});
    ScriptedServer open({{ReadRequest(), Send("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n"), Close()}});
    engine::ServerManners manners([] {}, nullptr, nullptr);
    EXPECT_EQ(Settled(manners, a_, strict.Url("/private/a.html"), 10000), Gate::Refused);
    EXPECT_EQ(Settled(manners, a_, open.Url("/private/a.html"), 10000), Gate::Go);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Check(manners, a_, strict.Url("/private/b.html")), Gate::Refused);
        EXPECT_EQ(Check(manners, b_, strict.Url("/public.html")), Gate::Go);
        EXPECT_EQ(Check(manners, a_, open.Url("/private/b.html")), Gate::Go);
    }
    EXPECT_EQ(strict.Accepted(), 1);
    EXPECT_EQ(open.Accepted(), 1);
}

}  // namespace
}  // namespace qm::test
