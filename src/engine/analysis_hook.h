#pragma once
// How the queue runs document analysis without depending on the analysis library: the
// program installs the analysis routine at start-up; until then stored files are only
// copied to their target.
#include <memory>
#include <string>

namespace qm::store {
class Project;
}  // namespace qm::store
namespace qm::engine {

class DownloadRecord;
struct SettingsSnapshot;

// What document analysis hands back to the queue.
class AnalysisSink {
public:
    virtual ~AnalysisSink() = default;
    // A new, normalised record for a found link; the sink owns it from now on. Records may
    // reach the queue in small batches, in order; an address already seen is dropped there.
    // Returns false when the queue takes no more records (it is stopping).
    virtual bool FoundRecord(std::unique_ptr<DownloadRecord> record) = 0;
    // Whether the link record stands for (its address as found and its kind, in a document
    // of project) was handed to the queue before and is known there: then the record need
    // not be normalised nor found, it counts as found already.
    virtual bool AlreadyHandedOver(const DownloadRecord& record, const store::Project* project) {
        (void)record;
        (void)project;
        return false;
    }
    // A message for the log; stop asks for every download to stop.
    virtual void Report(const std::string& text, bool stop) = 0;
};

// Reads source, finds its links (each becomes a record handed to sink), and with
// writeTarget writes the rewritten document to target. settings were taken for the record's
// Project when its analysis was given out; the routine reads the Project and the program
// options only through them, never through the record's Project.
using AnalyseFunction = void (*)(DownloadRecord& record, const std::string& source, const std::string& target,
                                 bool writeTarget, const SettingsSnapshot& settings, AnalysisSink& sink);

void SetAnalyseFunction(AnalyseFunction fn);  // nullptr restores the copying stand-in
AnalyseFunction CurrentAnalyseFunction();

}  // namespace qm::engine
