// Rebuilding a stored site from a web archive: the archive files are read (from a WACZ
// package, its archive members are unpacked first), the latest answer of each address is
// stored where a download would have stored it, pages are analysed and their links
// translated as after a download, and redirects leave their small pages at the old names.
#include "app/web_archive_import.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "analysis/analysis.h"
#include "app/new_project.h"
#include "archive/archive_contents.h"
#include "archive/http_payload.h"
#include "archive/warc_reader.h"
#include "archive/warc_record.h"
#include "archive/warc_writer.h"
#include "archive/zip_reader.h"
#include "engine/admission.h"
#include "engine/analysis_hook.h"
#include "engine/document_type.h"
#include "engine/failed_addresses.h"
#include "engine/get_rec.h"
#include "engine/local_path.h"
#include "engine/normalise.h"
#include "engine/settings_snapshot.h"
#include "engine/site_map.h"
#include "engine/stored_files.h"
#include "engine/web_archive.h"
#include "store/defaults_project.h"
#include "store/project.h"
#include "store/project_tree.h"

namespace qm::app {

namespace fs = std::filesystem;

namespace {

// A body larger than this is not unpacked into the stored site.
constexpr std::uint64_t kMaxBody = std::uint64_t{1} << 30;

constexpr std::uint64_t kMaxPagesText = std::uint64_t{64} << 20;
constexpr int kMaxRedirectHops = 20;
// Deep enough that a site the archive holds is never cut off by its level.
constexpr int kImportLevel = 99;

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The analysis' links are only translated here; nothing is fetched.
class NoQueue : public engine::AnalysisSink {
public:
    bool FoundRecord(std::unique_ptr<engine::DownloadRecord>) override { return true; }
    void Report(const std::string&, bool) override {}
};

// The url of the first line of a WACZ's pages/pages.jsonl that names one.
std::string FirstPageOf(const std::string& jsonl) {
    for (std::size_t at = 0; at < jsonl.size();) {
        std::size_t end = jsonl.find('\n', at);
        if (end == std::string::npos) end = jsonl.size();
        const std::string line = jsonl.substr(at, end - at);
        at = end + 1;
        if (line.find("\"format\"") != std::string::npos) continue;  // the header line
        const std::size_t key = line.find("\"url\"");
        if (key == std::string::npos) continue;
        const std::size_t open = line.find('"', line.find(':', key) + 1);
        const std::size_t close = open == std::string::npos ? open : line.find('"', open + 1);
        if (close != std::string::npos) return line.substr(open + 1, close - open - 1);
    }
    return {};
}

struct Staged {
    std::vector<std::string> paths;  // archive files to read
    std::string firstPage;           // named by the package
    std::string folder;              // to remove afterwards (unpacked members)
    ~Staged() {
        std::error_code ec;
        if (!folder.empty()) fs::remove_all(folder, ec);
    }
};

bool StageWacz(const std::string& source, Staged& staged, std::string& error) {
    archive::ZipReader zip(source);
    if (!zip.Ok()) {
        error = zip.Error();
        return false;
    }
    std::string folder = engine::TemporaryFolder() + "/import-XXXXXX";
    if (!::mkdtemp(folder.data())) {
        error = "cannot create a folder in " + engine::TemporaryFolder() + ": " + std::strerror(errno);
        return false;
    }
    staged.folder = folder;
    int n = 0;
    for (const archive::ZipMember& m : zip.Members()) {
        if (m.name.rfind("archive/", 0) != 0 || !EndsWith(m.name, ".warc.gz")) continue;
        const std::string name = m.name.substr(8);
        // Only plain names: a member never writes outside the folder.
        if (name.empty() || name.find('/') != std::string::npos || name[0] == '.') continue;
        const std::string target = staged.folder + "/" + name;
        if (!zip.Extract(m, target, error)) return false;
        staged.paths.push_back(target);
        ++n;
    }
    if (n == 0) {
        error = source + " holds no archive file (archive/*.warc.gz)";
        return false;
    }
    if (const archive::ZipMember* pages = zip.Find("pages/pages.jsonl")) {
        std::string text;
        if (zip.ReadText(*pages, kMaxPagesText, text, error)) staged.firstPage = FirstPageOf(text);
        error.clear();
    }
    return true;
}

// Where an address is stored, by the Project's rules; false when they leave it out.
bool Place(store::Project& project, const engine::SettingsSnapshot& rules, const std::string& url, bool start,
           engine::DownloadRecord& rec) {
    rec.URL = url;
    rec.Project = &project;
    rec.Img = rec.Srv = true;
    rec.IsStartAddress = start;
    engine::AdmissionResult why;
    return engine::Normalise(rec, rules, why);
}

class SiteBuilder {
public:
    SiteBuilder(store::Project& project, const std::function<void(const std::string&)>& progress, ImportReport& report)
        : project_(project), rules_(engine::TakeSettingsSnapshot(&project)), progress_(progress), report_(report) {}

