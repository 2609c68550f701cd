// What is stored of misbehaving answers, end to end through the queue against scripted
// peers: a 300 MiB answer without a length is stored whole, bytes beyond the announced
// length never reach the file, a resumed transfer answered with the wrong part is fetched
// again whole, header names count only at line starts, and the temporary file is made only
// for a body.
#include <filesystem>
#include <fstream>

#include "engine_fixture.h"
#include "net/kept_connections.h"
#include "net/scripted_server.h"
#include "platform/event_loop.h"
#include "store/file_category.h"
#include "store/options.h"
#include "store/project.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

using BodiesTest = EngineTest;

// 64 KiB whose first bytes say which chunk they are, so a cut or a repeat shows.
std::string Chunk(std::size_t index) {
    std::string chunk(64 * 1024, 'b');
    const std::string tag = "chunk " + std::to_string(index) + "\n";
    chunk.replace(0, tag.size(), tag);
    return chunk;
}

TEST_F(BodiesTest, AnAnswerWithoutALengthIsReadToItsEnd) {
    constexpr std::size_t kChunks = 300 * 16;  // 300 MiB, past every 28-bit count
    ScriptedServer s({{ReadRequest(), Send("HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n"),
                       SendRepeated(Chunk(0), kChunks - 1), Send(Chunk(kChunks - 1)), Close()}});
    store::Project& p = AddProject(s.Url("/big.bin"));
    auto q = MakeQueue(1);
    ASSERT_TRUE(q->StartProject(p));
    ASSERT_TRUE(RunIdle(*q, 300000));
    const std::string local = LocalOf(p, s.Url("/big.bin"));
    ASSERT_TRUE(fs::exists(local));
    EXPECT_EQ(fs::file_size(local), kChunks * 64 * 1024);
    EXPECT_EQ(p.ReceivedBytes, static_cast<std::int64_t>(kChunks * 64 * 1024));
    EXPECT_EQ(p.S200, 1);
    EXPECT_EQ(p.SErr + p.SAbr, 0);
    // The file ends with the last chunk the server sent.
    std::ifstream in(local, std::ios::binary);
    in.seekg(static_cast<std::streamoff>((kChunks - 1) * 64 * 1024));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "chunk " + std::to_string(kChunks - 1));
    EXPECT_EQ(TempFiles(), 0);

    // A category's maximum size still ends such an answer: nothing is stored, it counts as an error.
    ScriptedServer limited({{ReadRequest(), Send("HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n"),
                             SendRepeated(Chunk(0), 64), Hold(5000)}});
    store::Project& small = AddProject(limited.Url("/limited.bin"));
    store::FileCategory& other = small.Categories[store::kCatOther];
    other.Flag(store::CategoryFlag::SelectedSizesOnly) = true;  // size selection
    other.Flag(store::CategoryFlag::MaxSizeOn) = true;          // maximum on
    other.MaxSize = 1024;                                       // kilobytes
    ASSERT_TRUE(q->StartProject(small));
    ASSERT_TRUE(RunIdle(*q));
    EXPECT_FALSE(fs::exists(LocalOf(small, limited.Url("/limited.bin"))));
    EXPECT_LE(small.ReceivedBytes, 1024 * 1024 + 64 * 1024);
    EXPECT_EQ(small.SErr, 1);
    EXPECT_EQ(small.S200, 0);
}

TEST_F(BodiesTest, BytesBeyondTheLengthNeverReachTheFile) {
    store::Options().KeepAlive = true;
    net::kept::CloseAll();
    // Two files of one server, one after the other on one connection slot. The first answer
    // carries a forged second answer behind its body: it is not stored, and the connection it
    // came on does not carry the second request.
    const std::string forged = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 6\r\n\r\nforged";
    ScriptedServer s(
        {{ReadRequest(), Send("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n\r\nfirst" + forged),
          ReadRequest(), Hold(5000)},
         {ReadRequest(), Send("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 6\r\n\r\nsecond"),
          Hold(5000)}});
    store::Project& a = AddProject(s.Url("/a.txt"));
    store::Project& b = AddProject(s.Url("/b.txt"));
    auto q = MakeQueue(1);
    ASSERT_TRUE(q->StartProject(a));
    ASSERT_TRUE(q->StartProject(b));
    ASSERT_TRUE(RunIdle(*q));
    EXPECT_EQ(ReadFile(LocalOf(a, s.Url("/a.txt"))), "first");
    EXPECT_EQ(ReadFile(LocalOf(b, s.Url("/b.txt"))), "second");
    EXPECT_EQ(a.ReceivedBytes, 5);
    EXPECT_EQ(a.S200 + b.S200, 2);
    EXPECT_EQ(s.Accepted(), 2);
    net::kept::CloseAll();
}

