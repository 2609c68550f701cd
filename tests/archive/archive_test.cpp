// Web archive files: records written and read back with their digests, index lines that
// open their records, rotation, files of killed runs cut back to whole records, and the
// revisit records of unchanged answers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <map>

#include "archive/archive_contents.h"
#include "archive/captured_bytes.h"
#include "archive/http_payload.h"
#include "archive/cdxj.h"
#include "archive/digest.h"
#include "archive/gzip_member.h"
#include "archive/recorder.h"
#include "archive/warc_reader.h"
#include "archive/warc_writer.h"
#include "codings/chunked_body.h"
#include "support/peers.h"

namespace qm::archive {
namespace {

namespace fs = std::filesystem;
using codings::ChunkedBody;
using codings::Dechunk;
using codings::DecodeContent;
using codings::Decoded;

std::vector<ReadRecord> ReadAll(const std::string& path, std::string* error = nullptr) {
    std::vector<ReadRecord> out;
    WarcReader reader(path);
    ReadRecord r;
    while (reader.Next(r)) out.push_back(r);
    if (error) *error = reader.Error();
    return out;
}

std::vector<IndexEntry> ReadIndex(const std::string& path) {
    std::vector<IndexEntry> out;
    std::ifstream in(path);
    std::string line, last;
    while (std::getline(in, line)) {
        EXPECT_LE(last, line) << "index not sorted";
        last = line;
        IndexEntry e;
        EXPECT_TRUE(ParseIndexLine(line, e)) << line;
        out.push_back(e);
    }
    return out;
}

WarcRecord Response(const std::string& url, const std::string& body) {
    WarcRecord r;
    r.fields = {{"WARC-Type", "response"},
                {"WARC-Record-ID", NewRecordId()},
                {"WARC-Date", "2026-01-02T03:04:05Z"},
                {"WARC-Target-URI", url},
                {"Content-Type", "application/http;msgtype=response"}};
    r.block = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n" + body;
    r.fields.emplace_back("WARC-Block-Digest", Sha1Base32(r.block));
    return r;
}

std::string HttpAnswer(const std::string& status, const std::string& headers, const std::string& body) {
    return "HTTP/1.0 " + status + "\r\n" + headers + "\r\n" + body;
}

TEST(ArchiveText, DigestsAddressKeysAndChunks) {
    EXPECT_EQ(Sha1Base32(""), "sha1:3I42H3S6NNFQ2MSVX7XZKYAYSCX5QBYJ");
    EXPECT_EQ(Base32("foobar"), "MZXW6YTBOI======");  // RFC 4648's example
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Surt("http://www.Example.com/a/B?b=2&a=1#frag"), "com,example)/a/b?a=1&b=2");
    EXPECT_EQ(Surt("https://example.com:443/"), "com,example)/");
    EXPECT_EQ(Surt("http://user@sub.example.org:8080"), "org,example,sub:8080)/");
    std::string out = "kept";
    EXPECT_TRUE(Dechunk("5\r\nhello\r\n6;x=y\r\n world\r\n0\r\n\r\n", out));
    EXPECT_EQ(out, "hello world");
    out = "kept";
    EXPECT_FALSE(Dechunk("5\r\nhel", out));                     // cut off
    EXPECT_FALSE(Dechunk("ffffffffffffffffff\r\nx\r\n", out));  // a size no body has
    EXPECT_FALSE(Dechunk("zz\r\n", out));
    EXPECT_EQ(out, "kept");
    EXPECT_EQ(IndexTimestamp("2026-12-09T23:14:53Z"), "20261209231453");
    EXPECT_EQ(WarcDateFromTimestamp("20261209231453"), "2026-12-09T23:14:53Z");
    EXPECT_EQ(IndexTimestamp("2026-12-09 23:14"), "");
    IndexEntry e;
    EXPECT_FALSE(ParseIndexLine("com,example)/ 2026 {\"url\": \"http://example.com/\"}", e));  // no offset
}

TEST(WarcFiles, RecordsReadBackRotateAndIndexTheirOffsets) {
    const std::string dir = test::MakeTempDir("warcfiles");
    {
        WarcWriter writer(dir, "run", 2000);  // small files: several rotations
        WarcRecord info;
        info.fields = {{"WARC-Type", "warcinfo"}, {"WARC-Record-ID", ""}, {"WARC-Filename", ""}};
        info.block = "software: test\r\n";
        writer.SetInfo(info);
        for (int i = 0; i < 30; ++i)
            ASSERT_TRUE(
                writer.Write(Response("http://h/p" + std::to_string(i), std::string(200 + i * 37, 'a' + i % 26))))
                << writer.Error();
        ASSERT_TRUE(writer.Close()) << writer.Error();
        EXPECT_GE(writer.Files().size(), 3u);
    }
    int responses = 0;
    for (const std::string& name : ArchiveFiles(dir)) {
        const std::string path = dir + "/" + name;
        std::string error;
        std::vector<ReadRecord> records = ReadAll(path, &error);
        EXPECT_EQ(error, "") << name;
        ASSERT_FALSE(records.empty());
        // Every file opens with its own warcinfo naming it.
        EXPECT_EQ(records[0].record.Field("WARC-Type"), "warcinfo");
        EXPECT_EQ(records[0].record.Field("WARC-Filename"), name);
        EXPECT_NE(records[0].record.Field("WARC-Record-ID"), "");
        std::uint64_t end = 0;
        for (const ReadRecord& r : records) {
            EXPECT_EQ(r.offset, end) << "records follow each other";
            end = r.offset + r.length;
            if (r.record.Field("WARC-Type") != "response") continue;
            ++responses;
            EXPECT_EQ(Sha1Base32(r.record.block), r.record.Field("WARC-Block-Digest"));
        }
        EXPECT_EQ(end, fs::file_size(path));
        const std::vector<IndexEntry> index = ReadIndex(dir + "/" + IndexNameOf(name));
        EXPECT_EQ(index.size(), records.size() - 1);
        for (const IndexEntry& e : index) {
            WarcRecord at;
            ASSERT_TRUE(ReadRecordAt(path, e.offset, e.length, at)) << e.url;
            EXPECT_EQ(at.Field("WARC-Target-URI"), e.url);
            EXPECT_EQ(e.filename, name);
            EXPECT_EQ(e.status, "200");
            EXPECT_EQ(e.mime, "text/html");
            EXPECT_EQ(e.timestamp, "20260102030405");
            // An offset or length that is off by one opens nothing.
            EXPECT_FALSE(ReadRecordAt(path, e.offset + 1, e.length, at));
            EXPECT_FALSE(ReadRecordAt(path, e.offset, e.length - 1, at));
        }
    }
    EXPECT_EQ(responses, 30);
}

TEST(WarcFiles, JobsRunInOrderWithRecordsAndTheirFailureStopsTheWriter) {
    const std::string dir = test::MakeTempDir("warcjobs");
    WarcWriter writer(dir, "run");
    std::vector<std::string> order;  // touched by the writing thread only, read after Close
    ASSERT_TRUE(writer.Write(Response("http://h/0", "zero")));
    ASSERT_TRUE(writer.Submit(
        [&](std::string& error) {
            order.push_back("job");
            return writer.WriteHere(Response("http://h/1", "one"), error);
        },
        3));
    ASSERT_TRUE(writer.Write(Response("http://h/2", "two")));
    ASSERT_TRUE(writer.Submit(
        [](std::string& error) {
            error = "made up failure";
            return false;
        },
        0));
    // Whatever comes after a failure is refused, once the writer has seen it.
    EXPECT_FALSE(writer.Close());
    EXPECT_EQ(writer.Error(), "made up failure");
    EXPECT_FALSE(writer.Write(Response("http://h/3", "three")));
    EXPECT_EQ(order, std::vector<std::string>{"job"});
    std::vector<ReadRecord> records = ReadAll(dir + "/run-00000.warc.gz");
    ASSERT_EQ(records.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(records[i].record.Field("WARC-Target-URI"), "http://h/" + std::to_string(i));
}

TEST(WarcFiles, SmallRecordsAreWrittenWithoutWaitingForMoreOrForClose) {
    const std::string dir = test::MakeTempDir("warcbatch");
    WarcWriter writer(dir, "run");
    // Each lone small record is written while the writer stays open (a hang here fails by
    // the test's time limit), in pauses and in bursts alike.
    for (int round = 0; round < 3; ++round) {
        std::promise<void> written;
        ASSERT_TRUE(writer.Write(Response("http://h/" + std::to_string(round), "small")));
        ASSERT_TRUE(writer.Submit(
            [&written](std::string&) {
                written.set_value();
                return true;
            },
            0));
        written.get_future().wait();
        EXPECT_EQ(ReadAll(dir + "/run-00000.warc.gz").size(), static_cast<std::size_t>(round + 1));
    }
    for (int i = 3; i < 200; ++i) ASSERT_TRUE(writer.Write(Response("http://h/" + std::to_string(i), "burst")));
    ASSERT_TRUE(writer.Close());
    EXPECT_EQ(ReadAll(dir + "/run-00000.warc.gz").size(), 200u);
}

TEST(CapturedBytes, AnAnnouncedLengthIsTakenOnceAndNeverPastTheMemoryPart) {
    CapturedBytes bytes(test::MakeTempDir("expect"), 64, 1000);
    bytes.Expect(48);
    const std::size_t room = bytes.Front().capacity();
    EXPECT_GE(room, 48u);
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(bytes.Append("12345678"));
    EXPECT_EQ(bytes.Front().capacity(), room) << "no growing while within the announced length";
    bytes.Expect(1000);  // never more than the memory part
    EXPECT_LT(bytes.Front().capacity(), 1000u);
    ASSERT_TRUE(bytes.Append(std::string(100, 'x')));
    EXPECT_TRUE(bytes.Spilled());
    EXPECT_EQ(bytes.All(), "123456781234567812345678123456781234567812345678" + std::string(100, 'x'));
}

TEST(WarcFiles, AKilledRunsFileIsCutBackToItsLastWholeRecord) {
    const std::string dir = test::MakeTempDir("warccut");
    std::uint64_t whole = 0;
    {
        WarcWriter writer(dir, "run");
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(writer.Write(Response("http://h/" + std::to_string(i), "body")));
        ASSERT_TRUE(writer.Close());
        whole = fs::file_size(dir + "/run-00000.warc.gz");
    }
    // As a kill leaves it: no index, half a member at the end.
    fs::remove(dir + "/run-00000.cdxj");
    const std::string member = GzipMember(Response("http://h/cut", std::string(5000, 'x')).Serialize());
    {
        std::ofstream out(dir + "/run-00000.warc.gz", std::ios::app | std::ios::binary);
        out << member.substr(0, member.size() / 2);
    }
    std::string error;
    ReadAll(dir + "/run-00000.warc.gz", &error);
    EXPECT_NE(error, "");
    // A file of garbage alone has no whole record: it is cut back to nothing.
    test::WriteFile(dir + "/run2-00000.warc.gz", "not a gzip member at all");
    const std::vector<std::string> repaired = RepairArchiveFolder(dir, error);
    EXPECT_EQ(repaired, (std::vector<std::string>{"run-00000.warc.gz", "run2-00000.warc.gz"}));
    EXPECT_EQ(fs::file_size(dir + "/run-00000.warc.gz"), whole);
    EXPECT_EQ(fs::file_size(dir + "/run2-00000.warc.gz"), 0u);
    error.clear();
    EXPECT_EQ(ReadAll(dir + "/run-00000.warc.gz", &error).size(), 3u);
    EXPECT_EQ(error, "");
    EXPECT_EQ(ReadIndex(dir + "/run-00000.cdxj").size(), 3u);
    // An indexed file is whole: a second repair leaves everything alone.
    EXPECT_TRUE(RepairArchiveFolder(dir, error).empty());
}

TEST(Recorder, RevisitsForUnchangedAnswersAndDigestsOfTheRawBytes) {
    const std::string dir = test::MakeTempDir("recorder");
    RunInfo info{"Quillmoor", "http://h/", {{"level", "2"}}};
    const std::string page = HttpAnswer("200 OK", "Content-Type: text/html\r\n", "<p>same</p>");
    const std::string chunkedBody = "4\r\nab\r\n\r\n3\r\ncde\r\n0\r\n\r\n";
    std::string error;
    {
        auto r = Recorder::Open(dir, info, 1000000000, error);
        ASSERT_TRUE(r);
        ASSERT_TRUE(r->RecordHttp({"http://h/a", "GET /a HTTP/1.0\r\n\r\n", page, "127.0.0.1", 1000000000, false}));
        ASSERT_TRUE(r->RecordHttp({"http://h/c", "GET /c HTTP/1.1\r\n\r\n",
                                   HttpAnswer("200 OK", "Transfer-Encoding: chunked\r\n", chunkedBody), "", 1000000000,
                                   false}));
        ASSERT_TRUE(r->RecordHttp({"http://h/big", "GET /big HTTP/1.0\r\n\r\n",
                                   HttpAnswer("200 OK", "Content-Length: 100\r\n", "cut"), "", 1000000000, true}));
        ASSERT_TRUE(r->RecordResource("ftp://h/f.txt", "text/plain", "ftp body", 1000000000));
        // A link with a line break in it would forge a field of its own: it is left out.
        ASSERT_TRUE(r->RecordOutlinks(
            "http://h/a", {"http://h/b", "http://h/x\r\nWARC-Forged: 1", "http://h/y\nz", "http://h/c"}, 1000000000));
        ASSERT_TRUE(r->Close());
    }
    auto r = Recorder::Open(dir, info, 1000000100, error);
    ASSERT_TRUE(r);
    ASSERT_TRUE(r->RecordHttp({"http://h/a", "GET /a HTTP/1.0\r\n\r\n", page, "127.0.0.1", 1000000100, false}));
    ASSERT_TRUE(r->RecordHttp(
        {"http://h/c", "GET /c HTTP/1.1\r\n\r\n", HttpAnswer("304 Not Modified", "", ""), "", 1000000100, false}));
    ASSERT_TRUE(r->RecordHttp({"http://h/big", "GET /big HTTP/1.0\r\n\r\n",
                               HttpAnswer("200 OK", "Content-Length: 4\r\n", "full"), "", 1000000100, false}));
    ASSERT_TRUE(r->Close());
    ASSERT_EQ(r->Files().size(), 1u);
    EXPECT_EQ(r->Files()[0], "20010909014820-00000.warc.gz");

    const std::vector<std::string> files = ArchiveFiles(dir);
    ASSERT_EQ(files.size(), 2u);
    std::vector<ReadRecord> first = ReadAll(dir + "/" + files[0]);
    std::vector<ReadRecord> second = ReadAll(dir + "/" + files[1]);
    ASSERT_EQ(first.size(), 9u);  // warcinfo, 3 x (request, response), resource, metadata
    EXPECT_NE(first[0].record.block.find("isPartOf: http://h/\r\nlevel: 2\r\n"), std::string::npos);
    // Request and response point at each other.
    EXPECT_EQ(first[1].record.Field("WARC-Type"), "request");
    EXPECT_EQ(first[2].record.Field("WARC-Type"), "response");
    EXPECT_EQ(first[1].record.Field("WARC-Concurrent-To"), first[2].record.Field("WARC-Record-ID"));
    EXPECT_EQ(first[2].record.Field("WARC-Concurrent-To"), first[1].record.Field("WARC-Record-ID"));
    EXPECT_EQ(first[2].record.Field("WARC-IP-Address"), "127.0.0.1");
    EXPECT_EQ(first[2].record.block, page);
    EXPECT_EQ(first[2].record.Field("WARC-Payload-Digest"), Sha1Base32("<p>same</p>"));
    // The chunked answer is kept as sent; its payload digest is of the content.
    EXPECT_EQ(first[4].record.block, HttpAnswer("200 OK", "Transfer-Encoding: chunked\r\n", chunkedBody));
    EXPECT_EQ(first[4].record.Field("WARC-Payload-Digest"), Sha1Base32("ab\r\ncde"));
    EXPECT_EQ(first[6].record.Field("WARC-Truncated"), "length");
    EXPECT_EQ(first[7].record.Field("WARC-Type"), "resource");
    EXPECT_EQ(first[7].record.block, "ftp body");
    EXPECT_EQ(first[8].record.Field("WARC-Type"), "metadata");
    EXPECT_EQ(first[8].record.Field("WARC-Refers-To"), first[2].record.Field("WARC-Record-ID"));
    EXPECT_EQ(first[8].record.block, "outlink: http://h/b\r\noutlink: http://h/c\r\n");
    for (const auto* records : {&first, &second})
        for (const ReadRecord& rec : *records)
            EXPECT_EQ(Sha1Base32(rec.record.block), rec.record.Field("WARC-Block-Digest"))
                << rec.record.Field("WARC-Type");

    ASSERT_EQ(second.size(), 7u);
    // Same payload as last time: a revisit pointing at the first run's record.
    const WarcRecord& same = second[2].record;
    EXPECT_EQ(same.Field("WARC-Type"), "revisit");
    EXPECT_EQ(same.Field("WARC-Profile"), "http://netpreserve.org/warc/1.1/revisit/identical-payload-digest");
    EXPECT_EQ(same.Field("WARC-Refers-To-Target-URI"), "http://h/a");
    EXPECT_EQ(same.Field("WARC-Refers-To-Date"), "2001-09-09T01:46:40Z");
    EXPECT_EQ(same.Field("WARC-Payload-Digest"), Sha1Base32("<p>same</p>"));
    EXPECT_EQ(same.block.find("same"), std::string::npos);
    // Not modified: a revisit too, dated to the last whole answer.
    const WarcRecord& notModified = second[4].record;
    EXPECT_EQ(notModified.Field("WARC-Type"), "revisit");
    EXPECT_EQ(notModified.Field("WARC-Profile"), "http://netpreserve.org/warc/1.1/revisit/server-not-modified");
    EXPECT_EQ(notModified.Field("WARC-Refers-To-Date"), "2001-09-09T01:46:40Z");
    // The cut-off answer was never a payload to refer to: the whole one is a response.
    EXPECT_EQ(second[6].record.Field("WARC-Type"), "response");
    const std::vector<IndexEntry> index = ReadIndex(dir + "/" + IndexNameOf(files[1]));
    ASSERT_EQ(index.size(), 3u);
    EXPECT_EQ(index[0].url, "http://h/a");
    EXPECT_EQ(index[0].mime, "warc/revisit");
}

// Bytes of one answer spread over memory and an anonymous spill file in the archive folder.
std::string Pattern(std::size_t size, unsigned seed) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        out[i] = static_cast<char>(seed >> 16);
    }
    return out;
}