    bool Build(const std::vector<archive::ArchivedAnswer>& answers, std::string& error) {
        std::size_t done = 0;
        for (const archive::ArchivedAnswer& a : answers) {
            if (!Store(a, error)) return false;
            if (++done % 500 == 0)
                progress_(std::to_string(done) + " of " + std::to_string(answers.size()) + " answers");
        }
        // Pages last: every file they link to is in place by then.
        NoQueue sink;
        for (auto& page : pages_) {
            engine::DownloadRecord& rec = *page;
            const std::string primary = engine::PrimaryName(rec.FName);
            analysis::Analyse(rec, primary, rec.FName, true, rules_, sink);
            if (!engine::FileExists(rec.FName) && !engine::PlaceFile(primary, rec.FName)) {
                error = "cannot write " + rec.FName;
                return false;
            }
            engine::AddToMap(project_, rec.FName);
        }
        for (const auto& [from, location] : redirects_) Redirect(from, location);
        return true;
    }

private:
    bool Store(const archive::ArchivedAnswer& a, std::string& error) {
        archive::WarcRecord record;
        if (!archive::ReadRecordAt(a.path, a.offset, a.length, record)) {
            ++report_.skipped;
            return true;
        }
        auto rec = std::make_unique<engine::DownloadRecord>(0);
        if (!Place(project_, rules_, a.url, a.url == project_.URL, *rec)) {
            ++report_.skipped;
            return true;
        }
        std::string head, body, type;
        int status = 200;
        if (a.type == "resource") {
            body = std::move(record.block);
            type = a.mime;
        } else if (archive::HttpPayload(record.block, kMaxBody, status, head, body) != codings::Decoded::Ok) {
            ++report_.skipped;  // an encoding this reader cannot undo, or damage
            return true;
        } else {
            type = archive::HttpHeaderValue(head, "Content-Type");
        }
        if (status >= 300 && status < 400 && status != 304) {
            const std::string location = archive::HttpHeaderValue(head, "Location");
            if (!location.empty()) redirects_.emplace_back(a.url, engine::ResolveLocation(location, a.url));
            return true;
        }
        if (status != 200) {
            engine::NoteFailedAddress(project_, rec->URL, status);
            ++report_.failed;
            return true;
        }
        rec->ContentType = type;
        engine::MakeDirectories(rec->Path);
        const bool document = engine::IsDocumentType(type) || engine::IsStyleSheet(type, rec->URL);
        const std::string target = document ? engine::PrimaryName(rec->FName) : rec->FName;
        if (!engine::PlaceText(body, target)) {
            error = "cannot write " + target;
            return false;
        }
        engine::RecordFileDescription(rec->Path, rec->RFile, type.substr(0, 40),
                                      engine::LastModified(head + "\r\n").substr(0, 30));
        storedAt_[rec->URL] = rec->FName;
        ++report_.stored;
        if (document)
            pages_.push_back(std::move(rec));
        else
            engine::AddToMap(project_, rec->FName);
        return true;
    }

    // The small page at a redirected address' name that leads to where its chain ends.
    void Redirect(const std::string& from, std::string to) {
        std::map<std::string, std::string> chain(redirects_.begin(), redirects_.end());
        for (int hops = 0; hops < kMaxRedirectHops && !storedAt_.count(to); ++hops) {
            auto next = chain.find(to);
            if (next == chain.end()) break;
            to = next->second;
        }
        engine::DownloadRecord old(0), target(0);
        if (!Place(project_, rules_, from, from == project_.URL, old) || !Place(project_, rules_, to, false, target))
            return;
        auto stored = storedAt_.find(target.URL);
        if (stored == storedAt_.end() || stored->second == old.FName) return;
        old.OldFName = old.FName;
        old.OldDepth = old.Depth;
        old.NewFName = stored->second;
        engine::WriteRedirectStub(old);
        if (engine::FileExists(old.FName)) {
            engine::AddToMap(project_, old.FName);
            ++report_.redirects;
        }
    }

