// Queue files: Suspend To File and Resume From File.
#include "engine/queue_file.h"

#include <cstdio>
#include <filesystem>
#include <memory>

#include "addresses/address_rules.h"
#include "engine/admission.h"
#include "engine/get_rec.h"
#include "engine/local_path.h"
#include "engine/local_scope.h"
#include "engine/normalise.h"
#include "engine/queue_manager.h"
#include "engine/settings_snapshot.h"
#include "store/object_stream.h"
#include "store/project.h"
#include "store/project_tree.h"

namespace qm::engine {

namespace {

// Larger files are no queue file this program wrote (a record takes a few hundred bytes).
constexpr std::uintmax_t kMaxQueueFileBytes = 512u * 1024 * 1024;

void SplitName(DownloadRecord& record) {
    const std::size_t sep = record.FName.find_last_of("/\\");
    if (sep == std::string::npos) {
        record.Path.clear();
        record.RFile = record.FName;
    } else {
        record.Path = record.FName.substr(0, sep);
        record.RFile = record.FName.substr(sep + 1);
    }
}

// The mapped root folder as it begins every local name of the Project.
std::string MappedRoot(const std::string& root) {
    std::string probe = "x";
    addresses::MapNameWith(probe, true, root, "x");
    return probe.substr(0, std::min(probe.size(), addresses::MappedRootLength(root)));
}

bool StaysInside(const std::string& name, const std::string& mappedRoot) {
    if (mappedRoot.empty() || name.size() <= mappedRoot.size()) return false;
    if (name.compare(0, mappedRoot.size(), mappedRoot) != 0) return false;
    if (name.find('\0') != std::string::npos) return false;
    return addresses::SegmentsStayInside(name, mappedRoot.size());
}

}  // namespace

store::Project* QueueProjectLookup::Find(const store::ProjectTree& tree, int iid) {
    // The tree does not change while one file is read, so the Project found last is valid.
    if (last_ && last_->IID == iid) return last_;
    store::Project* found = tree.FindByIID(iid);
    if (found) last_ = found;
    return found;
}

bool SuspendToFile(QueueManager& queue, const std::string& fileName, std::string& error) {
    if (fileName.empty()) {
        error = "no file name given";
        return false;
    }
    queue.SetSuspended(true);
    // The links of pages under analysis belong in the file: they would be dropped by the stop.
    queue.FinishAnalysis();
    // Written under a name no other writer uses, then moved into place.
    std::string part;
    bool written = false;
    {
        store::TypedStream stream(store::ObjectStream::UniqueFileTag{}, fileName + ".part");
        part = stream.FileName();
        // Pages waiting for the browser or in it are fetched again by the resumed run, which
        // renders them then.
        const std::vector<std::unique_ptr<DownloadRecord>> pages = queue.PagesToRender();
        stream.WriteCount(static_cast<int>(queue.QueueCount() + pages.size()));
        for (const auto& entry : queue.Queue()) {
            // A packed record is written from a copy, so that the queue stays small.
            if (auto copy = entry.UnpackedCopy())
                stream.WriteObject(*copy);
            else
                stream.WriteObject(*entry);
        }
        for (const auto& page : pages) stream.WriteObject(*page);
        written = stream.Close() && !stream.Failed();
        if (!written) error = stream.Error().empty() ? "cannot write " + part : stream.Error();
    }
    if (written && std::rename(part.c_str(), fileName.c_str()) != 0) {
        error = "cannot rename " + part + " to " + fileName;
        written = false;
    }
    if (!written) {
        if (part != fileName + ".part") std::remove(part.c_str());
        queue.SetSuspended(false);  // the queue goes on as if nothing had happened
        return false;
    }
    queue.StopAll();
    queue.SetSuspended(false);
    return true;
}

bool SettleResumedNames(DownloadRecord& record, bool& renamed) {
    renamed = false;
    record.Temp.clear();  // a temporary name from a file could point anywhere
    if (!record.Project) return false;
    // A queue file names local files only of a local Project, inside its start folder.
    if (IsLocalFileAddress(record.URL)) {
        std::string url = record.URL;
        addresses::CleanedAddress cleaned;
        AdmissionResult why;
        if (addresses::CleanAddress(url, cleaned) != addresses::CleanStatus::Ok ||
            !LocalFileAllowed(record.Project->URL, url, why))
            return false;
    }
    const std::string mappedRoot = MappedRoot(RootFolder(*record.Project));
    if (StaysInside(record.FName, mappedRoot)) {
        SplitName(record);
        return true;
    }
    // Recompute the names from the address as a new record of the Project would get them.
    DownloadRecord fresh;
    fresh.URL = record.URL;
    fresh.Project = record.Project;
    fresh.Lev = record.Lev;
    if (!Normalise(fresh) || !StaysInside(fresh.FName, mappedRoot)) return false;
    record.FName = fresh.FName;
    record.Depth = fresh.Depth;
    SplitName(record);
    renamed = true;
    return true;
}

bool ReadQueueFile(const store::ProjectTree& tree, const std::string& fileName, ResumeReport& report,
                   std::vector<std::unique_ptr<DownloadRecord>>& records) {
    report = ResumeReport{};
    std::error_code ec;
    const auto size = std::filesystem::file_size(fileName, ec);
    if (ec) {
        report.problems.push_back("cannot read " + fileName + ": " + ec.message());
        return false;
    }
    if (size > kMaxQueueFileBytes) {
        report.problems.push_back(fileName + " is too large for a queue file");
        return false;
    }
    QueueProjectLookup lookup;
    std::unique_ptr<SettingsSnapshot> settings;
    store::TypedStream stream(fileName, false);
    if (stream.Failed()) report.problems.push_back(stream.Error());
    report.opened = !stream.Failed() || stream.LineNumber() > 0;
    while (!stream.End()) {
        const std::size_t line = stream.LineNumber();
        std::unique_ptr<store::StreamObject> object;
        if (!stream.ReadObject(object)) {
            ++report.skipped;
            report.problems.push_back("line " + std::to_string(line + 1) + ": " + stream.Error());
            if (stream.LineNumber() <= line) break;  // nothing consumed: stop rather than spin
            continue;
        }
        auto* record = dynamic_cast<DownloadRecord*>(object.get());
        if (!record) {
            if (object) {
                ++report.skipped;
                report.problems.push_back("line " + std::to_string(line + 1) +
                                          ": an object that is no download record");
            }
            continue;
        }
        object.release();
        std::unique_ptr<DownloadRecord> owned(record);
        owned->Project = lookup.Find(tree, owned->LoadedIID);
        if (!owned->Project) {
            ++report.noProject;
            continue;
        }
        bool renamed = false;
        if (!SettleResumedNames(*owned, renamed)) {
            ++report.skipped;
            report.problems.push_back("line " + std::to_string(line + 1) + ": " + owned->URL +
                                      " has no local name inside its Project's folder");
            continue;
        }
        if (renamed) {
            ++report.renamed;
            report.problems.push_back("line " + std::to_string(line + 1) + ": the local name of " + owned->URL +
                                      " left its Project's folder and was recomputed");
        }
        // Only for its file category; the record was admitted before. A file holds long runs
        // of one Project's records: its settings are copied once per run.
        if (!settings || settings->project != owned->Project)
            settings = std::make_unique<SettingsSnapshot>(TakeSettingsSnapshot(owned->Project));
        AdmissionResult why;
        Admit(*owned, *settings, why);
        records.push_back(std::move(owned));
    }
    stream.Close();
    return report.opened;
}

bool ResumeFromFile(QueueManager& queue, const store::ProjectTree& tree, const std::string& fileName,
                    ResumeReport& report) {
    queue.SetSuspended(true);
    std::vector<std::unique_ptr<DownloadRecord>> records;
    const bool read = ReadQueueFile(tree, fileName, report, records);
    for (auto& record : records) {
        queue.AddRecord(std::move(record), false, true);
        ++report.queued;
    }
    queue.SetSuspended(false);
    queue.FillConnections();
    return read;
}

}  // namespace qm::engine
