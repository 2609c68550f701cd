#pragma once
// A body held whole (an archived answer) with its content codings undone, never growing
// past a limit: the same decoders the client uses as a body arrives.
#include <cstdint>
#include <string>
#include <string_view>

namespace qm::codings {

enum class Decoded { Ok, Unknown, Damaged, TooLarge };

// Undoes a Content-Encoding value ("", "identity", "gzip", "x-gzip", "deflate", "br", "zstd",
// or several of them in the order applied). Unknown for a coding this program cannot undo
// (out untouched); TooLarge once the decoded body would pass limit bytes.
Decoded DecodeContent(std::string_view body, std::string_view encoding, std::uint64_t limit, std::string& out);

}  // namespace qm::codings