TEST(Recorder, LargeAnswersSpillToDiskAndReadBackWhole) {
    const std::string dir = test::MakeTempDir("spill");
    constexpr std::size_t kMemory = 64 << 10;
    // A chunked answer of 3 MB fed in uneven pieces: 64 KB in memory, the rest spilled.
    const std::string content = Pattern(3 << 20, 7);
    std::string chunked;
    for (std::size_t at = 0; at < content.size(); at += 100000) {
        const std::string piece = content.substr(at, 100000);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        chunked += size + piece + "\r\n";
    }
    chunked += "0\r\n\r\n";
    const std::string answer = HttpAnswer("200 OK", "Transfer-Encoding: chunked\r\n", chunked);
    CapturedBytes big(dir, kMemory, 64 << 20);
    for (std::size_t at = 0; at < answer.size(); at += 7777) ASSERT_TRUE(big.Append(answer.substr(at, 7777)));
    EXPECT_LE(big.Front().size(), kMemory);
    EXPECT_TRUE(big.Spilled());
    EXPECT_EQ(big.Size(), answer.size());
    EXPECT_EQ(big.All(), answer);
    // An endless answer is cut off at the limit, keeping what came before it.
    CapturedBytes endless(dir, kMemory, 1 << 20);
    const std::string endlessHead = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n";
    ASSERT_TRUE(endless.Append(endlessHead));
    const std::string block = Pattern(50000, 3);
    int appended = 0;
    while (endless.Append(block)) ++appended;
    EXPECT_EQ(appended, static_cast<int>(((1 << 20) - endlessHead.size()) / block.size()));
    EXPECT_TRUE(endless.Truncated());
    EXPECT_FALSE(endless.Append("x"));
    EXPECT_EQ(endless.Size(), endlessHead.size() + appended * block.size());
    // Nothing spilled is ever visible in the folder.
    EXPECT_TRUE(fs::is_empty(dir));
    {
        const std::string resource = Pattern(200000, 9);
        CapturedBytes file(dir, kMemory, 64 << 20);
        ASSERT_TRUE(file.Append(resource));
        RunInfo info{"Quillmoor", "http://h/", {}};
        std::string error;
        auto r = Recorder::Open(dir, info, 1000000000, error);
        ASSERT_TRUE(r) << error;
        ASSERT_TRUE(
            r->RecordHttp({"http://h/big", "GET /big HTTP/1.1\r\n\r\n", std::move(big), "", 1000000000, false}));
        ASSERT_TRUE(r->RecordHttp(
            {"http://h/endless", "GET /endless HTTP/1.0\r\n\r\n", std::move(endless), "", 1000000000, false}));
        ASSERT_TRUE(r->RecordResource("ftp://h/file", "application/octet-stream", std::move(file), 1000000000));
        ASSERT_TRUE(r->Close()) << r->Error();
        const std::vector<std::string> files = ArchiveFiles(dir);
        ASSERT_EQ(files.size(), 1u);
        std::string readError;
        const std::vector<ReadRecord> records = ReadAll(dir + "/" + files[0], &readError);
        EXPECT_EQ(readError, "");
        ASSERT_EQ(records.size(), 6u);  // warcinfo, 2 x (request, response), resource
        for (const ReadRecord& rec : records)
            EXPECT_EQ(Sha1Base32(rec.record.block), rec.record.Field("WARC-Block-Digest"));
        EXPECT_EQ(records[2].record.block, answer);
        EXPECT_EQ(records[2].record.Field("WARC-Payload-Digest"), Sha1Base32(content));
        EXPECT_EQ(records[2].record.Field("WARC-Truncated"), "");
        EXPECT_EQ(records[4].record.Field("WARC-Truncated"), "length");
        EXPECT_EQ(records[4].record.block.size(), endlessHead.size() + appended * block.size());
        EXPECT_EQ(records[5].record.block, resource);
        EXPECT_EQ(records[5].record.Field("WARC-Payload-Digest"), Sha1Base32(resource));
        // The index opens the large records at their offsets.
        const std::vector<IndexEntry> index = ReadIndex(dir + "/" + IndexNameOf(files[0]));
        ASSERT_EQ(index.size(), 3u);
        for (const IndexEntry& e : index) {
            WarcRecord at;
            ASSERT_TRUE(ReadRecordAt(dir + "/" + files[0], e.offset, e.length, at)) << e.url;
            EXPECT_EQ(at.Field("WARC-Target-URI"), e.url);
        }
    }
    // Only the archive and its index are left behind.
    std::vector<std::string> left;
    for (auto& e : fs::directory_iterator(dir)) left.push_back(e.path().filename().string());
    EXPECT_EQ(left.size(), 2u);
}

