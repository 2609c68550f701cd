#pragma once
// How long a record waits before its next attempt after a failed one (no connection, a host
// not found, a server error): the wait doubles from `first` with every failure of the same
// record up to `longest`, so a host that stays away costs a few lookups a minute instead of a
// busy loop, while a passing failure is tried again soon.
#include <chrono>

namespace qm::engine {

struct RetryWait {
    std::chrono::milliseconds first{1000};
    std::chrono::milliseconds longest{60000};

    // The wait before the attempt that follows failure number `failures` (1 for the first).
    std::chrono::milliseconds After(int failures) const {
        if (failures < 1 || first.count() <= 0) return std::chrono::milliseconds(0);
        auto wait = first;
        for (int i = 1; i < failures && wait < longest; ++i) wait *= 2;
        return wait < longest ? wait : longest;
    }
};

}  // namespace qm::engine
