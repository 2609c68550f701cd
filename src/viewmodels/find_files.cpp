// Find over the Project tree, the site map and the disk.
#include "viewmodels/find_files.h"

#include <dirent.h>
#include <set>
#include <sys/stat.h>
#include <utility>

#include "store/string_list.h"

namespace qm::viewmodels {

bool NameMatches(const std::string& name, const std::string& text, bool matchCase) {
    if (matchCase) return name.find(text) != std::string::npos;
    return store::LowerCase(name).find(store::LowerCase(text)) != std::string::npos;
}

int FindTreeNode(const store::ProjectTree& tree, int selected, const std::string& text, bool matchCase) {
    int count = tree.NodeCount();
    for (int i = selected < 0 ? 0 : selected + 1; i < count; ++i) {
        store::ProjectTree::Node n = tree.NodeAt(i);
        const std::string& caption = n.project ? n.project->Caption : n.folder->Caption;
        if (NameMatches(caption, text, matchCase)) return i;
    }
    return -1;
}

namespace {
struct DiskWalk {
    const std::string& text;
    bool matchCase;
    const DiskSearchLimits& limits;
    std::set<std::pair<dev_t, ino_t>> visited;
    std::size_t entries = 0;

    std::string Walk(const std::string& folder, int depth) {
        struct stat st;
        if (depth > limits.maxDepth || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
        if (!visited.insert({st.st_dev, st.st_ino}).second) return {};  // seen: a link cycle
        DIR* dir = ::opendir(folder.c_str());
        if (!dir) return {};
        std::string found;
        while (found.empty()) {
            dirent* e = ::readdir(dir);
            if (!e) break;
            std::string name = e->d_name;
            if (name == "." || name == ".." || DirTreeModel::Hidden(name)) continue;
            if (++entries > limits.maxEntries) break;
            std::string full = folder + (folder.empty() || folder.back() == '/' ? "" : "/") + name;
            struct stat es;
            bool isDir = ::stat(full.c_str(), &es) == 0 && S_ISDIR(es.st_mode);
            if (NameMatches(name, text, matchCase))
                found = isDir ? full + "/" : full;
            else if (isDir)
                found = Walk(full, depth + 1);
        }
        ::closedir(dir);
        return found;
    }
};
}  // namespace

std::string SearchDisk(const std::string& folder, const std::string& text, bool matchCase,
                       const DiskSearchLimits& limits) {
    DiskWalk walk{text, matchCase, limits, {}, 0};
    return walk.Walk(folder, 0);
}

MapNode* FindMapNode(DirTreeModel& map, MapNode* selected, const std::string& text, bool matchCase) {
    bool folderMode = map.Mode == DirTreeModel::kFolderMode;
    MapNode* n = selected ? DirTreeModel::Next(selected, map.Top())
                          : (folderMode ? DirTreeModel::Next(map.First(), map.Top()) : map.First());
    for (; n; n = DirTreeModel::Next(n, map.Top())) {
        if (!n->Placeholder) {
            if (NameMatches(n->Caption, text, matchCase)) return n;
            continue;
        }
        MapNode* parent = n->Parent;
        if (!folderMode || !parent) continue;
        std::string folder = parent->Parent ? map.NodePath(*parent) + "/" : map.Directory();
        std::string hit = SearchDisk(folder, text, matchCase);
        if (hit.empty()) continue;
        if (MapNode* node = map.FindNode(hit)) return node;
    }
    return nullptr;
}

}  // namespace qm::viewmodels