TEST(ArchiveText, ChunkedBodiesDecodeInAnyPieces) {
    const std::string body = "4\r\nab\r\n\r\n3;x=1\r\ncde\r\n0\r\n\r\n";
    for (std::size_t piece = 1; piece <= body.size(); ++piece) {
        ChunkedBody decoder;
        std::string out;
        for (std::size_t at = 0; at < body.size(); at += piece) {
            const std::string part = body.substr(at, piece);
            ASSERT_NE(decoder.Feed(part.data(), part.size(), out), ChunkedBody::Result::Bad);
        }
        EXPECT_TRUE(decoder.Ended());
        EXPECT_EQ(out, "ab\r\ncde") << piece;
    }
    std::string ignored;
    ChunkedBody bad;
    EXPECT_EQ(bad.Feed("3\r\nabcX", 8, ignored), ChunkedBody::Result::Bad);  // no line end after the data
    ChunkedBody cut;
    EXPECT_NE(cut.Feed("3\r\nab", 5, ignored), ChunkedBody::Result::Bad);
    EXPECT_FALSE(cut.Ended());
}

TEST(ArchiveContents, TheLatestWholeAnswerOfEachAddressWithRevisitsResolved) {
    const std::string dir = test::MakeTempDir("contents");
    RunInfo info{"Quillmoor", "http://h/", {}};
    const std::string page = HttpAnswer("200 OK", "Content-Type: text/html\r\n", "<p>first</p>");
    std::string error;
    {
        auto r = Recorder::Open(dir, info, 1000000000, error);
        ASSERT_TRUE(r);
        ASSERT_TRUE(r->RecordHttp({"http://h/a", "GET /a HTTP/1.0\r\n\r\n", page, "", 1000000000, false}));
        ASSERT_TRUE(
            r->RecordHttp({"http://h/b", "GET /b HTTP/1.0\r\n\r\n",
                           HttpAnswer("200 OK", "Content-Type: text/plain\r\n", "b one"), "", 1000000000, false}));
        ASSERT_TRUE(
            r->RecordHttp({"http://h/c", "GET /c HTTP/1.0\r\n\r\n",
                           HttpAnswer("200 OK", "Content-Type: text/plain\r\n", "c whole"), "", 1000000000, false}));
        ASSERT_TRUE(r->Close());
    }
    {
        // A later run: a repeats itself, b is not modified, c is cut off, d is gone.
        auto r = Recorder::Open(dir, info, 1000000100, error);
        ASSERT_TRUE(r);
        ASSERT_TRUE(r->RecordHttp({"http://h/a", "GET /a HTTP/1.0\r\n\r\n", page, "", 1000000100, false}));
        ASSERT_TRUE(r->RecordHttp(
            {"http://h/b", "GET /b HTTP/1.0\r\n\r\n", HttpAnswer("304 Not Modified", "", ""), "", 1000000100, false}));
        ASSERT_TRUE(r->RecordHttp({"http://h/c", "GET /c HTTP/1.0\r\n\r\n",
                                   HttpAnswer("200 OK", "Content-Length: 99\r\n", "c cu"), "", 1000000100, true}));
        ASSERT_TRUE(r->RecordHttp(
            {"http://h/d", "GET /d HTTP/1.0\r\n\r\n", HttpAnswer("404 Not Found", "", "gone"), "", 1000000100, false}));
        ASSERT_TRUE(r->Close());
    }
    ArchiveContents contents;
    for (const std::string& name : ArchiveFiles(dir)) ASSERT_TRUE(contents.Add(dir + "/" + name, error)) << error;
    EXPECT_EQ(contents.FirstPage(), "http://h/a");
    const std::vector<ArchivedAnswer> latest = contents.Latest();
    ASSERT_EQ(latest.size(), 4u);
    std::map<std::string, std::string> bodies;
    for (const ArchivedAnswer& a : latest) {
        WarcRecord rec;
        ASSERT_TRUE(ReadRecordAt(a.path, a.offset, a.length, rec)) << a.url;
        EXPECT_EQ(rec.Field("WARC-Type"), "response") << a.url;
        int status = 0;
        std::string head, body;
        ASSERT_EQ(HttpPayload(rec.block, 1 << 20, status, head, body), Decoded::Ok);
        bodies[a.url] = std::to_string(status) + " " + body;
    }
    EXPECT_EQ(bodies["http://h/a"], "200 <p>first</p>");  // the revisit's original
    EXPECT_EQ(bodies["http://h/b"], "200 b one");         // not modified: the earlier answer
    EXPECT_EQ(bodies["http://h/c"], "200 c whole");       // the cut-off answer is no copy
    EXPECT_EQ(bodies["http://h/d"], "404 gone");          // the latest answer, whatever it says
}

