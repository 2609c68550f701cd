#include "store/project_tree.h"

#include "store/string_list.h"

namespace qm::store {

std::vector<Project*> ProjectTree::AllProjects() const {
    std::vector<Project*> all;
    for (const auto& f : Folders)
        for (const auto& p : f->Children) all.push_back(p.get());
    return all;
}

Project* ProjectTree::FindByIID(int iid) const {
    for (const auto& f : Folders)
        for (const auto& p : f->Children)
            if (p->IID == iid) return p.get();
    return nullptr;
}

ProjectFolder* ProjectTree::FindFolder(const std::string& caption) const {
    for (const auto& f : Folders)
        if (CompareNoCase(f->Caption, caption) == 0) return f.get();
    return nullptr;
}

ProjectFolder& ProjectTree::AddFolder(const std::string& caption) {
    auto f = std::make_unique<ProjectFolder>();
    f->Caption = caption;
    Folders.push_back(std::move(f));
    return *Folders.back();
}

Project& ProjectTree::AddProject(ProjectFolder& folder, std::unique_ptr<Project> project) {
    project->Folder = &folder;
    folder.Children.push_back(std::move(project));
    return *folder.Children.back();
}

void ProjectTree::ApplyLoadedID(Project& project) {
    if (project.IID == 0)
        project.IID = TakeID();
    else if (project.IID >= NextID)
        NextID = project.IID + 1;
}

std::unique_ptr<Project> ProjectTree::TakeProject(Project& project) {
    for (auto& f : Folders)
        for (auto it = f->Children.begin(); it != f->Children.end(); ++it)
            if (it->get() == &project) {
                std::unique_ptr<Project> p = std::move(*it);
                f->Children.erase(it);
                p->Folder = nullptr;
                return p;
            }
    return nullptr;
}

bool ProjectTree::RemoveFolder(ProjectFolder& folder) {
    for (auto it = Folders.begin(); it != Folders.end(); ++it)
        if (it->get() == &folder) {
            Folders.erase(it);
            return true;
        }
    return false;
}

int ProjectTree::NodeCount() const {
    int n = 0;
    for (const auto& f : Folders) n += 1 + static_cast<int>(f->Children.size());
    return n;
}

ProjectTree::Node ProjectTree::NodeAt(int index) const {
    if (index < 0) return {};
    for (const auto& f : Folders) {
        if (index == 0) return {f.get(), nullptr};
        --index;
        if (index < static_cast<int>(f->Children.size())) return {f.get(), f->Children[index].get()};
        index -= static_cast<int>(f->Children.size());
    }
    return {};
}

int ProjectTree::IndexOf(const ProjectFolder& folder) const {
    int n = 0;
    for (const auto& f : Folders) {
        if (f.get() == &folder) return n;
        n += 1 + static_cast<int>(f->Children.size());
    }
    return -1;
}

int ProjectTree::IndexOf(const Project& project) const {
    int n = 0;
    for (const auto& f : Folders) {
        ++n;
        for (const auto& p : f->Children) {
            if (p.get() == &project) return n;
            ++n;
        }
    }
    return -1;
}

}  // namespace qm::store
