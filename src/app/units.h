#pragma once
// Sizes, rates and times as people read them, the same in the window and on the terminal:
// binary multiples named KB, MB and GB (1 KB = 1024 bytes), one decimal below 100 of a unit,
// and durations as "2 min 10 s". The unit names come from the message table, so a language
// file translates them.
#include <cstdint>
#include <string>

namespace qm::app {

// "0 bytes", "1023 bytes", "1.0 KB", "99.9 KB", "100 KB", "1.5 MB", "2.0 GB". Negative: "0 bytes".
std::string FormatSize(std::int64_t bytes);
// FormatSize of the bytes per second followed by "/s": "512 bytes/s", "1.9 MB/s".
std::string FormatRate(std::int64_t bytesPerSecond);
// "0 s", "59 s", "1 min 0 s", "2 min 10 s", "1 h 5 min"; negative: "0 s".
std::string FormatDuration(std::int64_t seconds);

}  // namespace qm::app
