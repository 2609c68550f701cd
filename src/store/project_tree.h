#pragma once
// The Project tree as the main window shows it: root folders in order, each holding its
// Projects in order. The core model that the window, the CLI and the tests all use.
#include <memory>
#include <string>
#include <vector>

#include "store/folder.h"
#include "store/project.h"

namespace qm {

class ProjectTree {
public:
    std::vector<std::unique_ptr<TDContainer>> Folders;  // owned, in tree order
    int NextID = 1;                                     // the identifier counter

    // Every Project in tree order (folder by folder).
    std::vector<TDClass*> AllProjects() const;
    TDClass* FindByIID(int iid) const;
    // The root folder whose caption equals caption without regard to case, or nullptr.
    TDContainer* FindFolder(const std::string& caption) const;
    // Appends a new folder with that caption and returns it.
    TDContainer& AddFolder(const std::string& caption);
    // Appends project to folder (sets project->Folder) and returns it.
    TDClass& AddProject(TDContainer& folder, std::unique_ptr<TDClass> project);
    // Takes the next identifier.
    int TakeID() { return NextID++; }
};

}  // namespace qm
