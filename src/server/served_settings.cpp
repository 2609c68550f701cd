#include "server/served_settings.h"

#include "server/responses.h"
#include "store/folder.h"
#include "store/options.h"
#include "store/project_tree.h"

namespace qm::server {

namespace {

std::string PathPrefixOf(const store::ProgramOptions& options) {
    return options.PathPrefix.empty() ? store::DefaultDownloadFolder() : options.PathPrefix;
}
const std::string& DefaultDocOf(const store::ProgramOptions& options) {
    static const std::string kDefault = "default.htm";
    return options.DefaultDoc.empty() ? kDefault : options.DefaultDoc;
}

}  // namespace

ServedSettings ServedSettings::Of(const store::ProjectTree* tree, const store::ProgramOptions& options) {
    ServedSettings s;
    s.pathPrefix = PathPrefixOf(options);
    if (tree)
        for (const auto& folder : tree->Folders) {
            if (!folder) continue;
            s.folders.push_back(
                Folder{folder->Caption, Lower(folder->Caption), folder->Dir.empty() ? s.pathPrefix : folder->Dir});
        }
    s.offered = options.DDs.Items();
    s.defaultDoc = DefaultDocOf(options);
    s.urlPrefix = options.URLPrefix;
    s.extLast = options.ExtLast;
    return s;
}

bool ServedSettings::Matches(const store::ProjectTree* tree, const store::ProgramOptions& options) const {
    if (options.URLPrefix != urlPrefix || DefaultDocOf(options) != defaultDoc || options.ExtLast != extLast)
        return false;
    if (options.PathPrefix.empty() ? pathPrefix != store::DefaultDownloadFolder() : options.PathPrefix != pathPrefix)
        return false;
    if (options.DDs.Items() != offered) return false;
    std::size_t i = 0;
    if (tree)
        for (const auto& folder : tree->Folders) {
            if (!folder) continue;
            if (i == folders.size()) return false;
            const Folder& f = folders[i++];
            if (folder->Caption != f.caption) return false;
            if (folder->Dir.empty() ? f.dir != pathPrefix : folder->Dir != f.dir) return false;
        }
    return i == folders.size();
}

}  // namespace qm::server
