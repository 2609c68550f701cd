#pragma once
// The desktop's task-bar progress for this program's entry (the launcher entry signal
// "com.canonical.Unity.LauncherEntry" on the session bus, which KDE Plasma, Dash to Dock and
// others follow). Where no session bus exists nothing is sent and nothing fails.
#include <memory>
#include <string>

namespace qm::platform {

class TaskbarProgress {
public:
    virtual ~TaskbarProgress() = default;
    // permille 0..1000 shows the bar; below 0 hides it. Only changes are sent.
    virtual void Show(int permille) = 0;
};

// The launcher entry of the desktop file desktopFile (such as "org.quillmoor.Quillmoor.desktop", the name the packages
// install).
std::unique_ptr<TaskbarProgress> MakeLauncherEntryProgress(const std::string& desktopFile);

}  // namespace qm::platform
