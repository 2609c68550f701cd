#pragma once
// The body of an archived answer as a browser would see it: chunks joined and a gzip or
// deflate Content-Encoding undone, never growing past a limit.
#include <cstdint>
#include <string>
#include <string_view>

namespace qm::archive {

enum class Decoded { Ok, Unknown, Damaged, TooLarge };

// Undoes one Content-Encoding ("", "identity", "gzip", "x-gzip", "deflate"); Unknown for any
// other (out untouched).
Decoded DecodeContent(std::string_view body, std::string_view encoding, std::uint64_t limit, std::string& out);

// The payload of an HTTP response block: the body after the head, chunks joined when it came
// chunked, its Content-Encoding undone. status and head are set from the block.
Decoded HttpPayload(const std::string& block, std::uint64_t limit, int& status, std::string& head, std::string& body);

}  // namespace qm::archive
