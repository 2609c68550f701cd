#pragma once
// The browser, viewer and editor lists of the window state ("Browsers", "Viewers",
// "Editors"): list text with one entry per line, the caption, "=", the program file and one
// final flag character, "x" when the entry is ticked.
#include <string>
#include <vector>

namespace qm::desktop {

// One entry as the options dialog edits it. Reading never goes past the line: a line
// without "=" is a caption without a program, an entry without a flag character is not
// ticked.
struct ToolEntry {
    std::string caption;
    std::string program;
    bool ticked = false;
};
ToolEntry ParseToolEntry(const std::string& line);
std::string FormatToolEntry(const ToolEntry& entry);
// At most 64 entries are read.
std::vector<ToolEntry> ParseToolEntries(const std::string& text);
std::string FormatToolEntries(const std::vector<ToolEntry>& entries);

// A ticked entry from the "Caption:" and "File:" fields: both trimmed, line breaks removed
// and "=" taken out of the caption (it ends the caption); an empty caption becomes the file's
// name. False when the file is empty.
bool MakeToolEntry(const std::string& caption, const std::string& file, ToolEntry& entry);

// The tools a menu offers: the ticked entries with a program, captions trimmed (an empty
// caption shows the program).
struct Tool {
    std::string caption;
    std::string program;
};
std::vector<Tool> ParseToolList(const std::string& text);

}  // namespace qm::desktop
