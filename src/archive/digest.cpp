// SHA-1 and SHA-256 through OpenSSL's EVP interface.
#include "archive/digest.h"

#include <openssl/evp.h>

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

std::string Sha256Hex(std::string_view bytes) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(bytes.data(), bytes.size(), out, &size, EVP_sha256(), nullptr);
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        hex += kHex[out[i] >> 4];
        hex += kHex[out[i] & 15];
    }
    return hex;
}

}  // namespace qm::archive
