#pragma once
// The rules of the map page, the keyword picker and the folder dialog that are not widgets:
// which folder the map shows, which selection the picker accepts, what deleting a map node
// may touch, and what the folder dialog stores.
#include <string>
#include <vector>

namespace qm::store { class Project; }
namespace qm::store { class ProjectFolder; }
namespace qm::store {
}

namespace qm::app {

// The map's root folder: the folder's directory, or "PathPrefix" when it has none or no
// folder is selected.
std::string MapRootFolder(const store::ProjectFolder* folder);
// The local path of a Project's start page (its address without "http://", mapped below its
// root folder).
std::string StartPagePath(const store::Project& project);

// "OK" of the keyword picker: kind 0 a host folder (first level below the root), kind 1 a
// node two levels down or deeper with children, kind 2 one without children.
bool KeywordPickOk(int kind, int depth, bool hasChildren);

// Deletes the stored file or directory of a map node with its ".primary" mark. Only a path
// inside one of roots (after resolving "." and ".." and every symbolic link of the folders
// above it) is touched; a symbolic link itself is removed, never followed. False with a
// reason when nothing was deleted.
bool DeleteMapPath(const std::string& path, const std::vector<std::string>& roots, std::string& why);

// The folder properties dialog: the folder the picker shows for the directory field's text
// ("PathPrefix" when empty, one final separator removed); the field's text for a picked
// folder (a separator appended); storing the dialog's result. An empty name keeps the
// caption; the directory is stored as typed; only a non-empty directory joins "DDs", since
// an empty download folder would match every path.
std::string PickerFolderFor(const std::string& fieldText);
std::string FieldTextForPicked(const std::string& folder);
void StoreFolderProperties(store::ProjectFolder& folder, const std::string& name, const std::string& directory);

}  // namespace qm::app
