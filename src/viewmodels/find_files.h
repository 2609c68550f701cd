#pragma once
// Find ("&Files or Folders..."): name matching, the walk over the Project tree and over the
// site map, and the bounded search of folders the map has not read yet.
#include <cstddef>
#include <string>

#include "viewmodels/dir_tree_model.h"
#include "store/project_tree.h"

namespace qm::viewmodels {

// Whether name contains text (both lower-cased unless matchCase).
bool NameMatches(const std::string& name, const std::string& text, bool matchCase);

// The index of the first Project tree node after `selected` (-1: from the first node) whose
// caption matches, or -1.
int FindTreeNode(const store::ProjectTree& tree, int selected, const std::string& text, bool matchCase);

// Depth-first search of folder on disk in the order the file system lists the entries; the
// full path of the first entry whose name matches (a folder's path ends with "/"), or empty.
// Every real folder is entered at most once, so symbolic-link cycles end; depth and the
// number of entries looked at are bounded. Names that never appear on the map are skipped.
struct DiskSearchLimits {
    int maxDepth = 64;
    std::size_t maxEntries = 1000000;
};
std::string SearchDisk(const std::string& folder, const std::string& text, bool matchCase,
                       const DiskSearchLimits& limits = {});

// The map walk: the next matching node after `selected` (nullptr: after the root in folder
// mode, from the first node in list mode). In folder mode an unread folder is searched on
// disk and the map is filled along the path found. nullptr when nothing matches.
MapNode* FindMapNode(DirTreeModel& map, MapNode* selected, const std::string& text, bool matchCase);

}  // namespace qm::viewmodels
