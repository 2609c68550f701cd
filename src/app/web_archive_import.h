#pragma once
// Importing a web archive (a WARC file or a WACZ package, ours or another tool's) as a new
// Project whose stored site is rebuilt from the archive's answers.
#include <cstddef>
#include <functional>
#include <string>

namespace qm::store {
class Project;
class ProjectFolder;
class ProjectTree;
}  // namespace qm::store
namespace qm::app {

struct ImportReport {
    store::Project* project = nullptr;  // the new Project (also after a failure part-way)
    std::size_t stored = 0;             // files stored
    std::size_t redirects = 0;          // old names that lead to their new file
    std::size_t failed = 0;             // addresses the server answered with an error
    std::size_t skipped = 0;            // answers the Project's rules or this reader leave out
};

// Makes a Project in folder (with the settings of defaults, named caption, or after the
// file when empty) whose start address is the archive's first page, keeps the archive
// files in the Project's archive folder, and stores the latest answer of each address with
// its links translated as a download run translates them. False with error when the
// archive cannot be read or holds no page (the tree is left as it was), or when the stored
// site cannot be written (report.project is the Project made; do not save the tree then).
bool ImportWebArchive(store::ProjectTree& tree, store::ProjectFolder& folder, const store::Project& defaults,
                      const std::string& source, const std::string& caption,
                      const std::function<void(const std::string&)>& progress, ImportReport& report,
                      std::string& error);

}  // namespace qm::app
