#pragma once
// Digests as web archives write them: "sha1:" + base32 (WARC block and payload digests) and
// SHA-256 in hexadecimal (WACZ packages).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace qm::archive {

// An incremental SHA-1, written as "sha1:" + base32 of the 20 bytes.
class Sha1Digest {
public:
    Sha1Digest();
    ~Sha1Digest();
    Sha1Digest(const Sha1Digest&) = delete;
    Sha1Digest& operator=(const Sha1Digest&) = delete;
    void Add(std::string_view bytes);
    std::string Finish();  // "sha1:" + 32 base32 letters; the digest starts over afterwards

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

std::string Sha1Base32(std::string_view bytes);
std::string Base32(std::string_view bytes);  // RFC 4648, upper case, with padding
std::string Sha256Hex(std::string_view bytes);
// The SHA-256 of a file read in blocks, and its size; false when it cannot be read.
bool Sha256OfFile(const std::string& path, std::string& hex, std::uint64_t& size);

}  // namespace qm::archive
