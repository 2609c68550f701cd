// Folders and Projects named on a command line.
#include "app/project_lookup.h"

#include "store/string_list.h"

namespace qm::app {

namespace {

bool IsDecimal(const std::string& text) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

store::ProjectFolder* FindFolderArg(const store::ProjectTree& tree, const std::string& caption) {
    for (const auto& folder : tree.Folders)
        if (folder && store::CompareNoCase(folder->Caption, caption) == 0) return folder.get();
    return nullptr;
}

std::vector<store::Project*> FindProjectsArg(const store::ProjectFolder& folder, const std::string& arg) {
    std::vector<store::Project*> found;
    if (store::CompareNoCase(arg, "all") == 0) {
        for (const auto& p : folder.Children)
            if (p) found.push_back(p.get());
        return found;
    }
    if (IsDecimal(arg)) {
        const std::size_t index = std::stoul(arg);
        if (index < folder.Children.size() && folder.Children[index]) found.push_back(folder.Children[index].get());
        return found;
    }
    for (const auto& p : folder.Children) {
        if (p && store::CompareNoCase(p->Caption, arg) == 0) {
            found.push_back(p.get());
            break;
        }
    }
    return found;
}

store::Project* FindProjectPath(const store::ProjectTree& tree, const std::string& path, std::string& error) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        error = "'" + path + "' does not name a Project: write FOLDER/PROJECT";
        return nullptr;
    }
    const std::string folderName = path.substr(0, slash);
    const std::string projectName = path.substr(slash + 1);
    store::ProjectFolder* folder = FindFolderArg(tree, folderName);
    if (!folder) {
        error = "no folder named '" + folderName + "'";
        return nullptr;
    }
    std::vector<store::Project*> projects = FindProjectsArg(*folder, projectName);
    if (projects.empty()) {
        error = "no Project '" + projectName + "' in folder '" + folder->Caption + "'";
        return nullptr;
    }
    return projects.front();
}

}  // namespace qm::app
