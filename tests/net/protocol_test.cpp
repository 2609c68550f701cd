// HTTP/1.1 against scripted peers, grouped by feature: the request line and what it offers,
// chunked bodies (trailers, bounds, a body that never ends), content codings (gzip, deflate,
// br, zstd, a resume asking for identity, a decompression bomb), and the decoders on their own.
#include <brotli/encode.h>
#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include "codings/chunked_body.h"
#include "net/client_harness.h"
#include "codings/content_decoding.h"
#include "codings/whole_body.h"
#include "net/kept_connections.h"
#include "net/scripted_server.h"

using namespace qm;
using namespace qm::test;

namespace {

std::string SampleText() {
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "<p>Line " + std::to_string(i) + " of a page that compresses well.</p>\n";
    return text;
}

// windowBits 15 + 16: gzip; 15: zlib (the "deflate" coding); -15: raw deflate.
std::string Zlib(const std::string& text, int windowBits) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, text.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string Brotli(const std::string& text) {
    std::size_t size = BrotliEncoderMaxCompressedSize(text.size());
    std::string out(size, '\0');
    BrotliEncoderCompress(BROTLI_DEFAULT_QUALITY, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_TEXT, text.size(),
                          reinterpret_cast<const std::uint8_t*>(text.data()), &size,
                          reinterpret_cast<std::uint8_t*>(out.data()));
    out.resize(size);
    return out;
}

std::string Zstd(const std::string& text) {
    std::string out(ZSTD_compressBound(text.size()), '\0');
    out.resize(ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 19));
    return out;
}

std::string Chunked(const std::string& body, std::size_t chunk, const std::string& trailer = "") {
    std::string out;
    char size[32];
    for (std::size_t at = 0; at < body.size(); at += chunk) {
        const std::size_t n = std::min(chunk, body.size() - at);
        std::snprintf(size, sizeof size, "%zx", n);
        out += std::string(size) + ";ext=1\r\n" + body.substr(at, n) + "\r\n";
    }
    return out + "0\r\n" + trailer + "\r\n";
}

std::string Decode(const char* coding, const std::string& coded, std::size_t piece,
                   codings::ContentDecoder::Result* last = nullptr) {
    auto d = codings::MakeContentDecoder(coding);
    std::string out;
    codings::ContentDecoder::Result r = codings::ContentDecoder::Result::More;
    for (std::size_t at = 0; at < coded.size() && r == codings::ContentDecoder::Result::More; at += piece)
        r = d->Feed(coded.data() + at, std::min(piece, coded.size() - at), [&](const char* p, std::size_t n) {
            out.append(p, n);
            return true;
        });
    if (last) *last = r;
    return out;
}

class ProtocolTest : public ScriptedConnectionTest {
protected:
    bool HasStatusStartingWith(const std::string& prefix) const {
        for (const auto& s : e.status)
            if (s.first.rfind(prefix, 0) == 0) return true;
        return false;
    }
};

}  // namespace

