// The queue without network traffic: the analysis list under LowMemory, FlushAnalysis, and
// stopping while the analysis thread is handing records to the main thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "engine/analysis_hook.h"
#include "engine/get_rec.h"
#include "engine/normalise.h"
#include "engine/admission.h"
#include "engine/normalise_memo.h"
#include "engine/settings_snapshot.h"
#include "engine/queue_manager.h"
#include "platform/event_loop.h"
#include "store/options.h"
#include "store/project.h"
#include "store/project_tree.h"
#include "support/peers.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

std::atomic<int> g_found{0};
std::atomic<int> g_kept{0};
// ManyLinks holds still after finding this many links of one document until released, so that
// a test can act while a page is certainly in the middle of its analysis. Counted per document:
// other documents may be analysed on other threads meanwhile.
std::atomic<int> g_pauseAt{-1};
std::atomic<bool> g_paused{false};
std::atomic<bool> g_released{false};

// Waits until the analysis reaches the pause; a paused thread sends no events, so the wait
// looks again every few milliseconds.
bool WaitForPause() {
    for (int slice = 0; slice < 2000; ++slice)
        if (platform::RunUntil([] { return g_paused.load(); }, 10)) return true;
    return false;
}

// Finds `count` links per document (addresses numbered from the source's name).
void ManyLinks(engine::DownloadRecord& record, const std::string& source, const std::string&, bool,
               const engine::SettingsSnapshot& settings, engine::AnalysisSink& sink) {
    int count = std::stoi(ReadFile(source));
    for (int i = 0; i < count; ++i) {
        auto rec = std::make_unique<engine::DownloadRecord>();
        rec->Project = record.Project;
        rec->Lev = 0;
        rec->Img = rec->Srv = true;
        rec->URL = "http://127.0.0.1:9/" + fs::path(source).filename().string() + "/" + std::to_string(i) + ".txt";
        engine::AdmissionResult why;
        if (!engine::Normalise(*rec, settings, why)) continue;
        ++g_found;
        if (i + 1 == g_pauseAt.load()) {
            g_paused = true;
            for (int waited = 0; !g_released.load() && waited < 60000; ++waited)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (sink.FoundRecord(std::move(rec))) ++g_kept;
    }
}

// Finds `count` links per document, the same ones in every document, normalised through the
// thread's memo as the real analysis does.
void SameLinks(engine::DownloadRecord& record, const std::string& source, const std::string&, bool,
               const engine::SettingsSnapshot& settings, engine::AnalysisSink& sink) {
    int count = std::stoi(ReadFile(source));
    engine::NormaliseMemo& memo = engine::ThreadNormaliseMemo();
    memo.Prepare(settings);
    for (int i = 0; i < count; ++i) {
        auto rec = std::make_unique<engine::DownloadRecord>();
        rec->Project = record.Project;
        rec->URL = "http://127.0.0.1:9/same/" + std::to_string(i) + ".txt";
        if (!memo.Normalise(*rec)) continue;
        ++g_found;
        if (sink.FoundRecord(std::move(rec))) ++g_kept;
    }
}

class LocalQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::InitEventLoop();
        dir_ = MakeTempDir("localqueue");
        store::Options().Reset();
        store::Options().PathPrefix = dir_ + "/store/";
        engine::SetAnalyseFunction(&ManyLinks);
        folder_ = &tree_.AddFolder("Local");
        folder_->Dir = dir_ + "/store/";
        auto p = std::make_unique<store::Project>();
        p->IID = tree_.TakeID();
        p->URL = "http://127.0.0.1:9/";
        p->Lev = 2;
        project_ = &tree_.AddProject(*folder_, std::move(p));
        g_found = g_kept = 0;
        g_pauseAt = -1;
        g_released = false;
        g_paused = false;
    }
    void TearDown() override {
        engine::SetAnalyseFunction(nullptr);
        store::Options().Reset();
    }
    // A record waiting for analysis of a document that yields n links.
    std::unique_ptr<engine::DownloadRecord> Document(const std::string& name, int n) {
        auto rec = std::make_unique<engine::DownloadRecord>();
        rec->Project = project_;
        rec->Lev = 1;
        rec->URL = "http://127.0.0.1:9/" + name;
        rec->Temp = dir_ + "/" + name;
        EXPECT_TRUE(WriteFile(rec->Temp, std::to_string(n)));
        ++project_->ProcessingCount;
        return rec;
    }
    // A second Project in the same folder.
    store::Project* AddOtherProject() {
        auto other = std::make_unique<store::Project>();
        other->IID = tree_.TakeID();
        other->URL = "http://127.0.0.1:9/";
        other->Lev = 2;
        return &tree_.AddProject(*folder_, std::move(other));
    }
    std::string dir_;
    store::ProjectTree tree_;
    store::ProjectFolder* folder_ = nullptr;
    store::Project* project_ = nullptr;
};

