// Fuzz target: any bytes as registry.reg; what imports must export and import to the same.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qm::platform::Registry reg;
    std::string error;
    if (!reg.ImportText(std::string(reinterpret_cast<const char*>(data), size), error)) return 0;
    const std::string text = reg.ExportText();
    qm::platform::Registry back;
    if (!back.ImportText(text, error) || back.ExportText() != text) __builtin_trap();
    return 0;
}
