// The admission filter of a Project: servers, directories, file names and file types.
#include "engine/admission.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

#include "engine/local_path.h"

#include "engine/address_rules.h"
#include "engine/get_rec.h"
#include "store/options.h"
#include "store/project.h"

namespace qm {

namespace {

std::string_view AfterScheme(const std::string& url) {
    const std::size_t schemeLen = SchemeLength(url);
    return url.size() > schemeLen ? std::string_view(url).substr(schemeLen) : std::string_view();
}


// The parts of a Project's start address, in the same canonical form as the links, so that a
// start written with ":80", credentials or "/./" does not refuse its own site. Every link of
// a page is compared with the same start: the parts are kept per thread until it changes.
const AddressParts& StartParts(const std::string& url, const std::string& doc) {
    struct Kept {
        std::string url, doc;
        AddressParts parts;
        bool valid = false;
    };
    thread_local Kept kept;
    if (kept.valid && kept.url == url && kept.doc == doc) return kept.parts;
    std::string startUrl = url;
    CleanedAddress ignored;
    if (CleanAddress(startUrl, ignored) != CleanStatus::Ok) startUrl = url;
    kept.parts = AddressParts{};
    SplitAddress(AsciiLowerCopy(AfterScheme(startUrl)), doc, kept.parts);
    kept.url = url;
    kept.doc = doc;
    kept.valid = true;
    return kept.parts;
}

struct JoinedServers {
    std::mutex mutex;
    std::map<const TDClass*, std::vector<std::string>> byProject;
};

JoinedServers& Joined() {
    static JoinedServers joined;
    return joined;
}

bool KeywordRule(const std::string& include, const std::string& exclude, const std::string& part) {
    return ListAllows(include, part, true) && ListAllows(exclude, part, false);
}

}  // namespace

std::string ServerOf(const std::string& url) {
    std::string cleaned = url;
    CleanedAddress ignored;
    if (CleanAddress(cleaned, ignored) != CleanStatus::Ok) cleaned = url;
    AddressParts parts;
    SplitAddress(AsciiLowerCopy(AfterScheme(cleaned)), DefaultDocName(), parts);
    return parts.server;
}

bool JoinStartingServer(const TDClass& project, const std::string& server) {
    if (server == StartParts(project.URL, DefaultDocName()).server) return false;
    JoinedServers& j = Joined();
    std::lock_guard<std::mutex> lock(j.mutex);
    std::vector<std::string>& list = j.byProject[&project];
    if (std::find(list.begin(), list.end(), server) != list.end()) return false;
    list.push_back(server);
    return true;
}

void ForgetJoinedServers(const TDClass& project) {
    JoinedServers& j = Joined();
    std::lock_guard<std::mutex> lock(j.mutex);
    j.byProject.erase(&project);
}

bool IsJoinedServer(const TDClass& project, const std::string& server) {
    JoinedServers& j = Joined();
    std::lock_guard<std::mutex> lock(j.mutex);
    auto it = j.byProject.find(&project);
    return it != j.byProject.end() &&
           std::find(it->second.begin(), it->second.end(), server) != it->second.end();
}

std::string JoinedServersText(const TDClass& project) {
    JoinedServers& j = Joined();
    std::lock_guard<std::mutex> lock(j.mutex);
    std::string text;
    auto it = j.byProject.find(&project);
    if (it == j.byProject.end()) return text;
    for (const std::string& s : it->second) text += s + '\n';
    return text;
}

bool Admit(TGetRec& record) {
    AdmissionResult why;
    return Admit(record, why);
}

bool Admit(TGetRec& record, AdmissionResult& why) {
    why = AdmissionResult{};
    record.Category = nullptr;
    TDClass* project = record.Project;
    if (!project) {
        why.admitted = true;
        return true;
    }
    const std::string& doc = DefaultDocName();
    AddressParts parts;
    SplitAddress(AsciiLowerCopy(AfterScheme(record.URL)), doc, parts);

    if (project->RSrvsBx == 1 || project->RPathBx == 1 || project->RFileBx == 1) {
        const AddressParts& start = StartParts(project->URL, doc);
        if (project->RSrvsBx == 1 && parts.server != start.server && !IsJoinedServer(*project, parts.server))
            return why.Refuse("starting server");
        if (project->RPathBx == 1 && parts.directory.compare(0, start.directory.size(), start.directory) != 0)
            return why.Refuse("starting directory");
        if (project->RFileBx == 1 && parts.fileName != start.fileName)
            return why.Refuse("starting file name");
    }
    if (project->RSrvsBx == 2 && !KeywordRule(project->RSrvsIn, project->RSrvsEx, parts.server))
        return why.Refuse("server keywords");
    if (project->RPathBx == 2 && !KeywordRule(project->RPathIn, project->RPathEx, parts.directory))
        return why.Refuse("directory keywords");
    if (project->RFileBx == 2 && !KeywordRule(project->RFileIn, project->RFileEx, parts.fileName))
        return why.Refuse("file name keywords");

    const std::string_view ext = FileExtension(parts.fileName);
    int refusedBy = -1;
    for (int i = kCatText; i <= kCatUserDefined && refusedBy < 0; ++i) {
        const CategoryVerdict v = CategoryTest(project->Categories[i], ext);
        if (v == CategoryVerdict::Accepted) {
            record.Category = &project->Categories[i];
            why.admitted = true;
            return true;
        }
        if (v == CategoryVerdict::Rejected) refusedBy = i;
    }
    if (refusedBy < 0) {
        if (!project->Categories[kCatOther].Flags[0]) {
            record.Category = &project->Categories[kCatOther];
            why.admitted = true;
            return true;
        }
        refusedBy = kCatOther;
    }
    // A page link is still fetched when pages are excluded, so that its links can be followed.
    if (!record.IsImage && project->Categories[kCatText].Flags[0]) {
        record.Category = &project->Categories[kCatText];
        why.admitted = true;
        return true;
    }
    return why.Refuse(std::string("category ") + kCategoryNames[refusedBy]);
}

}  // namespace qm
