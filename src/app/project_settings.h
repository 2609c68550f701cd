#pragma once
// A Project's settings as KEY=VALUE lines, in the order the store writes them, and setting
// them with the store's own reading rules (for quillmoor-cli project and defaults). Line
// breaks inside a value are shown as "\n" and "\r" and taken back the same way.
#include <string>
#include <utility>
#include <vector>

namespace qm::store {
class Project;
}  // namespace qm::store

namespace qm::app {

std::vector<std::pair<std::string, std::string>> ProjectSettings(store::Project& project);
// Applies "KEY=VALUE" texts. An unknown key, "IID", or a value the store cannot read leaves
// the Project unchanged and returns false with error. The identifier is always kept.
bool SetProjectSettings(store::Project& project, const std::vector<std::string>& assignments, std::string& error);

}  // namespace qm::app
