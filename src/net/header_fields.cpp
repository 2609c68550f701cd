#include "net/header_fields.h"

namespace qm::net {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (Lower(text[i]) != Lower(prefix[i])) return false;
    return true;
}

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

}  // namespace

std::optional<std::string_view> HeaderField(std::string_view header, std::string_view name) {
    std::size_t at = 0;
    while (at < header.size()) {
        const std::size_t end = header.find_first_of("\r\n", at);
        const std::string_view line =
            header.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        if (!name.empty() && StartsWithNoCase(line, name)) return line.substr(name.size());
        if (end == std::string_view::npos) break;
        at = end + 1;
        while (at < header.size() && IsLineBreak(header[at])) ++at;
    }
    return std::nullopt;
}

std::optional<std::int64_t> ContentRangeStart(std::string_view header) {
    std::optional<std::string_view> field = HeaderField(header, "content-range:");
    if (!field) return std::nullopt;
    std::string_view v = *field;
    auto skipBlanks = [&v] {
        while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
    };
    skipBlanks();
    if (!StartsWithNoCase(v, "bytes")) return std::nullopt;
    v.remove_prefix(5);
    skipBlanks();
    std::int64_t first = 0;
    int digits = 0;
    for (; !v.empty() && v.front() >= '0' && v.front() <= '9'; v.remove_prefix(1)) {
        if (++digits > 18) return std::nullopt;
        first = first * 10 + (v.front() - '0');
    }
    if (digits == 0 || v.empty() || v.front() != '-') return std::nullopt;
    return first;
}

}  // namespace qm::net
