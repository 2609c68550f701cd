// Site maps of Projects over the Project's stored list.
#include "engine/site_map.h"

#include "store/project.h"

namespace qm {

void AddToMap(TDClass& project, const std::string& path) {
    std::size_t b = 0, e = path.size();
    while (b < e && static_cast<unsigned char>(path[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(path[e - 1]) <= ' ') --e;
    if (b == e) return;
    GetMap(project).Add(path.substr(b, e - b));
    project.MarkSiteMapModified();
}

SortedStringList& GetMap(TDClass& project) { return project.SiteMap(); }

bool SaveMap(TDClass& project) {
    if (!project.SiteMapModified()) return true;
    std::string error;
    // Written under a temporary name and renamed; the mark is cleared only after success,
    // so a failed write is tried again at the next save.
    if (!project.SaveSiteMap(error)) return false;
    project.ClearSiteMapModified();
    return true;
}

void DeleteMap(TDClass& project) { project.RemoveSiteMapFile(); }

}  // namespace qm
