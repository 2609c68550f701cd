#pragma once
// The settings that analysing one page reads: the Project's admission rules, file types and
// switches, the folder its files are stored under, and the program options that shape local
// names. The main thread copies them when it hands the page to analysis, and the analysis of
// that page reads only its copy, so that the main thread may change the Project, its folder
// and the options at any time (Project properties, options, folder properties).
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "addresses/address_rules.h"
#include "store/file_category.h"

namespace qm::store {
class Project;
}  // namespace qm::store
namespace qm::engine {

struct SettingsSnapshot {
    // The Project found records belong to: compared and pointed into, never read through.
    store::Project* project = nullptr;

    // Of the Project.
    std::string startURL;
    int RSrvsBx = 0, RPathBx = 0, RFileBx = 0;
    std::string RSrvsIn, RSrvsEx, RPathIn, RPathEx, RFileIn, RFileEx;
    std::array<store::FileCategory, store::kCategoryCount> Categories{};
    bool EnableScript = false;
    bool LTranslate = false;
    bool ThisWay = false;
    bool Robots = false;
    bool LoggedIn = false;  // a log-in form is set: log-out addresses are refused
    // The start address in the form links are compared with (lower case, default document).
    addresses::AddressParts start;
    // Servers the start address was redirected to in this run: starting servers too.
    std::vector<std::string> joinedServers;

    // The folder files are stored under: the Project's folder's, else the download folder.
    std::string root;

    // Of the program options.
    std::string defaultDoc;  // never empty
    bool extLast = false;
    int diskSpace = 5;
    int connRetries = 0;
};

// Copies the settings of project (may be null) and of the program options as they are now.
// Main thread only: the originals belong to it.
SettingsSnapshot TakeSettingsSnapshot(store::Project* project);

}  // namespace qm::engine
