#pragma once
// One run of document analysis over one stored file: the tag scanner, the link resolver that
// turns found links into download records, the rewriting of links for offline browsing, and
// the script, parameter and Java class scanners.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "analysis/tag_table.h"

namespace qm::engine {
class DownloadRecord;
}  // namespace qm::engine
namespace qm::engine {
class AnalysisSink;
}  // namespace qm::engine
namespace qm::analysis {

// The Project settings an analysis run reads, taken once at its start.
struct AnalysisSettings {
    bool EnableScript = false;
    bool LTranslate = false;  // true: absolute and host-relative links are kept as they are
    bool ThisWay = false;
    // Obey a page's robots tag: "nofollow" (or "none") keeps its hyperlinks from the queue.
    bool Robots = false;
    std::string DownloadRoot;  // with "/" separators, ending with "/"
    std::string DefaultDoc = "default.htm";
    int DiskSpace = 5;     // megabytes kept free besides the file itself
    bool ExtLast = false;  // names from a query keep their extension last (MoveExtensionLast)
};

// What analysis needs of the download engine; the program's implementation calls the
// engine, tests may stand in for it.
class AnalysisEnvironment {
public:
    virtual ~AnalysisEnvironment() = default;
    virtual AnalysisSettings Settings(const engine::DownloadRecord& parent) = 0;
    // Normalise and admit a new record (fills FName, Path, RFile and Depth); false: drop it.
    virtual bool Normalise(engine::DownloadRecord& record) = 0;
    // The escaped relative file name of an address text without its scheme ("/" separators).
    virtual std::string MapRelativeName(const std::string& name) = 0;
    virtual bool FileExists(const std::string& path) = 0;
    virtual std::int64_t FreeSpace(const std::string& path) = 0;  // -1 when unknown
    virtual void WriteRedirectStub(const engine::DownloadRecord& record) = 0;
    virtual std::unique_ptr<engine::DownloadRecord> NewRecord() = 0;
    // Takes back a record NewRecord gave that was not needed, for NewRecord to give again.
    virtual void Recycle(std::unique_ptr<engine::DownloadRecord> record);
};

// Analyses source for record: hands every admitted link to sink and, with writeTarget,
// writes the document with its links rewritten to target.
void AnalyseWith(AnalysisEnvironment& env, engine::DownloadRecord& record, const std::string& source,
                 const std::string& target, bool writeTarget, engine::AnalysisSink& sink);

// The same over a text already in memory; sourceName stands for the file it came from.
void AnalyseBuffer(AnalysisEnvironment& env, engine::DownloadRecord& record, std::string text,
                   const std::string& sourceName, const std::string& target, bool writeTarget,
                   engine::AnalysisSink& sink);

}  // namespace qm::analysis
