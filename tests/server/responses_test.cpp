// The fixed answers byte for byte and the readers of request text.
#include <gtest/gtest.h>

#include "server/pictures.h"
#include "server/request_head.h"
#include "server/responses.h"

namespace qm::server {
namespace {

TEST(ServerResponses, FixedTextsAreExact) {
    EXPECT_EQ(Response500(), "HTTP/1.0 500 Error\r\nServer: Velloran 4.0 (Win32)\r\n\r\n");
    EXPECT_EQ(Response404(),
              "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: 57\r\n\r\n"
              "<HTML><BODY><H1>404 Document Not Found</H1></BODY></HTML>\r\n");
    const std::string markup = Response404().substr(Response404().find("\r\n\r\n") + 4);
    EXPECT_EQ(markup.size(), 57u + 2u);  // the declared length leaves out the final CR LF
    EXPECT_EQ(Response302("/a/"),
              "HTTP/1.0 302 Object Moved\r\nServer: Velloran 4.0 (Win32)\r\nContent-Type: text/html\r\n"
              "Location: /a/\r\nContent-Length: 63\r\n\r\n"
              "<html><body>Object Moved to <a href=\"/a/\">/a/</a></body></html>");
    EXPECT_EQ(
        PageHeader(1234),
        "HTTP/1.0 200 OK\r\nServer: Velloran 4.0 (Win32)\r\nContent-Type: text/html\r\nContent-Length: 1234\r\n\r\n");
}

TEST(ServerResponses, FileHeadersWholeAndPartial) {
    EXPECT_EQ(
        FileHeader("image/gif", 1000, 0, false),
        "HTTP/1.0 200 OK\r\nServer: Velloran 4.0 (Win32)\r\nContent-Type: image/gif\r\nContent-Length: 1000\r\n\r\n");
    EXPECT_EQ(FileHeader("", 1000, 100, true),
              "HTTP/1.0 206 Partial content\r\nServer: Velloran 4.0 (Win32)\r\nContent-Type: \r\n"
              "Content-Length: 900\r\nContent-Range: bytes 100-999/1000\r\n\r\n");
}

TEST(ServerRequests, RequestLine) {
    RequestLine l = ParseRequestLine("GET /a/b.htm HTTP/1.0\r\n\r\n");
    EXPECT_EQ(l.method, "GET");
    EXPECT_EQ(l.path, "/a/b.htm");
    // Nothing after the path: no second blank, no path.
    l = ParseRequestLine("GET /\r\n\r\n");
    EXPECT_EQ(l.method, "GET");
    EXPECT_EQ(l.path, "");
    l = ParseRequestLine("GET");
    EXPECT_EQ(l.method, "");
    EXPECT_EQ(l.path, "");
    // Leading control characters and blanks before the path are skipped.
    l = ParseRequestLine("get \t  /x y");
    EXPECT_EQ(l.method, "get");
    EXPECT_EQ(l.path, "/x");
    // A path broken across lines never becomes a path (it would reach a Location header).
    l = ParseRequestLine("GET /a\r\nX-Injected: 1 HTTP/1.0\r\n\r\n");
    EXPECT_EQ(l.path, "");
    EXPECT_EQ(ParseRequestLine("").method, "");
}

TEST(ServerRequests, RangeStart) {
    std::int64_t s = -1;
    EXPECT_TRUE(ParseRangeStart("GET / HTTP/1.0\r\nRange: bytes=100-\r\n\r\n", s));
    EXPECT_EQ(s, 100);
    // The end of a range is ignored; the header name in any case.
    EXPECT_TRUE(ParseRangeStart("GET / HTTP/1.0\r\nRANGE: Bytes=5-20\r\nHost: x\r\n\r\n", s));
    EXPECT_EQ(s, 5);
    // Characters before the first digit are passed over, so a suffix range reads as a start.
    EXPECT_TRUE(ParseRangeStart("GET / HTTP/1.0\r\nRange: bytes=-500\r\nHost: x\r\n\r\n", s));
    EXPECT_EQ(s, 500);
    // No digit after "bytes" before the line ends: no range.
    EXPECT_FALSE(ParseRangeStart("GET / HTTP/1.0\r\nRange: bytes=\r\nHost: 1234\r\n\r\n", s));
    EXPECT_FALSE(ParseRangeStart("GET / HTTP/1.0\r\nRange: items=1-2\r\n\r\n", s));
    EXPECT_FALSE(ParseRangeStart("GET / HTTP/1.0\r\nHost: x\r\n\r\n", s));
    EXPECT_FALSE(ParseRangeStart("range:", s));
    EXPECT_FALSE(ParseRangeStart("range: bytes", s));
    // Absurdly long numbers are refused rather than overflowing.
    EXPECT_FALSE(ParseRangeStart("Range: bytes=99999999999999999999999999-\r\n\r\n", s));
}

TEST(ServerRequests, PercentDecoding) {
    EXPECT_EQ(DecodePercent("a%20b%2Fc", 0), "a b/c");
    EXPECT_EQ(DecodePercent("%41%41", 2), "%41A");  // the first two characters stay
    EXPECT_EQ(DecodePercent("x%00y", 0), "x%00y");  // a zero byte is never produced
    EXPECT_EQ(DecodePercent("x%zzy", 0), "x%zzy");
    EXPECT_EQ(DecodePercent("ab%4", 0), "ab%4");  // "%" among the last two characters
    EXPECT_EQ(DecodePercent("ab%", 0), "ab%");
    EXPECT_EQ(HexPair('f', 'F'), 255);
    EXPECT_EQ(HexPair('g', '0'), 0);
}

TEST(ServerRequests, RedirectStubs) {
    std::string loc;
    EXPECT_TRUE(
        StubLocation("<HTML><HEAD><META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; URL=../b/c.htm\">"
                     "<TITLE>302 File moved</TITLE></HEAD></HTML>",
                     loc));
    EXPECT_EQ(loc, "../b/c.htm");
    // Without its closing quote it is an ordinary page.
    EXPECT_FALSE(StubLocation("<HTML><HEAD><META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; URL=../b/c.htm", loc));
    EXPECT_FALSE(StubLocation("<HTML><HEAD><META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; URL=a\r\nX: y\">", loc));
    EXPECT_FALSE(StubLocation("<html><head><meta http-equiv=\"Refresh\" content=\"0; URL=a\">", loc));
}

TEST(ServerPictures, FourPicturesOfFixedSizes) {
    struct Case {
        const char* name;
        std::size_t bytes;
        int width, height;
    } cases[] = {{"/folder.gif", 145, 16, 16},
                 {"/empty.gif", 58, 20, 20},
                 {"/start.gif", 147, 16, 16},
                 {"/upfold.gif", 151, 16, 14}};
    for (const Case& c : cases) {
        const std::string_view* p = BuiltInPicture(c.name);
        ASSERT_NE(p, nullptr) << c.name;
        EXPECT_EQ(p->size(), c.bytes) << c.name;
        EXPECT_EQ(p->substr(0, 6), "GIF89a");
        EXPECT_EQ(static_cast<unsigned char>((*p)[6]) | static_cast<unsigned char>((*p)[7]) << 8, c.width);
        EXPECT_EQ(static_cast<unsigned char>((*p)[8]) | static_cast<unsigned char>((*p)[9]) << 8, c.height);
        EXPECT_EQ(static_cast<unsigned char>(p->back()), 0x3B) << c.name;  // the GIF trailer
    }
    EXPECT_EQ(BuiltInPicture("/UpFold.gif"), nullptr);  // callers lower the path first
    EXPECT_EQ(BuiltInPicture("/other.gif"), nullptr);
}

TEST(ServerRequests, WhenAHeadIsWhole) {
    EXPECT_FALSE(RequestHeadComplete(""));
    EXPECT_FALSE(RequestHeadComplete("G"));
    EXPECT_FALSE(RequestHeadComplete("gEt"));
    EXPECT_FALSE(RequestHeadComplete("GET /a HTTP/1.0\r\nHost: x\r\n"));
    EXPECT_FALSE(RequestHeadComplete("GET /a HTTP/1.0\r\n\r"));
    EXPECT_TRUE(RequestHeadComplete("GET /a HTTP/1.0\r\n\r\n"));
    EXPECT_TRUE(RequestHeadComplete("GET /a HTTP/1.0\nHost: x\n\n"));
    EXPECT_TRUE(RequestHeadComplete("GET /a HTTP/1.0\n\r\n"));
    // Anything but a GET is answered alike whatever follows: no need to wait for more.
    EXPECT_TRUE(RequestHeadComplete("P"));
    EXPECT_TRUE(RequestHeadComplete("GETX"));
    EXPECT_TRUE(RequestHeadComplete(" GET / HTTP/1.0"));
    EXPECT_TRUE(RequestHeadComplete("garbage"));
    // The read limit ends every head, blank line or not.
    const std::string longHead = "GET /" + std::string(kRequestLimit, 'a');
    EXPECT_FALSE(RequestHeadComplete(std::string_view(longHead).substr(0, kRequestLimit - 1)));
    EXPECT_TRUE(RequestHeadComplete(std::string_view(longHead).substr(0, kRequestLimit)));
}

TEST(ServerRequests, WhereAHeadEndsAndWhetherABodyFollows) {
    // The server closes at once only when the head ends what arrived and no body is announced.
    EXPECT_EQ(RequestHeadEnd("GET /a HTTP/1.0\r\nHost: x\r\n"), std::string_view::npos);
    EXPECT_EQ(RequestHeadEnd("GET /a HTTP/1.0\r\n\r\n"), 19u);
    EXPECT_EQ(RequestHeadEnd("GET /a HTTP/1.0\n\nmore"), 17u);
    EXPECT_EQ(RequestHeadEnd("GET /a HTTP/1.0\n\r\nGET /b"), 18u);
    EXPECT_FALSE(AnnouncesBody("GET /a HTTP/1.0\r\nHost: x\r\n\r\n"));
    EXPECT_TRUE(AnnouncesBody("GET /a HTTP/1.0\r\nCONTENT-length: 5\r\n\r\n"));
    EXPECT_TRUE(AnnouncesBody("GET /a HTTP/1.0\nHost: x\nTransfer-Encoding: chunked\n\n"));
    // Only at the start of a line: a value or the request line that mentions one is no header.
    EXPECT_FALSE(AnnouncesBody("GET /content-length: HTTP/1.0\r\nX-Note: content-length: 5\r\n\r\n"));
}

}  // namespace
}  // namespace qm::server
