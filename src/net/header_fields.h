#pragma once
// Reading fields of a response header: a field is found by its name at the start of a line,
// without regard to case, so that "Content-Location:" is never read as "Location:" nor
// "X-Content-Length:" as "Content-Length:", and a value never as a name.
#include <cstdint>
#include <optional>
#include <string_view>

namespace qm::net {

// The text after the first field named name (given with its colon, "location:") up to the
// end of its line, as it stands; nothing when no line starts with that name. The status line
// and a value cut short count as lines like any other.
std::optional<std::string_view> HeaderField(std::string_view header, std::string_view name);

// The first byte of a "Content-Range: bytes FIRST-LAST/TOTAL" field; nothing when the header
// has none or it is not of that form.
std::optional<std::int64_t> ContentRangeStart(std::string_view header);

}  // namespace qm::net
