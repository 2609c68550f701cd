// The analysis routine the queue runs, and the stand-in used until one is installed.
#include "engine/analysis_hook.h"

#include <atomic>

#include "engine/get_rec.h"
#include "engine/stored_files.h"

namespace qm::engine {

namespace {

// Without link analysis a document is stored as it was received.
void CopyDocument(DownloadRecord& record, const std::string& source, const std::string& target, bool writeTarget,
                  const SettingsSnapshot& settings, AnalysisSink& sink) {
    (void)settings;
    (void)sink;
    if (!writeTarget) return;
    if (PlaceFile(source, target)) WriteRedirectStub(record);
}

std::atomic<AnalyseFunction> g_analyse{nullptr};

}  // namespace

void SetAnalyseFunction(AnalyseFunction fn) { g_analyse.store(fn); }

AnalyseFunction CurrentAnalyseFunction() {
    AnalyseFunction fn = g_analyse.load();
    return fn ? fn : &CopyDocument;
}

}  // namespace qm::engine
