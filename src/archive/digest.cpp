// SHA-1 and SHA-256 through OpenSSL's EVP interface.
#include "archive/digest.h"

#include <openssl/evp.h>

#include <cstdio>
#include <vector>

namespace qm::archive {

struct Sha1Digest::Impl {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~Impl() { EVP_MD_CTX_free(ctx); }
};

Sha1Digest::Sha1Digest() : impl_(std::make_unique<Impl>()) { EVP_DigestInit_ex(impl_->ctx, EVP_sha1(), nullptr); }

Sha1Digest::~Sha1Digest() = default;

void Sha1Digest::Add(std::string_view bytes) {
    if (!bytes.empty()) EVP_DigestUpdate(impl_->ctx, bytes.data(), bytes.size());
}

std::string Sha1Digest::Finish() {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(impl_->ctx, out, &size);
    EVP_DigestInit_ex(impl_->ctx, EVP_sha1(), nullptr);
    return "sha1:" + Base32(std::string_view(reinterpret_cast<char*>(out), size));
}

std::string Sha1Base32(std::string_view bytes) {
    Sha1Digest d;
    d.Add(bytes);
    return d.Finish();
}

std::string Base32(std::string_view bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    std::string out;
    std::uint64_t bits = 0;
    int count = 0;
    for (unsigned char c : bytes) {
        bits = (bits << 8) | c;
        count += 8;
        while (count >= 5) {
            out += kAlphabet[(bits >> (count - 5)) & 31];
            count -= 5;
        }
    }
    if (count > 0) out += kAlphabet[(bits << (5 - count)) & 31];
    while (out.size() % 8 != 0) out += '=';
    return out;
}

namespace {
std::string Hex(const unsigned char* bytes, unsigned int size) {
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        hex += kHex[bytes[i] >> 4];
        hex += kHex[bytes[i] & 15];
    }
    return hex;
}
}  // namespace

std::string Sha256Hex(std::string_view bytes) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(bytes.data(), bytes.size(), out, &size, EVP_sha256(), nullptr);
    return Hex(out, size);
}

bool Sha256OfFile(const std::string& path, std::string& hex, std::uint64_t& size) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    std::vector<char> block(1 << 16);
    size = 0;
    for (std::size_t n; (n = std::fread(block.data(), 1, block.size(), f)) > 0; size += n)
        EVP_DigestUpdate(ctx, block.data(), n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx, out, &length);
    EVP_MD_CTX_free(ctx);
    hex = Hex(out, length);
    return ok;
}

}  // namespace qm::archive
