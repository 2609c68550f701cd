#pragma once
// The rules of the map page, the keyword picker and the folder dialog that are not widgets:
// which folder the map shows, which selection the picker accepts, what deleting a map node
// may touch, and what the folder dialog stores.
#include <string>
#include <vector>

#include "app/stored_site.h"

namespace qm::store {
class Project;
}  // namespace qm::store
namespace qm::store {
class ProjectFolder;
}  // namespace qm::store
namespace qm::store {}

namespace qm::viewmodels {

// What the keyword picker picks for; the values are the order of the filter pages.
enum class KeywordKind { Server = 0, Directory = 1, FileName = 2 };

// "OK" of the keyword picker: a server is a host folder (first level below the root), a
// directory a node two levels down or deeper with children, a file name one without children.
bool KeywordPickOk(KeywordKind kind, int depth, bool hasChildren);

// The folder properties dialog: the folder the picker shows for the directory field's text
// ("PathPrefix" when empty, one final separator removed); the field's text for a picked
// folder (a separator appended). The dialog's result is stored by StoreFolderProperties.
std::string PickerFolderFor(const std::string& fieldText);
std::string FieldTextForPicked(const std::string& folder);

}  // namespace qm::viewmodels
