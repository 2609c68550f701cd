// Bodies kept exactly, against scripted peers: nothing beyond the announced length, a part
// that starts elsewhere than asked is refused, header names count only at line starts,
// lengths beyond 32 bits, a peer that trickles its answer a byte at a time, and answers without
// a length that would never end.
#include <gtest/gtest.h>

#include <algorithm>

#include "net/client_harness.h"
#include "net/header_fields.h"
#include "net/kept_connections.h"
#include "net/scripted_server.h"

using namespace qm;
using namespace qm::test;

namespace {

using BodiesTest = ScriptedConnectionTest;

// Every byte of text in its own write, a short pause after each.
Script Trickle(const std::string& text) {
    Script s{ReadRequest()};
    for (char ch : text) {
        s.push_back(Send(std::string(1, ch)));
        s.push_back(Pause(5));
    }
    return s;
}

}  // namespace

TEST(HeaderFields, NamesCountOnlyAtLineStartsWithoutRegardToCase) {
    const std::string h =
        "HTTP/1.1 200 OK content-length: 9\r\nX-Content-Length: 7\r\n"
        "Content-Location: /elsewhere\r\nCONTENT-length: 5\r\nLocation:/here\r\n\r\n";
    EXPECT_EQ(net::HeaderField(h, "content-length:"), " 5");
    EXPECT_EQ(net::HeaderField(h, "location:"), "/here");
    EXPECT_EQ(net::HeaderField(h, "content-location:"), " /elsewhere");
    EXPECT_FALSE(net::HeaderField(h, "length:"));
    EXPECT_FALSE(net::HeaderField("X: a\r\n", ""));
    // Bare CR and bare LF end lines too; a last line without a break counts.
    EXPECT_EQ(net::HeaderField("A: 1\rB: 2\nC: 3", "c:"), " 3");

    EXPECT_EQ(net::ContentRangeStart("HTTP/1.0 206 x\r\nContent-Range: bytes 4-9/10\r\n"), 4);
    EXPECT_EQ(net::ContentRangeStart("content-range:BYTES 3000000000-3000000009/*\r\n"), 3000000000LL);
    EXPECT_FALSE(net::ContentRangeStart("X-Content-Range: bytes 4-9/10\r\n"));
    EXPECT_FALSE(net::ContentRangeStart("Content-Range: bytes */10\r\n"));
    EXPECT_FALSE(net::ContentRangeStart("Content-Range: items 4-9/10\r\n"));
    EXPECT_FALSE(net::ContentRangeStart("Content-Range: bytes 4\r\n"));
    EXPECT_FALSE(net::ContentRangeStart("Content-Range: bytes 1234567890123456789-2/3\r\n"));
}

TEST_F(BodiesTest, BytesBeyondTheAnnouncedLengthAreDropped) {
    ScriptedServer s({{ReadRequest(), Send("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA"), Hold(3000)},
                      {ReadRequest(), Send("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhel"), Pause(100),
                       Send("loEXTRA"), Hold(3000)}});
    net::DownloadConnection c;
    Prepare(c, s.Url("/"));
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(e)) << e.Dump();
    EXPECT_EQ(e.body, "hello");
    EXPECT_EQ(e.code, 0);
    EXPECT_TRUE(c.Complete);
    EXPECT_EQ(c.Received, 5);
    EXPECT_EQ(c.Remaining, 0);
    EXPECT_TRUE(e.Has("Bytes beyond the announced length were dropped.", 0)) << e.Dump();
    EXPECT_TRUE(e.Has("100% of 5 bytes of " + c.GetURL() + ".", 1)) << e.Dump();

    // The surplus in a later read than the header: the read that completes the body ends it.
    Events second;
    Attach(c, second);
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(second)) << second.Dump();
    EXPECT_EQ(second.body, "hello");
    EXPECT_EQ(second.code, 0);
}

