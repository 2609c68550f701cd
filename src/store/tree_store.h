#pragma once
// The Project tree store "Orrinal.dat" in the program folder, and the clipboard copy and
// paste of folders and Projects.
#include <string>

#include "store/project_tree.h"

namespace qm::store {

struct TreeLoadReport {
    bool damaged = false;          // the store could not be read completely
    std::string file;              // the file that was read (empty when none existed)
    std::string message;           // which file failed and why
    std::string keptAsideAs;       // where the damaged file was copied before anything saves over it
    bool keepAsideFailed = false;  // then the store must not be saved over
};

// Loads "Orrinal.dat" from folder (else "Orrinal.$$$", else nothing) into tree, which is
// emptied first. Objects read before a failure are kept. An empty result gets the folder
// "Default". A damaged file is copied aside.
TreeLoadReport LoadTreeStore(ProjectTree& tree, const std::string& folder);

// Writes every folder and its Projects to a new file "Orrinal.$$$." + a unique suffix in
// folder (synced to disk), then replaces "Orrinal.dat" with it. False with error when anything failed; "Orrinal.dat" is
// then left as it was.
bool SaveTreeStore(ProjectTree& tree, const std::string& folder, std::string& error);

// Puts folder and its Projects on the clipboard.
void CopyFolderToClipboard(ProjectFolder& folder);
void CopyProjectToClipboard(Project& project);
// True when the clipboard text begins with "[Object]".
bool ClipboardHoldsObjects();
// Pastes folders and Projects from the clipboard: a folder becomes a new root folder and the
// target of the Projects after it; Projects go to target (the first folder, or a new
// "Default" folder, when target is nullptr). Identifiers already used in the tree are
// renumbered. Returns the number of objects pasted; error tells of a damaged object.
int PasteFromClipboard(ProjectTree& tree, ProjectFolder* target, std::string* error = nullptr);

}  // namespace qm::store
