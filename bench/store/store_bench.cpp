// Loading and saving a Project tree store of many Projects.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "store/defaults_project.h"
#include "store/tree_store.h"

namespace {

std::string BenchDir() {
    static const std::string dir = [] {
        char tmpl[] = "/tmp/qm-bench-store-XXXXXX";
        return std::string(mkdtemp(tmpl));
    }();
    return dir;
}

void Fill(qm::store::ProjectTree& tree, int projects) {
    tree.Clear();
    for (int i = 0; i < projects; ++i) {
        if (i % 100 == 0) tree.AddFolder("Folder " + std::to_string(i / 100));
        auto p = std::make_unique<qm::store::Project>();
        qm::store::ResetToBuiltInDefaults(*p);
        p->IID = tree.TakeID();
        p->URL = "http://host" + std::to_string(i) + ".example.test/start/page.html?x=" + std::to_string(i);
        p->Caption = "Project " + std::to_string(i);
        p->RSrvsIn = "example\r\ntest\r\n";
        tree.AddProject(*tree.Folders.back(), std::move(p));
    }
}

void BM_SaveStore(benchmark::State& state) {
    qm::store::ProjectTree tree;
    Fill(tree, static_cast<int>(state.range(0)));
    std::string error;
    for (auto _ : state) {
        if (!qm::store::SaveTreeStore(tree, BenchDir(), error)) state.SkipWithError(error.c_str());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_LoadStore(benchmark::State& state) {
    qm::store::ProjectTree tree;
    Fill(tree, static_cast<int>(state.range(0)));
    std::string error;
    if (!qm::store::SaveTreeStore(tree, BenchDir(), error)) state.SkipWithError(error.c_str());
    for (auto _ : state) {
        qm::store::ProjectTree loaded;
        qm::store::TreeLoadReport r = qm::store::LoadTreeStore(loaded, BenchDir());
        if (r.damaged) state.SkipWithError(r.message.c_str());
        benchmark::DoNotOptimize(loaded.NextID);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_SaveStore)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadStore)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
