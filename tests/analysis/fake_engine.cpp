#include "fake_engine.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace qm::test {

namespace {

bool StartsNoCase(const std::string& s, const std::string& lowerPrefix) {
    if (s.size() < lowerPrefix.size()) return false;
    for (std::size_t i = 0; i < lowerPrefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != lowerPrefix[i]) return false;
    return true;
}

}  // namespace

bool FakeEngine::Normalise(engine::DownloadRecord& record) {
    std::string u = record.URL;
    if (!StartsNoCase(u, "http://")) return false;
    u.erase(std::remove_if(u.begin(), u.end(), [](char c) { return c == '\n' || c == '\r'; }), u.end());
    for (std::size_t a; (a = u.find("&amp;")) != std::string::npos;) u.erase(a + 1, 4);
    if (u.find('/', 7) == std::string::npos) u += '/';
    std::size_t hostEnd = u.find('/', 7);
    std::size_t p80 = u.find(":80/");
    if (p80 != std::string::npos && p80 < hostEnd) {
        u.erase(p80, 3);
        hostEnd -= 3;
    }
    std::size_t at = u.find('@');
    if (at != std::string::npos && at < hostEnd) {
        record.URLPsw = u.substr(7, at - 7);
        u.erase(7, at - 7 + 1);
        hostEnd = u.find('/', 7);
    }
    for (std::size_t p; (p = u.find("/../")) != std::string::npos;) {
        if (p == hostEnd) {
            u.erase(p + 1, 3);
            continue;
        }
        u.erase(p, 3);  // leaves "/" + rest
        std::size_t q = u.rfind('/', p - 1);
        if (q != std::string::npos && q >= hostEnd) u.erase(q, p - q);
    }
    for (std::size_t p; (p = u.find("/./")) != std::string::npos;) u.erase(p, 2);
    for (std::size_t p; (p = u.find("//", 7)) != std::string::npos;) u.erase(p, 1);
    if (!admit(u)) return false;
    std::size_t hash = u.find('#');
    if (hash != std::string::npos) u.erase(hash);
    record.URL = u;
    std::string rel = u.substr(7);
    record.Depth = int(std::count_if(rel.begin(), rel.end(), [](char c) { return c == '/' || c == '\\'; }));
    std::string name = MapRelativeName(rel);
    if (!name.empty() && name.back() == '/') name += settings.DefaultDoc;
    record.FName = settings.DownloadRoot + name;
    std::size_t slash = record.FName.find_last_of('/');
    record.Path = record.FName.substr(0, slash);
    record.RFile = record.FName.substr(slash + 1);
    return true;
}

std::string FakeEngine::MapRelativeName(const std::string& name) {
    std::string n = name;
    std::size_t p80 = n.find(":80/");
    if (p80 != std::string::npos) n.erase(p80, 3);
    std::size_t slash = n.find('/'), at = n.find('@');
    if (at != std::string::npos && slash != std::string::npos && slash > at) n.erase(0, at + 1);
    for (char& c : n) {
        if (c == '?')
            c = '@';
        else if (c == ':')
            c = '+';
        else if (c == '|' || c == '%')
            c = '_';
    }
    return n;
}

std::vector<std::string> FakeEngine::FoundURLs() const {
    std::vector<std::string> urls;
    for (const auto& r : found) urls.push_back(r->URL);
    return urls;
}

const engine::DownloadRecord* FakeEngine::Find(const std::string& url) const {
    for (const auto& r : found)
        if (r->URL == url) return r.get();
    return nullptr;
}

std::unique_ptr<engine::DownloadRecord> DocumentRecord(const std::string& url, int lev, bool img) {
    auto r = std::make_unique<engine::DownloadRecord>();
    r->URL = url;
    std::string rel = url.substr(7);
    std::size_t q = rel.find('?');
    r->Depth = int(std::count(rel.begin(), rel.begin() + (q == std::string::npos ? rel.size() : q), '/'));
    r->Lev = lev;
    r->Img = img;
    r->Srv = true;
    return r;
}

std::string ScratchDir() {
    static std::string dir = [] {
        const char* bin = std::getenv("QM_BINARY_DIR");
        std::string base = bin ? std::string(bin) + "/test-scratch" : std::string("/tmp");
        std::string d = base + "/analysis-" + std::to_string(::getpid());
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

AnalysisRun AnalyseText(FakeEngine& engine, engine::DownloadRecord& parent, const std::string& text, bool writeTarget,
                        const std::string& sourceSuffix) {
    static std::atomic<int> counter{0};
    std::string stem = ScratchDir() + "/doc" + std::to_string(counter++);
    std::string source = stem + ".htm" + sourceSuffix;
    std::string target = stem + ".htm";
    {
        std::ofstream out(source, std::ios::binary);
        out.write(text.data(), std::streamsize(text.size()));
    }
    std::size_t before = engine.found.size();
    analysis::AnalyseWith(engine, parent, source, target, writeTarget, engine);
    AnalysisRun run;
    for (std::size_t i = before; i < engine.found.size(); ++i) run.urls.push_back(engine.found[i]->URL);
    std::ifstream in(target, std::ios::binary);
    if (in) {
        std::ostringstream s;
        s << in.rdbuf();
        run.output = s.str();
        run.targetWritten = true;
    }
    return run;
}

}  // namespace qm::test
