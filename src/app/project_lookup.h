#pragma once
// Finding folders and Projects from words on a command line, as the desktop program's
// command line does: a folder by caption, then a Project by caption, index or "all".
#include <string>
#include <vector>

#include "store/project_tree.h"

namespace qm::app {

// The root folder named caption (without regard to case), or nullptr.
store::ProjectFolder* FindFolderArg(const store::ProjectTree& tree, const std::string& caption);
// The Projects of folder that arg names: a caption (first match, without regard to case),
// an index into the folder's Projects, or "all".
std::vector<store::Project*> FindProjectsArg(const store::ProjectFolder& folder, const std::string& arg);
// "FOLDER/PROJECT" as quillmoor-cli explain takes it: the first Project named, or nullptr
// with a message saying what was not found.
store::Project* FindProjectPath(const store::ProjectTree& tree, const std::string& path, std::string& error);

}  // namespace qm::app
