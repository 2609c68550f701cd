// Throughput of document analysis with link rewriting over a real documentation site: the
// Python documentation as Debian installs it (python3.11-doc), or the folder in
// $QM_BENCH_SITE. Every found link is normalised and admitted as in a real run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>
#include <unistd.h>

#include "analysis/analysis.h"
#include "engine/analysis_hook.h"
#include "engine/get_rec.h"
#include "engine/normalise.h"
#include "engine/settings_snapshot.h"
#include "store/options.h"
#include "store/project.h"

namespace fs = std::filesystem;

namespace {

struct Site {
    std::string root;
    std::vector<std::string> pages;  // relative paths
    std::int64_t bytes = 0;
};

const Site& TheSite() {
    static const Site site = [] {
        Site s;
        const char* env = std::getenv("QM_BENCH_SITE");
        s.root = env ? env : "/usr/share/doc/python3.11/html";
        std::error_code ec;
        for (fs::recursive_directory_iterator it(s.root, ec), end; !ec && it != end; it.increment(ec)) {
            if (!it->is_regular_file() || it->path().extension() != ".html") continue;
            s.pages.push_back(fs::relative(it->path(), s.root).string());
            s.bytes += std::int64_t(it->file_size());
        }
        return s;
    }();
    return site;
}

class CountingSink : public qm::engine::AnalysisSink {
public:
    std::int64_t records = 0;
    bool FoundRecord(std::unique_ptr<qm::engine::DownloadRecord>) override {
        ++records;
        return true;
    }
    void Report(const std::string&, bool) override {}
};

void AnalyseSite(benchmark::State& state, bool writeTarget) {
    const Site& site = TheSite();
    if (site.pages.empty()) {
        state.SkipWithError("no documentation site found");
        return;
    }
    qm::store::Options().Reset();
    // Stored pages go to memory when it can be had, so that the figure is that of the
    // analysis and not of the disk; each page gets its own file, as in a real run.
    fs::path scratch = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string out = (scratch / ("qm-bench-analysis-" + std::to_string(::getpid()))).string();
    fs::create_directories(out);
    qm::store::Options().PathPrefix = out + "/";
    qm::store::Project project;
    project.URL = "http://docs.example/index.html";
    project.Lev = 20;
    project.EnableScript = true;
    CountingSink sink;
    for (auto _ : state) {
        for (const std::string& page : site.pages) {
            qm::engine::DownloadRecord parent;
            parent.Project = &project;
            parent.URL = "http://docs.example/" + page;
            parent.Lev = 10;
            parent.Img = true;
            qm::engine::Normalise(parent);
            parent.Lev = 10;
            const qm::engine::SettingsSnapshot settings = qm::engine::TakeSettingsSnapshot(&project);
            qm::analysis::Analyse(parent, site.root + "/" + page, out + "/" + page, writeTarget, settings, sink);
        }
        state.PauseTiming();
        fs::remove_all(out);
        fs::create_directories(out);
        state.ResumeTiming();
    }
    fs::remove_all(out);
    state.SetBytesProcessed(state.iterations() * site.bytes);
    state.counters["pages"] = double(site.pages.size());
    state.counters["links"] = benchmark::Counter(double(sink.records), benchmark::Counter::kAvgIterations);
}

void BM_AnalyseAndTranslate(benchmark::State& state) { AnalyseSite(state, true); }
void BM_AnalyseOnly(benchmark::State& state) { AnalyseSite(state, false); }

}  // namespace

BENCHMARK(BM_AnalyseAndTranslate)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_AnalyseOnly)->Unit(benchmark::kMillisecond)->MinTime(3.0);

BENCHMARK_MAIN();
