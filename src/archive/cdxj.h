#pragma once
// CDXJ index lines: "SURT TIMESTAMP {json}", sorted as bytes (as LC_ALL=C sort sorts).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/warc_reader.h"

namespace qm::archive {

// The sort-friendly form of an address: "http://www.Example.com/a?b=1&a=2" gives
// "com,example)/a?a=2&b=1".
std::string Surt(std::string_view url);

struct IndexEntry {
    std::string url, timestamp, mime, status, digest, filename;
    std::uint64_t offset = 0, length = 0;
};

// The index entry of a record, false for records an index leaves out (warcinfo, request,
// metadata).
bool EntryOf(const WarcRecord& record, std::uint64_t offset, std::uint64_t length, const std::string& filename,
             IndexEntry& out);
inline bool EntryOf(const ReadRecord& r, const std::string& filename, IndexEntry& out) {
    return EntryOf(r.record, r.offset, r.length, filename, out);
}
std::string IndexLine(const IndexEntry& entry);
// The text of an index: one line per entry, sorted.
std::string IndexText(const std::vector<IndexEntry>& entries);
// The entry a line holds; false when it is not one.
bool ParseIndexLine(std::string_view line, IndexEntry& out);
// A JSON string literal.
std::string JsonString(std::string_view text);

}  // namespace qm::archive
