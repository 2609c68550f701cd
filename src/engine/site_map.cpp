// Site maps of Projects over the Project's stored list.
#include "engine/project_cookies.h"
#include "engine/site_map.h"

#include <filesystem>
#include <system_error>

#include "engine/failed_addresses.h"
#include "platform/program_folder.h"
#include "store/project.h"

namespace qm::engine {

void AddToMap(store::Project& project, const std::string& path) {
    std::size_t b = 0, e = path.size();
    while (b < e && static_cast<unsigned char>(path[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(path[e - 1]) <= ' ') --e;
    if (b == e) return;
    GetMap(project).Add(path.substr(b, e - b));
    project.MarkSiteMapModified();
}

store::SortedStringList& GetMap(store::Project& project) { return project.SiteMap(); }

bool SaveMap(store::Project& project) {
    if (!project.SiteMapModified()) return true;
    std::string error;
    // Written under a temporary name and renamed; the mark is cleared only after success,
    // so a failed write is tried again at the next save.
    if (!project.SaveSiteMap(error)) return false;
    project.ClearSiteMapModified();
    return true;
}

bool SaveMaps(const std::vector<store::Project*>& projects) {
    std::vector<store::Project*> changed;
    for (store::Project* p : projects)
        if (p && p->SiteMapModified()) changed.push_back(p);
    if (changed.size() <= 1) return changed.empty() || SaveMap(*changed.front());
    std::vector<platform::FileToWrite> files;
    files.reserve(changed.size());
    for (store::Project* p : changed) files.push_back({p->SiteMapFileName(), p->SiteMapText()});
    std::string error;
    platform::WriteFilesAtomic(files, error);
    // Only what reached its place loses its mark: its file now holds exactly this list.
    bool ok = true;
    for (std::size_t i = 0; i < changed.size(); ++i) {
        if (files[i].placed)
            changed[i]->ClearSiteMapModified();
        else
            ok = false;
    }
    return ok;
}

void DeleteMap(store::Project& project) {
    project.RemoveSiteMapFile();
    ForgetProjectCookies(project.IID, true);
    std::error_code ec;
    std::filesystem::remove(FailedAddressesFile(project), ec);
}

}  // namespace qm::engine
