// Percent-encoding of request targets.
#include "net/request_target.h"

#include <array>

namespace qm::net {

namespace {

constexpr bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Bytes allowed in a request target as they stand (the "%" is decided by what follows it).
constexpr std::array<bool, 256> MakeAllowed() {
    std::array<bool, 256> allowed{};
    for (int c = 'a'; c <= 'z'; ++c) allowed[std::size_t(c)] = true;
    for (int c = 'A'; c <= 'Z'; ++c) allowed[std::size_t(c)] = true;
    for (int c = '0'; c <= '9'; ++c) allowed[std::size_t(c)] = true;
    for (char c : std::string_view("-._~!$&'()*+,;=:@/?")) allowed[static_cast<unsigned char>(c)] = true;
    return allowed;
}

constexpr std::array<bool, 256> kAllowed = MakeAllowed();

}  // namespace

std::string EncodeRequestTarget(std::string_view target) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(target.size());
    for (std::size_t i = 0; i < target.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(target[i]);
        const bool escapeMade = c == '%' && i + 2 < target.size() && IsHex(target[i + 1]) && IsHex(target[i + 2]);
        if (kAllowed[c] || escapeMade) {
            out += char(c);
        } else {
            out += '%';
            out += kDigits[c >> 4];
            out += kDigits[c & 15];
        }
    }
    return out;
}

}  // namespace qm::net
