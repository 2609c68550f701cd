#pragma once
// Where a folder's sites are stored, deleting what was stored there safely, and what a
// folder's properties change.
#include <string>
#include <vector>

namespace qm::store {
class Project;
}  // namespace qm::store
namespace qm::store {
class ProjectFolder;
}  // namespace qm::store

namespace qm::app {

// The map's root folder: the folder's directory, or "PathPrefix" when it has none or no
// folder is selected.
std::string MapRootFolder(const store::ProjectFolder* folder);
// The local path of a Project's start page (its address without "http://", mapped below its
// root folder).
std::string StartPagePath(const store::Project& project);

// Deletes the stored file or directory of a map node with its ".primary" mark. Only a path
// inside one of roots (after resolving "." and ".." and every symbolic link of the folders
// above it) is touched; a symbolic link itself is removed, never followed. False with a
// reason when nothing was deleted.
bool DeleteMapPath(const std::string& path, const std::vector<std::string>& roots, std::string& why);

// Stores a folder's properties: an empty name keeps the caption; the directory is stored as
// typed; only a non-empty directory joins "DDs", since an empty download folder would match
// every path.
void StoreFolderProperties(store::ProjectFolder& folder, const std::string& name, const std::string& directory);

}  // namespace qm::app
