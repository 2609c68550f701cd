#pragma once
// The byte texts the local web server sends and the small readers of a browser's request.
// Everything here works on the request bytes alone, so it can be checked without sockets.
#include <cstdint>
#include <string>

namespace qm::server {

// The header every generated page is sent with.
std::string PageHeader(std::size_t pageLength);
// "302 Object Moved" with the location and its small body, in one piece.
std::string Response302(const std::string& location);
// "404 Not Found" (it carries no Server line).
const std::string& Response404();
// "421 Misdirected Request" with a short page: the request named another host than this
// machine's own names.
const std::string& Response421();
// "500 Error", no body.
const std::string& Response500();
// The header of a stored file: 200, or 206 with its Content-Range when partial.
std::string FileHeader(const std::string& contentType, std::int64_t fileSize, std::int64_t start, bool partial);

// The first line of a request: the method is the text before the first blank; the path is the
// text after it, without leading characters below 33, up to the next blank. Without that
// second blank the path is empty; without any blank the method is empty too.
struct RequestLine {
    std::string method;
    std::string path;
};
RequestLine ParseRequestLine(const std::string& request);

// "Range: bytes=N-..." anywhere in the request: true and start = N when a number is given.
bool ParseRangeStart(const std::string& request, std::int64_t& start);

// The value of two hexadecimal digits (any case); 0 when one is not a digit.
int HexPair(char high, char low);
// Replaces each "%" and two hexadecimal digits encoding a non-zero byte by that byte, from
// position from on; a "%" among the last two characters stays.
std::string DecodePercent(const std::string& text, std::size_t from);

// Redirect stubs left by the download engine: a small HTML file whose first line starts with a
// refresh to the target. True with the target when head is such a page.
constexpr std::int64_t kStubSizeLimit = 400;
bool StubLocation(const std::string& head, std::string& location);

// The project tree's "ASCII lower case".
std::string Lower(std::string text);

}  // namespace qm::server