TEST_F(BodiesTest, AKeptConnectionWithSurplusBytesIsNotReused) {
    const std::string exact = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";
    ScriptedServer s({{ReadRequest(), Send(exact + "EXTRA"), Hold(3000)},
                      {ReadRequest(), Send(exact), ReadRequest(), Send(exact), Hold(3000)}});
    net::DownloadConnection c;
    Prepare(c, s.Url("/"));
    c.KeepAlive = true;
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(e)) << e.Dump();
    EXPECT_EQ(e.body, "hello");
    EXPECT_EQ(net::kept::Count(), 0u) << "a connection that sent more than its answer is closed";

    // The next request opens a new connection; one whose answer ended exactly is kept.
    for (int round = 0; round < 2; ++round) {
        Events ev;
        Attach(c, ev);
        ASSERT_TRUE(c.Start(false));
        ASSERT_TRUE(RunToDone(ev)) << ev.Dump();
        EXPECT_EQ(ev.body, "hello");
        EXPECT_EQ(c.Reused, round == 1);
    }
    EXPECT_EQ(s.Accepted(), 2);
}

TEST_F(BodiesTest, APartThatDoesNotStartWhereAskedIsRefused) {
    const std::string broken = "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n0123";
    // The resume of a broken transfer is answered with the whole file as a part, then with
    // a part that names no range at all.
    ScriptedServer s(
        {{ReadRequest(), Send(broken), Pause(100), Close()},
         {ReadRequest(), Send("HTTP/1.0 206 Partial Content\r\nContent-Range: bytes 0-9/10\r\n\r\n0123456789"),
          Hold(3000)},
         {ReadRequest(), Send(broken), Pause(100), Close()},
         {ReadRequest(), Send("HTTP/1.0 206 Partial Content\r\nContent-Length: 6\r\n\r\n456789"), Hold(3000)}});
    net::DownloadConnection c;
    Prepare(c, s.Url("/f"));
    for (int round = 0; round < 2; ++round) {
        Events ev;
        Attach(c, ev);
        ASSERT_TRUE(c.Start(false));
        ASSERT_TRUE(RunToDone(ev)) << ev.Dump();
        EXPECT_EQ(ev.dones, 1);
        EXPECT_EQ(ev.code, 1);
        EXPECT_FALSE(c.Complete);
        EXPECT_FALSE(c.EndedWhole(static_cast<net::DoneCode>(ev.code)));
        EXPECT_EQ(ev.body, "0123") << "nothing of the refused part is delivered";
        EXPECT_TRUE(ev.Has("Reget answered from another byte than 4.", 2)) << ev.Dump();
    }
    auto got = s.Received();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_NE(got[1].find("\r\nRange: bytes=4-\r\n"), std::string::npos) << got[1];

    // A range the owner asked for itself: only a part from that byte on is taken.
    ScriptedServer ranged({{ReadRequest(),
                            Send("HTTP/1.0 206 Partial Content\r\nContent-Range: bytes 0-9/10\r\n"
                                 "Content-Length: 10\r\n\r\n0123456789"),
                            Hold(3000)},
                           {ReadRequest(),
                            Send("HTTP/1.0 206 Partial Content\r\nContent-Range: bytes 3-9/10\r\n"
                                 "Content-Length: 7\r\n\r\n3456789"),
                            Hold(3000)}});
    net::DownloadConnection d;
    d.SetURL(ranged.Url("/f"));
    d.ResumeFrom = 3;
    for (int round = 0; round < 2; ++round) {
        Events ev;
        Attach(d, ev);
        ASSERT_TRUE(d.Start(false));
        ASSERT_TRUE(RunToDone(ev)) << ev.Dump();
        EXPECT_EQ(ev.code, round == 0 ? 1 : 0) << ev.Dump();
        EXPECT_EQ(ev.body, round == 0 ? "" : "3456789");
    }
}

