// The broken-link walk over a stored site: the pages are read again by the same analysis a
// download run uses, and each link is judged by the same rules, so a reason given here is
// the reason the run had.
#include "app/stored_site_check.h"

#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "analysis/analyser.h"
#include "addresses/address_rules.h"
#include "engine/admission.h"
#include "engine/analysis_hook.h"
#include "engine/crawl_limits.h"
#include "engine/document_type.h"
#include "engine/failed_addresses.h"
#include "engine/get_rec.h"
#include "engine/local_path.h"
#include "engine/normalise.h"
#include "engine/settings_snapshot.h"
#include "engine/stored_files.h"
#include "store/project.h"

namespace qm::app {

namespace {

// The level the analysis is told each page has: high enough that it never drops a link for
// the level itself, so every link reaches the judgement below; a link found at
// kAnalysisLevel - 1 took a level step.
constexpr int kAnalysisLevel = 1 << 20;

bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

bool EndsWithNoCase(const std::string& s, const char* tail) {
    const std::string t = tail;
    if (s.size() < t.size()) return false;
    for (std::size_t i = 0; i < t.size(); ++i) {
        char c = s[s.size() - t.size() + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != t[i]) return false;
    }
    return true;
}

// Whether a stored file is one the run read for links (a page, a script or a style sheet).
bool ReadForLinks(const engine::DownloadRecord& rec) {
    std::string type, modified;
    if (engine::LookupFileDescription(rec.Path, rec.RFile, type, modified))
        return type.empty() || type.find("text/html") != std::string::npos ||
               type.find("x-javascript") != std::string::npos || engine::IsStyleSheet(type, rec.URL);
    return Exists(engine::PrimaryName(rec.FName)) || EndsWithNoCase(rec.FName, ".htm") ||
           EndsWithNoCase(rec.FName, ".html") || EndsWithNoCase(rec.FName, ".css");
}

struct Page {
    std::unique_ptr<engine::DownloadRecord> rec;
    int lev = 0;    // levels left below this page
    int steps = 0;  // links in a row that took no level step
};

class Walk : public analysis::AnalysisEnvironment, public engine::AnalysisSink {
public:
    explicit Walk(store::Project& project)
        : project_(project),
          rules_(engine::TakeSettingsSnapshot(&project)),
          failed_(engine::ReadFailedAddresses(project)) {}

    SiteCheck Run() {
        auto start = std::make_unique<engine::DownloadRecord>(0);
        start->URL = project_.URL;
        start->Project = &project_;
        start->Img = start->Srv = true;
        start->IsStartAddress = true;
        engine::AdmissionResult why;
        const std::string typed = start->URL;
        if (!engine::Normalise(*start, rules_, why)) {
            AddBroken(BrokenReason::Refused, why.reason, typed, "");
            return Finish();
        }
        seen_.insert(start->URL);
        if (!Exists(start->FName)) {
            Missing(*start, "");
            return Finish();
        }
        queue_.push_back({std::move(start), project_.Lev, 0});
        while (!queue_.empty()) {
            Page page = std::move(queue_.front());
            queue_.pop_front();
            if (!ReadForLinks(*page.rec)) continue;
            current_ = &page;
            const std::string primary = engine::PrimaryName(page.rec->FName);
            const std::string source = Exists(primary) ? primary : page.rec->FName;
            engine::DownloadRecord& rec = *page.rec;
            rec.Lev = kAnalysisLevel;
            rec.StepsBeyondLevel = 0;
            analysis::AnalyseWith(*this, rec, source, std::string(), false, *this);
            ++result_.pagesRead;
            current_ = nullptr;
        }
        return Finish();
    }

