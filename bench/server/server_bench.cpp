// wrk against the local web server and against nginx, same file, same settings, same run.
// Run: build-*/bench/server/server_bench [--benchmark_filter=...]
// Environment: QM_WRK_SECONDS (default 5), QM_WRK_CONNECTIONS (default 32), QM_WRK_THREADS (2).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>

#include "platform/event_loop.h"
#include "server/web_server.h"
#include "store/folder.h"
#include "store/options.h"
#include "store/project_tree.h"
#include "support/peers.h"

namespace {

int EnvInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

struct Site {
    std::string root;  // the download folder, holding host/page.htm
    Site() {
        root = qm::test::MakeTempDir("server-bench");
        std::string page = "<html><body>";
        while (page.size() < 10240 - 14) page += "stored text of a ten kilobyte page. ";
        page.resize(10240 - 14);
        page += "</body></html>";
        qm::test::WriteFile(root + "/host/page.htm", page);
    }
};

Site& TheSite() {
    static Site site;
    return site;
}

// Runs wrk with keep-alive off; returns requests per second (0 on failure) and the error count.
double RunWrk(const std::string& url, std::string& summary) {
    const std::string cmd = "wrk -t" + std::to_string(EnvInt("QM_WRK_THREADS", 2)) + " -c" +
                            std::to_string(EnvInt("QM_WRK_CONNECTIONS", 32)) + " -d" +
                            std::to_string(EnvInt("QM_WRK_SECONDS", 5)) + "s -H 'Connection: close' " + url + " 2>&1";
    std::string out;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        ::pclose(p);
    }
    summary = out;
    std::smatch m;
    if (std::regex_search(out, m, std::regex("Requests/sec:\\s+([0-9.]+)"))) return std::stod(m[1]);
    return 0;
}

void Report(benchmark::State& state, double rps, const std::string& summary) {
    state.counters["req_per_s"] = rps;
    std::smatch m;
    if (std::regex_search(summary, m, std::regex("Non-2xx or 3xx responses: ([0-9]+)")))
        state.counters["non2xx"] = std::stod(m[1]);
    if (std::regex_search(summary, m, std::regex("Socket errors: ([^\\n]+)"))) state.SetLabel(m[1]);
    if (rps == 0) state.SkipWithError(("wrk failed: " + summary).c_str());
}

void BM_QuillmoorServer(benchmark::State& state) {
    qm::platform::InitEventLoop();
    qm::store::Options().Reset();
    qm::store::Options().PathPrefix = TheSite().root + "/";
    qm::store::Options().HTTPPort = qm::test::FreePort();
    qm::store::ProjectTree tree;
    tree.AddFolder("Sites");
    qm::SetServedTree(&tree);
    qm::StartServer();
    qm::platform::RunUntil([] { return qm::ServerRunning(); }, 10000);
    const std::string url = "http://127.0.0.1:" + std::to_string(qm::ServerPort()) + "/Sites/host/page.htm";
    for (auto _ : state) {
        double rps = 0;
        std::string summary;
        bool done = false;
        // The main thread keeps its event loop going: the server maps paths there.
        std::thread client([&] {
            rps = RunWrk(url, summary);
            done = true;
            qm::platform::Post([] {});
        });
        qm::platform::RunUntil([&] { return done; }, 600000);
        client.join();
        Report(state, rps, summary);
    }
    qm::StopServer();
    qm::SetServedTree(nullptr);
}
BENCHMARK(BM_QuillmoorServer)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_Nginx(benchmark::State& state) {
    qm::test::NginxPeer nginx(TheSite().root, "keepalive_timeout 0;");
    if (!nginx.Ok()) {
        state.SkipWithError(("nginx: " + nginx.Error()).c_str());
        return;
    }
    for (auto _ : state) {
        std::string summary;
        const double rps = RunWrk(nginx.Url("/host/page.htm"), summary);
        Report(state, rps, summary);
    }
}
BENCHMARK(BM_Nginx)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
