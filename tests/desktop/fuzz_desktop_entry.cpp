// Desktop entries and INI files of other programs are read without trusting them.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "desktop/browser_detect.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    qm::desktop::ParseDesktopEntry(text);
    qm::desktop::IniValue(text, "USER PREFS", "Opera Directory");
    qm::desktop::IniValue(text, "Hotlists", "Hotlist 0");
    return 0;
}