TEST_F(LocalQueueTest, FlushAnalysisQueuesTheLinksFirst) {
    engine::QueueManager q(2);
    int stored = 0;
    q.OnItemStored = [&](engine::QueueManager&, engine::DownloadRecord&) { ++stored; };
    q.SetSuspended(true);
    // With the analysis thread not yet started the records wait in the list.
    store::Options().LowMemory = true;
    for (int i = 0; i < 3; ++i) {
        auto doc = Document("d" + std::to_string(i), 400);
        std::string temp = doc->Temp;
        q.QueueForAnalysis(std::move(doc), temp, "", true);
    }
    q.FlushAnalysis();
    // Whatever the thread had taken is finished by its messages.
    ASSERT_TRUE(platform::RunUntil([&] { return q.AnalysisCount() == 0 && stored == 3; }, 10000));
    EXPECT_EQ(q.QueueCount(), 1200u);
    EXPECT_EQ(project_->QueuedCount, 1200);
    EXPECT_EQ(project_->ProcessingCount, 0);
    EXPECT_EQ(g_kept.load(), 1200);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(fs::exists(dir_ + "/d" + std::to_string(i)));

    // 1000 records or more queued: under LowMemory the next document waits.
    auto doc = Document("late", 5);
    std::string temp = doc->Temp;
    q.QueueForAnalysis(std::move(doc), temp, "", true);
    platform::RunUntil([] { return false; }, 200);
    EXPECT_EQ(q.AnalysisCount(), 1u);
    q.StopAll();
    EXPECT_EQ(q.QueueCount(), 0u);
    EXPECT_EQ(q.AnalysisCount(), 0u);
    EXPECT_EQ(project_->QueuedCount, 0);
    EXPECT_EQ(project_->ProcessingCount, 0);
    EXPECT_FALSE(fs::exists(temp));
}

TEST_F(LocalQueueTest, WithoutLowMemoryAnalysisGoesOnAndSeenAddressesAreDropped) {
    store::Options().LowMemory = false;
    engine::QueueManager q(1);
    q.SetSuspended(true);
    for (int i = 0; i < 1100; ++i) {
        auto rec = std::make_unique<engine::DownloadRecord>();
        rec->Project = project_;
        rec->URL = "http://127.0.0.1:9/pre/" + std::to_string(i);
        ASSERT_TRUE(engine::Normalise(*rec));
        q.AddRecord(std::move(rec), true, true);
    }
    auto doc = Document("again", 10);
    std::string temp = doc->Temp;
    q.QueueForAnalysis(std::move(doc), temp, "", true);
    ASSERT_TRUE(platform::RunUntil([&] { return q.Idle() || q.QueueCount() == 1110; }, 10000));
    platform::RunUntil([&] { return project_->ProcessingCount == 0; }, 5000);
    EXPECT_EQ(q.QueueCount(), 1110u);
    // The same document again finds only addresses already seen.
    auto again = Document("again", 10);
    temp = again->Temp;
    q.QueueForAnalysis(std::move(again), temp, "", true);
    ASSERT_TRUE(platform::RunUntil([&] { return project_->ProcessingCount == 0; }, 10000));
    EXPECT_EQ(q.QueueCount(), 1110u);
    EXPECT_EQ(g_found.load(), 20);
    // Every record was handed over; the queue itself dropped the ten it had seen before.
    EXPECT_EQ(g_kept.load(), 20);
    q.StopAll();
}

