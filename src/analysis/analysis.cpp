// Document analysis wired to the download engine.
#include "analysis/analysis.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "analysis/analyser.h"
#include "addresses/address_rules.h"
#include "engine/analysis_hook.h"
#include "engine/get_rec.h"
#include "engine/local_path.h"
#include "engine/normalise.h"
#include "engine/normalise_memo.h"
#include "engine/settings_snapshot.h"
#include "engine/stored_files.h"
#include "store/folder.h"
#include "store/options.h"
#include "store/project.h"

namespace qm::analysis {

namespace {

class EngineEnvironment : public AnalysisEnvironment {
public:
    explicit EngineEnvironment(const engine::SettingsSnapshot& settings) : settings_(settings) {}

    AnalysisSettings Settings(const engine::DownloadRecord& parent) override {
        // The analysis reads the copy taken when the page was given out, never the Project
        // or the options themselves: the main thread may change those meanwhile.
        (void)parent;
        AnalysisSettings s;
        memo_.Prepare(settings_);
        s.DefaultDoc = settings_.defaultDoc;
        s.DiskSpace = settings_.diskSpace;
        s.ExtLast = settings_.extLast;
        s.EnableScript = settings_.EnableScript;
        s.LTranslate = settings_.LTranslate;
        s.ThisWay = settings_.ThisWay;
        s.Robots = settings_.Robots;
        s.DownloadRoot = settings_.root;
        std::replace(s.DownloadRoot.begin(), s.DownloadRoot.end(), '\\', '/');
        return s;
    }
    bool Normalise(engine::DownloadRecord& record) override { return memo_.Normalise(record); }
    std::string MapRelativeName(const std::string& name) override {
        std::string mapped = name;
        if (settings_.extLast) addresses::MoveExtensionLast(mapped);
        addresses::MapNameWith(mapped, false, "", settings_.defaultDoc);
        return mapped;
    }
    bool FileExists(const std::string& path) override {
        std::error_code ec;
        return std::filesystem::exists(path, ec);
    }
    std::int64_t FreeSpace(const std::string& path) override { return qm::engine::FreeSpace(path); }
    void WriteRedirectStub(const engine::DownloadRecord& record) override { qm::engine::WriteRedirectStub(record); }
    std::unique_ptr<engine::DownloadRecord> NewRecord() override {
        if (!spare_) return std::make_unique<engine::DownloadRecord>(settings_.connRetries);
        // Made new in place; its address keeps the room it had.
        std::unique_ptr<engine::DownloadRecord> record = std::move(spare_);
        std::string url = std::move(record->URL);
        url.clear();
        record->~DownloadRecord();
        new (record.get()) engine::DownloadRecord(settings_.connRetries);
        record->URL = std::move(url);
        return record;
    }
    void Recycle(std::unique_ptr<engine::DownloadRecord> record) override { spare_ = std::move(record); }

private:
    // Most links of a link-dense page lead to addresses handed over before: their records
    // are given back and used again for the next link.
    std::unique_ptr<engine::DownloadRecord> spare_;
    const engine::SettingsSnapshot& settings_;
    // Kept per thread from one document to the next.
    engine::NormaliseMemo& memo_ = engine::ThreadNormaliseMemo();
};

}  // namespace

void Analyse(engine::DownloadRecord& record, const std::string& source, const std::string& target, bool writeTarget,
             const engine::SettingsSnapshot& settings, engine::AnalysisSink& sink) {
    EngineEnvironment env(settings);
    AnalyseWith(env, record, source, target, writeTarget, sink);
}

void InstallAnalysis() { engine::SetAnalyseFunction(&Analyse); }

}  // namespace qm::analysis
