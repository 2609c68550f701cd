#pragma once
// When the bytes a browser has sent so far make its whole request. The server waits for a
// request without holding a thread and answers it once this says it is whole.
#include <cstddef>
#include <string_view>
#include <vector>

namespace qm::server {

// Only this many bytes of a request are ever read; the rest of a longer head is ignored.
constexpr std::size_t kRequestLimit = 2048;

// True when received holds the blank line that ends a request head, reaches the read limit,
// or can no longer begin a GET request (any other start is answered alike, whatever follows).
bool RequestHeadComplete(std::string_view received);

// Where the blank line that ends the request head ends (the length of the head), or npos
// when received holds none.
std::size_t RequestHeadEnd(std::string_view received);

// The values of every header line of the request head (the request up to its blank line, or
// all of it without one) whose name, followed by ":", is lowerName (as "host:"), compared
// without regard to case; blanks and a CR around each value are trimmed.
std::vector<std::string_view> HeaderValues(std::string_view request, std::string_view lowerName);

// True when the head announces a body: a Content-Length or Transfer-Encoding header (any case).
bool AnnouncesBody(std::string_view head);

}  // namespace qm::server
