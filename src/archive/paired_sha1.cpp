// Two SHA-1 digests over one stream: with the x86 SHA extensions, both lanes' rounds are
// interleaved so that each lane's instructions run while the other's wait for their results.
#include "archive/paired_sha1.h"

#include <algorithm>
#include <cstring>

#include "archive/digest.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define QM_SHA_LANES 1
#endif

namespace qm::archive {

namespace {

constexpr std::uint32_t kInitial[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};

// One digest's running state: the words so far, the bytes short of a whole 64-byte block,
// and how many bytes it has taken.
struct Lane {
    std::uint32_t h[5] = {kInitial[0], kInitial[1], kInitial[2], kInitial[3], kInitial[4]};
    unsigned char carry[64];
    std::size_t carried = 0;
    std::uint64_t length = 0;
};

#ifdef QM_SHA_LANES

bool HasShaInstructions() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const bool vectors = (c & bit_SSSE3) && (c & bit_SSE4_1);
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return vectors && (b & bit_SHA);
}

// n blocks of 64 bytes for each of L lanes, lane l reading from p[l]. Every four rounds take
// one vector of message words; the next one is made from the four before it.
template <int L>
__attribute__((target("sha,sse4.1,ssse3"))) void Blocks(Lane* const* lanes, const unsigned char* const* p,
                                                        std::size_t n) {
    const __m128i byteOrder = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd[L], e[L];
    const unsigned char* at[L];
    for (int l = 0; l < L; ++l) {
        abcd[l] = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes[l]->h)), 0x1B);
        e[l] = _mm_set_epi32(static_cast<int>(lanes[l]->h[4]), 0, 0, 0);
        at[l] = p[l];
    }
    for (; n > 0; --n) {
        __m128i w[L][4], next[L], previous[L], savedAbcd[L], savedE[L];
        for (int l = 0; l < L; ++l) {
            savedAbcd[l] = abcd[l];
            savedE[l] = e[l];
            for (int i = 0; i < 4; ++i)
                w[l][i] =
                    _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at[l] + 16 * i)), byteOrder);
            next[l] = _mm_add_epi32(e[l], w[l][0]);
            at[l] += 64;
        }
        // Rounds 4i .. 4i+3 with function f, then the words of the next four.
#define QM_SHA1_ROUNDS(i, f)                                                                                          \
    for (int l = 0; l < L; ++l) {                                                                                     \
        previous[l] = abcd[l];                                                                                        \
        abcd[l] = _mm_sha1rnds4_epu32(abcd[l], next[l], f);                                                           \
        if ((i) < 19) {                                                                                               \
            if ((i) >= 3)                                                                                             \
                w[l][((i) + 1) & 3] = _mm_sha1msg2_epu32(                                                             \
                    _mm_xor_si128(_mm_sha1msg1_epu32(w[l][((i) + 1) & 3], w[l][((i) + 2) & 3]), w[l][((i) + 3) & 3]), \
                    w[l][(i)&3]);                                                                                     \
            next[l] = _mm_sha1nexte_epu32(previous[l], w[l][((i) + 1) & 3]);                                          \
        }                                                                                                             \
    }
        QM_SHA1_ROUNDS(0, 0)
        QM_SHA1_ROUNDS(1, 0)
        QM_SHA1_ROUNDS(2, 0)
        QM_SHA1_ROUNDS(3, 0)
        QM_SHA1_ROUNDS(4, 0)
        QM_SHA1_ROUNDS(5, 1)
        QM_SHA1_ROUNDS(6, 1)
        QM_SHA1_ROUNDS(7, 1)
        QM_SHA1_ROUNDS(8, 1)
        QM_SHA1_ROUNDS(9, 1)
        QM_SHA1_ROUNDS(10, 2)
        QM_SHA1_ROUNDS(11, 2)
        QM_SHA1_ROUNDS(12, 2)
        QM_SHA1_ROUNDS(13, 2)
        QM_SHA1_ROUNDS(14, 2)
        QM_SHA1_ROUNDS(15, 3)
        QM_SHA1_ROUNDS(16, 3)
        QM_SHA1_ROUNDS(17, 3)
        QM_SHA1_ROUNDS(18, 3)
        QM_SHA1_ROUNDS(19, 3)
#undef QM_SHA1_ROUNDS
        for (int l = 0; l < L; ++l) {
            e[l] = _mm_sha1nexte_epu32(previous[l], savedE[l]);
            abcd[l] = _mm_add_epi32(abcd[l], savedAbcd[l]);
        }
    }
    for (int l = 0; l < L; ++l) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes[l]->h), _mm_shuffle_epi32(abcd[l], 0x1B));
        lanes[l]->h[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e[l], 3));
    }
}

