#pragma once
// Cutting blanks off both ends of a text: the one rule behind every field, list entry and
// file line the program reads.
#include <string>
#include <string_view>

namespace qm::store {

// Blanks and line breaks.
inline constexpr std::string_view kLineBlanks = " \t\r\n";
// Blanks within one line.
inline constexpr std::string_view kSpaceAndTab = " \t";
// Every byte up to and including the blank: blanks and control characters.
inline constexpr std::string_view kBlanksAndControls{
    "\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f"
    "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f\x20",
    33};

// text without the characters of blanks at either end.
inline std::string_view TrimView(std::string_view text, std::string_view blanks = kLineBlanks) {
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

inline std::string Trim(std::string_view text, std::string_view blanks = kLineBlanks) {
    return std::string(TrimView(text, blanks));
}

}  // namespace qm::store
