// Downloading 2,000 distinct 10 KB files from nginx on loopback with 10 connections: the
// queue and item processing of this program, and wget2 --max-threads=10 -i LIST on the same
// list in the same run. Reports wall time and peak memory of each.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "engine/analysis_hook.h"
#include "engine/get_rec.h"
#include "engine/normalise.h"
#include "engine/queue_manager.h"
#include "platform/event_loop.h"
#include "store/options.h"
#include "store/project.h"
#include "store/project_tree.h"
#include "support/peers.h"

namespace fs = std::filesystem;
using namespace qm;

namespace {

constexpr int kFiles = 2000;
constexpr int kSize = 10 * 1024;

struct Site {
    std::string dir, list;
    std::unique_ptr<test::NginxPeer> nginx;
    std::vector<std::string> urls;
};

// The files in one directory (spread 1), or over `spread` directories.
Site MakeSite(int spread) {
    Site s;
    s.dir = test::MakeTempDir("engine-bench");
    std::string body(kSize, 'q');
    std::vector<std::string> paths;
    for (int i = 0; i < kFiles; ++i) {
        std::string path = "/files" + std::to_string(i % spread) + "/f" + std::to_string(i) + ".dat";
        test::WriteFile(s.dir + "/site" + path, body);
        paths.push_back(path);
    }
    test::WriteFile(s.dir + "/site/start.txt", "nothing linked here");
    s.nginx = std::make_unique<test::NginxPeer>(s.dir + "/site", "access_log off;\n");
    std::ofstream list(s.list = s.dir + "/list.txt");
    for (const std::string& path : paths) {
        s.urls.push_back(s.nginx->Url(path));
        list << s.urls.back() << "\n";
    }
    return s;
}

Site& TheSite(int spread) {
    static Site one = MakeSite(1);
    static Site many = MakeSite(20);
    return spread == 1 ? one : many;
}

std::int64_t CountStored(const std::string& root) {
    std::int64_t n = 0;
    std::error_code ec;
    for (auto& e : fs::recursive_directory_iterator(root, ec))
        if (e.is_regular_file() && e.path().extension() == ".dat" && e.file_size() == kSize) ++n;
    return n;
}

void BM_QuillmoorQueue(benchmark::State& state) {
    Site& site = TheSite(static_cast<int>(state.range(0)));
    if (!site.nginx->Ok()) {
        state.SkipWithError(site.nginx->Error().c_str());
        return;
    }
    platform::InitEventLoop();
    std::int64_t stored = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::string out = test::MakeTempDir("engine-bench-ours");
        fs::create_directories(out + "/tmp");
        ::setenv("TMPDIR", (out + "/tmp").c_str(), 1);
        store::Options().Reset();
        store::Options().PathPrefix = out + "/";
        store::Options().HTTPCount = 10;
        store::Options().ConnRetries = 1;
        store::Options().DiskSpace = 0;
        store::ProjectTree tree;
        store::ProjectFolder& folder = tree.AddFolder("Bench");
        folder.Dir = out + "/";
        auto p = std::make_unique<store::Project>();
        p->IID = tree.TakeID();
        p->URL = site.nginx->Url("/start.txt");
        p->Lev = 1;
        store::Project& project = tree.AddProject(folder, std::move(p));
        state.ResumeTiming();

        engine::QueueManager queue(store::Options().HTTPCount);
        queue.StartProject(project);
        // The records a start page linking every file would give.
        for (const std::string& url : site.urls) {
            auto rec = std::make_unique<engine::DownloadRecord>();
            rec->Project = &project;
            rec->URL = url;
            rec->Lev = 0;
            rec->Img = rec->Srv = true;
            if (engine::Normalise(*rec)) queue.AddRecord(std::move(rec), true, true);
        }
        platform::RunUntil([&] { return queue.Idle(); }, 600000);

        state.PauseTiming();
        stored = CountStored(out);
        state.ResumeTiming();
    }
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    state.counters["files"] = static_cast<double>(stored);
    state.counters["peak_rss_MB"] = static_cast<double>(ru.ru_maxrss) / 1024.0;
}

void BM_Wget2(benchmark::State& state) {
    Site& site = TheSite(static_cast<int>(state.range(0)));
    std::string wget2 = test::FindProgram("wget2");
    if (wget2.empty() || !site.nginx->Ok()) {
        state.SkipWithError("wget2 or nginx missing");
        return;
    }
    std::int64_t stored = 0;
    long peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::string out = test::MakeTempDir("engine-bench-wget2");
        state.ResumeTiming();
        pid_t pid = ::fork();
        if (pid == 0) {
            ::execl(wget2.c_str(), wget2.c_str(), "--max-threads=10", "-q", "--no-config", "-P", out.c_str(), "-i",
                    site.list.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        rusage ru{};
        ::wait4(pid, &status, 0, &ru);
        state.PauseTiming();
        peak = std::max(peak, ru.ru_maxrss);
        stored = CountStored(out);
        state.ResumeTiming();
    }
    state.counters["files"] = static_cast<double>(stored);
    state.counters["peak_rss_MB"] = static_cast<double>(peak) / 1024.0;
}

}  // namespace

// Argument: the number of directories the 2,000 files are spread over.
BENCHMARK(BM_QuillmoorQueue)->Arg(1)->Arg(20)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Wget2)->Arg(1)->Arg(20)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
