// libFuzzer target: the style-sheet address finder over arbitrary bytes. Every link it reports
// must lie inside the text, in order, and never be empty.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "analysis/css_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool inAttribute = data[0] & 1;
    std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::size_t last = 0;
    for (const qm::analysis::StyleLink& link : qm::analysis::ScanStyleSheet(text, inAttribute)) {
        if (link.start > link.end || link.end > text.size() || link.start < last) __builtin_trap();
        if (link.value.empty()) __builtin_trap();
        last = link.end;
    }
    return 0;
}
