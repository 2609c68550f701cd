#pragma once
// Finding installed web browsers for the browser list ("Auto Detect") and the desktop's
// default browser for the browse command.
#include <string>
#include <string_view>
#include <vector>

#include "desktop/tool_list.h"

namespace qm::platform {
class Registry;
}  // namespace qm::platform

namespace qm::desktop {

// Where browsers are looked for. The system's: $PATH, the freedesktop application folders
// ($XDG_DATA_HOME and $XDG_DATA_DIRS, each with "applications"), the program's registry.
// Tests give folders of their own.
struct BrowserSources {
    std::vector<std::string> pathDirs;
    std::vector<std::string> desktopDirs;
    platform::Registry* registry = nullptr;  // browsers' own entries, as in an imported registry file
    std::string windowsDir;                  // a folder holding "opera.ini" or "airmos.ini"; empty: none
};
BrowserSources SystemBrowserSources(platform::Registry* registry);

// The fields of a freedesktop ".desktop" file's "[Desktop Entry]" group that matter here.
struct DesktopEntry {
    std::string name;  // "Name" (not a translated one)
    std::string exec;  // the program of "Exec": its first word, quotes removed
    bool application = false;
    bool webBrowser = false;  // "Categories" holds "WebBrowser"
    bool hidden = false;
};
// Reads at most the first 64 KiB of text.
DesktopEntry ParseDesktopEntry(std::string_view text);
// The value of key in [section] of an INI text (section and key without regard to case), or
// empty. Reads at most the first 64 KiB of text.
std::string IniValue(std::string_view text, std::string_view section, std::string_view key);

// The executable file a program name stands for: a name with "/" as it is, else the first
// executable of that name in pathDirs; empty when there is none.
std::string FindExecutable(const std::string& program, const std::vector<std::string>& pathDirs);

// Adds every browser found as a ticked entry, unless an entry with the same program file (or
// one leading to the same file) is already there. Never adds a file that does not exist and
// never removes an entry. Returns how many were added.
int DetectBrowsers(std::vector<ToolEntry>& list, const BrowserSources& sources);

// The registry's default-browser command (the open command of the class of ".htm",
// ".html", ".shtml", ".shtm" or ".stm", else the extension's own), with every "%" and the
// character after it removed; empty when there is none.
std::string RegistryBrowserCommand(platform::Registry& registry);

// The program that opens web addresses on this desktop: the program of the ".desktop" entry
// "xdg-settings get default-web-browser" names, else the registry's default-browser command
// when it names a program that exists, else xdg-open; empty when none is found. Only
// programs found in sources.pathDirs are run.
std::string DefaultBrowserProgram(const BrowserSources& sources);

}  // namespace qm::desktop
