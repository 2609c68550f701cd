// Kept connections: an answer whose end was seen leaves its connection open for the next
// request to the same server; everything else closes it, and a kept connection the server
// closed before answering is replaced without the caller noticing.
#include <gtest/gtest.h>

#include <filesystem>

#include "net/client_harness.h"
#include "net/kept_connections.h"
#include "net/scripted_server.h"
#include "support/peers.h"

using namespace qm;
using namespace qm::test;

namespace {

class KeepAliveTest : public NetTest {
protected:
    void SetUp() override {
        NetTest::SetUp();
        net::kept::CloseAll();
    }
    void TearDown() override { net::kept::CloseAll(); }

    // Fetches url on a fresh client (as the next record of a download would be) and returns
    // its events.
    Events Fetch(const std::string& url, bool keepAlive = true, bool* reused = nullptr) {
        Events e;
        net::DownloadConnection c;
        Attach(c, e);
        c.KeepAlive = keepAlive;
        c.TimeOut = 5000;
        c.SetURL(url);
        EXPECT_TRUE(c.Start(false));
        EXPECT_TRUE(RunToDone(e)) << e.Dump();
        if (reused) *reused = c.Reused;
        return e;
    }
};

const std::string kHello = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";
const std::string kAbc = "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc";

TEST_F(KeepAliveTest, AnswersWithALengthShareOneConnection) {
    ScriptedServer s(
        {{ReadRequest(), Send(kHello), ReadRequest(), Send("HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone"),
          ReadRequest(), Send("HTTP/1.0 304 Not Modified\r\nConnection: keep-alive\r\n\r\n"), ReadRequest(), Send(kAbc),
          Hold(5000)}});
    bool reused = true;
    Events a = Fetch(s.Url("/a"), true, &reused);
    EXPECT_EQ(a.body, "hello");
    EXPECT_FALSE(reused);
    Events b = Fetch(s.Url("/b"), true, &reused);
    EXPECT_TRUE(b.Has("Read Transaction complete. Status: 404 Not Found.", 2)) << b.Dump();
    EXPECT_TRUE(reused);
    Events c = Fetch(s.Url("/c"), true, &reused);
    EXPECT_EQ(c.code, 0);
    EXPECT_TRUE(reused);
    Events d = Fetch(s.Url("/d"), true, &reused);
    EXPECT_EQ(d.body, "abc");
    EXPECT_EQ(d.code, 0);
    EXPECT_TRUE(reused);
    EXPECT_EQ(s.Accepted(), 1);
    const std::string sent = s.Received().at(0);
    for (const char* line :
         {"GET /a HTTP/1.1\r\n", "GET /b HTTP/1.1\r\n", "GET /c HTTP/1.1\r\n", "GET /d HTTP/1.1\r\n"})
        EXPECT_NE(sent.find(line), std::string::npos) << line;
    // Another port is another server: nothing kept for the first is used for it.
    ScriptedServer other({{ReadRequest(), Send(kAbc), Hold(3000)}});
    Events o = Fetch(other.Url("/o"), true, &reused);
    EXPECT_EQ(o.body, "abc");
    EXPECT_FALSE(reused);
}

TEST_F(KeepAliveTest, AnswersThatEndOtherwiseCloseTheirConnection) {
    struct Case {
        const char* what;
        std::string answer;
        std::string body;
    } cases[] = {
        {"server says close", "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 5\r\n\r\nhello", "hello"},
        {"HTTP/1.0 without keep-alive", "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello", "hello"},
        // Two answers in one write: what lies past the announced length is dropped.
        {"two answers at once", kHello + kAbc, kHello.substr(kHello.size() - 5)},
        {"error page with its body still coming", "HTTP/1.1 500 Oops\r\nContent-Length: 900\r\n\r\nabc", ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        net::kept::CloseAll();
        ScriptedServer s({{ReadRequest(), Send(k.answer), Hold(3000)}, {ReadRequest(), Send(kAbc), Hold(3000)}});
        Events first = Fetch(s.Url("/1"));
        EXPECT_EQ(first.body, k.body);
        EXPECT_EQ(net::kept::Count(), 0u);
        bool reused = true;
        Events second = Fetch(s.Url("/2"), true, &reused);
        EXPECT_EQ(second.body, "abc");
        EXPECT_FALSE(reused);
        EXPECT_EQ(s.Accepted(), 2);
    }
    // No length: the answer ends with the close, which is its normal end.
    net::kept::CloseAll();
    ScriptedServer s({{ReadRequest(), Send("HTTP/1.1 200 OK\r\n\r\nuntil the end"), Close()}});
    Events e = Fetch(s.Url("/"));
    EXPECT_EQ(e.body, "until the end");
    EXPECT_EQ(e.code, 1);
    EXPECT_EQ(net::kept::Count(), 0u);
    // The option off: nothing is kept even where the server would allow it.
    ScriptedServer off({{ReadRequest(), Send(kHello), Hold(3000)}}, true);
    Fetch(off.Url("/1"), false);
    Fetch(off.Url("/2"), false);
    EXPECT_EQ(off.Accepted(), 2);
    EXPECT_EQ(net::kept::Count(), 0u);
}

TEST_F(KeepAliveTest, ServerClosingAKeptConnectionCostsNoAttempt) {
    // Closed while idle: noticed before the request goes out.
    {
        ScriptedServer s({{ReadRequest(), Send(kHello), Close()}, {ReadRequest(), Send(kAbc), Hold(3000)}});
        Fetch(s.Url("/1"));
        platform::RunUntil([&] { return false; }, 200);
        bool reused = true;
        Events e = Fetch(s.Url("/2"), true, &reused);
        EXPECT_EQ(e.body, "abc");
        EXPECT_FALSE(reused);
        EXPECT_EQ(e.dones, 1);
    }
    // Closed (or reset) after the request arrived, before any byte of the answer: the same
    // request goes out once more on a new connection, within the same attempt.
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "closed");
        ScriptedServer s({{ReadRequest(), Send(kHello), ReadRequest(), reset ? Reset() : Close()},
                          {ReadRequest(), Send(kAbc), Hold(3000)}});
        Fetch(s.Url("/1"));
        Events e = Fetch(s.Url("/2"));
        EXPECT_EQ(e.body, "abc");
        EXPECT_EQ(e.code, 0);
        EXPECT_EQ(e.dones, 1);
        EXPECT_EQ(s.Accepted(), 2);
        EXPECT_NE(s.Received().at(1).find("GET /2 HTTP/1.1\r\n"), std::string::npos);
    }
    // Closed after part of the answer: that is the answer's own failure, not retried here.
    ScriptedServer s({{ReadRequest(), Send(kHello), ReadRequest(), Send("HTTP/1.1 200 OK\r\nContent-"), Close()},
                      {ReadRequest(), Send(kAbc), Hold(3000)}});
    Fetch(s.Url("/1"));
    Events e = Fetch(s.Url("/2"));
    EXPECT_NE(e.body, "abc");
    EXPECT_EQ(s.Accepted(), 1);
}

TEST_F(KeepAliveTest, NginxServesManyFilesOverFewConnections) {
    const std::string root = MakeTempDir("net-keepalive-site");
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(WriteFile(root + "/f" + std::to_string(i) + ".txt", std::string(1000 + i * 997, char('a' + i))));
    NginxPeer nginx(root);
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    int reusedCount = 0;
    for (int i = 0; i < 20; ++i) {
        bool reused = false;
        Events e = Fetch(nginx.Url("/f" + std::to_string(i) + ".txt"), true, &reused);
        EXPECT_EQ(e.code, 0);
        EXPECT_EQ(e.body, std::string(1000 + i * 997, char('a' + i))) << i;
        if (reused) ++reusedCount;
    }
    EXPECT_EQ(reusedCount, 19);
    Events missing = Fetch(nginx.Url("/none.txt"));
    EXPECT_TRUE(missing.Has("Read Transaction complete. Status: 404 Not Found.", 2)) << missing.Dump();
    bool reused = false;
    Events after = Fetch(nginx.Url("/f3.txt"), true, &reused);
    EXPECT_EQ(after.body.size(), 1000u + 3 * 997);
    EXPECT_TRUE(reused);
}

}  // namespace