TEST(ArchiveText, MembersMadeInARowThroughKeptBuffersEachDecodeToTheirParts) {
    // Incompressible bytes (stored blocks, the largest members), an empty part, and text.
    std::string noise(3 << 20, '\0');
    std::uint32_t x = 12345;
    for (char& c : noise) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
    const std::string text = "HTTP/1.1 200 OK\r\n\r\n" + std::string(100000, 'a');
    GzipBuffers buffers;
    std::string decoded;
    for (int round = 0; round < 3; ++round) {
        const std::string joined = "head " + std::to_string(round) + noise + text + "\r\n\r\n";
        const std::string member(
            GzipMemberInto({"head " + std::to_string(round), noise, "", text, "\r\n\r\n"}, buffers));
        ASSERT_EQ(DecodeContent(member, "gzip", joined.size(), decoded), Decoded::Ok) << "round " << round;
        EXPECT_TRUE(decoded == joined) << "round " << round;
        const std::string small(GzipMemberInto({"x"}, buffers));
        ASSERT_EQ(DecodeContent(small, "gzip", 10, decoded), Decoded::Ok);
        EXPECT_EQ(decoded, "x");
        ASSERT_EQ(DecodeContent(GzipMember({"", ""}), "gzip", 10, decoded), Decoded::Ok);
        EXPECT_EQ(decoded, "");
    }
    // A short head before a page compresses as well as the two joined.
    std::string page;
    for (int i = 0; page.size() < 30000; ++i)
        page += "<li><a href=\"library/mod" + std::to_string(i * 7919 % 1000) + ".html#" + std::to_string(i) +
                "\">item " + std::to_string(i) + "</a></li>\n";
    const std::size_t parted = GzipMemberInto({"WARC/1.1\r\n", page, "\r\n\r\n"}, buffers).size();
    const std::size_t joined = GzipMember("WARC/1.1\r\n" + page + "\r\n\r\n").size();
    EXPECT_LE(parted, joined + joined / 100) << parted << " " << joined;
}

TEST(ArchiveText, ContentEncodingsAreUndoneWithinTheirLimit) {
    const std::string text = "hello hello hello hello";
    const std::string gz = GzipMember(text);
    std::string out;
    EXPECT_EQ(DecodeContent(gz, "gzip", 1000, out), Decoded::Ok);
    EXPECT_EQ(out, text);
    EXPECT_EQ(DecodeContent(gz, "gzip", 10, out), Decoded::TooLarge);
    EXPECT_EQ(DecodeContent(gz.substr(0, gz.size() / 2), "x-gzip", 1000, out), Decoded::Damaged);
    EXPECT_EQ(DecodeContent(text, "compress", 1000, out), Decoded::Unknown);
    EXPECT_EQ(DecodeContent(text, "br", 1000, out), Decoded::Damaged) << "brotli is undone, and this is none";
    int status = 0;
    std::string head, body;
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", gz.size());
    const std::string answer =
        HttpAnswer("200 OK", "Transfer-Encoding: chunked\r\nContent-Encoding: gzip\r\n", size + gz + "\r\n0\r\n\r\n");
    ASSERT_EQ(HttpPayload(answer, 1000, status, head, body), Decoded::Ok);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(body, text);
}

}  // namespace
}  // namespace qm::archive
