// Numbers typed into dialog fields.
#include "viewmodels/dialog_values.h"

#include <charconv>

namespace qm::viewmodels {

int ReadNumber(const std::string& text, int fallback) {
    std::size_t a = text.find_first_not_of(" \t");
    std::size_t b = text.find_last_not_of(" \t");
    if (a == std::string::npos) return fallback;
    const char* first = text.data() + a;
    const char* last = text.data() + b + 1;
    if (*first == '+') ++first;
    int value = 0;
    auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last) return fallback;
    return value;
}

int Clamp(int value, int low, int high) { return value < low ? low : value > high ? high : value; }

}  // namespace qm::viewmodels
