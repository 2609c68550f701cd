#pragma once
// The bytes of one transfer as they arrive for its archive record: the first few megabytes in
// memory, the rest in an anonymous temporary file in the archive folder (so an endless or huge
// answer costs disk, not memory, and a killed run leaves nothing behind), up to a limit past
// which the transfer is recorded as cut off.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace qm::archive {

class CapturedBytes {
public:
    static constexpr std::size_t kMemoryBytes = std::size_t{4} << 20;
    static constexpr std::uint64_t kMaxBytes = std::uint64_t{256} << 20;

    CapturedBytes() = default;
    // Bytes already in memory (nothing to spill).
    CapturedBytes(std::string bytes) : front_(std::move(bytes)) {}  // NOLINT: implicit on purpose
    CapturedBytes(const char* bytes) : front_(bytes) {}             // NOLINT
    // Bytes to come; beyond memoryBytes they go to a file in spillFolder (none: memory only).
    CapturedBytes(std::string spillFolder, std::size_t memoryBytes, std::uint64_t maxBytes);
    CapturedBytes(CapturedBytes&& other) noexcept;
    CapturedBytes& operator=(CapturedBytes&& other) noexcept;
    CapturedBytes(const CapturedBytes&) = delete;
    CapturedBytes& operator=(const CapturedBytes&) = delete;
    ~CapturedBytes();

    // Adds bytes; false once the limit is passed or the spill file cannot be written, and
    // from then on Truncated() with the bytes kept so far.
    bool Append(std::string_view bytes);
    // Says how many bytes are coming in all (a length the answer announced), so that the
    // memory for them is taken once instead of growing and copying step by step.
    void Expect(std::uint64_t total);
    std::uint64_t Size() const { return front_.size() + spilled_; }
    bool Empty() const { return Size() == 0; }
    bool Truncated() const { return truncated_; }
    bool Spilled() const { return spilled_ > 0; }
    // The bytes kept in memory: all of them unless Spilled().
    const std::string& Front() const { return front_; }
    // Hands every byte to each, in order and in blocks; false when the spill file cannot be read.
    bool ForEach(const std::function<void(std::string_view)>& each) const;
    // Every byte in one string (for small captures and tests).
    std::string All() const;
    // Moves the bytes kept in memory out; what remains is the spilled part alone.
    std::string TakeFront() { return std::exchange(front_, std::string()); }

private:
    void Release();
    std::string folder_;
    std::size_t memoryBytes_ = SIZE_MAX;
    std::uint64_t maxBytes_ = kMaxBytes;
    std::string front_;
    int fd_ = -1;
    std::uint64_t spilled_ = 0;
    bool truncated_ = false;
};

// An anonymous file in folder (removed as soon as it is closed); -1 when none can be made.
int OpenAnonymousFile(const std::string& folder);

}  // namespace qm::archive
