// Reading and writing the tool lists.
#include "desktop/tool_list.h"
#include "store/trim.h"

#include "store/string_list.h"

namespace qm::desktop {

namespace {
constexpr std::size_t kMaxTools = 64;

}  // namespace

ToolEntry ParseToolEntry(const std::string& line) {
    ToolEntry e;
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) {
        e.caption = line;
        return e;
    }
    e.caption = line.substr(0, eq);
    std::string rest = line.substr(eq + 1);
    if (rest.empty()) return e;
    e.ticked = rest.back() == 'x';
    rest.pop_back();
    e.program = rest;
    return e;
}

std::string FormatToolEntry(const ToolEntry& e) { return e.caption + "=" + e.program + (e.ticked ? "x" : "o"); }

std::vector<ToolEntry> ParseToolEntries(const std::string& text) {
    std::vector<ToolEntry> entries;
    for (const std::string& line : store::SplitLines(text)) {
        if (entries.size() >= kMaxTools) break;
        if (!line.empty()) entries.push_back(ParseToolEntry(line));
    }
    return entries;
}

std::string FormatToolEntries(const std::vector<ToolEntry>& entries) {
    std::vector<std::string> lines;
    for (const ToolEntry& e : entries) lines.push_back(FormatToolEntry(e));
    return store::JoinLines(lines);
}

bool MakeToolEntry(const std::string& caption, const std::string& file, ToolEntry& entry) {
    auto clean = [](std::string text, bool isCaption) {
        std::string out;
        for (char c : text)
            if (c != '\r' && c != '\n' && !(isCaption && c == '=')) out += c;
        return store::Trim(out, store::kSpaceAndTab);
    };
    entry.program = clean(file, false);
    if (entry.program.empty()) return false;
    entry.caption = clean(caption, true);
    if (entry.caption.empty()) {
        std::size_t slash = entry.program.find_last_of('/');
        entry.caption = clean(slash == std::string::npos ? entry.program : entry.program.substr(slash + 1), true);
    }
    entry.ticked = true;
    return true;
}

std::vector<Tool> ParseToolList(const std::string& text) {
    std::vector<Tool> tools;
    for (const ToolEntry& e : ParseToolEntries(text)) {
        Tool t{store::Trim(e.caption, store::kSpaceAndTab), store::Trim(e.program, store::kSpaceAndTab)};
        if (!e.ticked || t.program.empty()) continue;
        if (t.caption.empty()) t.caption = t.program;
        tools.push_back(std::move(t));
    }
    return tools;
}

}  // namespace qm::desktop
