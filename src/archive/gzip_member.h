#pragma once
// One gzip member per archive record, so that an index offset opens exactly one record.
#include <initializer_list>
#include <string>
#include <string_view>

namespace qm::archive {

// The parts, one after the other, as one complete gzip member.
std::string GzipMember(std::initializer_list<std::string_view> parts);
inline std::string GzipMember(std::string_view bytes) { return GzipMember({bytes}); }

}  // namespace qm::archive
