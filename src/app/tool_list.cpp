// Reading the tool lists.
#include "app/tool_list.h"

#include "store/string_list.h"

namespace qm::app {

namespace {
std::string Trim(const std::string& s) {
    std::size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}
}  // namespace

std::vector<Tool> ParseToolList(const std::string& text) {
    std::vector<Tool> tools;
    for (const std::string& line : SplitLines(text)) {
        if (tools.size() >= 64) break;
        std::size_t eq = line.find('=');
        Tool t;
        t.program = Trim(eq == std::string::npos ? line : line.substr(eq + 1));
        t.caption = eq == std::string::npos ? t.program : Trim(line.substr(0, eq));
        if (t.program.empty()) continue;
        if (t.caption.empty()) t.caption = t.program;
        tools.push_back(std::move(t));
    }
    return tools;
}

}  // namespace qm::app