TEST_F(LocalQueueTest, StoppingWhileTheThreadHandsOverRecordsEndsCleanly) {
    store::Options().LowMemory = false;
    for (int round = 0; round < 5; ++round) {
        auto q = std::make_unique<engine::QueueManager>(1);
        q->SetSuspended(true);
        q->ClearSeen();
        g_found = g_kept = 0;
        auto doc = Document("big" + std::to_string(round), 20000);
        std::string temp = doc->Temp;
        q->QueueForAnalysis(std::move(doc), temp, "", true);
        // Let the thread get going, then stop while it is sending.
        platform::RunUntil([&] { return g_kept.load() > 50 * (round + 1); }, 10000);
        q->StopAll();
        EXPECT_EQ(q->QueueCount(), 0u);
        ASSERT_TRUE(platform::RunUntil([&] { return q->Idle(); }, 10000));
        EXPECT_EQ(project_->QueuedCount, 0);
        EXPECT_EQ(project_->ProcessingCount, 0);
        EXPECT_LT(g_kept.load(), 20000);
        q.reset();
    }
}

TEST_F(LocalQueueTest, StoppingAProjectTakesBackWhatTheThreadWasGivenAhead) {
    store::Options().LowMemory = false;
    store::Project* b = AddOtherProject();
    auto documentOf = [&](store::Project* project, const std::string& name, int n) {
        auto rec = Document(name, n);
        --project_->ProcessingCount;
        rec->Project = project;
        ++project->ProcessingCount;
        return rec;
    };
    engine::QueueManager q(1);
    q.SetSuspended(true);
    int storedB = 0;
    q.OnItemStored = [&](engine::QueueManager&, engine::DownloadRecord& r) {
        if (r.Project == b) ++storedB;
    };
    // A long document of the first Project, then short ones of both: the thread holds the
    // short ones in its inbox while it works on the long one.
    std::vector<std::string> temps;
    auto queue = [&](std::unique_ptr<engine::DownloadRecord> rec) {
        temps.push_back(rec->Temp);
        std::string temp = rec->Temp;
        q.QueueForAnalysis(std::move(rec), temp, "", true);
    };
    g_pauseAt = 1000;
    queue(documentOf(project_, "long", 300000));
    for (int i = 0; i < 6; ++i) {
        queue(documentOf(b, "b" + std::to_string(i), 7));
        queue(documentOf(project_, "a" + std::to_string(i), 5));
    }
    ASSERT_TRUE(WaitForPause());
    // Released just before the stop, which waits for the thread to leave the Project's
    // document: 299,000 links are left of it.
    g_released = true;
    q.StopProject(*project_);
    ASSERT_TRUE(
        platform::RunUntil([&] { return q.AnalysisCount() == 0 && b->ProcessingCount == 0 && storedB == 6; }, 20000));
    // Nothing of the stopped Project is left or added afterwards; the other Project's
    // documents were all analysed, each once.
    EXPECT_EQ(project_->QueuedCount, 0);
    EXPECT_EQ(project_->ProcessingCount, 0);
    EXPECT_EQ(b->ProcessingCount, 0);
    EXPECT_EQ(storedB, 6);
    EXPECT_EQ(b->QueuedCount, 6 * 7);
    EXPECT_EQ(q.QueueCount(), 6u * 7u);
    for (const auto& t : temps) EXPECT_FALSE(fs::exists(t)) << t;
    q.StopAll();
}

