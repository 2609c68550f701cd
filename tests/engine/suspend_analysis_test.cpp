// Suspend To File while pages are under analysis: the file holds every link the pages have,
// the same as a run that was left to finish its analysis.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "engine/analysis_hook.h"
#include "engine/get_rec.h"
#include "engine/normalise.h"
#include "engine/queue_file.h"
#include "engine/queue_manager.h"
#include "platform/event_loop.h"
#include "store/folder.h"
#include "store/options.h"
#include "store/project.h"
#include "store/project_tree.h"
#include "support/peers.h"

namespace qm::test {
namespace {

// A page of n distinct links under the folder named tag.
std::string Page(const std::string& tag, int n) {
    std::string page = "<html><body>\n";
    for (int i = 0; i < n; ++i) page += "<a href=\"" + tag + "/" + std::to_string(i) + ".html\">x</a>\n";
    return page + "</body></html>\n";
}

class SuspendAnalysisTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::InitEventLoop();
        dir_ = MakeTempDir("suspendanalysis");
        store::Options().Reset();
        store::Options().PathPrefix = dir_ + "/store/";
        analysis::InstallAnalysis();
        store::ProjectFolder& folder = tree_.AddFolder("Suspend");
        folder.Dir = dir_ + "/store/";
        auto made = std::make_unique<store::Project>();
        made->IID = tree_.TakeID();
        made->URL = "http://127.0.0.1:9/";  // nothing listens there; nothing is fetched anyway
        made->Lev = 3;
        project_ = &tree_.AddProject(folder, std::move(made));
        for (const auto& [tag, n] : kPages) ASSERT_TRUE(WriteFile(dir_ + "/" + tag + ".html", Page(tag, n)));
    }
    void TearDown() override {
        engine::SetAnalyseFunction(nullptr);
        store::Options().Reset();
    }

    // Hands one page to the queue for analysis.
    void Analyse(engine::QueueManager& queue, const std::string& tag) {
        auto page = std::make_unique<engine::DownloadRecord>();
        page->Project = project_;
        page->URL = "http://127.0.0.1:9/" + tag + ".html";
        page->Lev = 3;
        ASSERT_TRUE(engine::Normalise(*page));
        ++project_->ProcessingCount;
        queue.QueueForAnalysis(std::move(page), dir_ + "/" + tag + ".html", "", false);
    }

    static std::vector<std::string> Sorted(std::vector<std::string> urls) {
        std::sort(urls.begin(), urls.end());
        return urls;
    }

    // The big page is under analysis when the suspend comes, the other one given to the
    // thread behind it.
    const std::vector<std::pair<std::string, int>> kPages = {{"big", 200000}, {"next", 5000}};
    std::string dir_;
    store::ProjectTree tree_;
    store::Project* project_ = nullptr;
};

TEST_F(SuspendAnalysisTest, TheFileHoldsEveryLinkOfThePagesUnderAnalysis) {
    // Left to finish: the links every page has.
    std::vector<std::string> finished;
    {
        engine::QueueManager queue(1);
        queue.SetSuspended(true);
        for (const auto& page : kPages) Analyse(queue, page.first);
        ASSERT_TRUE(platform::RunUntil([&] { return project_->ProcessingCount == 0; }, 300000));
        for (const auto& record : queue.Queue()) finished.push_back(record->URL);
        queue.StopAll();
    }
    ASSERT_EQ(finished.size(), std::size_t(200000 + 5000));

    // Suspended while the big page is analysed.
    const std::string file = dir_ + "/queue.qmq";
    {
        engine::QueueManager queue(1);
        queue.SetSuspended(true);
        Analyse(queue, "big");
        Analyse(queue, "next");
        // The first of the big page's links are queued: its analysis is under way.
        ASSERT_TRUE(platform::RunUntil([&] { return queue.QueueCount() > 0; }, 300000));
        EXPECT_LT(queue.QueueCount(), 200000u);
        std::string error;
        ASSERT_TRUE(engine::SuspendToFile(queue, file, error)) << error;
        EXPECT_EQ(queue.QueueCount(), 0u);
        EXPECT_TRUE(queue.Idle());
        EXPECT_EQ(project_->ProcessingCount, 0);
    }

    // Resumed: the same links, each once.
    engine::ResumeReport report;
    std::vector<std::unique_ptr<engine::DownloadRecord>> records;
    ASSERT_TRUE(engine::ReadQueueFile(tree_, file, report, records));
    EXPECT_EQ(report.skipped, 0);
    std::vector<std::string> resumed;
    for (const auto& record : records) resumed.push_back(record->URL);
    EXPECT_EQ(resumed.size(), finished.size());
    EXPECT_TRUE(Sorted(resumed) == Sorted(finished));
    std::remove(file.c_str());
}

}  // namespace
}  // namespace qm::test