TEST(ChunkedBody, FramingIsDecodedAndBounded) {
    const std::string body = SampleText();
    // Any cut of the wire bytes gives the same body; the trailer is dropped; what follows the
    // end is counted, not taken.
    const std::string wire = Chunked(body, 1000, "X-Checksum: 12\r\nX-More: 3\r\n") + "NEXT";
    for (std::size_t piece : {1u, 7u, 4096u}) {
        codings::ChunkedBody chunks;
        std::string out;
        codings::ChunkedBody::Result r = codings::ChunkedBody::Result::More;
        for (std::size_t at = 0; at < wire.size() && r == codings::ChunkedBody::Result::More; at += piece)
            r = chunks.Feed(wire.data() + at, std::min(piece, wire.size() - at), out);
        EXPECT_EQ(r, codings::ChunkedBody::Result::End) << piece;
        EXPECT_EQ(out, body) << piece;
        EXPECT_EQ(chunks.Leftover(), piece == 1 ? 0u : 4u) << piece;
    }
    auto verdict = [](const std::string& w) {
        codings::ChunkedBody chunks;
        std::string out;
        return chunks.Feed(w.data(), w.size(), out);
    };
    EXPECT_EQ(verdict("5\nhello\n0\n\n"), codings::ChunkedBody::Result::End) << "bare line feeds";
    EXPECT_EQ(verdict("zz\r\nhello\r\n"), codings::ChunkedBody::Result::Bad);
    EXPECT_EQ(verdict("5 junk\r\nhello\r\n"), codings::ChunkedBody::Result::Bad);
    EXPECT_EQ(verdict("5\r\nhelloX\r\n"), codings::ChunkedBody::Result::Bad) << "data longer than its size";
    EXPECT_EQ(verdict("1000000000000000\r\n"), codings::ChunkedBody::Result::Bad) << "a size that overflows";
    EXPECT_EQ(verdict(std::string(2000, '0')), codings::ChunkedBody::Result::Bad) << "an endless size line";
    EXPECT_EQ(verdict("0\r\n" + std::string(20000, 'x')), codings::ChunkedBody::Result::Bad) << "an endless trailer";
    std::string manyFields = "0\r\n";
    for (int i = 0; i < 100; ++i) manyFields += "A: b\r\n";
    EXPECT_EQ(verdict(manyFields + "\r\n"), codings::ChunkedBody::Result::Bad) << "too many trailer fields";
}

// Bodies held whole (archived answers, sitemaps) go through the same decoders, bounded.
TEST(ContentDecoding, WholeBodiesEveryCodingChainedAndBounded) {
    const std::string text = SampleText();
    using codings::Decoded;
    std::string out;
    const std::pair<const char*, std::string> cases[] = {{"gzip", Zlib(text, 15 + 16)},
                                                         {"deflate", Zlib(text, 15)},
                                                         {"deflate", Zlib(text, -15)},
                                                         {"deflate", Zlib(text, 15 + 16)},
                                                         {"br", Brotli(text)},
                                                         {"zstd", Zstd(text)},
                                                         {"gzip, br", Brotli(Zlib(text, 15 + 16))},
                                                         {"identity", text},
                                                         {"", text}};
    for (const auto& [coding, coded] : cases) {
        out = "old";
        EXPECT_EQ(codings::DecodeContent(coded, coding, text.size(), out), Decoded::Ok) << coding;
        EXPECT_EQ(out, text) << coding;
        out = "old";
        EXPECT_EQ(codings::DecodeContent(coded, coding, text.size() - 1, out), Decoded::TooLarge) << coding;
        EXPECT_EQ(out, "old") << coding;
    }
    EXPECT_EQ(codings::DecodeContent(Zstd(text).substr(0, 40), "zstd", 1 << 20, out), Decoded::Damaged);
    EXPECT_EQ(codings::DecodeContent(text, "br", 1 << 20, out), Decoded::Damaged);
    EXPECT_EQ(codings::DecodeContent(text, "compress", 1 << 20, out), Decoded::Unknown);
    EXPECT_EQ(codings::DecodeContent(text, "gzip, gzip, gzip, gzip", 1 << 20, out), Decoded::Unknown);
    // A bomb stops at the limit, long before it is whole.
    const std::string bomb = Zstd(std::string(64 << 20, 'a'));
    EXPECT_EQ(codings::DecodeContent(bomb, "zstd", 1 << 20, out), Decoded::TooLarge);

    std::string whole = "kept";
    EXPECT_TRUE(codings::Dechunk(Chunked(text, 1000, "X-Trailer: 1\r\n"), whole));
    EXPECT_EQ(whole, text);
    whole = "kept";
    EXPECT_FALSE(codings::Dechunk(Chunked(text, 1000).substr(0, 5000), whole));
    EXPECT_FALSE(codings::Dechunk("5;" + std::string(2000, 'x') + "\r\nhello\r\n0\r\n\r\n", whole))
        << "a size line past its bound";
    EXPECT_EQ(whole, "kept");
}

