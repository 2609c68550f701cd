#pragma once
// What a set of archive files holds for each address: its latest whole answer (a response,
// or a resource of an ftp or local file), with revisits resolved to the answer they repeat.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace qm::archive {

struct ArchivedAnswer {
    std::string url;   // the address asked for
    std::string date;  // WARC date of the record
    std::string type;  // "response" or "resource"
    std::string mime;  // of a resource record
    std::string path;  // the archive file
    std::uint64_t offset = 0, length = 0;
};

class ArchiveContents {
public:
    static constexpr std::size_t kMaxAddresses = 2000000;
    // Reads every record of one archive file; false with error when it is damaged (what was
    // read before the damage is kept).
    bool Add(const std::string& path, std::string& error);
    // The latest answer of each address, in the order the addresses were first met.
    std::vector<ArchivedAnswer> Latest() const;
    // The first html page answered 200, the start of the site as it was fetched.
    const std::string& FirstPage() const { return firstPage_; }
    std::size_t Records() const { return records_; }

private:
    struct Revisit {
        std::string date, refersTo;
    };
    std::vector<std::string> order_;
    std::unordered_map<std::string, ArchivedAnswer> answers_;
    std::unordered_map<std::string, Revisit> revisits_;
    std::string firstPage_;
    std::size_t records_ = 0;
};

}  // namespace qm::archive
