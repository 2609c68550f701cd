// Analysis on several threads hands its results to the queue in the order one thread gives:
// records found by a later page wait for those of an earlier page still under analysis, and
// a mirror of a link-dense site stores the same files, site map and descriptions with one
// and with several analysis threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "analysis/analysis.h"
#include "engine/admission.h"
#include "engine/analysis_hook.h"
#include "engine/get_rec.h"
#include "engine/normalise.h"
#include "engine/queue_manager.h"
#include "engine/settings_snapshot.h"
#include "engine/site_map.h"
#include "engine/stored_files.h"
#include "engine_fixture.h"
#include "platform/event_loop.h"
#include "store/options.h"
#include "store/project.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

// Finds the links listed in the document ("COUNT DELAY_MS"), named after it; the first
// document is slow, so later documents finish while it is still under analysis.
void SlowFirstLinks(engine::DownloadRecord& record, const std::string& source, const std::string&, bool,
                    const engine::SettingsSnapshot& settings, engine::AnalysisSink& sink) {
    const std::string text = ReadFile(source);
    const int count = std::stoi(text);
    const int delayMs = std::stoi(text.substr(text.find(' ') + 1));
    for (int i = 0; i < count; ++i) {
        if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        auto rec = std::make_unique<engine::DownloadRecord>();
        rec->Project = record.Project;
        rec->Lev = 0;
        rec->Img = rec->Srv = true;
        rec->URL = "http://127.0.0.1:9/" + fs::path(source).filename().string() + "/" + std::to_string(i) + ".txt";
        engine::AdmissionResult why;
        if (engine::Normalise(*rec, settings, why)) sink.FoundRecord(std::move(rec));
        // Every document also names the same shared address; the first mention is queued.
        if (i == 0) {
            auto shared = std::make_unique<engine::DownloadRecord>();
            shared->Project = record.Project;
            shared->Img = shared->Srv = true;
            shared->URL = "http://127.0.0.1:9/shared.txt";
            if (engine::Normalise(*shared, settings, why)) sink.FoundRecord(std::move(shared));
        }
    }
}

std::atomic<int> g_analysing{0};
std::atomic<int> g_mostAtOnce{0};

// Notes how many documents are under analysis at once, holding each for a while.
void CountingAnalysis(engine::DownloadRecord&, const std::string&, const std::string&, bool,
                      const engine::SettingsSnapshot&, engine::AnalysisSink&) {
    const int now = ++g_analysing;
    for (int most = g_mostAtOnce.load(); now > most && !g_mostAtOnce.compare_exchange_weak(most, now);) {}
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    --g_analysing;
}

class AnalysisThreadsTest : public EngineTest {};

TEST_F(AnalysisThreadsTest, LargeDocumentsAreAnalysedOneAtATime) {
    engine::SetAnalyseFunction(&CountingAnalysis);
    store::Project& project = AddProject("http://127.0.0.1:9/", 2);
    engine::QueueManager queue(1);
    queue.SetAnalysisThreads(4);
    queue.SetSuspended(true);
    int analysed = 0;
    queue.OnItemStored = [&](engine::QueueManager&, engine::DownloadRecord&) { ++analysed; };
    // Documents of 1.5 MB each: analysis keeps copies of each, so they are not held at once.
    for (int d = 0; d < 4; ++d) {
        auto rec = std::make_unique<engine::DownloadRecord>();
        rec->Project = &project;
        rec->URL = "http://127.0.0.1:9/big" + std::to_string(d);
        rec->Temp = dir_ + "/big" + std::to_string(d);
        ASSERT_TRUE(WriteFile(rec->Temp, std::string(1536 * 1024, 'x')));
        ++project.ProcessingCount;
        const std::string temp = rec->Temp;
        queue.QueueForAnalysis(std::move(rec), temp, "", true);
    }
    ASSERT_TRUE(platform::RunUntil([&] { return analysed == 4; }, 60000));
    EXPECT_EQ(g_mostAtOnce.load(), 1);
    EXPECT_TRUE(queue.Idle());
}

TEST_F(AnalysisThreadsTest, LaterPagesWaitForTheirTurn) {
    engine::SetAnalyseFunction(&SlowFirstLinks);
    store::Project& project = AddProject("http://127.0.0.1:9/", 2);
    engine::QueueManager queue(1);
    queue.SetAnalysisThreads(4);
    queue.SetSuspended(true);  // nothing is fetched: the queue keeps what analysis found
    std::vector<std::string> analysed;
    queue.OnItemStored = [&](engine::QueueManager&, engine::DownloadRecord& r) { analysed.push_back(r.URL); };
    // The first document is slow and has more links than a batch (they reach the queue while
    // it is analysed); later ones are quick, one of them larger than what a later document may
    // keep waiting.
    const std::vector<std::pair<int, int>> documents = {{600, 1}, {5, 0}, {5000, 0}, {3, 0}, {40, 0}, {1, 0}};
    std::vector<std::string> expected;
    for (std::size_t d = 0; d < documents.size(); ++d) {
        const std::string name = "doc" + std::to_string(d);
        for (int i = 0; i < documents[d].first; ++i) {
            expected.push_back("http://127.0.0.1:9/" + name + "/" + std::to_string(i) + ".txt");
            if (d == 0 && i == 0) expected.push_back("http://127.0.0.1:9/shared.txt");
        }
        auto rec = std::make_unique<engine::DownloadRecord>();
        rec->Project = &project;
        rec->Lev = 2;
        rec->URL = "http://127.0.0.1:9/" + name;
        rec->Temp = dir_ + "/" + name;
        ASSERT_TRUE(
            WriteFile(rec->Temp, std::to_string(documents[d].first) + " " + std::to_string(documents[d].second)));
        ++project.ProcessingCount;
        const std::string temp = rec->Temp;
        queue.QueueForAnalysis(std::move(rec), temp, "", true);
    }
    ASSERT_TRUE(platform::RunUntil([&] { return analysed.size() == documents.size(); }, 120000));
    // Documents are handed back, and their links queued, in the order they were given.
    for (std::size_t d = 0; d < documents.size(); ++d)
        EXPECT_EQ(analysed[d], "http://127.0.0.1:9/doc" + std::to_string(d));
    std::vector<std::string> queued;
    for (const auto& r : queue.Queue()) queued.push_back(r->URL);
    ASSERT_EQ(queued.size(), expected.size());
    EXPECT_EQ(queued, expected);
    EXPECT_EQ(project.ProcessingCount, 0);
}

