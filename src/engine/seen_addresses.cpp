// The seen-address list.
#include "engine/seen_addresses.h"

#include <algorithm>
#include <cstring>

#include "store/string_list.h"

namespace qm::engine {

namespace {

constexpr std::size_t kBlockSize = std::size_t(1) << 20;
constexpr int kOffsetBits = 20;
constexpr int kBlockBits = 20;
constexpr std::uint64_t kOffsetMask = (std::uint64_t(1) << kOffsetBits) - 1;
constexpr std::uint64_t kBlockMask = (std::uint64_t(1) << kBlockBits) - 1;
constexpr int kTagShift = kOffsetBits + kBlockBits;

// The length before each text: 4 bytes.
constexpr std::size_t kLengthBytes = 4;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

}  // namespace

std::uint64_t SeenAddresses::HashOf(std::string_view address) {
    std::uint64_t h = 14695981039346656037ull;
    for (char c : address) h = (h ^ static_cast<unsigned char>(Lower(c))) * 1099511628211ull;
    // The tag must never be 0, so that no filled slot reads as empty.
    return h | (std::uint64_t(1) << 63);
}

std::string_view SeenAddresses::TextAt(std::uint64_t slot) const {
    const char* p = blocks_[(slot >> kOffsetBits) & kBlockMask].get() + (slot & kOffsetMask);
    std::uint32_t length = 0;
    std::memcpy(&length, p, kLengthBytes);
    return std::string_view(p + kLengthBytes, length);
}

std::size_t SeenAddresses::Probe(std::string_view address, std::uint64_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    const std::uint64_t tag = hash >> kTagShift;
    for (std::size_t i = static_cast<std::size_t>(hash) & mask;; i = (i + 1) & mask) {
        const std::uint64_t slot = slots_[i];
        if (slot == 0) return i;
        if ((slot >> kTagShift) == tag) {
            const std::string_view text = TextAt(slot);
            if (text.size() == address.size() && (text == address || store::CompareNoCase(text, address) == 0))
                return i;
        }
    }
}

bool SeenAddresses::Contains(std::string_view address) const {
    if (count_ == 0) return false;
    return slots_[Probe(address, HashOf(address))] != 0;
}

std::uint64_t SeenAddresses::Store(std::string_view address) {
    const std::size_t need = kLengthBytes + address.size();
    if (blocks_.empty() || used_ + need > kBlockSize) {
        // A text longer than a block gets a block of its own (its offset is 0).
        if (blocks_.empty()) firstBlockPlain_ = need <= kBlockSize;
        blocks_.emplace_back(new char[need > kBlockSize ? need : kBlockSize]);
        used_ = 0;
    }
    const std::uint64_t block = blocks_.size() - 1;
    const std::uint64_t offset = used_;
    char* p = blocks_.back().get() + used_;
    const auto length = static_cast<std::uint32_t>(address.size());
    std::memcpy(p, &length, kLengthBytes);
    std::memcpy(p + kLengthBytes, address.data(), address.size());
    used_ += need;
    if (need > kBlockSize) used_ = kBlockSize;  // nothing more goes into an oversized block
    return (block << kOffsetBits) | offset;
}

bool SeenAddresses::Insert(std::string_view address) {
    if (address.size() > 0xffffffffu) return false;
    if ((count_ + 1) * 10 > slots_.size() * 7) Grow();
    const std::uint64_t hash = HashOf(address);
    const std::size_t i = Probe(address, hash);
    if (slots_[i] != 0) return false;
    slots_[i] = ((hash >> kTagShift) << kTagShift) | Store(address);
    ++count_;
    return true;
}

void SeenAddresses::Grow() {
    std::vector<std::uint64_t> old;
    old.swap(slots_);
    slots_.assign(old.empty() ? 1024 : old.size() * 2, 0);
    const std::size_t mask = slots_.size() - 1;
    for (std::uint64_t slot : old) {
        if (slot == 0) continue;
        std::size_t i = static_cast<std::size_t>(HashOf(TextAt(slot))) & mask;
        while (slots_[i] != 0) i = (i + 1) & mask;
        slots_[i] = slot;
    }
}

void SeenAddresses::Clear() {
    // A run that starts many Projects empties the list once for each of them: a list that
    // stayed small keeps its index and its first block of texts for the next Project (no
    // memory handed back and asked for again each time); a large one gives its memory back.
    if (slots_.size() <= kKeptSlots) {
        std::fill(slots_.begin(), slots_.end(), 0);
    } else {
        slots_.clear();
        slots_.shrink_to_fit();
    }
    if (!blocks_.empty() && firstBlockPlain_) {
        blocks_.resize(1);
    } else {
        blocks_.clear();
        blocks_.shrink_to_fit();
    }
    used_ = 0;
    count_ = 0;
}

}  // namespace qm::engine
