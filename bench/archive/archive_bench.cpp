// The writing side of a recorded run over real pages (the Python documentation when it is
// installed, generated pages otherwise): each page's record compressed, its digests, and
// whole exchanges and outlinks records through a recorder. process_cpu_s counts every
// thread (the recorder's writing thread included), so it holds on a busy machine too.
//   archive_bench [--benchmark_filter=...]   (QM_ARCHIVE_PAGES=FOLDER picks other pages)
#include <benchmark/benchmark.h>

#ifdef QM_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "archive/digest.h"
#include "archive/gzip_member.h"
#include "archive/recorder.h"

namespace {

namespace fs = std::filesystem;

struct Page {
    std::string url, answer;  // the answer as received: head and body
    std::vector<std::string> links;
};

std::vector<Page> LoadPages() {
    std::vector<Page> pages;
    const char* env = std::getenv("QM_ARCHIVE_PAGES");
    const fs::path root = env ? env : "/usr/share/doc/python3.11/html";
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        std::ifstream in(it->path(), std::ios::binary);
        std::ostringstream body;
        body << in.rdbuf();
        Page p;
        p.url = "http://127.0.0.1:8080/" + fs::relative(it->path(), root, ec).string();
        p.answer = "HTTP/1.1 200 OK\r\nServer: nginx\r\nContent-Type: text/html\r\nContent-Length: " +
                   std::to_string(body.str().size()) + "\r\n\r\n" + body.str();
        pages.push_back(std::move(p));
    }
    if (pages.empty())  // no documentation installed: pages of text and markup
        for (int i = 0; i < 400; ++i) {
            std::string body = "<html><body>";
            while (body.size() < 60000)
                body += "<p>Paragraph " + std::to_string(body.size()) + " of page " + std::to_string(i) +
                        " <a href=\"page" + std::to_string(body.size() % 997) + ".html\">a link</a></p>\n";
            pages.push_back({"http://127.0.0.1:8080/page" + std::to_string(i) + ".html",
                             "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body,
                             {}});
        }
    // About as many links as the pages have anchors, as the analysis finds them.
    for (Page& p : pages)
        for (std::size_t at = p.answer.find("href=\""); at != std::string::npos; at = p.answer.find("href=\"", at + 6))
            p.links.push_back("http://127.0.0.1:8080/" + p.answer.substr(at + 6, p.answer.find('"', at + 6) - at - 6));
    return pages;
}

const std::vector<Page>& Pages() {
    static const std::vector<Page> pages = LoadPages();
    return pages;
}

std::int64_t Bytes() {
    std::int64_t n = 0;
    for (const Page& p : Pages()) n += static_cast<std::int64_t>(p.answer.size());
    return n;
}

double ProcessCpu() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void BM_CompressPages(benchmark::State& state) {
    qm::archive::GzipBuffers buffers;
    std::size_t made = 0;
    for (auto _ : state)
        for (const Page& p : Pages())
            made += qm::archive::GzipMemberInto({"WARC/1.1\r\n", p.answer, "\r\n\r\n"}, buffers).size();
    state.SetBytesProcessed(state.iterations() * Bytes());
    state.counters["ratio"] = static_cast<double>(made) / static_cast<double>(state.iterations() * Bytes());
}
BENCHMARK(BM_CompressPages)->Unit(benchmark::kMillisecond);

#ifdef QM_HAVE_ISAL
// Each page as one member at igzip level 0 to 3 (records use level 1): ratio against time.
void BM_CompressPagesAtIgzipLevel(benchmark::State& state) {
    const int level = static_cast<int>(state.range(0));
    const std::uint32_t levelBytes[] = {ISAL_DEF_LVL0_DEFAULT, ISAL_DEF_LVL1_DEFAULT, ISAL_DEF_LVL2_DEFAULT,
                                        ISAL_DEF_LVL3_DEFAULT};
    std::vector<std::uint8_t> levelBuffer(levelBytes[level] + 1), out;
    std::size_t made = 0;
    for (auto _ : state)
        for (const Page& p : Pages()) {
            out.resize(std::max(out.size(), p.answer.size() + p.answer.size() / 16 + 1024));
            isal_zstream z;
            isal_deflate_init(&z);
            z.level = static_cast<std::uint32_t>(level);
            z.level_buf = levelBuffer.data();
            z.level_buf_size = levelBytes[level];
            z.gzip_flag = IGZIP_GZIP;
            z.end_of_stream = 1;
            z.next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(p.answer.data()));
            z.avail_in = static_cast<std::uint32_t>(p.answer.size());
            z.next_out = out.data();
            z.avail_out = static_cast<std::uint32_t>(out.size());
            if (isal_deflate(&z) != COMP_OK || z.internal_state.state != ZSTATE_END) {
                state.SkipWithError("igzip");
                return;
            }
            made += z.total_out;
        }
    state.SetBytesProcessed(state.iterations() * Bytes());
    state.counters["ratio"] = static_cast<double>(made) / static_cast<double>(state.iterations() * Bytes());
}
BENCHMARK(BM_CompressPagesAtIgzipLevel)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
#endif

void BM_DigestPages(benchmark::State& state) {
    for (auto _ : state)
        for (const Page& p : Pages()) {
            benchmark::DoNotOptimize(qm::archive::Sha1Base32(p.answer));
            benchmark::DoNotOptimize(qm::archive::Sha1Base32(p.answer.substr(p.answer.find("\r\n\r\n") + 4)));
        }
    state.SetBytesProcessed(state.iterations() * Bytes());
}
BENCHMARK(BM_DigestPages)->Unit(benchmark::kMillisecond);

// Whole exchanges and each page's outlinks through a recorder, until its files are closed.
void BM_RecordPages(benchmark::State& state) {
    const fs::path folder = fs::temp_directory_path() / ("qm-archive-bench-" + std::to_string(::getpid()));
    double cpu = 0;
    for (auto _ : state) {
        fs::remove_all(folder);
        const double before = ProcessCpu();
        std::string error;
        auto recorder = qm::archive::Recorder::Open(folder.string(), {"Quillmoor", "http://127.0.0.1:8080/", {}},
                                                    std::time(nullptr), error);
        if (!recorder) {
            state.SkipWithError(error.c_str());
            return;
        }
        for (const Page& p : Pages()) {
            qm::archive::HttpExchange x;
            x.url = p.url;
            x.request = "GET / HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n\r\n";
            x.response = qm::archive::CapturedBytes(std::string(p.answer));
            x.ipAddress = "127.0.0.1";
            x.date = std::time(nullptr);
            recorder->RecordHttp(std::move(x));
            recorder->RecordOutlinks(p.url, p.links, x.date);
        }
        if (!recorder->Close()) state.SkipWithError(recorder->Error().c_str());
        cpu += ProcessCpu() - before;
    }
    fs::remove_all(folder);
    state.SetBytesProcessed(state.iterations() * Bytes());
    state.counters["process_cpu_s"] = cpu / static_cast<double>(state.iterations());
}
BENCHMARK(BM_RecordPages)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
