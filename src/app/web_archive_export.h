#pragma once
// Exporting a Project's web archive as one WACZ file.
#include <functional>
#include <string>

namespace qm::store {
class Project;
}  // namespace qm::store
namespace qm::app {

// Packs every archive file the Project's runs recorded into target. Files of a killed run
// are made whole first. progress gets one line per step. False with error (nothing
// recorded yet, or the package cannot be written).
bool ExportWebArchive(const store::Project& project, const std::string& target,
                      const std::function<void(const std::string&)>& progress, std::string& error);

}  // namespace qm::app