    // The analysis' view of the engine.
    analysis::AnalysisSettings Settings(const engine::DownloadRecord&) override {
        analysis::AnalysisSettings s;
        s.DefaultDoc = rules_.defaultDoc;
        s.DiskSpace = rules_.diskSpace;
        s.ExtLast = rules_.extLast;
        s.EnableScript = rules_.EnableScript;
        s.LTranslate = rules_.LTranslate;
        s.ThisWay = false;
        s.DownloadRoot = rules_.root;
        for (char& c : s.DownloadRoot)
            if (c == '\\') c = '/';
        return s;
    }
    bool Normalise(engine::DownloadRecord& record) override {
        if (current_) Judge(record, *current_);
        return false;  // nothing is queued: the judgement is all this walk wants
    }
    std::string MapRelativeName(const std::string& name) override {
        std::string mapped = name;
        if (rules_.extLast) addresses::MoveExtensionLast(mapped);
        addresses::MapNameWith(mapped, false, "", rules_.defaultDoc);
        return mapped;
    }
    bool FileExists(const std::string& path) override {
        std::error_code ec;
        return std::filesystem::exists(path, ec);
    }
    std::int64_t FreeSpace(const std::string&) override { return -1; }
    void WriteRedirectStub(const engine::DownloadRecord&) override {}
    std::unique_ptr<engine::DownloadRecord> NewRecord() override { return std::make_unique<engine::DownloadRecord>(0); }
    bool FoundRecord(std::unique_ptr<engine::DownloadRecord>) override { return true; }
    void Report(const std::string&, bool) override {}

private:
    // One link of the page being read, as the run would have taken it.
    void Judge(engine::DownloadRecord& record, const Page& page) {
        const bool step = record.Lev == kAnalysisLevel - 1;
        const bool levelStep = page.lev >= 1 && step;
        const int lev = levelStep ? page.lev - 1 : page.lev;
        const int steps = levelStep ? 0 : page.steps + 1;
        bool beyond;
        if (page.lev == 0 && step && !record.IsImage && !record.FoundInScript)
            beyond = true;  // a hyperlink on a page of the last level
        else
            beyond = !levelStep && !engine::FollowsBeyondLevel(page.steps, record.IsFrame);

        const std::string found = record.URL;
        engine::AdmissionResult why;
        const bool admitted = engine::Normalise(record, rules_, why);
        if (!admitted && why.reason == "scheme") return;  // mail and other addresses hold no file
        const std::string& key = admitted ? record.URL : found;
        if (!seen_.insert(key).second) {
            auto known = brokenAt_.find(key);
            if (known != brokenAt_.end()) ++found_[known->second].times;
            return;
        }
        if (seen_.size() >= kMaxCheckedAddresses) {
            result_.truncated = true;
            queue_.clear();
            return;
        }
        const std::string& on = page.rec->URL;
        if (admitted && Exists(record.FName)) {
            auto next = std::make_unique<engine::DownloadRecord>(0);
            next->URL = record.URL;
            next->Project = &project_;
            next->FName = record.FName;
            next->Path = record.Path;
            next->RFile = record.RFile;
            next->Depth = record.Depth;
            next->Img = next->Srv = true;
            queue_.push_back({std::move(next), lev, steps});
            return;
        }
        if (beyond) return AddBroken(BrokenReason::BeyondLevel, "", key, on);
        if (!admitted) return AddBroken(BrokenReason::Refused, why.reason, key, on);
        if (project_.CrawlTraps && engine::RepeatsPathSegments(record.URL))
            return AddBroken(BrokenReason::Refused, engine::kReasonRepeatingPath, key, on);
        if (record.FoundInScript && failed_.count(record.URL) == 0)
            return AddBroken(BrokenReason::ScriptName, "", key, on);
        Missing(record, on);
    }

    // An address the Project took whose file is not there.
    void Missing(const engine::DownloadRecord& record, const std::string& on) {
        auto failure = failed_.find(record.URL);
        if (failure != failed_.end())
            AddBroken(record.FoundInScript ? BrokenReason::ScriptName : BrokenReason::Failed,
                      std::to_string(failure->second), record.URL, on);
        else
            AddBroken(BrokenReason::NotReached, "", record.URL, on);
    }

    void AddBroken(BrokenReason reason, const std::string& detail, const std::string& url, const std::string& page) {
        brokenAt_[url] = found_.size();
        found_.push_back({reason, detail, url, page, 1});
    }

    SiteCheck Finish() {
        result_.linksSeen = seen_.size();
        // Grouped by reason, then by detail, keeping the order found within a group.
        std::map<std::pair<int, std::string>, std::vector<std::size_t>> groups;
        for (std::size_t i = 0; i < found_.size(); ++i)
            groups[{static_cast<int>(found_[i].reason), found_[i].detail}].push_back(i);
        for (auto& [key, members] : groups)
            for (std::size_t i : members) result_.broken.push_back(std::move(found_[i]));
        return std::move(result_);
    }

    store::Project& project_;
    engine::SettingsSnapshot rules_;
    std::unordered_map<std::string, int> failed_;
    std::unordered_set<std::string> seen_;
    std::unordered_map<std::string, std::size_t> brokenAt_;
    std::vector<BrokenLink> found_;
    std::deque<Page> queue_;
    const Page* current_ = nullptr;
    SiteCheck result_;
};

}  // namespace

SiteCheck CheckStoredSite(store::Project& project) { return Walk(project).Run(); }

std::string ReasonText(BrokenReason reason, const std::string& detail) {
    switch (reason) {
    case BrokenReason::Refused: return "refused by the rule '" + detail + "'";
    case BrokenReason::Failed:
        return detail == "0" ? "failed without a complete answer" : "failed with status " + detail;
    case BrokenReason::BeyondLevel: return "beyond the level";
    case BrokenReason::NotReached: return "never reached: the run was stopped or reached a limit";
    case BrokenReason::ScriptName: return "a name built by a script at run time";
    }
    return {};
}

const char* ReasonWord(BrokenReason reason) {
    switch (reason) {
    case BrokenReason::Refused: return "refused";
    case BrokenReason::Failed: return "failed";
    case BrokenReason::BeyondLevel: return "beyond-level";
    case BrokenReason::NotReached: return "not-reached";
    case BrokenReason::ScriptName: return "script";
    }
    return "";
}

}  // namespace qm::app
