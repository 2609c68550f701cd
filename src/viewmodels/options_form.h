#pragma once
// The options dialog apart from its widgets: the values its controls show, filled from the
// program options and the window state, and taken back with the dialog's rules (text that is
// not a number gives the field's default, the time-out is shown in seconds, ports and the
// time-out are kept in range, the download folder ends with a separator).
#include <array>
#include <string>
#include <vector>

#include "desktop/tool_list.h"
#include "store/options.h"

namespace qm::app {
class WindowState;
}  // namespace qm::app
namespace qm::viewmodels {

// The user-agent selector's entries: caption and the text sent to servers.
struct UserAgentEntry {
    const char* caption;
    const char* text;
};
const std::array<UserAgentEntry, 7>& UserAgentEntries();
// The entry whose text equals agent (an empty agent: "Anonymous"), or -1.
int UserAgentIndex(const std::string& agent);

struct OptionsForm {
    // Connection page.
    std::string connections, timeOutSeconds, retries, port;
    bool httpStart = true;
    // Proxy page.
    int proxyType = 0;
    std::string proxyAddr, proxyPort, proxyUser, proxyPass;
    // Download and disk space pages.
    std::string downloadFolder, diskSpace;
    // Advanced page.
    int showMode = 0, mapMode = 0, dblClkAction = 0;
    bool confirmDel = true, confirmExit = false, sysTray = false, splash = true, autoSave = true;
    std::string autoSaveMinutes;
    bool agentFromList = true;  // "Identify as:" (else "Use this identification:")
    int agentIndex = 0;
    std::string agentText;
    std::string bookmarksFile;
    // Transfers page.
    bool keepAlive = true, ftpPassive = false, sslAnyCert = false, extLast = false, lowMemory = true;
    std::string pauseSeconds;
    int priorityIndex = 1;  // 0 lowest .. 4 highest analysis priority
    // Tools pages.
    std::vector<desktop::ToolEntry> browsers, viewers, editors;
};

OptionsForm FillOptionsForm(const store::ProgramOptions& options, const app::WindowState& state);

// What taking the form back changed that the window must follow.
struct OptionsApplied {
    bool portChanged = false;    // the local web server must be restarted
    bool folderChanged = false;  // the site map follows the download folder
};
OptionsApplied ApplyOptionsForm(const OptionsForm& form, store::ProgramOptions& options, app::WindowState& state);

// The single rules, also used by the dialog to show the value it will keep.
int TakeBackTimeOut(const std::string& seconds);          // milliseconds; not a number: 300 s
int TakeBackPort(const std::string& text, int fallback);  // 1..65535
std::string TakeBackDownloadFolder(const std::string& text);
int TakeBackPause(const std::string& seconds);  // 0..3600; not a number: 0
// The analysis priority selector's entries, lowest first; index 0 is priority 1.
const std::array<const char*, 5>& PriorityEntries();
// "<n> MB Free" for the disk holding folder (the nearest folder that exists), or empty when
// folder is not an absolute path.
std::string FreeSpaceText(const std::string& folder);

}  // namespace qm::viewmodels
