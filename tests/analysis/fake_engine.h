#pragma once
// A small stand-in for the download engine, so that the scanner and the link writer can be
// tested on documents in memory: addresses are cleaned roughly as the engine does, local
// names follow the same mapping, and every handed-over record is kept for inspection.
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "analysis/analyser.h"
#include "engine/analysis_hook.h"
#include "engine/get_rec.h"

namespace qm::test {

class FakeEngine : public analysis::AnalysisEnvironment, public engine::AnalysisSink {
public:
    analysis::AnalysisSettings settings;
    std::set<std::string> existing;  // full paths that exist on "disk"
    std::function<bool(const std::string&)> admit = [](const std::string&) { return true; };
    std::int64_t freeSpace = -1;
    int redirectStubs = 0;

    std::vector<std::unique_ptr<engine::DownloadRecord>> found;
    std::vector<std::pair<std::string, bool>> messages;

    FakeEngine() { settings.DownloadRoot = "/root/"; }

    analysis::AnalysisSettings Settings(const engine::DownloadRecord&) override { return settings; }
    bool Normalise(engine::DownloadRecord& record) override;
    std::string MapRelativeName(const std::string& name) override;
    std::vector<std::string> existsAsked;  // every path FileExists was asked about
    bool FileExists(const std::string& path) override {
        existsAsked.push_back(path);
        return existing.count(path) > 0;
    }
    std::int64_t FreeSpace(const std::string&) override { return freeSpace; }
    void WriteRedirectStub(const engine::DownloadRecord&) override { ++redirectStubs; }
    std::unique_ptr<engine::DownloadRecord> NewRecord() override { return std::make_unique<engine::DownloadRecord>(); }

    bool FoundRecord(std::unique_ptr<engine::DownloadRecord> record) override {
        found.push_back(std::move(record));
        return true;
    }
    void Report(const std::string& text, bool stop) override { messages.emplace_back(text, stop); }

    std::vector<std::string> FoundURLs() const;
    const engine::DownloadRecord* Find(const std::string& url) const;
};

// A parent record for a document at url (Depth from its path), with Lev and Img as given.
std::unique_ptr<engine::DownloadRecord> DocumentRecord(const std::string& url, int lev = 3, bool img = true);

struct AnalysisRun {
    std::vector<std::string> urls;  // found records, in the order handed over
    std::string output;             // the written target ("" when none was written)
    bool targetWritten = false;
};

// Writes text to a scratch file, analyses it for parent and returns what was found and written.
AnalysisRun AnalyseText(FakeEngine& engine, engine::DownloadRecord& parent, const std::string& text,
                        bool writeTarget = true, const std::string& sourceSuffix = ".primary");

std::string ScratchDir();

}  // namespace qm::test
