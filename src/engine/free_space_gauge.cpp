// Free space answers kept for a moment per folder.
#include "engine/free_space_gauge.h"

#include <chrono>

#include "engine/stored_files.h"

namespace qm::engine {

namespace {

std::int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

FreeSpaceGauge::FreeSpaceGauge() : FreeSpaceGauge(FreeSpace, SteadyMs) {}

FreeSpaceGauge::FreeSpaceGauge(Measure measure, Clock clock) : measure_(std::move(measure)), clock_(std::move(clock)) {}

std::int64_t FreeSpaceGauge::Free(const std::string& path, std::int64_t received) {
    const std::int64_t now = clock_();
    auto it = answers_.find(path);
    if (it != answers_.end()) {
        const Answer& a = it->second;
        // A clock or count that went back (a new run) also asks again.
        const bool fresh =
            now >= a.atMs && now - a.atMs < kMaxAgeMs && received >= a.received && received - a.received < kMaxReceived;
        if (fresh) return a.free;
    } else if (answers_.size() >= kMaxFolders) {
        answers_.clear();
    }
    const std::int64_t free = measure_(path);
    answers_[path] = Answer{free, now, received};
    return free;
}

}  // namespace qm::engine
