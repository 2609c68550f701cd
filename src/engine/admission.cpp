// The admission filter of a Project: servers, directories, file names and file types.
#include "engine/admission.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

#include "engine/local_path.h"

#include "addresses/address_rules.h"
#include "engine/get_rec.h"
#include "engine/settings_snapshot.h"
#include "store/options.h"
#include "store/project.h"

namespace qm::engine {

namespace {

std::string_view AfterScheme(const std::string& url) {
    const std::size_t schemeLen = addresses::SchemeLength(url);
    return url.size() > schemeLen ? std::string_view(url).substr(schemeLen) : std::string_view();
}

struct JoinedServerLists {
    std::mutex mutex;
    std::map<const store::Project*, std::vector<std::string>> byProject;
};

JoinedServerLists& Joined() {
    static JoinedServerLists joined;
    return joined;
}

bool KeywordRule(const std::string& include, const std::string& exclude, const std::string& part) {
    return addresses::ListAllows(include, part, true) && addresses::ListAllows(exclude, part, false);
}

}  // namespace

const char* const kReasonLogOut = "log-out address";
const char* const kLogOutWords[4] = {"logout", "signout", "log-out", "sign-out"};

bool IsLogOutAddress(const std::string& lowerPath) {
    for (const char* word : kLogOutWords)
        if (lowerPath.find(word) != std::string::npos) return true;
    return false;
}

std::string ServerOf(const std::string& url) {
    std::string cleaned = url;
    addresses::CleanedAddress ignored;
    if (addresses::CleanAddress(cleaned, ignored) != addresses::CleanStatus::Ok) cleaned = url;
    addresses::AddressParts parts;
    addresses::SplitAddress(addresses::AsciiLowerCopy(AfterScheme(cleaned)), DefaultDocName(), parts);
    return parts.server;
}

bool JoinStartingServer(const store::Project& project, const std::string& server) {
    if (server == ServerOf(project.URL)) return false;
    JoinedServerLists& j = Joined();
    std::lock_guard<std::mutex> lock(j.mutex);
    std::vector<std::string>& list = j.byProject[&project];
    if (std::find(list.begin(), list.end(), server) != list.end()) return false;
    list.push_back(server);
    return true;
}

void ForgetJoinedServers(const store::Project& project) {
    JoinedServerLists& j = Joined();
    std::lock_guard<std::mutex> lock(j.mutex);
    j.byProject.erase(&project);
}

std::vector<std::string> JoinedServers(const store::Project& project) {
    JoinedServerLists& j = Joined();
    std::lock_guard<std::mutex> lock(j.mutex);
    auto it = j.byProject.find(&project);
    return it == j.byProject.end() ? std::vector<std::string>() : it->second;
}

bool Admit(DownloadRecord& record) {
    AdmissionResult why;
    return Admit(record, why);
}

bool Admit(DownloadRecord& record, AdmissionResult& why) {
    return Admit(record, TakeSettingsSnapshot(record.Project), why);
}

bool Admit(DownloadRecord& record, const SettingsSnapshot& rules, AdmissionResult& why) {
    why = AdmissionResult{};
    record.Category = nullptr;
    store::Project* project = record.Project;
    if (!project) {
        why.admitted = true;
        return true;
    }
    const std::string& doc = rules.defaultDoc;
    addresses::AddressParts parts;
    addresses::SplitAddress(addresses::AsciiLowerCopy(AfterScheme(record.URL)), doc, parts);

    if (rules.RSrvsBx == 1 || rules.RPathBx == 1 || rules.RFileBx == 1) {
        const addresses::AddressParts& start = rules.start;
        if (rules.RSrvsBx == 1 && parts.server != start.server &&
            std::find(rules.joinedServers.begin(), rules.joinedServers.end(), parts.server) ==
                rules.joinedServers.end())
            return why.Refuse("starting server");
        if (rules.RPathBx == 1 && parts.directory.compare(0, start.directory.size(), start.directory) != 0)
            return why.Refuse("starting directory");
        if (rules.RFileBx == 1 && parts.fileName != start.fileName) return why.Refuse("starting file name");
    }
    if (rules.RSrvsBx == 2 && !KeywordRule(rules.RSrvsIn, rules.RSrvsEx, parts.server))
        return why.Refuse("server keywords");
    if (rules.RPathBx == 2 && !KeywordRule(rules.RPathIn, rules.RPathEx, parts.directory))
        return why.Refuse("directory keywords");
    if (rules.RFileBx == 2 && !KeywordRule(rules.RFileIn, rules.RFileEx, parts.fileName))
        return why.Refuse("file name keywords");
    // Following a log-out link would end the session the run logged in with.
    if (rules.LoggedIn && IsLogOutAddress(parts.directory + parts.fileName)) return why.Refuse(kReasonLogOut);

    // The record points at the Project's own categories; their settings are read from the copy.
    const std::string_view ext = addresses::FileExtension(parts.fileName);
    int refusedBy = -1;
    for (int i = store::kCatText; i <= store::kCatUserDefined && refusedBy < 0; ++i) {
        const addresses::CategoryVerdict v = addresses::CategoryTest(rules.Categories[i], ext);
        if (v == addresses::CategoryVerdict::Accepted) {
            record.Category = &project->Categories[i];
            why.admitted = true;
            return true;
        }
        if (v == addresses::CategoryVerdict::Rejected) refusedBy = i;
    }
    if (refusedBy < 0) {
        if (!rules.Categories[store::kCatOther].Flag(store::CategoryFlag::Excluded)) {
            record.Category = &project->Categories[store::kCatOther];
            why.admitted = true;
            return true;
        }
        refusedBy = store::kCatOther;
    }
    // A page link is still fetched when pages are excluded, so that its links can be followed.
    if (!record.IsImage && rules.Categories[store::kCatText].Flag(store::CategoryFlag::Excluded)) {
        record.Category = &project->Categories[store::kCatText];
        why.admitted = true;
        return true;
    }
    return why.Refuse(std::string("category ") + store::kCategoryNames[refusedBy]);
}

}  // namespace qm::engine
