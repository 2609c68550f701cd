#pragma once
// The download speed shown once a second: the bytes received in each of the last five
// seconds, averaged.
#include <cstdint>

namespace qm::app {

class SpeedAverage {
public:
    // Called once a second with the total received so far.
    void Add(std::int64_t totalReceived) {
        pos_ = (pos_ + 1) % kSeconds;
        ring_[pos_] = totalReceived - lastTotal_;
        lastTotal_ = totalReceived;
    }
    // Bytes per second over the last five seconds.
    std::int64_t BytesPerSecond() const {
        std::int64_t sum = 0;
        for (std::int64_t v : ring_) sum += v;
        return sum / kSeconds;
    }

private:
    static constexpr int kSeconds = 5;
    std::int64_t lastTotal_ = 0;
    std::int64_t ring_[kSeconds] = {};
    int pos_ = 0;
};

}  // namespace qm::app
