#pragma once
// MessageReader: cuts the browser's answer stream into messages, each ended by a NUL byte.
// A message longer than the limit makes the stream unusable: nothing is kept beyond it.
#include <cstddef>
#include <string>
#include <vector>

namespace qm::render {

class MessageReader {
public:
    static constexpr std::size_t kDefaultMaxMessage = 64u * 1024 * 1024;
    explicit MessageReader(std::size_t maxMessage = kDefaultMaxMessage) : max_(maxMessage) {}

    // Takes count bytes; every message they complete is appended to out. False once a
    // message has grown past the limit (then and for every later call).
    bool Feed(const char* data, std::size_t count, std::vector<std::string>& out);
    bool Broken() const { return broken_; }
    std::size_t Buffered() const { return partial_.size(); }

private:
    std::size_t max_;
    std::string partial_;
    bool broken_ = false;
};

}  // namespace qm::render