// Stopping one Project while the thread analyses another's page: that page keeps every link.
TEST_F(LocalQueueTest, StoppingAProjectDropsNothingOfAnotherProjectsPage) {
    store::Options().LowMemory = false;
    store::Project* b = AddOtherProject();
    engine::QueueManager q(1);
    q.SetSuspended(true);
    // Many queued records of the first Project, so that stopping it takes a while.
    auto first = Document("first", 40000);
    std::string temp = first->Temp;
    q.QueueForAnalysis(std::move(first), temp, "", true);
    ASSERT_TRUE(platform::RunUntil([&] { return project_->ProcessingCount == 0; }, 20000));
    ASSERT_EQ(project_->QueuedCount, 40000);
    // A long page of the other Project, stopped in the middle of.
    auto page = Document("page", 400000);
    --project_->ProcessingCount;
    page->Project = b;
    ++b->ProcessingCount;
    temp = page->Temp;
    g_pauseAt = 100000;
    q.QueueForAnalysis(std::move(page), temp, "", true);
    ASSERT_TRUE(WaitForPause());
    const int foundAtPause = g_found.load();
    q.StopProject(*project_);
    EXPECT_EQ(g_found.load(), foundAtPause) << "the page should still be under analysis";
    g_released = true;
    ASSERT_TRUE(platform::RunUntil([&] { return b->ProcessingCount == 0; }, 60000));
    EXPECT_EQ(project_->QueuedCount, 0);
    EXPECT_EQ(g_kept.load(), g_found.load());
    EXPECT_EQ(b->QueuedCount, 400000);
    EXPECT_EQ(q.QueueCount(), 400000u);
    q.StopAll();
}

// Addresses the thread handed over before reach the queue as known; once the queue forgets
// what it has seen, or a stop drops records unseen, they count as new again.
TEST_F(LocalQueueTest, AddressesHandedOverBeforeAreNewAgainAfterTheQueueForgets) {
    store::Options().LowMemory = false;
    engine::SetAnalyseFunction(&SameLinks);
    engine::QueueManager q(1);
    q.SetSuspended(true);
    auto analyse = [&](const std::string& name, int links) {
        auto doc = Document(name, links);
        std::string temp = doc->Temp;
        q.QueueForAnalysis(std::move(doc), temp, "", true);
        return platform::RunUntil([&] { return q.AnalysisCount() == 0 && project_->ProcessingCount == 0; }, 10000);
    };
    ASSERT_TRUE(analyse("first", 300));
    EXPECT_EQ(q.QueueCount(), 300u);
    ASSERT_TRUE(analyse("again", 300));
    EXPECT_EQ(q.QueueCount(), 300u);
    EXPECT_EQ(project_->QueuedCount, 300);

    // A stop empties the queue but keeps the seen addresses: they are not queued again.
    q.StopAll();
    EXPECT_EQ(q.QueueCount(), 0u);
    ASSERT_TRUE(analyse("after stop", 300));
    EXPECT_EQ(q.QueueCount(), 0u);

    // Forgotten: all of them are queued again, first time and in a later page.
    q.ClearSeen();
    ASSERT_TRUE(analyse("after clear", 300));
    EXPECT_EQ(q.QueueCount(), 300u);
    ASSERT_TRUE(analyse("after clear again", 350));
    EXPECT_EQ(q.QueueCount(), 350u);
    EXPECT_EQ(project_->QueuedCount, 350);
    q.StopAll();
}

TEST_F(LocalQueueTest, ALongRunOfDroppedRecordsNeedsNoDeepStack) {
    // With the file-count limit already reached every record is dropped when a connection
    // would take it, one after the other, without any transfer.
    project_->LimBNumber = true;
    project_->LimNumber = 0;
    engine::QueueManager q(3);
    q.SetSuspended(true);
    const int n = 60000;
    for (int i = 0; i < n; ++i) {
        auto rec = std::make_unique<engine::DownloadRecord>();
        rec->Project = project_;
        rec->URL = "http://127.0.0.1:9/many/" + std::to_string(i);
        ASSERT_TRUE(engine::Normalise(*rec));
        q.AddRecord(std::move(rec), true, true);
    }
    EXPECT_EQ(project_->QueuedCount, n);
    int finished = 0;
    project_->OnProjectChange = [&](store::Project&, store::ProjectChange change, std::int64_t) {
        if (change == store::ProjectChange::Finished) ++finished;
    };
    q.SetSuspended(false);
    EXPECT_EQ(q.QueueCount(), 0u);
    EXPECT_EQ(q.BusyConnections(), 0u);
    EXPECT_EQ(project_->QueuedCount, 0);
    EXPECT_EQ(project_->DoneCount, 0);
    EXPECT_GE(finished, 1);
    project_->OnProjectChange = nullptr;
    // Seen addresses stay seen, whatever their letter case.
    EXPECT_TRUE(q.Seen("HTTP://127.0.0.1:9/MANY/17"));
}

}  // namespace
}  // namespace qm::test
