#pragma once
// Document analysis for the download queue: finds the links of a stored HTML document,
// script or Java class, hands them to the queue and writes the document rewritten for
// offline browsing.
#include <string>

namespace qm::engine {
class DownloadRecord;
}  // namespace qm::engine
namespace qm::engine {
class AnalysisSink;
}  // namespace qm::engine
namespace qm::engine {
struct SettingsSnapshot;
}  // namespace qm::engine
namespace qm::analysis {

// The analysis routine the queue calls (see engine/analysis_hook.h).
void Analyse(engine::DownloadRecord& record, const std::string& source, const std::string& target, bool writeTarget,
             const engine::SettingsSnapshot& settings, engine::AnalysisSink& sink);

// Makes the queue use Analyse instead of copying stored files unchanged.
void InstallAnalysis();

}  // namespace qm::analysis
