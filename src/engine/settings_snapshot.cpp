// Copying the settings one page's analysis reads.
#include "engine/settings_snapshot.h"

#include "engine/admission.h"
#include "engine/local_path.h"
#include "store/options.h"
#include "store/project.h"

namespace qm::engine {

namespace {

std::string_view AfterScheme(const std::string& url) {
    const std::size_t schemeLen = addresses::SchemeLength(url);
    return url.size() > schemeLen ? std::string_view(url).substr(schemeLen) : std::string_view();
}

// The parts of the start address in the same canonical form as the links, so that a start
// written with ":80", credentials or "/./" does not refuse its own site.
addresses::AddressParts StartParts(const std::string& url, const std::string& doc) {
    std::string startUrl = url;
    addresses::CleanedAddress ignored;
    if (addresses::CleanAddress(startUrl, ignored) != addresses::CleanStatus::Ok) startUrl = url;
    addresses::AddressParts parts;
    addresses::SplitAddress(addresses::AsciiLowerCopy(AfterScheme(startUrl)), doc, parts);
    return parts;
}

}  // namespace

SettingsSnapshot TakeSettingsSnapshot(store::Project* project) {
    SettingsSnapshot s;
    const store::ProgramOptions& options = store::Options();
    s.defaultDoc = DefaultDocName();
    s.extLast = options.ExtLast;
    s.diskSpace = options.DiskSpace;
    s.connRetries = options.ConnRetries;
    s.project = project;
    if (!project) {
        s.root = addresses::AsFolder(options.PathPrefix.empty() ? store::DefaultDownloadFolder() : options.PathPrefix);
        return s;
    }
    s.startURL = project->URL;
    s.RSrvsBx = project->RSrvsBx;
    s.RPathBx = project->RPathBx;
    s.RFileBx = project->RFileBx;
    s.RSrvsIn = project->RSrvsIn;
    s.RSrvsEx = project->RSrvsEx;
    s.RPathIn = project->RPathIn;
    s.RPathEx = project->RPathEx;
    s.RFileIn = project->RFileIn;
    s.RFileEx = project->RFileEx;
    s.Categories = project->Categories;
    s.EnableScript = project->EnableScript;
    s.LTranslate = project->LTranslate;
    s.ThisWay = project->ThisWay;
    s.Robots = project->Robots;
    s.LoggedIn = !project->LoginURL.empty();
    s.start = StartParts(project->URL, s.defaultDoc);
    s.joinedServers = JoinedServers(*project);
    s.root = RootFolder(*project);
    return s;
}

}  // namespace qm::engine
