// Writing WACZ packages.
#include "archive/wacz.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>

#include "archive/cdxj.h"
#include "archive/digest.h"
#include "archive/warc_reader.h"
#include "archive/warc_writer.h"
#include "archive/zip_writer.h"
#include "platform/program_folder.h"

namespace qm::archive {

namespace fs = std::filesystem;

namespace {

std::string Lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

}  // namespace

std::string PageTitle(std::string_view html) {
    const std::string lower = Lowered(html.substr(0, std::min<std::size_t>(html.size(), 1 << 20)));
    std::size_t open = lower.find("<title");
    if (open == std::string::npos) return {};
    open = lower.find('>', open);
    if (open == std::string::npos) return {};
    std::size_t close = lower.find("</title", open);
    if (close == std::string::npos) return {};
    std::string title;
    bool space = false;
    for (std::size_t i = open + 1; i < close && title.size() < 200; ++i) {
        const char c = html[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            space = !title.empty();
            continue;
        }
        if (space) title += ' ';
        space = false;
        title += c;
    }
    return title;
}

std::vector<WaczPage> PagesOf(const std::vector<std::string>& archivePaths) {
    std::map<std::string, WaczPage> latest;
    for (const std::string& path : archivePaths) {
        WarcReader reader(path);
        ReadRecord r;
        while (reader.Next(r)) {
            if (r.record.Field("WARC-Type") != "response") continue;
            std::string_view head, body;
            if (!SplitHttpMessage(r.record.block, head, body) || HttpStatus(head) != 200) continue;
            if (Lowered(HttpHeaderValue(head, "Content-Type")).find("text/html") == std::string::npos) continue;
            WaczPage page{r.record.Field("WARC-Target-URI"), r.record.Field("WARC-Date"), PageTitle(body)};
            WaczPage& known = latest[page.url];
            if (known.ts <= page.ts) known = page;
        }
    }
    std::vector<WaczPage> pages;
    for (auto& [url, page] : latest) pages.push_back(page);
    return pages;
}

bool WriteWacz(const std::string& target, const std::string& title, const std::vector<std::string>& archivePaths,
               const std::function<void(const std::string&)>& progress, std::string& error) {
    auto tell = [&](const std::string& text) {
        if (progress) progress(text);
    };
    // The combined index names each file as it lies in the package's archive folder.
    std::vector<IndexEntry> entries;
    std::vector<std::string> names;
    for (const std::string& path : archivePaths) {
        const std::string name = fs::path(path).filename().string();
        tell("Indexing " + name);
        WarcReader reader(path);
        ReadRecord r;
        while (reader.Next(r)) {
            IndexEntry e;
            if (EntryOf(r, name, e)) entries.push_back(std::move(e));
        }
        if (!reader.Error().empty()) {
            error = path + ": " + reader.Error();
            return false;
        }
        names.push_back(name);
    }
    const std::string index = IndexText(entries);
    tell("Listing pages");
    std::string pages = "{\"format\": \"json-pages-1.0\", \"id\": \"pages\", \"title\": \"All Pages\"}\n";
    for (const WaczPage& p : PagesOf(archivePaths)) {
        pages += "{\"url\": " + JsonString(p.url) + ", \"ts\": " + JsonString(p.ts);
        if (!p.title.empty()) pages += ", \"title\": " + JsonString(p.title);
        pages += "}\n";
    }

    struct Resource {
        std::string name, path, hash;
        std::uint64_t bytes = 0;
    };
    std::vector<Resource> resources;
    for (std::size_t i = 0; i < archivePaths.size(); ++i) {
        Resource r{names[i], "archive/" + names[i], "", 0};
        tell("Hashing " + names[i]);
        if (!Sha256OfFile(archivePaths[i], r.hash, r.bytes)) {
            error = "cannot read " + archivePaths[i];
            return false;
        }
        resources.push_back(r);
    }
    resources.push_back({"index.cdx", "indexes/index.cdx", Sha256Hex(index), index.size()});
    resources.push_back({"pages.jsonl", "pages/pages.jsonl", Sha256Hex(pages), pages.size()});

    char created[32];
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    gmtime_r(&now, &t);
    std::strftime(created, sizeof created, "%Y-%m-%dT%H:%M:%SZ", &t);
    std::string package = "{\n  \"profile\": \"data-package\",\n  \"wacz_version\": \"1.1.1\",\n";
    package += "  \"title\": " + JsonString(title) + ",\n  \"software\": \"Quillmoor\",\n";
    package += "  \"created\": \"" + std::string(created) + "\",\n  \"resources\": [\n";
    for (std::size_t i = 0; i < resources.size(); ++i) {
        const Resource& r = resources[i];
        package += "    {\"name\": " + JsonString(r.name) + ", \"path\": " + JsonString(r.path) +
                   ", \"hash\": \"sha256:" + r.hash + "\", \"bytes\": " + std::to_string(r.bytes) + "}" +
                   (i + 1 < resources.size() ? ",\n" : "\n");
    }
    package += "  ]\n}\n";
    const std::string digest = "{\"path\": \"datapackage.json\", \"hash\": \"sha256:" + Sha256Hex(package) + "\"}\n";

    const std::string temporary = target + ".part";
    bool ok = false;
    {
        ZipWriter zip(temporary);
        ok = true;
        for (std::size_t i = 0; ok && i < archivePaths.size(); ++i) {
            tell("Packing " + names[i]);
            ok = zip.AddFile("archive/" + names[i], archivePaths[i]);
        }
        ok = ok && zip.AddText("indexes/index.cdx", index) && zip.AddText("pages/pages.jsonl", pages) &&
             zip.AddText("datapackage.json", package) && zip.AddText("datapackage-digest.json", digest) && zip.Finish();
        if (!ok) error = zip.Error();
    }
    std::error_code ec;
    if (ok) fs::rename(temporary, target, ec);
    if (ok && ec) {
        error = "cannot write " + target + ": " + ec.message();
        ok = false;
    }
    if (!ok) fs::remove(temporary, ec);
    return ok;
}

}  // namespace qm::archive
