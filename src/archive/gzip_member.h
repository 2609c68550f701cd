#pragma once
// One gzip member per archive record, so that an index offset opens exactly one record.
#include <string>
#include <string_view>

namespace qm::archive {

// The bytes as one complete gzip member.
std::string GzipMember(std::string_view bytes);

}  // namespace qm::archive