TEST_F(BodiesTest, AWrongPartIsFetchedAgainWhole) {
    store::Options().ConnRetries = 2;
    const std::string whole = "0123456789";
    ScriptedServer s(
        {{ReadRequest(), Send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 10\r\n\r\n0123"),
          Pause(100), Close()},
         {ReadRequest(),
          Send("HTTP/1.0 206 Partial Content\r\nContent-Range: bytes 0-9/10\r\n"
               "Content-Length: 10\r\n\r\n" +
               whole),
          Hold(5000)},
         {ReadRequest(), Send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 10\r\n\r\n" + whole),
          Hold(5000)}});
    store::Project& p = AddProject(s.Url("/f.txt"));
    auto q = MakeQueue(1);
    ASSERT_TRUE(q->StartProject(p));
    ASSERT_TRUE(RunIdle(*q));
    EXPECT_EQ(ReadFile(LocalOf(p, s.Url("/f.txt"))), whole) << "never the part appended to what came before";
    EXPECT_EQ(p.S200, 1);
    EXPECT_EQ(p.SErr, 0);
    auto got = s.Received();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_NE(got[1].find("Range: bytes=4-"), std::string::npos) << got[1];
    EXPECT_EQ(got[2].find("Range:"), std::string::npos) << "the new attempt asks for the whole file: " << got[2];
}

TEST_F(BodiesTest, HeaderNamesCountOnlyAtLineStarts) {
    // A moved answer that names its content's place but no new address is not followed.
    ScriptedServer s(
        {{ReadRequest(), Send("HTTP/1.0 302 Found\r\nContent-Location: /elsewhere.txt\r\n\r\n"), Close()},
         {ReadRequest(), Send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nX-Content-Length: 3\r\n\r\nabcdef"),
          Close()}});
    store::Project& moved = AddProject(s.Url("/moved.txt"));
    auto q = MakeQueue(1);
    ASSERT_TRUE(q->StartProject(moved));
    ASSERT_TRUE(RunIdle(*q));
    EXPECT_EQ(s.Accepted(), 1) << "Content-Location is no Location";
    EXPECT_FALSE(fs::exists(LocalOf(moved, s.Url("/elsewhere.txt"))));
    EXPECT_EQ(moved.S200 + moved.SErr, 0);

    store::Project& text = AddProject(s.Url("/text.txt"));
    ASSERT_TRUE(q->StartProject(text));
    ASSERT_TRUE(RunIdle(*q));
    EXPECT_EQ(ReadFile(LocalOf(text, s.Url("/text.txt"))), "abcdef") << "X-Content-Length announces nothing";
    EXPECT_EQ(text.S200, 1);
}

TEST_F(BodiesTest, TheTemporaryFileWaitsForABody) {
    // A request waiting for its answer has no temporary file yet; the body that then arrives
    // is stored whole, an empty body is stored as an empty file, and a 404 leaves nothing.
    ScriptedServer s(
        {{ReadRequest(), Pause(300), Send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n"), Pause(100),
          Send("late body"), Close()},
         {ReadRequest(), Send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 0\r\n\r\n"), Close()},
         {ReadRequest(), Send("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 0\r\n\r\n"), Close()},
         {ReadRequest(), Send("HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\nnot here\n"), Close()}});
    store::Project& late = AddProject(s.Url("/late.txt"));
    auto q = MakeQueue(1);
    ASSERT_TRUE(q->StartProject(late));
    ASSERT_TRUE(platform::RunUntil([&] { return !s.Received().empty() && !s.Received()[0].empty(); }, 10000));
    EXPECT_EQ(TempFiles(), 0) << "no body has arrived";
    ASSERT_TRUE(RunIdle(*q));
    EXPECT_EQ(ReadFile(LocalOf(late, s.Url("/late.txt"))), "late body");

    store::Project& empty = AddProject(s.Url("/empty.txt"));
    store::Project& page = AddProject(s.Url("/empty.html"));
    store::Project& missing = AddProject(s.Url("/missing.txt"));
    for (store::Project* p : {&empty, &page, &missing}) {
        ASSERT_TRUE(q->StartProject(*p));
        ASSERT_TRUE(RunIdle(*q));
    }
    const std::string emptyFile = LocalOf(empty, s.Url("/empty.txt"));
    ASSERT_TRUE(fs::is_regular_file(emptyFile));
    EXPECT_EQ(fs::file_size(emptyFile), 0u);
    const std::string emptyPage = LocalOf(page, s.Url("/empty.html"));
    ASSERT_TRUE(fs::is_regular_file(emptyPage));
    EXPECT_EQ(fs::file_size(emptyPage), 0u);
    EXPECT_EQ(empty.S200 + page.S200, 2);
    EXPECT_FALSE(fs::exists(LocalOf(missing, s.Url("/missing.txt"))));
    EXPECT_EQ(missing.S400, 1);
    EXPECT_EQ(TempFiles(), 0);
}

}  // namespace
}  // namespace qm::test
