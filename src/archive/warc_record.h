#pragma once
// A WARC 1.1 record: named header fields and a content block, and the texts records share
// (dates, record identifiers).
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm::archive {

class CapturedBytes;

struct WarcRecord {
    std::vector<std::pair<std::string, std::string>> fields;  // in writing order, without Content-Length
    std::string block;
    // The rest of a block too large to keep in memory, after block's bytes (or none).
    std::shared_ptr<const CapturedBytes> blockTail;

    std::uint64_t BlockSize() const;

    // The value of the first field of that name (ASCII case ignored); empty when absent.
    std::string Field(std::string_view name) const;
    // The record as written: version line, fields, Content-Length, blank line, block, two CR LF.
    std::string Serialize() const;
    std::string SerializedHead() const;  // what comes before the block
};

// "2026-12-09T23:14:53Z" for a time in seconds since 1970.
std::string WarcDate(std::time_t when);
// "20261209231453" from a WARC date (the index's timestamp), empty when it is not one.
std::string IndexTimestamp(std::string_view warcDate);
// A WARC date from an index timestamp (the reverse of IndexTimestamp).
std::string WarcDateFromTimestamp(std::string_view timestamp);
// "<urn:uuid:...>" of a new random UUID (version 4).
std::string NewRecordId();

// An HTTP message split at its blank line: head (without the blank line) and the rest.
// False when there is no blank line.
bool SplitHttpMessage(std::string_view message, std::string_view& head, std::string_view& body);
// A header value of an HTTP head (first match, ASCII case ignored, trimmed).
std::string HttpHeaderValue(std::string_view head, std::string_view name);
// The status code of an HTTP response head; 0 when it has no status line.
int HttpStatus(std::string_view head);

}  // namespace qm::archive