// A Doxygen-like site: every page repeats a navigation list and lists members of other
// pages with fragments, so most links lead to pages already seen; pictures and a style sheet.
void WriteDenseSite(const std::string& root, int pages) {
    std::uint32_t seed = 28;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    auto name = [](int i) { return i == 0 ? std::string("index.html") : "ref/page" + std::to_string(i) + ".html"; };
    for (int i = 0; i < pages; ++i) {
        const std::string prefix = i == 0 ? "" : "../";
        std::string html = "<html><head><link rel=\"stylesheet\" href=\"" + prefix + "style.css\"></head><body>\n<ul>";
        for (int n = 0; n < 40 && n < pages; ++n) html += "<li><a href=\"" + prefix + name(n) + "\">nav</a></li>";
        html += "</ul>\n<table>";
        for (int c : {2 * i + 1, 2 * i + 2})
            if (c < pages) html += "<tr><td><a href=\"" + prefix + name(c) + "\">child</a></td></tr>\n";
        for (int m = 0; m < 150; ++m)
            html += "<tr><td><a class=\"el\" href=\"" + prefix + name(static_cast<int>(next() % pages)) + "#a" +
                    std::to_string(next()) + "\">member</a></td></tr>\n";
        html += "</table><img src=\"" + prefix + "img/p" + std::to_string(next() % 7) + ".png\"></body></html>\n";
        ASSERT_TRUE(WriteFile(root + "/" + name(i), html));
    }
    ASSERT_TRUE(WriteFile(root + "/style.css", "body { background: url(img/p0.png) }\n"));
    for (int p = 0; p < 7; ++p)
        ASSERT_TRUE(WriteFile(root + "/img/p" + std::to_string(p) + ".png", std::string(300 + p, 'x')));
}

// Every file under dir (relative name to contents).
std::map<std::string, std::string> FilesUnder(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file()) files[fs::relative(entry.path(), dir).string()] = ReadFile(entry.path().string());
    return files;
}

TEST_F(AnalysisThreadsTest, DenseSiteStoresTheSameWithOneAndWithSeveralThreads) {
    analysis::InstallAnalysis();
    WriteDenseSite(Site(), 160);
    StartNginx();
    struct Run {
        std::map<std::string, std::string> files;
        std::vector<std::string> map;
    };
    auto mirror = [&](int threads, const std::string& folderName) {
        Run run;
        store::ProjectFolder& folder = tree_.AddFolder(folderName);
        folder.Dir = Store() + "/" + folderName + "/";
        auto made = std::make_unique<store::Project>();
        made->IID = tree_.TakeID();
        made->URL = Url("/index.html");
        made->Lev = 60;
        made->RSrvsBx = 1;  // the starting server only
        // A file count the site exceeds: which files are stored depends on the queue's order.
        made->LimBNumber = true;
        made->LimNumber = 120;
        store::Project& project = tree_.AddProject(folder, std::move(made));
        auto queue = MakeQueue(1);
        queue->SetAnalysisThreads(threads);
        queue->OnItemStored = [](engine::QueueManager&, engine::DownloadRecord& r) {
            if (r.Project && engine::FileExists(r.FName)) engine::AddToMap(*r.Project, r.FName);
        };
        queue->ClearSeen();
        EXPECT_TRUE(queue->StartProject(project));
        EXPECT_TRUE(RunIdle(*queue, 300000));
        queue.reset();
        run.files = FilesUnder(folder.Dir);
        const std::string prefix = folder.Dir;
        for (std::string path : engine::GetMap(project).Items()) {
            if (path.rfind(prefix, 0) == 0) path.erase(0, prefix.size());
            run.map.push_back(path);
        }
        return run;
    };
    // One connection: records are fetched in the queue's order, so a record queued out of
    // turn changes which files the limit lets in.
    const Run one = mirror(1, "one");
    const Run several = mirror(4, "several");
    ASSERT_GE(one.files.size(), 100u);
    int descriptions = 0;
    for (const auto& [name, text] : one.files) {
        auto it = several.files.find(name);
        ASSERT_NE(it, several.files.end()) << name;
        EXPECT_EQ(it->second, text) << name;
        if (fs::path(name).filename() == "Descr.QV3") ++descriptions;
    }
    EXPECT_EQ(one.files.size(), several.files.size());
    EXPECT_GE(descriptions, 1);
    EXPECT_EQ(one.map, several.map);
    EXPECT_GE(one.map.size(), 100u);
}

}  // namespace
}  // namespace qm::test
