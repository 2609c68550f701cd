// Fetches one 256 MB file from nginx on loopback with quillmoor-cli fetch and with curl,
// alternating in the same run, and reports both wall times, their ratio and the CPU time
// our fetch spends per megabyte.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "support/peers.h"

extern char** environ;

namespace {

constexpr long long kFileBytes = 256LL * 1024 * 1024;

struct Run {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    int exitCode = -1;
};

Run RunQuiet(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Run run;
    auto begin = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.cpuSeconds =
            usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    }
    run.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

bool MakeBigFile(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::vector<char> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('a' + i * 7 % 26);
    for (long long done = 0; done < kFileBytes; done += static_cast<long long>(block.size()))
        std::fwrite(block.data(), 1, block.size(), f);
    return std::fclose(f) == 0;
}

long long FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

void BM_Fetch256MBOursVersusCurl(benchmark::State& state) {
    std::string dir = qm::test::MakeTempDir("bench-fetch");
    std::string root = dir + "/www";
    ::mkdir(root.c_str(), 0755);
    if (!MakeBigFile(root + "/big.bin")) {
        state.SkipWithError("cannot write the 256 MB file");
        return;
    }
    qm::test::NginxPeer nginx(root);
    if (!nginx.Ok()) {
        state.SkipWithError(nginx.Error().c_str());
        return;
    }
    std::string home = dir + "/home";
    std::string url = nginx.Url("/big.bin");
    double ourWall = 0, curlWall = 0, ourCpu = 0, curlCpu = 0;
    int rounds = 0;
    for (auto _ : state) {
        // Each run starts with no dirty pages of the one before, so that neither pays for
        // the other's writes.
        std::remove((dir + "/ours.bin").c_str());
        std::remove((dir + "/curl.bin").c_str());
        ::sync();
        Run ours = RunQuiet({QM_CLI_PATH, "--home", home, "fetch", url, "-o", dir + "/ours.bin"});
        ::sync();
        Run curl = RunQuiet({"curl", "-s", "-o", dir + "/curl.bin", url});
        ::sync();
        if (ours.exitCode != 0 || FileSize(dir + "/ours.bin") != kFileBytes) {
            state.SkipWithError("quillmoor-cli fetch failed");
            break;
        }
        if (curl.exitCode != 0 || FileSize(dir + "/curl.bin") != kFileBytes) {
            state.SkipWithError("curl failed");
            break;
        }
        ourWall += ours.wallSeconds;
        curlWall += curl.wallSeconds;
        ourCpu += ours.cpuSeconds;
        curlCpu += curl.cpuSeconds;
        ++rounds;
        state.SetIterationTime(ours.wallSeconds);
    }
    if (rounds == 0) return;
    double mb = kFileBytes / (1024.0 * 1024.0);
    state.counters["ours_s"] = ourWall / rounds;
    state.counters["curl_s"] = curlWall / rounds;
    state.counters["ratio"] = ourWall / curlWall;
    state.counters["ours_cpu_ms_per_MB"] = ourCpu / rounds / mb * 1000.0;
    state.counters["curl_cpu_ms_per_MB"] = curlCpu / rounds / mb * 1000.0;
    state.counters["ours_MB_per_s"] = mb / (ourWall / rounds);
    std::remove((dir + "/ours.bin").c_str());
    std::remove((dir + "/curl.bin").c_str());
    std::remove((root + "/big.bin").c_str());
}

BENCHMARK(BM_Fetch256MBOursVersusCurl)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
