#include "store/ui_messages.h"

#include <array>

#include "store/string_list.h"

namespace qm::store {

namespace {
const std::array<const char*, kUIMessageCount> kBuiltIn = {
    "Default",
    "Empty",
    "Could not find default Browser",
    "Error",
    "Could not launch default Browser",
    "Do you want to remove",
    "Confirmaton",
    "Do you want to remove all Project files",
    "At least one folder should remain.",
    "Please delete all Projects first.",
    "Error Starting External Tool",
    "Downloaded",
    "file(s)",
    "Queue",
    "Size",
    "kb",
    "New Folder",
    "&Resume",
    "&Suspend",
    "Speed",
    "bps",
    "Do you want to quit",
    "Default Project Properties",
    "Stop Downloading?",
    "Filter files by Server, Directory or Filename keywords",
    "Advanced Project settings",
    "Project name, address and levels",
    "Passwords used for protected web sites",
    "File types selection",
    "Limit servers using keywords",
    "Limit directories using keywords",
    "Limit files using keywords",
    "When the Project should be downloaded",
    "Set category contents",
    "Internet connection and http server settings",
    "Proxy Server type and password settings",
    "Where downloaded files will be placed",
    "Set free disk space limit",
    "Special settings that effect the entire program",
    "When browsing a web site, display a choice between one of these tools",
    "A list of browsers used to browse web sites",
    "When viewing a web site, display a choice between one of these tools",
    "A list of viewers used to view web files",
    "When editing a web site, display a choice between one of these tools",
    "A list of editors used to edit web files",
    "MB Free",
    "Cannot find matching data.",
    "Downloading",
    "Ready",
    "Suspending",
    "Parsing",
    "Searching",
    "Import &Favorites",
    "bytes",
    "KB",
    "MB",
    "GB",
    "/s",
    "h",
    "min",
    "s",
    "files",
    "left",
    "queue still growing",
    "Last run",
    "Status",
    "Address",
    "Rate",
    "Rendering",
};

std::array<std::string, kUIMessageCount>& Table() {
    static std::array<std::string, kUIMessageCount> table = [] {
        std::array<std::string, kUIMessageCount> t;
        for (int i = 0; i < kUIMessageCount; ++i) t[i] = kBuiltIn[i];
        return t;
    }();
    return table;
}
}  // namespace

const std::string& UIMessage(int index) {
    static const std::string empty;
    if (index < 0 || index >= kUIMessageCount) return empty;
    return Table()[index];
}

void SetUIMessages(std::string_view text) {
    std::vector<std::string> lines = SplitLines(text);
    for (std::size_t i = 0; i < lines.size() && i < kUIMessageCount; ++i) Table()[i] = lines[i];
}

void SetUIMessage(int index, std::string_view text) {
    if (index >= 0 && index < kUIMessageCount) Table()[index] = std::string(text);
}

void ResetUIMessages() {
    for (int i = 0; i < kUIMessageCount; ++i) Table()[i] = kBuiltIn[i];
}

}  // namespace qm::store
