// Throughput of the address pipeline: Normalise with the admission filter and the local-path
// mapping, over realistic links, and the time of single hostile 64 KB addresses.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "engine/get_rec.h"
#include "engine/normalise.h"
#include "store/folder.h"
#include "store/options.h"
#include "store/project.h"

namespace {

struct Site {
    qm::store::ProjectFolder folder;
    qm::store::Project project;
    Site() {
        qm::store::Options().DefaultDoc = "default.htm";
        folder.Dir = "/home/user/Quillmoor/sites/";
        project.Folder = &folder;
        project.URL = "http://www.example.org/docs/index.html";
        project.RSrvsBx = 2;
        project.RSrvsIn = "example\r\nmirror\r\n";
        project.RSrvsEx = "^ads.\r\n";
        project.RPathBx = 2;
        project.RPathEx = "/cgi-bin/\r\n/private/\r\n";
        project.Categories[qm::store::kCatText].Exts =
            "html\r\nhtm\r\nasp\r\nstm\r\nstml\r\nidc\r\nshtml\r\nhtx\r\ntxt\r\ntext\r\njs\r\nxsp\r\nrxml\r\n";
        project.Categories[qm::store::kCatImages].Exts = "gif\r\njpg\r\njpeg\r\ntif\r\ntiff\r\nxbm\r\nfif\r\nbmp\r\n";
        project.Categories[qm::store::kCatVideo].Exts = "mpg\r\navi\r\nani\r\nmpeg\r\n";
        project.Categories[qm::store::kCatAudio].Exts = "wav\r\nriff\r\nmp3\r\nmid\r\nmp2\r\n";
        project.Categories[qm::store::kCatArchive].Exts =
            "zip\r\narc\r\ngz\r\nz\r\narj\r\nlha\r\nlay\r\nlei\r\nrar\r\ncab\r\n";
    }
};

Site& TheSite() {
    static Site site;
    return site;
}

// Links as document analysis hands them over: absolute, with "/../" and "/./" left in,
// queries, entities, fragments, ports and credentials, on a few dozen hosts.
std::vector<std::string> RealisticLinks(std::size_t count) {
    const char* hosts[] = {"www.example.org",
                           "mirror.example.org:8080",
                           "cdn.example.net",
                           "ads.example.com",
                           "user:secret@www.example.org",
                           "WWW.Example.ORG:80",
                           "static.mirror.example.org",
                           "other.test"};
    const char* dirs[] = {"/",       "/docs/",    "/docs/guide/",      "/img/",      "/docs/guide/../api/",
                          "/a/./b/", "/cgi-bin/", "/download//files/", "/private/x/"};
    const char* files[] = {"",
                           "index.html",
                           "page.htm",
                           "logo.gif",
                           "photo.JPG",
                           "archive.zip",
                           "search.asp?q=word&amp;page=2",
                           "list.cgi?x=1&y=a%20b",
                           "readme",
                           "movie.mpg",
                           "song.mp3",
                           "style.css",
                           "main.js#top",
                           "a.html?x=a\\b#frag"};
    std::mt19937 rng(42);
    std::vector<std::string> links;
    links.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::string url = (rng() % 10 == 0) ? "HTTP://" : "http://";
        url += hosts[rng() % (sizeof hosts / sizeof *hosts)];
        url += dirs[rng() % (sizeof dirs / sizeof *dirs)];
        if (rng() % 3 == 0) url += "sub" + std::to_string(rng() % 50) + "/";
        url += files[rng() % (sizeof files / sizeof *files)];
        links.push_back(std::move(url));
    }
    return links;
}

void BM_NormaliseRealistic(benchmark::State& state) {
    Site& site = TheSite();
    const std::vector<std::string> links = RealisticLinks(4096);
    std::size_t i = 0, admitted = 0;
    for (auto _ : state) {
        qm::engine::DownloadRecord rec;
        rec.Project = &site.project;
        rec.URL = links[i++ & 4095];
        rec.IsImage = (i & 3) == 0;
        admitted += qm::engine::Normalise(rec);
        benchmark::DoNotOptimize(rec.FName.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["admitted%"] = 100.0 * double(admitted) / double(state.iterations());
}
BENCHMARK(BM_NormaliseRealistic);

std::string Hostile(int kind) {
    const std::size_t n = 64 * 1024;
    std::string url = "http://www.example.org/";
    auto fill = [&](const std::string& piece) {
        while (url.size() + piece.size() < n) url += piece;
    };
    switch (kind) {
    case 0: fill("/"); break;
    case 1: fill("&amp;"); break;
    case 2:
        url += "?x=&";
        fill("amp;");
        break;
    case 3:
        fill("a/");
        url += std::string((n - url.size()) / 3 * 3, '.');
        break;
    case 4:
        for (std::size_t k = 0; k < n / 6; ++k) url += "a/";
        fill("../");
        break;
    case 5: fill("/./"); break;
    case 6:
        url = "http://";
        fill("../");
        break;
    case 7: fill("\\\r\n"); break;
    case 8:
        url = "http://";
        fill("@:80/");
        break;
    }
    return url;
}

void BM_NormaliseHostile64K(benchmark::State& state) {
    Site& site = TheSite();
    const std::string url = Hostile(int(state.range(0)));
    for (auto _ : state) {
        qm::engine::DownloadRecord rec;
        rec.Project = &site.project;
        rec.URL = url;
        benchmark::DoNotOptimize(qm::engine::Normalise(rec));
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(url.size()));
}
BENCHMARK(BM_NormaliseHostile64K)->DenseRange(0, 8)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
