// The analysis thread reads the settings copied when a page was given to it, while the main
// thread changes the Project (properties OK), its folder (folder properties) and the program
// options (options OK) as often as it can. Built with the thread sanitizer as well, which
// reports any read of the originals from the analysis thread.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "analysis/analysis.h"
#include "engine/analysis_hook.h"
#include "engine/get_rec.h"
#include "engine/normalise.h"
#include "engine/queue_manager.h"
#include "platform/event_loop.h"
#include "store/folder.h"
#include "store/options.h"
#include "store/project.h"
#include "store/project_tree.h"
#include "support/peers.h"

namespace qm::test {
namespace {

constexpr int kPageLinks = 40000;
constexpr int kImages = 10000;
constexpr int kOtherServer = 500;

// One page: page links, pictures, links to another server, all distinct.
std::string BigPage() {
    std::string page = "<html><body>\n";
    for (int i = 0; i < kPageLinks; ++i) page += "<a href=\"d/" + std::to_string(i) + ".html?v=1\">x</a>\n";
    for (int i = 0; i < kImages; ++i) page += "<img src=\"i/" + std::to_string(i) + ".gif\">\n";
    for (int i = 0; i < kOtherServer; ++i)
        page += "<a href=\"http://elsewhere.test/" + std::to_string(i) + ".html\">y</a>\n";
    return page + "</body></html>\n";
}

TEST(SettingsRaceTest, EditsOnTheMainThreadDoNotReachAPageUnderAnalysis) {
    platform::InitEventLoop();
    const std::string dir = MakeTempDir("settingsrace");
    store::Options().Reset();
    store::Options().PathPrefix = dir + "/prefix/";
    store::Options().ConnRetries = 2;
    analysis::InstallAnalysis();

    store::ProjectTree tree;
    store::ProjectFolder& folder = tree.AddFolder("Race");
    folder.Dir = dir + "/store/";
    auto made = std::make_unique<store::Project>();
    made->IID = tree.TakeID();
    made->URL = "http://127.0.0.1:9/index.html";
    made->Lev = 2;
    made->RSrvsBx = 1;  // the starting server only
    store::Project& project = tree.AddProject(folder, std::move(made));

    const std::string source = dir + "/index.html";
    ASSERT_TRUE(WriteFile(source, BigPage()));
    auto page = std::make_unique<engine::DownloadRecord>();
    page->Project = &project;
    page->URL = project.URL;
    page->Lev = project.Lev;
    ASSERT_TRUE(engine::Normalise(*page));
    const std::string target = page->FName;

    engine::QueueManager queue(1);
    queue.SetSuspended(true);  // nothing is fetched
    bool analysed = false;
    queue.OnItemStored = [&](engine::QueueManager&, engine::DownloadRecord&) { analysed = true; };
    ++project.ProcessingCount;
    queue.QueueForAnalysis(std::move(page), source, target, true);  // rewritten as well

    // What the page was given with, and what the edits flip between.
    store::Project original;
    original.Assign(project);
    store::Project edited;
    edited.Assign(project);
    edited.RSrvsBx = 2;
    edited.RSrvsIn = "nothing-matches";
    for (store::FileCategory& category : edited.Categories)
        category.Flag(store::CategoryFlag::Excluded) = true;  // all excluded
    edited.EnableScript = !edited.EnableScript;
    const store::ProgramOptions originalOptions = store::Options();
    int edits = 0;
    while (!analysed) {
        const bool odd = ++edits % 2 == 1;
        project.Assign(odd ? edited : original);                                           // Project properties OK
        folder.Dir = odd ? dir + "/moved/" : dir + "/store/";                              // folder properties OK
        store::Options().PathPrefix = odd ? dir + "/other/" : originalOptions.PathPrefix;  // options OK
        store::Options().DefaultDoc = odd ? "index.html" : originalOptions.DefaultDoc;
        store::Options().ExtLast = odd;
        store::Options().ConnRetries = odd ? 7 : originalOptions.ConnRetries;
        store::Options().DiskSpace = odd ? 1 : originalOptions.DiskSpace;
        queue.RunPendingCalls();
        std::this_thread::yield();
    }
    queue.RunPendingCalls();
    EXPECT_GT(edits, 1);
    project.Assign(original);
    folder.Dir = dir + "/store/";
    store::Options() = originalOptions;

    // Every link the settings of the hand-over admit, named as those settings name them.
    auto categoryOf = [&](const std::string& url, bool embedded) {
        engine::DownloadRecord probe;
        probe.Project = &project;
        probe.URL = url;
        probe.IsImage = embedded;
        EXPECT_TRUE(engine::Normalise(probe)) << url;
        return probe.Category;
    };
    const store::FileCategory* pageCategory = categoryOf("http://127.0.0.1:9/d/0.html?v=1", false);
    const store::FileCategory* pictureCategory = categoryOf("http://127.0.0.1:9/i/0.gif", true);
    EXPECT_EQ(queue.QueueCount(), std::size_t(kPageLinks + kImages));
    int pages = 0, pictures = 0;
    for (const auto& record : queue.Queue()) {
        EXPECT_EQ(record->FName.rfind(dir + "/store/127.0.0.1+9/", 0), 0u) << record->FName;
        EXPECT_EQ(record->ConnTries, 2);
        EXPECT_EQ(record->Project, &project);
        ASSERT_NE(record->Category, nullptr);
        if (record->URL.find("/d/") != std::string::npos) {
            ++pages;
            EXPECT_EQ(record->Category, pageCategory) << record->URL;
        } else {
            ++pictures;
            EXPECT_EQ(record->Category, pictureCategory) << record->URL;
        }
    }
    EXPECT_EQ(pages, kPageLinks);
    EXPECT_EQ(pictures, kImages);
    ASSERT_FALSE(queue.Queue().empty());
    // A name made from a query keeps the extension where the options of the hand-over put it.
    EXPECT_NE(queue.Queue().front()->FName.find("0.html@v=1"), std::string::npos) << queue.Queue().front()->FName;
    queue.StopAll();
    engine::SetAnalyseFunction(nullptr);
    store::Options().Reset();
}

}  // namespace
}  // namespace qm::test
