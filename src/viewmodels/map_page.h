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

// "OK" of the keyword picker: kind 0 a host folder (first level below the root), kind 1 a
// node two levels down or deeper with children, kind 2 one without children.
bool KeywordPickOk(int kind, int depth, bool hasChildren);

// The folder properties dialog: the folder the picker shows for the directory field's text
// ("PathPrefix" when empty, one final separator removed); the field's text for a picked
// folder (a separator appended). The dialog's result is stored by StoreFolderProperties.
std::string PickerFolderFor(const std::string& fieldText);
std::string FieldTextForPicked(const std::string& folder);

}  // namespace qm::viewmodels
