// The memo of normalised addresses, and the settings it depends on.
#include "engine/normalise_memo.h"

#include "engine/get_rec.h"
#include "engine/local_path.h"
#include "engine/normalise.h"
#include "store/options.h"
#include "store/project.h"

namespace qm {

namespace {

void Put(std::string& stamp, const std::string& text) {
    stamp += std::to_string(text.size());
    stamp += ':';
    stamp += text;
}

// Everything Normalise reads besides the record's address and kind, as one text.
std::string SettingsStamp(const TDClass* project) {
    std::string stamp;
    const TOptions& options = Options();
    Put(stamp, options.PathPrefix);
    Put(stamp, DefaultDownloadFolder());
    Put(stamp, DefaultDocName());
    stamp += options.ExtLast ? '1' : '0';
    if (!project) return stamp;
    Put(stamp, RootFolder(*project));
    Put(stamp, project->URL);
    for (int box : {project->RSrvsBx, project->RPathBx, project->RFileBx})
        Put(stamp, std::to_string(box));
    for (const std::string* list : {&project->RSrvsIn, &project->RSrvsEx, &project->RPathIn,
                                    &project->RPathEx, &project->RFileIn, &project->RFileEx})
        Put(stamp, *list);
    for (const TFileCategory& category : project->Categories) {
        Put(stamp, category.Exts);
        for (bool flag : category.Flags) stamp += flag ? '1' : '0';
    }
    return stamp;
}

}  // namespace

void NormaliseMemo::Prepare(const TDClass* project) {
    std::string stamp = SettingsStamp(project);
    if (project == project_ && stamp == stamp_) return;
    project_ = project;
    stamp_ = std::move(stamp);
    kept_[0].clear();
    kept_[1].clear();
    last_ = nullptr;
}

bool NormaliseMemo::Normalise(TGetRec& record) {
    // An address with credentials sets the record's password as well: not worth keeping.
    last_ = nullptr;
    if (record.Project != project_ || record.URL.find('@') != std::string::npos)
        return qm::Normalise(record);
    auto& kept = kept_[record.IsImage ? 1 : 0];
    auto found = kept.find(record.URL);
    if (found != kept.end()) {
        last_ = &*found;
        const Outcome& o = found->second;
        record.Img = true;
        record.Srv = true;
        if (!o.admitted) return false;
        if (!o.urlIsKey) record.URL = o.url;
        record.Category =
            o.category >= 0 ? &record.Project->Categories[std::size_t(o.category)] : nullptr;
        record.FName = o.fileName;
        if (o.pathEnd != kNoPath) {
            record.Path.assign(o.fileName, 0, o.pathEnd);
            record.RFile.assign(o.fileName, o.pathEnd + 1);
        }
        record.Depth = o.depth;
        return true;
    }
    if (Size() >= kMaxAddresses) {
        kept_[0].clear();
        kept_[1].clear();
    }
    std::string address = record.URL;
    Outcome o;
    o.admitted = qm::Normalise(record);
    if (o.admitted) {
        // Most addresses are already in their canonical form: the key is then the address.
        o.urlIsKey = record.URL == address;
        if (!o.urlIsKey) o.url = record.URL;
        if (record.Category && record.Project)
            o.category = static_cast<std::int8_t>(record.Category - &record.Project->Categories[0]);
        o.fileName = record.FName;
        // Path and RFile are the two sides of the file name's last separator.
        const std::size_t sep = record.FName.find_last_of("/\\");
        if (sep != std::string::npos && record.Path.size() == sep &&
            record.RFile.size() == record.FName.size() - sep - 1)
            o.pathEnd = static_cast<std::uint32_t>(sep);
        o.depth = record.Depth;
    }
    const bool admitted = o.admitted;
    last_ = &*kept.emplace(std::move(address), std::move(o)).first;
    return admitted;
}

bool NormaliseMemo::HandedOverBefore(const TGetRec& record, std::uint64_t generation) {
    // The record may have been changed since (an applet base, a refused path): only the
    // address the memo gave counts.
    if (!last_) return false;
    Outcome& o = last_->second;
    if (!o.admitted || (o.urlIsKey ? last_->first : o.url) != record.URL) return false;
    if (o.handedOver == generation) return true;
    o.handedOver = generation;
    return false;
}

NormaliseMemo& ThreadNormaliseMemo() {
    thread_local NormaliseMemo memo;
    return memo;
}

}  // namespace qm