TEST_F(BodiesTest, HeaderNamesCountOnlyAtLineStarts) {
    ScriptedServer s(
        {{ReadRequest(), Send("HTTP/1.0 200 OK\r\nX-Content-Length: 3\r\nContent-Location: /x\r\n\r\nabcdef"),
          Pause(100), Close()},
         {ReadRequest(), Send("HTTP/1.0 200 OK\r\ncontent-LENGTH: 3\r\n\r\nabcdef"), Hold(3000)}});
    net::DownloadConnection c;
    Prepare(c, s.Url("/"));
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(e)) << e.Dump();
    EXPECT_EQ(e.body, "abcdef") << "X-Content-Length announces nothing";
    EXPECT_EQ(c.ContentLength, 0);
    EXPECT_EQ(e.code, 1);
    EXPECT_TRUE(c.EndedWhole(static_cast<net::DoneCode>(e.code)))
        << "an answer without a length ends when the server closes";

    Events second;
    Attach(c, second);
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(second)) << second.Dump();
    EXPECT_EQ(second.body, "abc");
    EXPECT_EQ(c.ContentLength, 3);
    EXPECT_EQ(second.code, 0);
}

TEST_F(BodiesTest, LengthsBeyond32BitsAreCountedWhole) {
    ScriptedServer s({{ReadRequest(), Send("HTTP/1.0 200 OK\r\nContent-Length: 5000000000\r\n\r\n"),
                       Send(std::string(1000, 'x')), Pause(100), Close()}});
    net::DownloadConnection c;
    Prepare(c, s.Url("/big"));
    c.AllowResume = false;
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(e)) << e.Dump();
    EXPECT_EQ(c.ContentLength, 5000000000LL);
    EXPECT_EQ(c.Received, 1000);
    EXPECT_EQ(c.Remaining, 5000000000LL - 1000);
    EXPECT_EQ(e.code, 1);
    EXPECT_FALSE(c.EndedWhole(static_cast<net::DoneCode>(e.code)));
    EXPECT_TRUE(e.Has("0% of 5000000000 bytes of " + c.GetURL() + ".", 1)) << e.Dump();
}

TEST_F(BodiesTest, ATricklingServerEndsTheTransfer) {
    // A byte at a time, each well within the time-out: the answer arrives whole.
    const std::string answer = "HTTP/1.0 200 OK\r\nContent-Length: 12\r\n\r\ntrickle body";
    Script slowStop = Trickle("HTTP/1.0 200 OK\r\nContent-Length: 12\r\n\r\ntrick");
    slowStop.push_back(Hold(5000));
    ScriptedServer s({Trickle(answer), slowStop});
    net::DownloadConnection c;
    Prepare(c, s.Url("/"));
    c.TimeOut = 2000;
    c.AllowResume = false;
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(e, 20000)) << e.Dump();
    EXPECT_EQ(e.body, "trickle body");
    EXPECT_EQ(e.code, 0);
    EXPECT_EQ(e.headers, 1);

    // A trickle that stops ends by the inactivity time-out, not complete.
    Events stopped;
    Attach(c, stopped);
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(stopped, 20000)) << stopped.Dump();
    EXPECT_EQ(stopped.body, "trick");
    EXPECT_EQ(stopped.code, 2);
    EXPECT_FALSE(c.Complete);
    EXPECT_TRUE(stopped.Has("Connection Timed out.", 2));
}

