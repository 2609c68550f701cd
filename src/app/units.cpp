// Units people read.
#include "app/units.h"

#include <cstdio>

#include "store/ui_messages.h"

namespace qm::app {

std::string FormatSize(std::int64_t bytes) {
    using store::UIText;
    if (bytes < 1024) return std::to_string(bytes < 0 ? 0 : bytes) + " " + store::UIMessage(UIText::Bytes);
    static const UIText kUnits[] = {UIText::KB, UIText::MB, UIText::GB};
    double value = static_cast<double>(bytes) / 1024.0;
    int unit = 0;
    // Rounding to one decimal may reach 1024.0 of a unit: that is shown as the next unit.
    while (unit < 2 && value >= 1023.95) {
        value /= 1024.0;
        ++unit;
    }
    char number[32];
    if (value < 99.95)
        std::snprintf(number, sizeof number, "%.1f", value);
    else
        std::snprintf(number, sizeof number, "%.0f", value);
    return std::string(number) + " " + store::UIMessage(kUnits[unit]);
}

std::string FormatRate(std::int64_t bytesPerSecond) {
    return FormatSize(bytesPerSecond) + store::UIMessage(store::UIText::PerSecond);
}

std::string FormatDuration(std::int64_t seconds) {
    using store::UIText;
    if (seconds < 0) seconds = 0;
    const std::string h = " " + store::UIMessage(UIText::Hours), m = " " + store::UIMessage(UIText::Minutes),
                      s = " " + store::UIMessage(UIText::Seconds);
    if (seconds < 60) return std::to_string(seconds) + s;
    if (seconds < 3600) return std::to_string(seconds / 60) + m + " " + std::to_string(seconds % 60) + s;
    return std::to_string(seconds / 3600) + h + " " + std::to_string(seconds % 3600 / 60) + m;
}

}  // namespace qm::app