TEST(ContentDecoding, EveryCodingDecodesInAnyCutAndBrokenDataIsRefused) {
    const std::string text = SampleText();
    const std::pair<const char*, std::string> cases[] = {{"gzip", Zlib(text, 15 + 16)}, {"X-GZIP", Zlib(text, 15 + 16)},
                                                         {"deflate", Zlib(text, 15)},   {"deflate", Zlib(text, -15)},
                                                         {"br", Brotli(text)},          {"zstd", Zstd(text)}};
    for (const auto& [coding, coded] : cases) {
        ASSERT_LT(coded.size() * 5, text.size()) << coding;
        for (std::size_t piece : {1u, 333u, 100000u}) {
            codings::ContentDecoder::Result r;
            EXPECT_EQ(Decode(coding, coded, piece, &r), text) << coding << " " << piece;
            EXPECT_EQ(r, codings::ContentDecoder::Result::End) << coding;
        }
        codings::ContentDecoder::Result r;
        Decode(coding, coded.substr(0, coded.size() / 2), 512, &r);
        EXPECT_EQ(r, codings::ContentDecoder::Result::More) << coding << ": a cut stream is not at its end";
        std::string broken = coded;
        for (std::size_t i = 0; i < 8 && i < broken.size(); ++i) broken[i] = static_cast<char>(0xFF - i);
        Decode(coding, broken, 512, &r);
        EXPECT_EQ(r, codings::ContentDecoder::Result::Bad) << coding;
    }
    EXPECT_EQ(codings::MakeContentDecoder("compress"), nullptr);
    EXPECT_EQ(codings::MakeContentDecoder("identity"), nullptr);

    // Several codings are undone last first; an unknown one leaves the body alone.
    bool known = false;
    auto codings = codings::ContentCodings(" gzip , br", known);
    EXPECT_TRUE(known);
    ASSERT_EQ(codings, (std::vector<std::string>{"gzip", "br"}));
    auto chain = codings::DecoderChain::For(codings);
    ASSERT_TRUE(chain);
    std::string out;
    const std::string twice = Brotli(Zlib(text, 15 + 16));
    EXPECT_EQ(chain->Feed(twice.data(), twice.size(),
                          [&](const char* p, std::size_t n) {
                              out.append(p, n);
                              return true;
                          }),
              codings::ContentDecoder::Result::End);
    EXPECT_EQ(out, text);
    codings::ContentCodings("gzip, compress", known);
    EXPECT_FALSE(known);
    codings::ContentCodings("gzip, gzip, gzip, gzip", known);
    EXPECT_FALSE(known) << "more codings than are undone";
}

TEST_F(ProtocolTest, RequestsSpeakHttp11AndOfferCodingsExceptForParts) {
    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";
    ScriptedServer s(
        {{ReadRequest(), Send(answer), Hold(3000)},
         {ReadRequest(), Send("HTTP/1.1 206 Partial\r\nContent-Range: bytes 3-4/5\r\nContent-Length: 2\r\n\r\nlo"),
          Hold(3000)}});
    net::DownloadConnection c;
    Prepare(c, s.Url("/a%20b"));
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(e)) << e.Dump();
    EXPECT_EQ(e.body, "hello");

    Events second;
    Attach(c, second);
    c.ResumeFrom = 3;
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(second)) << second.Dump();
    EXPECT_EQ(second.body, "lo");

    auto got = s.Received();
    ASSERT_EQ(got.size(), 2u);
    const std::string host = "Host: 127.0.0.1:" + std::to_string(s.Port()) + "\r\n";
    EXPECT_EQ(got[0].rfind("GET /a%20b HTTP/1.1\r\n", 0), 0u) << got[0];
    EXPECT_NE(got[0].find("\r\n" + host), std::string::npos) << got[0];
    EXPECT_NE(got[0].find("\r\nAccept-Encoding: gzip, deflate, br, zstd\r\n"), std::string::npos) << got[0];
    EXPECT_NE(got[0].find("\r\nConnection: close\r\n"), std::string::npos) << got[0];
    EXPECT_NE(got[1].find("\r\nAccept-Encoding: identity\r\n"), std::string::npos) << got[1];
    EXPECT_NE(got[1].find("\r\nRange: bytes=3-\r\n"), std::string::npos) << got[1];
}

