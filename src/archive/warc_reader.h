#pragma once
// Reads the records of a gzip-per-record WARC file one at a time, with each record's offset
// and compressed length. Bounded: a record longer than the limit, a header without its end,
// or a member that does not decompress ends the reading with an error.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/warc_record.h"

namespace qm::archive {

struct ReadRecord {
    WarcRecord record;
    std::uint64_t offset = 0;  // of its gzip member in the file
    std::uint64_t length = 0;  // of its gzip member
};

class WarcReader {
public:
    static constexpr std::uint64_t kDefaultRecordLimit = 1ull << 30;
    explicit WarcReader(const std::string& path, std::uint64_t recordLimit = kDefaultRecordLimit);
    ~WarcReader();
    WarcReader(const WarcReader&) = delete;
    WarcReader& operator=(const WarcReader&) = delete;

    // The next record; false at the end of the file (Error() empty) or on damage (Error() set).
    bool Next(ReadRecord& out);
    const std::string& Error() const { return error_; }
    // The end of the last whole record read so far.
    std::uint64_t GoodEnd() const { return goodEnd_; }

private:
    bool Fill();
    std::FILE* file_ = nullptr;
    std::uint64_t limit_;
    std::vector<unsigned char> in_;
    std::size_t inPos_ = 0, inLen_ = 0;
    std::uint64_t fileOffset_ = 0;  // of in_[inPos_]
    std::uint64_t goodEnd_ = 0;
    bool eof_ = false;
    std::string error_;
};

// The record whose gzip member is at offset with length in the file at path (as an index
// names it); false when there is none.
bool ReadRecordAt(const std::string& path, std::uint64_t offset, std::uint64_t length, WarcRecord& out,
                  std::uint64_t recordLimit = WarcReader::kDefaultRecordLimit);
// Parses the uncompressed text of one record; false when it is not a WARC record.
bool ParseWarcRecord(const std::string& text, WarcRecord& out);

}  // namespace qm::archive
