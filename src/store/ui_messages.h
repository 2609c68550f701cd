#pragma once
// The UI message table: texts addressed by index, replaceable by the language file. The first
// 53 are the classic list; the texts of the progress display follow them, so that an older
// language file still replaces the ones it knows.
#include <string>
#include <string_view>

namespace qm::store {

constexpr int kUIMessageCount = 69;

// The messages by meaning; the numbers are their places in a language file's messages.
enum class UIText {
    Default = 0,
    Empty = 1,
    NoDefaultBrowser = 2,
    Error = 3,
    BrowserLaunchFailed = 4,
    AskRemove = 5,
    Confirmation = 6,
    AskRemoveProjectFiles = 7,
    OneFolderMustRemain = 8,
    DeleteProjectsFirst = 9,
    ExternalToolFailed = 10,
    Downloaded = 11,
    Files = 12,
    Queue = 13,
    Size = 14,
    Kilobytes = 15,
    NewFolder = 16,
    Resume = 17,
    Suspend = 18,
    Speed = 19,
    BytesPerSecond = 20,
    AskQuit = 21,
    DefaultProjectProperties = 22,
    AskStopDownloading = 23,
    HintFilterKeywords = 24,
    HintAdvanced = 25,
    HintProjectName = 26,
    HintPasswords = 27,
    HintFileTypes = 28,
    HintServers = 29,
    HintDirectories = 30,
    HintFiles = 31,
    HintSchedule = 32,
    HintCategoryContents = 33,
    HintConnection = 34,
    HintProxy = 35,
    HintFolders = 36,
    HintDiskSpace = 37,
    HintSpecial = 38,
    HintBrowseChoice = 39,
    HintBrowsers = 40,
    HintViewChoice = 41,
    HintViewers = 42,
    HintEditChoice = 43,
    HintEditors = 44,
    MegabytesFree = 45,
    NoMatchingData = 46,
    Downloading = 47,
    Ready = 48,
    Suspending = 49,
    Parsing = 50,
    Searching = 51,
    ImportFavorites = 52,
    // Units and the progress display.
    Bytes = 53,
    KB = 54,
    MB = 55,
    GB = 56,
    PerSecond = 57,
    Hours = 58,
    Minutes = 59,
    Seconds = 60,
    FilesKnown = 61,
    TimeLeft = 62,
    QueueGrowing = 63,
    LastRun = 64,
    ColumnStatus = 65,
    ColumnAddress = 66,
    ColumnRate = 67,
    Rendering = 68,
};

// Text number index; an index outside the table gives an empty text.
const std::string& UIMessage(int index);
inline const std::string& UIMessage(UIText text) { return UIMessage(static_cast<int>(text)); }
// Replaces the table from CR LF separated text (entries beyond the given lines are kept).
void SetUIMessages(std::string_view text);
// Replaces one text (an index outside the table changes nothing).
void SetUIMessage(int index, std::string_view text);
// Restores the built-in English texts.
void ResetUIMessages();

}  // namespace qm::store
