// Document analysis wired to the download engine.
#include "analysis/analysis.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "analysis/analyser.h"
#include "engine/address_rules.h"
#include "engine/analysis_hook.h"
#include "engine/get_rec.h"
#include "engine/local_path.h"
#include "engine/normalise.h"
#include "engine/normalise_memo.h"
#include "engine/stored_files.h"
#include "store/folder.h"
#include "store/options.h"
#include "store/project.h"

namespace qm {

namespace {

class EngineEnvironment : public AnalysisEnvironment {
public:
    AnalysisSettings Settings(const TGetRec& parent) override {
        // Taken once per document: the analysis thread reads nothing shared after this.
        AnalysisSettings s;
        memo_.Prepare(parent.Project);
        const TOptions& options = Options();
        s.DefaultDoc = options.DefaultDoc.empty() ? std::string("default.htm") : options.DefaultDoc;
        s.DiskSpace = options.DiskSpace;
        s.ExtLast = options.ExtLast;
        if (const TDClass* project = parent.Project) {
            s.EnableScript = project->EnableScript;
            s.LTranslate = project->LTranslate;
            s.ThisWay = project->ThisWay;
            s.DownloadRoot = RootFolder(*project);
        } else {
            s.DownloadRoot = AsFolder(options.PathPrefix.empty() ? DefaultDownloadFolder() : options.PathPrefix);
        }
        std::replace(s.DownloadRoot.begin(), s.DownloadRoot.end(), '\\', '/');
        return s;
    }
    bool Normalise(TGetRec& record) override { return memo_.Normalise(record); }
    std::string MapRelativeName(const std::string& name) override {
        std::string mapped = name;
        if (Options().ExtLast) MoveExtensionLast(mapped);
        MapName(mapped, false, "");
        return mapped;
    }
    bool FileExists(const std::string& path) override {
        std::error_code ec;
        return std::filesystem::exists(path, ec);
    }
    std::int64_t FreeSpace(const std::string& path) override { return qm::FreeSpace(path); }
    void WriteRedirectStub(const TGetRec& record) override { qm::WriteRedirectStub(record); }
    std::unique_ptr<TGetRec> NewRecord() override { return std::make_unique<TGetRec>(); }

private:
    // Kept per thread from one document to the next.
    NormaliseMemo& memo_ = ThreadNormaliseMemo();
};

}  // namespace

void Analyse(TGetRec& record, const std::string& source, const std::string& target,
             bool writeTarget, AnalysisSink& sink) {
    EngineEnvironment env;
    AnalyseWith(env, record, source, target, writeTarget, sink);
}

void InstallAnalysis() { SetAnalyseFunction(&Analyse); }

}  // namespace qm
