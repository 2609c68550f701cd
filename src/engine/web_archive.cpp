// Recording a Project's runs as web archives: the recorder of each recording Project, the
// bytes each of its transfers collects, and the records written when a transfer ends.
#include "engine/web_archive.h"

#include "archive/recorder.h"
#include "engine/get_rec.h"
#include "engine/local_path.h"
#include "engine/queue_manager.h"
#include "net/http_client.h"
#include "store/options.h"
#include "store/project.h"

namespace qm::engine {

std::string ArchiveFolder(const store::Project& project) {
    return RootFolder(project) + "Web archives/" + std::to_string(project.IID);
}

void QueueManager::OpenArchive(store::Project& project) {
    CloseArchive(project);
    if (!project.WebArchive) return;
    archive::RunInfo info;
    info.software = "Quillmoor";
    info.projectUrl = project.URL;
    info.settings = {{"http-header-user-agent", store::Options().UAgent},
                     {"level", std::to_string(project.Lev)},
                     {"other-servers", project.Srv},
                     {"images", project.Img},
                     {"robots", "ignore"}};
    std::string error;
    auto recorder = archive::Recorder::Open(ArchiveFolder(project), info, std::time(nullptr), error);
    if (!recorder) {
        ReportMessage("The web archive cannot be recorded: " + error, false);
        return;
    }
    archives_[&project] = std::move(recorder);
}

void QueueManager::CloseArchive(store::Project& project) {
    auto it = archives_.find(&project);
    if (it == archives_.end()) return;
    std::unique_ptr<archive::Recorder> recorder = std::move(it->second);
    archives_.erase(it);
    if (!recorder->Close()) ReportMessage("The web archive was not closed whole: " + recorder->Error(), false);
}

void QueueManager::CloseArchives() {
    while (!archives_.empty()) CloseArchive(*const_cast<store::Project*>(archives_.begin()->first));
    captures_.clear();
}

archive::Recorder* QueueManager::ArchiveOf(const store::Project* project) const {
    auto it = archives_.find(project);
    return it == archives_.end() ? nullptr : it->second.get();
}

void QueueManager::BeginCapture(DownloadRecord& record, net::DownloadConnection& conn) {
    captures_.erase(&record);
    conn.OnRawResponse = nullptr;
    if (!ArchiveOf(record.Project)) return;
    ArchiveCapture& capture = captures_[&record];
    capture.project = record.Project;
    capture.url = record.URL;
    capture.date = std::time(nullptr);
    capture.resource = conn.Scheme == net::UrlScheme::Ftp || conn.Scheme == net::UrlScheme::File;
    capture.bytes = archive::CapturedBytes(ArchiveOf(record.Project)->Folder(), archive::CapturedBytes::kMemoryBytes,
                                           archive::CapturedBytes::kMaxBytes);
    if (capture.resource) return;  // OnData collects the body
    DownloadRecord* rec = &record;
    conn.OnRawResponse = [this, rec](net::DownloadConnection& c, const char* bytes, std::size_t count) {
        auto it = captures_.find(rec);
        if (it == captures_.end()) return;
        archive::CapturedBytes& captured = it->second.bytes;
        if (captured.Empty()) it->second.ipAddress = c.ServerAddress();
        // Once the head told the body's length: the head so far plus the whole body.
        if (c.ContentLength > 0 && !it->second.sized) {
            it->second.sized = true;
            captured.Expect(captured.Size() + count + static_cast<std::uint64_t>(c.ContentLength));
        }
        it->second.Append(bytes, count);
    };
}

void QueueManager::CaptureBody(DownloadRecord& record, const char* block, std::size_t count) {
    auto it = captures_.find(&record);
    if (it != captures_.end() && it->second.resource) it->second.Append(block, count);
}

void QueueManager::DropCapture(DownloadRecord& record, net::DownloadConnection& conn) {
    captures_.erase(&record);
    conn.OnRawResponse = nullptr;
}

void QueueManager::EndCapture(DownloadRecord& record, net::DownloadConnection& conn, bool whole) {
    auto it = captures_.find(&record);
    conn.OnRawResponse = nullptr;
    if (it == captures_.end()) return;
    ArchiveCapture capture = std::move(it->second);
    captures_.erase(it);
    archive::Recorder* recorder = ArchiveOf(record.Project);
    if (!recorder) return;
    bool ok = true;
    if (capture.resource) {
        if (!whole || conn.StatusCode != 200 || capture.bytes.Truncated()) return;
        const std::string type =
            record.ContentType.empty() ? net::DownloadConnection::ContentTypeOf(record.RFile) : record.ContentType;
        ok = recorder->RecordResource(capture.url, type, std::move(capture.bytes), capture.date);
    } else {
        if (capture.bytes.Empty()) return;  // nothing came back: no exchange to keep
        archive::HttpExchange x;
        x.url = capture.url;
        x.request = conn.RequestText();
        x.truncated = capture.bytes.Truncated() || !whole;
        x.response = std::move(capture.bytes);
        x.ipAddress = capture.ipAddress;
        x.date = capture.date;
        ok = recorder->RecordHttp(std::move(x));
    }
    if (!ok) {
        ReportMessage("The web archive cannot be written: " + recorder->Error(), false);
        CloseArchive(*record.Project);
    }
}

void QueueManager::RecordOutlinks(DownloadRecord& record) {
    if (!record.Outlinks) return;
    std::unique_ptr<std::vector<std::string>> links = std::move(record.Outlinks);
    if (archive::Recorder* recorder = ArchiveOf(record.Project))
        if (!recorder->RecordOutlinks(record.URL, std::move(*links), std::time(nullptr)))
            ReportMessage("The web archive cannot be written: " + recorder->Error(), false);
}

}  // namespace qm::engine
