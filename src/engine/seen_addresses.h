#pragma once
// The seen-address list: every address queued since the last Project start, compared without
// regard to case. A page can bring a million new addresses, so each costs little more than
// its own bytes: the texts lie one after another in large blocks, and an open-addressing
// index of 8-byte slots finds them.
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace qm::engine {

class SeenAddresses {
public:
    bool Contains(std::string_view address) const;
    // Adds address; false when it was there already.
    bool Insert(std::string_view address);
    void Clear();
    std::size_t Size() const { return count_; }

private:
    static std::uint64_t HashOf(std::string_view address);
    std::string_view TextAt(std::uint64_t slot) const;
    // The slot holding address, or the empty slot where it would go.
    std::size_t Probe(std::string_view address, std::uint64_t hash) const;
    std::uint64_t Store(std::string_view address);
    void Grow();

    // A slot: 0 when empty, else the hash's top 24 bits, the block (20 bits) and the offset
    // in the block (20 bits) of the text, whose length comes first.
    std::vector<std::uint64_t> slots_;
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t used_ = 0;  // bytes used in the last block
    std::size_t count_ = 0;
    // Whether the first block is one of the usual size (not a long text's own), which Clear keeps.
    bool firstBlockPlain_ = false;
    // The largest index Clear keeps (its first size).
    static constexpr std::size_t kKeptSlots = 1024;
};

}  // namespace qm::engine