    store::Project& project_;
    engine::SettingsSnapshot rules_;
    const std::function<void(const std::string&)>& progress_;
    ImportReport& report_;
    std::vector<std::unique_ptr<engine::DownloadRecord>> pages_;
    std::vector<std::pair<std::string, std::string>> redirects_;
    std::unordered_map<std::string, std::string> storedAt_;  // address -> stored file
};

// "site" of ".../site.warc.gz" or ".../site.wacz".
std::string ArchiveName(const std::string& source) {
    std::string name = fs::path(source).filename().string();
    for (const char* tail : {".warc.gz", ".wacz", ".warc"})
        if (EndsWith(name, tail) && name.size() > std::strlen(tail))
            return name.substr(0, name.size() - std::strlen(tail));
    return name;
}

// The servers the answers came from ("host:port" as written in their addresses).
std::size_t CountServers(const std::vector<archive::ArchivedAnswer>& answers) {
    std::map<std::string, int> servers;
    for (const archive::ArchivedAnswer& a : answers) {
        const std::size_t scheme = a.url.find("://");
        if (scheme == std::string::npos) continue;
        const std::size_t end = a.url.find_first_of("/?#", scheme + 3);
        ++servers[a.url.substr(0, end)];
    }
    return servers.size();
}

// Keeps the archive files with the Project, so it can be exported and updated like one it
// recorded itself.
bool KeepArchiveFiles(const store::Project& project, std::vector<archive::ArchivedAnswer>& answers,
                      const std::vector<std::string>& paths, std::string& error) {
    const std::string folder = engine::ArchiveFolder(project);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        error = "cannot create " + folder + ": " + ec.message();
        return false;
    }
    std::map<std::string, std::string> moved;
    for (const std::string& path : paths) {
        std::string name = fs::path(path).filename().string();
        if (!EndsWith(name, ".warc.gz")) name += ".warc.gz";
        const std::string target = folder + "/" + name;
        fs::copy_file(path, target, fs::copy_options::overwrite_existing, ec);
        if (ec) {
            error = "cannot copy " + path + " to " + target + ": " + ec.message();
            return false;
        }
        if (!archive::IndexArchiveFile(folder, name, false, error)) return false;
        moved[path] = target;
    }
    for (archive::ArchivedAnswer& a : answers) a.path = moved[a.path];
    return true;
}

}  // namespace

bool ImportWebArchive(store::ProjectTree& tree, store::ProjectFolder& folder, const store::Project& defaults,
                      const std::string& source, const std::string& caption,
                      const std::function<void(const std::string&)>& progress, ImportReport& report,
                      std::string& error) {
    report = ImportReport{};
    Staged staged;
    if (EndsWith(source, ".wacz")) {
        progress("unpacking " + source);
        if (!StageWacz(source, staged, error)) return false;
    } else {
        staged.paths.push_back(source);
    }
    archive::ArchiveContents contents;
    for (const std::string& path : staged.paths) {
        progress("reading " + fs::path(path).filename().string());
        if (!contents.Add(path, error)) return false;
    }
    std::vector<archive::ArchivedAnswer> answers = contents.Latest();
    std::string start = staged.firstPage.empty() ? contents.FirstPage() : staged.firstPage;
    if (start.empty()) {
        error = source + " holds no html page answered in full";
        return false;
    }

    store::Project settings;
    settings.Assign(defaults);
    settings.Lev = std::max(settings.Lev, kImportLevel);
    // One server: the starting server rule keeps an update run on it; several: all of them.
    if (CountServers(answers) > 1) settings.RSrvsBx = 0;
    store::Project& project = NewProject(tree, folder, settings, start);
    project.URL = start;  // as the archive names it
    project.Caption = store::LimitCaption(caption.empty() ? ArchiveName(source) : caption);
    report.project = &project;

    if (!KeepArchiveFiles(project, answers, staged.paths, error)) return false;
    progress("storing " + std::to_string(answers.size()) + " addresses");
    SiteBuilder builder(project, progress, report);
    if (!builder.Build(answers, error)) return false;
    return engine::SaveMap(project) || (error = "cannot write the site map of " + project.Caption, false);
}

}  // namespace qm::app
