#pragma once
// The two SHA-1 digests of a response record, made together: of every byte (the block) and
// of the bytes from some offset on (the payload after the HTTP head). Where the processor has
// SHA instructions the two digests are computed side by side, which takes about the time of
// one, since each alone waits on its instructions' latency; elsewhere through OpenSSL.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace qm::archive {

class PairedSha1 {
public:
    // tailStart: where the second digest's bytes begin. accelerated = false keeps to OpenSSL
    // even where the processor could do better (to compare the two ways).
    explicit PairedSha1(std::uint64_t tailStart, bool accelerated = true);
    ~PairedSha1();
    PairedSha1(const PairedSha1&) = delete;
    PairedSha1& operator=(const PairedSha1&) = delete;

    // The next bytes of the stream.
    void Add(std::string_view bytes);
    // "sha1:" + base32 of each digest; call once, after the last Add.
    std::string WholeDigest();
    std::string TailDigest();

    // Whether this processor computes SHA-1 with its own instructions.
    static bool Accelerated();

private:
    struct Lanes;
    struct Fallback;
    std::uint64_t tailStart_;
    std::uint64_t seen_ = 0;
    std::unique_ptr<Lanes> lanes_;        // with the processor's instructions
    std::unique_ptr<Fallback> fallback_;  // through OpenSSL
};

}  // namespace qm::archive
