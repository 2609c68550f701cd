#pragma once
// The site map of a Project: the sorted list of the local files it has stored, kept in
// "<IID>.map" in the program folder.
#include <string>
#include <vector>

#include "store/string_list.h"

namespace qm::store {
class Project;
}  // namespace qm::store
namespace qm::engine {

// Adds a stored or confirmed file (blanks and control characters trimmed; empty ignored).
void AddToMap(store::Project& project, const std::string& path);
// The Project's list, loaded from its file on first use.
store::SortedStringList& GetMap(store::Project& project);
// Writes the list when it changed since the last save. False when writing failed.
bool SaveMap(store::Project& project);
// Writes the lists of every given Project that changed, with one flush to disk for all of
// them. False when any could not be written (those keep their mark and are tried again).
bool SaveMaps(const std::vector<store::Project*>& projects);
// Deletes the map file (the Project was deleted).
void DeleteMap(store::Project& project);

}  // namespace qm::engine