TEST_F(ProtocolTest, ChunkedAnswersAreDecodedKeptAliveAndBounded) {
    const std::string body = SampleText();
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n";
    // An interim answer first, chunks in small writes, a trailer; then a second request on the
    // same connection.
    const std::string wire = Chunked(body, 777, "Expires: never\r\n");
    Script first{ReadRequest(), Send("HTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\n" + head)};
    for (std::size_t at = 0; at < wire.size(); at += 1500) first.push_back(Send(wire.substr(at, 1500)));
    first.push_back(ReadRequest());
    first.push_back(Send(head + Chunked("short", 2)));
    first.push_back(Hold(3000));
    ScriptedServer s({first});
    net::DownloadConnection c;
    Prepare(c, s.Url("/page"));
    c.KeepAlive = true;
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(e)) << e.Dump();
    EXPECT_EQ(e.code, 0);
    EXPECT_EQ(c.StatusCode, 200);
    EXPECT_EQ(e.body, body);
    EXPECT_TRUE(c.EndedWhole(net::DoneCode::Complete));
    EXPECT_EQ(net::kept::Count(), 1u);
    Events second;
    Attach(c, second);
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(second)) << second.Dump();
    EXPECT_TRUE(c.Reused);
    EXPECT_EQ(second.body, "short");
    EXPECT_EQ(s.Accepted(), 1);
}

TEST_F(ProtocolTest, BrokenCutOffAndEndlessChunkedAnswersEndIncomplete) {
    const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    ScriptedServer s(
        {{ReadRequest(), Send(head + "5\r\nhello\r\nnot-a-size\r\n"), Hold(3000)},
         {ReadRequest(), Send(head + "5\r\nhello\r\n"), Pause(100), Close()},
         {ReadRequest(), Send(head), SendRepeated("400\r\n" + std::string(1024, 'x') + "\r\n", 100000), Close()}});
    net::DownloadConnection c;
    Prepare(c, s.Url("/"));
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(e)) << e.Dump();
    EXPECT_TRUE(e.Has("Chunked body malformed.", 2)) << e.Dump();
    EXPECT_FALSE(c.EndedWhole(static_cast<net::DoneCode>(e.code)));

    Events cut;
    Attach(c, cut);
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(cut)) << cut.Dump();
    EXPECT_EQ(cut.body, "hello");
    EXPECT_EQ(cut.code, 1);
    EXPECT_FALSE(c.EndedWhole(net::DoneCode::ServerClosed)) << "the last chunk never came";

    // A body that goes on and on stops at the size limit.
    Events endless;
    Attach(c, endless);
    c.SizeLimit = 64;
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(endless, 20000)) << endless.Dump();
    EXPECT_EQ(endless.code, static_cast<int>(net::DoneCode::SizeLimit));
    EXPECT_LE(endless.body.size(), 64u * 1024 + 8192) << "at most one more read than the limit";
}