void BlocksOfOne(Lane& lane, const unsigned char* p, std::size_t n) {
    Lane* lanes[1] = {&lane};
    const unsigned char* from[1] = {p};
    if (n > 0) Blocks<1>(lanes, from, n);
}

// Tops up a lane's part block from bytes (taking them); digests it once it is whole.
void TopUp(Lane& lane, std::string_view& bytes) {
    if (lane.carried == 0 || bytes.empty()) return;
    const std::size_t take = std::min(bytes.size(), sizeof lane.carry - lane.carried);
    std::memcpy(lane.carry + lane.carried, bytes.data(), take);
    lane.carried += take;
    bytes.remove_prefix(take);
    if (lane.carried < sizeof lane.carry) return;
    BlocksOfOne(lane, lane.carry, 1);
    lane.carried = 0;
}

// Digests the whole blocks at the front of bytes alone and keeps what remains.
void Rest(Lane& lane, std::string_view bytes) {
    const std::size_t blocks = bytes.size() / 64;
    BlocksOfOne(lane, reinterpret_cast<const unsigned char*>(bytes.data()), blocks);
    bytes.remove_prefix(blocks * 64);
    if (!bytes.empty()) std::memcpy(lane.carry, bytes.data(), bytes.size());
    lane.carried = bytes.size();
}

std::string Finish(Lane& lane) {
    unsigned char last[128] = {};
    std::memcpy(last, lane.carry, lane.carried);
    last[lane.carried] = 0x80;
    const std::size_t size = lane.carried + 1 + 8 <= 64 ? 64 : 128;
    const std::uint64_t bits = lane.length * 8;
    for (std::size_t i = 0; i < 8; ++i) last[size - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
    BlocksOfOne(lane, last, size / 64);
    char digest[20];
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<char>(lane.h[i] >> (24 - 8 * j));
    return "sha1:" + Base32(std::string_view(digest, sizeof digest));
}

#else

bool HasShaInstructions() { return false; }

#endif

}  // namespace

struct PairedSha1::Lanes {
    Lane whole, tail;
};

struct PairedSha1::Fallback {
    Sha1Digest whole, tail;
};

bool PairedSha1::Accelerated() {
    static const bool has = HasShaInstructions();
    return has;
}

PairedSha1::PairedSha1(std::uint64_t tailStart, bool accelerated) : tailStart_(tailStart) {
    if (accelerated && Accelerated())
        lanes_ = std::make_unique<Lanes>();
    else
        fallback_ = std::make_unique<Fallback>();
}

PairedSha1::~PairedSha1() = default;

void PairedSha1::Add(std::string_view bytes) {
    std::string_view tail;
    if (seen_ + bytes.size() > tailStart_)
        tail = bytes.substr(tailStart_ > seen_ ? static_cast<std::size_t>(tailStart_ - seen_) : 0);
    seen_ += bytes.size();
    if (fallback_) {
        fallback_->whole.Add(bytes);
        fallback_->tail.Add(tail);
        return;
    }
#ifdef QM_SHA_LANES
    Lane& a = lanes_->whole;
    Lane& b = lanes_->tail;
    a.length += bytes.size();
    b.length += tail.size();
    TopUp(a, bytes);
    TopUp(b, tail);
    // The blocks both lanes have go side by side; the one or two more of either, alone.
    const std::size_t both = std::min(bytes.size() / 64, tail.size() / 64);
    if (both > 0) {
        Lane* lanes[2] = {&a, &b};
        const unsigned char* from[2] = {reinterpret_cast<const unsigned char*>(bytes.data()),
                                        reinterpret_cast<const unsigned char*>(tail.data())};
        Blocks<2>(lanes, from, both);
        bytes.remove_prefix(both * 64);
        tail.remove_prefix(both * 64);
    }
    // A lane still short of a block has taken all its bytes into its carry already.
    if (a.carried == 0) Rest(a, bytes);
    if (b.carried == 0) Rest(b, tail);
#endif
}

std::string PairedSha1::WholeDigest() {
#ifdef QM_SHA_LANES
    if (lanes_) return Finish(lanes_->whole);
#endif
    return fallback_->whole.Finish();
}

std::string PairedSha1::TailDigest() {
#ifdef QM_SHA_LANES
    if (lanes_) return Finish(lanes_->tail);
#endif
    return fallback_->tail.Finish();
}

}  // namespace qm::archive