// An answer that never says how long it is stops at the client's cap (when no size limit is
// set), with or without chunks, as a failure; one with an announced length is not capped, and
// a size limit set by the user takes the cap's place.
TEST_F(BodiesTest, AnAnswerWithoutALengthStopsAtTheCap) {
    struct CapGuard {
        std::int64_t old = net::DownloadConnection::UnannouncedLimit;
        ~CapGuard() { net::DownloadConnection::UnannouncedLimit = old; }
    } guard;
    net::DownloadConnection::UnannouncedLimit = 64 * 1024;
    const std::string block(16 * 1024, 'x');
    auto endless = [&](const std::string& header, const std::string& piece) {
        Script s{ReadRequest(), Send(header)};
        for (int i = 0; i < 12; ++i) s.push_back(Send(piece));
        s.push_back(Hold(10000));
        return s;
    };
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", block.size());
    const std::string chunk = size + block + "\r\n";
    ScriptedServer s({endless("HTTP/1.0 200 OK\r\n\r\n", block),
                      endless("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", chunk),
                      endless("HTTP/1.0 200 OK\r\n\r\n", block),
                      {ReadRequest(), Send("HTTP/1.0 200 OK\r\nContent-Length: 131072\r\n\r\n"),
                       Send(std::string(131072, 'y')), Close()}});
    net::DownloadConnection c;
    for (const char* path : {"/plain", "/chunked"}) {
        Events stopped;
        Prepare(c, s.Url(path));
        Attach(c, stopped);
        c.AllowResume = false;
        ASSERT_TRUE(c.Start(false));
        ASSERT_TRUE(RunToDone(stopped, 20000)) << stopped.Dump();
        EXPECT_EQ(stopped.code, static_cast<int>(net::DoneCode::SizeLimit)) << path;
        EXPECT_FALSE(c.Complete) << path;
        EXPECT_GT(c.Received, 64 * 1024) << path;
        EXPECT_LE(c.Received, 64 * 1024 + 16 * 1024) << path;
        EXPECT_TRUE(stopped.Has("Answer without a length stopped at " + std::to_string(c.Received) + " bytes.",
                                static_cast<int>(net::StatusKind::TransactionEnd)))
            << stopped.Dump();
    }
    // The user's own limit governs instead: here it is the larger one.
    Events limited;
    Prepare(c, s.Url("/limited"));
    Attach(c, limited);
    c.AllowResume = false;
    c.SizeLimit = 128;  // KB
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(limited, 20000)) << limited.Dump();
    EXPECT_TRUE(limited.Has("File size limit exceed.", static_cast<int>(net::StatusKind::TransactionEnd)))
        << limited.Dump();
    EXPECT_GT(c.Received, 128 * 1024);

    Events announced;
    Prepare(c, s.Url("/announced"));
    Attach(c, announced);
    c.SizeLimit = 0;
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(announced, 20000)) << announced.Dump();
    EXPECT_EQ(announced.code, 0);
    EXPECT_EQ(announced.body.size(), 131072u);
}

// A large answer that waits whole in the socket is handed on in reads of at most 4096 bytes,
// each with its progress report, all of it, also past the reads taken in one wake-up; the
// kept connection then carries the next answer from its first byte.
TEST_F(BodiesTest, ALargeWaitingAnswerIsHandedOnInReadsOfAtMost4096Bytes) {
    std::string body;
    for (int i = 0; body.size() < 600 * 1024; ++i) body += "line " + std::to_string(i) + "\n";
    const std::string first = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    const std::string second = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";
    ScriptedServer s({{ReadRequest(), Send(first), ReadRequest(), Send(second), Hold(3000)}});
    net::DownloadConnection c;
    Prepare(c, s.Url("/large"));
    c.KeepAlive = true;
    std::size_t largestRead = 0;
    int reads = 0;
    c.OnData = [&](net::DownloadConnection&, const char* data, std::size_t n) {
        largestRead = std::max(largestRead, n);
        ++reads;
        e.body.append(data, n);
    };
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(e)) << e.Dump();
    EXPECT_EQ(e.code, 0);
    EXPECT_TRUE(c.Complete);
    EXPECT_TRUE(e.body == body) << e.body.size() << " of " << body.size() << " bytes";
    EXPECT_LE(largestRead, std::size_t(4096));
    EXPECT_GE(std::size_t(reads) * 4096, body.size());
    int progress = 0;
    for (const auto& [text, kind] : e.status)
        if (kind == 1 && text.find(" bytes of ") != std::string::npos) ++progress;
    EXPECT_GE(progress, reads);
    EXPECT_TRUE(e.Has("100% of " + std::to_string(body.size()) + " bytes of " + c.GetURL() + ".", 1));

    Events next;
    Attach(c, next);
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(next)) << next.Dump();
    EXPECT_TRUE(c.Reused);
    EXPECT_EQ(next.body, "hello");
    EXPECT_EQ(next.code, 0);
    EXPECT_EQ(s.Accepted(), 1);
}
