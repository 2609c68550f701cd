#pragma once
// The free space of the folders files are stored in, asked of the file system again only
// when the last answer for the folder is a second old or this run received another megabyte
// since: a page of a million links starts a million records in one folder, and asking for
// every record cost more than the records themselves.
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

namespace qm::engine {

class FreeSpaceGauge {
public:
    using Measure = std::function<std::int64_t(const std::string&)>;  // FreeSpace's answer
    using Clock = std::function<std::int64_t()>;                      // milliseconds
    static constexpr std::int64_t kMaxAgeMs = 1000;
    static constexpr std::int64_t kMaxReceived = 1048576;
    static constexpr std::size_t kMaxFolders = 64;

    FreeSpaceGauge();  // FreeSpace and the steady clock
    FreeSpaceGauge(Measure measure, Clock clock);

    // Free bytes on the file system holding path (-1 unknown), as FreeSpace says; received
    // is the count of bytes this run received so far.
    std::int64_t Free(const std::string& path, std::int64_t received);

private:
    struct Answer {
        std::int64_t free = 0;
        std::int64_t atMs = 0;
        std::int64_t received = 0;
    };
    Measure measure_;
    Clock clock_;
    std::unordered_map<std::string, Answer> answers_;  // by path, at most kMaxFolders
};

}  // namespace qm::engine
