#pragma once
// The browser, viewer and editor lists of the window state ("Browsers", "Viewers",
// "Editors"): list text with one "caption=program" line per tool.
#include <string>
#include <vector>

namespace qm::app {

struct Tool {
    std::string caption;
    std::string program;
};

// Lines without a program are skipped; a line without "=" names the program and is its own
// caption. At most 64 tools are taken.
std::vector<Tool> ParseToolList(const std::string& text);

}  // namespace qm::app
