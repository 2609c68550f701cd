// Where a folder's sites are stored, deleting what was stored there safely, and what a
// folder's properties change.
#include "app/stored_site.h"

#include <filesystem>

#include "addresses/address_rules.h"
#include "engine/local_path.h"
#include "store/folder.h"
#include "store/options.h"
#include "store/project.h"

namespace qm::app {

namespace fs = std::filesystem;

std::string MapRootFolder(const store::ProjectFolder* folder) {
    if (folder && !folder->Dir.empty()) return addresses::AsFolder(folder->Dir);
    return addresses::AsFolder(store::Options().PathPrefix);
}

std::string StartPagePath(const store::Project& project) {
    std::string name = project.URL.size() > 7 ? project.URL.substr(7) : std::string();
    return engine::LocalPath(project, name);
}

namespace {
// The path with its folders resolved (symbolic links and "..") but its last part kept.
fs::path ResolvedParent(const fs::path& p, std::error_code& ec) {
    fs::path parent = fs::weakly_canonical(p.parent_path(), ec);
    return parent / p.filename();
}

bool Inside(const fs::path& path, const fs::path& root) {
    auto p = path.begin();
    for (auto r = root.begin(); r != root.end(); ++r) {
        if (r->empty()) continue;  // a final separator
        if (p == path.end() || *p != *r) return false;
        ++p;
    }
    return p != path.end();  // the root itself is never deleted
}
}  // namespace

bool DeleteMapPath(const std::string& path, const std::vector<std::string>& roots, std::string& why) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && (trimmed.back() == '/' || trimmed.back() == '\\')) trimmed.pop_back();
    if (trimmed.empty()) {
        why = "nothing to delete";
        return false;
    }
    std::error_code ec;
    fs::path target = ResolvedParent(fs::path(trimmed).lexically_normal(), ec);
    if (ec || target.filename().empty() || target.filename() == "..") {
        why = "cannot resolve " + trimmed;
        return false;
    }
    bool inside = false;
    for (const std::string& root : roots) {
        if (root.empty()) continue;
        std::error_code e2;
        fs::path r = fs::weakly_canonical(root, e2);
        if (!e2 && Inside(target, r)) inside = true;
    }
    if (!inside) {
        why = trimmed + " is outside the download folders";
        return false;
    }
    // remove_all removes a symbolic link itself and never what it points at.
    auto status = fs::symlink_status(target, ec);
    if (ec || !fs::exists(status)) {
        why = trimmed + " does not exist";
        return false;
    }
    fs::remove_all(target, ec);
    std::error_code e3;
    fs::remove(engine::PrimaryName(target.string()), e3);
    if (ec) {
        why = "cannot delete " + trimmed + ": " + ec.message();
        return false;
    }
    return true;
}

void StoreFolderProperties(store::ProjectFolder& folder, const std::string& name, const std::string& directory) {
    if (!name.empty()) folder.Caption = name;
    folder.Dir = directory;
    if (!directory.empty()) store::Options().DDs.Add(directory);
}

}  // namespace qm::app
