#pragma once
// The Project tree as the main window shows it: root folders in order, each holding its
// Projects in order. The core model that the window, the CLI and the tests all use.
#include <memory>
#include <string>
#include <vector>

#include "store/folder.h"
#include "store/project.h"

namespace qm::store {

class ProjectTree {
public:
    std::vector<std::unique_ptr<ProjectFolder>> Folders;  // owned, in tree order
    int NextID = 1;                                       // the identifier counter

    // Every Project in tree order (folder by folder).
    std::vector<Project*> AllProjects() const;
    Project* FindByIID(int iid) const;
    // The root folder whose caption equals caption without regard to case, or nullptr.
    ProjectFolder* FindFolder(const std::string& caption) const;
    // Appends a new folder with that caption and returns it.
    ProjectFolder& AddFolder(const std::string& caption);
    // Appends project to folder (sets project->Folder) and returns it.
    Project& AddProject(ProjectFolder& folder, std::unique_ptr<Project> project);
    // Takes the next identifier.
    int TakeID() { return NextID++; }
    // The identifier rule of loading: 0 takes the counter's value, one at or above the
    // counter moves the counter past it.
    void ApplyLoadedID(Project& project);
    // Removes project from its folder and hands it over (nullptr when it is not in the tree).
    std::unique_ptr<Project> TakeProject(Project& project);
    // Removes folder with its Projects (false when it is not in the tree).
    bool RemoveFolder(ProjectFolder& folder);
    // Empties the tree (the counter is kept).
    void Clear() { Folders.clear(); }

    // Tree nodes in index order as the main window numbers them: each folder, then its
    // Projects. A node is a folder (project == nullptr) or a Project of folder.
    struct Node {
        ProjectFolder* folder = nullptr;
        Project* project = nullptr;
    };
    int NodeCount() const;
    Node NodeAt(int index) const;                    // both nullptr when index is out of range
    int IndexOf(const ProjectFolder& folder) const;  // -1 when not in the tree
    int IndexOf(const Project& project) const;
};

}  // namespace qm::store
