// The cost of finding the stored file a request names: a plain path, an address with a query
// (kept as sent, then decoded whole when that finds nothing), and one with nothing stored.
// Run: build-*/bench/server/path_mapping_bench
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "server/path_mapping.h"
#include "server/served_settings.h"
#include "support/peers.h"

namespace {

const qm::server::ServedSettings& Settings() {
    static const qm::server::ServedSettings settings = [] {
        qm::server::ServedSettings s;
        s.pathPrefix = qm::test::MakeTempDir("path-mapping-bench") + "/";
        s.folders.push_back({"Sites", "sites", s.pathPrefix});
        s.defaultDoc = "default.htm";
        qm::test::WriteFile(s.pathPrefix + "host/page.htm", "<html></html>");
        qm::test::WriteFile(s.pathPrefix + "host/api/items@page=2&q=a_20b", "{}");
        return s;
    }();
    return settings;
}

void Resolve(benchmark::State& state, const std::string& path) {
    std::string cachedRoot;
    for (auto _ : state) {
        int fd = -1;
        const qm::server::ResolvedPath r = qm::server::ResolveRequestPath(path, Settings(), cachedRoot, &fd);
        if (fd >= 0) ::close(fd);
        benchmark::DoNotOptimize(r.path);
    }
}

void BM_PlainPath(benchmark::State& state) { Resolve(state, "/Sites/host/page.htm"); }
void BM_QueryFound(benchmark::State& state) { Resolve(state, "/Sites/host/api/items?page=2&q=a%20b"); }
void BM_QueryMissing(benchmark::State& state) { Resolve(state, "/Sites/host/api/items?page=3&q=a%20b"); }

}  // namespace

BENCHMARK(BM_PlainPath);
BENCHMARK(BM_QueryFound);
BENCHMARK(BM_QueryMissing);
BENCHMARK_MAIN();