TEST_F(ProtocolTest, CodedAnswersAreDecodedBeforeTheOwnerSeesThem) {
    const std::string text = SampleText();
    const std::string gz = Zlib(text, 15 + 16), zs = Zstd(text), br = Brotli(text);
    auto lengthAnswer = [](const char* coding, const std::string& coded) {
        return "HTTP/1.1 200 OK\r\nContent-Encoding: " + std::string(coding) +
               "\r\nContent-Length: " + std::to_string(coded.size()) + "\r\n\r\n" + coded;
    };
    ScriptedServer s(
        {{ReadRequest(), Send(lengthAnswer("gzip", gz)), Hold(3000)},
         {ReadRequest(),
          Send("HTTP/1.1 200 OK\r\nContent-Encoding: zstd\r\nTransfer-Encoding: chunked\r\n\r\n" + Chunked(zs, 100)),
          Hold(3000)},
         {ReadRequest(), Send("HTTP/1.0 200 OK\r\nContent-Encoding: br\r\n\r\n" + br), Close()},
         {ReadRequest(), Send("HTTP/1.0 200 OK\r\nContent-Encoding: compress\r\nContent-Length: 3\r\n\r\nabc"),
          Hold(3000)},
         {ReadRequest(), Send(lengthAnswer("gzip", gz.substr(0, gz.size() - 30))), Hold(3000)},
         {ReadRequest(), Send("HTTP/1.0 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + gz.substr(0, 200)), Close()}});
    net::DownloadConnection c;
    Prepare(c, s.Url("/"));
    std::int64_t lengthAtHeader = -1;
    c.OnHeader = [&](net::DownloadConnection& conn) { lengthAtHeader = conn.ContentLength; };
    for (int round = 0; round < 3; ++round) {
        Events ev;
        Attach(c, ev);
        c.OnHeader = [&](net::DownloadConnection& conn) { lengthAtHeader = conn.ContentLength; };
        ASSERT_TRUE(c.Start(false));
        ASSERT_TRUE(RunToDone(ev)) << ev.Dump();
        EXPECT_EQ(ev.body, text) << round;
        EXPECT_EQ(c.Received, static_cast<std::int64_t>(text.size())) << round;
        EXPECT_EQ(lengthAtHeader, 0) << "the stored length is not known beforehand";
        EXPECT_TRUE(c.EndedWhole(static_cast<net::DoneCode>(ev.code))) << round;
    }
    Events unknown;
    Attach(c, unknown);
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(unknown)) << unknown.Dump();
    EXPECT_EQ(unknown.body, "abc") << "a coding not offered is kept as it came";

    // A coded body shorter than its stream, by length or by the server closing, is not whole.
    for (int round = 0; round < 2; ++round) {
        Events shortened;
        Attach(c, shortened);
        ASSERT_TRUE(c.Start(false));
        ASSERT_TRUE(RunToDone(shortened)) << shortened.Dump();
        EXPECT_FALSE(c.EndedWhole(static_cast<net::DoneCode>(shortened.code))) << round;
        EXPECT_LT(shortened.body.size(), text.size());
    }
}

TEST_F(ProtocolTest, ADecompressionBombIsStoppedWithALogLine) {
    const std::string zeros(80u * 1024 * 1024, '\0');
    const std::string bomb = Zstd(zeros);
    ASSERT_LT(bomb.size() * 1000, zeros.size());
    ScriptedServer s({{ReadRequest(),
                       Send("HTTP/1.1 200 OK\r\nContent-Encoding: zstd\r\nContent-Length: " +
                            std::to_string(bomb.size()) + "\r\n\r\n" + bomb),
                       Hold(3000)}});
    net::DownloadConnection c;
    Attach(c, e);
    std::size_t delivered = 0;
    c.OnData = [&](net::DownloadConnection&, const char*, std::size_t n) { delivered += n; };
    c.SetURL(s.Url("/bomb"));
    c.TimeOut = 20000;
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(e, 60000)) << e.Dump();
    EXPECT_EQ(e.code, static_cast<int>(net::DoneCode::SizeLimit));
    EXPECT_FALSE(c.EndedWhole(net::DoneCode::SizeLimit));
    EXPECT_TRUE(HasStatusStartingWith("Decompression bomb stopped: ")) << e.Dump();
    EXPECT_GT(delivered, 64u * 1024 * 1024);
    EXPECT_LT(delivered, 64u * 1024 * 1024 + 2 * codings::ContentDecoder::kPieceSize);
}
