// The document-analysis thread and the bridge between the analysis routine and the queue.
#include "engine/parser_thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <vector>

#include "engine/analysis_hook.h"
#include "engine/get_rec.h"
#include "engine/normalise_memo.h"
#include "engine/queue_manager.h"
#include "engine/settings_snapshot.h"
#include "engine/stored_files.h"
#include "platform/event_loop.h"

namespace qm::engine {

namespace {

// What the analysis routine hands back, routed to the main thread.
class QueueSink : public AnalysisSink {
public:
    QueueSink(QueueManager& queue, std::vector<std::string>* outlinks, AnalysisThread* threads = nullptr,
              std::uint64_t turn = 0)
        : queue_(queue), outlinks_(outlinks), threads_(threads), turn_(turn) {}

    bool FoundRecord(std::unique_ptr<DownloadRecord> record) override {
        if (!record) return false;
        if (outlinks_ && outlinks_->size() < kMaxOutlinks) outlinks_->push_back(record->URL);
        if (platform::IsMainThread()) {
            if (queue_.Dropping(record->Project)) return false;
            queue_.AddRecord(std::move(record), true, true);
            return true;
        }
        // A stopping queue (or Project) takes nothing: the record is dropped here, without
        // waiting for the main thread (which may be waiting for this thread to end).
        if (queue_.Dropping(record->Project)) return false;
        // An address this thread handed over before, in the queue's present generation, is
        // in the seen-address list already: the queue need not look it up.
        const std::uint64_t generation = queue_.SeenGeneration();
        if (ThreadNormaliseMemo().HandedOverBefore(*record, generation)) {
            if (!batch_.known.empty() && batch_.knownGeneration != generation) {
                // Known in an older generation: the queue decides about those itself.
                for (auto& r : batch_.known) batch_.found.push_back(std::move(r));
                batch_.known.clear();
            }
            batch_.knownGeneration = generation;
            batch_.known.push_back(std::move(record));
        } else {
            // Records go to the main thread in batches: one hand-over per page of links
            // instead of one per link. They reach the queue before any later message.
            batch_.found.push_back(std::move(record));
        }
        if (batch_.found.size() + batch_.known.size() >= kBatchSize) Flush();
        return true;
    }

    bool AlreadyHandedOver(const DownloadRecord& record, const store::Project* project) override {
        // On the main thread the queue's own list is at hand.
        if (platform::IsMainThread()) return false;
        const std::string* url =
            ThreadNormaliseMemo().HandedOverIn(record.URL, record.IsImage, project, queue_.SeenGeneration());
        if (!url) return false;
        // A stopping queue takes nothing, and the link counts as found all the same.
        if (queue_.Dropping(project)) return true;
        if (outlinks_ && outlinks_->size() < kMaxOutlinks) outlinks_->push_back(*url);
        return true;
    }

    // Hands the waiting records to the queue; the seen-address list is read and changed on
    // the main thread only.
    void Flush() {
        if (batch_.Empty()) return;
        if (queue_.StoppingAll()) {
            batch_ = FoundBatch{};
            return;
        }
        if (platform::IsMainThread()) {
            queue_.AddFoundRecords(batch_);
            return;
        }
        if (threads_)
            threads_->Hand(turn_, TakePending());
        else
            queue_.HandOverFound(TakePending());
    }

    // The records not yet handed over; the analysis thread sends them with its last message.
    FoundBatch TakePending() {
        FoundBatch taken = std::move(batch_);
        batch_ = FoundBatch{};
        return taken;
    }

    void Report(const std::string& text, bool stop) override {
        Flush();
        if (stop) {
            stopText_ = text;
            return;
        }
        QueueManager* queue = &queue_;
        auto post = [queue, text] { queue->PostToMain([queue, text] { queue->ReportMessage(text, false); }); };
        if (threads_)
            threads_->Deliver(turn_, post);
        else
            post();
    }

    std::string stopText_;

private:
    static constexpr std::size_t kBatchSize = 256;
    static constexpr std::size_t kMaxOutlinks = 100000;
    QueueManager& queue_;
    std::vector<std::string>* outlinks_;  // the analysed page's links, for its web archive
    AnalysisThread* threads_;             // on an analysis thread: what orders the results
    std::uint64_t turn_;                  // the number the analysed record was given as
    FoundBatch batch_;
};

int NiceFor(int priority) {
    switch (priority) {
    case 1: return 19;
    case 2: return 10;
    case 3: return 0;
    case 4: return -5;
    case 5: return -10;
    default: return 10;
    }
}

}  // namespace

namespace {

std::string AnalyseInto(DownloadRecord& record, const SettingsSnapshot& settings, QueueSink& sink) {
    AnalyseFunction fn = CurrentAnalyseFunction();
    fn(record, record.AnalysisSource, record.AnalysisTarget, record.AnalysisDeletesTemp, settings, sink);
    return sink.stopText_;
}

}  // namespace

std::string RunAnalysis(QueueManager& queue, DownloadRecord& record) {
    QueueSink sink(queue, record.Outlinks.get());
    const SettingsSnapshot settings = TakeSettingsSnapshot(record.Project);
    std::string stopText = AnalyseInto(record, settings, sink);
    sink.Flush();
    return stopText;
}

int DefaultAnalysisThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 4u));
}

AnalysisThread::AnalysisThread(QueueManager& owner, int threads) : owner_(owner) {
    threads = std::clamp(threads, 1, 4);
    for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { Run(); });
}

AnalysisThread::~AnalysisThread() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_)
        if (t.joinable()) t.join();
}

void AnalysisThread::Give(std::unique_ptr<DownloadRecord> record, int priority) {
    inFlight_.push_back(record ? static_cast<const void*>(record->Project) : nullptr);
    auto settings = std::make_unique<const SettingsSnapshot>(TakeSettingsSnapshot(record ? record->Project : nullptr));
    std::error_code error;
    const std::uintmax_t size = record ? std::filesystem::file_size(record->AnalysisSource, error) : 0;
    const std::uint64_t bytes = error ? 0 : static_cast<std::uint64_t>(size);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        inbox_.push_back(Given{nextTurn_++, std::move(record), std::move(settings), priority, bytes});
    }
    wake_.notify_one();
}

bool AnalysisThread::Holds(const void* project) const {
    return std::find(inFlight_.begin(), inFlight_.end(), project) != inFlight_.end();
}

void AnalysisThread::MarkDone() {
    if (!inFlight_.empty()) inFlight_.pop_front();
}

std::vector<std::unique_ptr<DownloadRecord>> AnalysisThread::TakeBackWaiting() {
    std::vector<std::unique_ptr<DownloadRecord>> back;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& g : inbox_) back.push_back(std::move(g.record));
        // The records not started are always the newest given: their numbers are given again.
        nextTurn_ -= inbox_.size();
        inbox_.clear();
    }
    inFlight_.erase(inFlight_.end() - static_cast<std::ptrdiff_t>(back.size()), inFlight_.end());
    return back;
}

bool AnalysisThread::KeepLocked(std::uint64_t turn, std::function<void()>& post, bool done) {
    if (turn == turn_) return false;
    Kept& kept = kept_[turn];
    kept.posts.push_back(std::move(post));
    kept.done = done;
    return true;
}

void AnalysisThread::AdvanceLocked() {
    ++turn_;
    for (auto it = kept_.find(turn_); it != kept_.end(); it = kept_.find(turn_)) {
        Kept kept = std::move(it->second);
        kept_.erase(it);
        for (auto& post : kept.posts) post();
        // A record still under analysis hands over the rest itself.
        if (!kept.done) break;
        ++turn_;
    }
    turnChanged_.notify_all();
    wake_.notify_all();  // the record whose turn it is now may start
}

void AnalysisThread::Hand(std::uint64_t turn, FoundBatch batch) {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (turn != turn_) {
            const std::size_t records = batch.found.size() + batch.known.size();
            auto handed = std::make_shared<FoundBatch>(std::move(batch));
            QueueManager* queue = &owner_;
            std::function<void()> post = [queue, handed] {
                queue->PostToMain([queue, handed] { queue->AddFoundRecords(*handed); });
            };
            KeepLocked(turn, post, false);
            kept_[turn].records += records;
            // A page of a million links waits here for its turn rather than piling them up;
            // a stop drops what is handed over, and the short steps notice it.
            auto waiting = [this, turn] {
                if (turn == turn_ || owner_.StoppingAll()) return false;
                auto it = kept_.find(turn);
                return it != kept_.end() && it->second.records > kMaxKeptRecords;
            };
            while (waiting()) turnChanged_.wait_for(lock, std::chrono::milliseconds(10));
            return;
        }
    }
    // The oldest record's finds go to the queue at once, so no other thread's can be due.
    owner_.HandOverFound(std::move(batch));
}

void AnalysisThread::Deliver(std::uint64_t turn, std::function<void()> post) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!KeepLocked(turn, post, false)) post();
}

void AnalysisThread::Run() {
    int appliedPriority = -1;
    for (;;) {
        Given next;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            // The record whose turn it is always starts: the others may be waiting for it.
            auto startable = [this] {
                if (inbox_.empty()) return false;
                const Given& front = inbox_.front();
                return front.turn == turn_ || bytesAnalysed_ == 0 || bytesAnalysed_ + front.bytes <= kMaxBytesAtOnce;
            };
            wake_.wait(lock, [&] { return (quit_ && inbox_.empty()) || startable(); });
            if (inbox_.empty()) return;  // asked to end, and nothing left to analyse
            next = std::move(inbox_.front());
            inbox_.pop_front();
            bytesAnalysed_ += next.bytes;
        }
        if (next.priority != appliedPriority) {
            // Raising the priority needs privileges; a refusal leaves the thread at normal.
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), NiceFor(next.priority));
            appliedPriority = next.priority;
        }
        if (next.record) {
            Analyse(next.turn, std::move(next.record), *next.settings);
        } else {
            std::lock_guard<std::mutex> lock(mutex_);
            std::function<void()> nothing = [] {};
            if (!KeepLocked(next.turn, nothing, true)) AdvanceLocked();
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            bytesAnalysed_ -= next.bytes;
        }
        wake_.notify_all();
    }
}

void AnalysisThread::Analyse(std::uint64_t turn, std::unique_ptr<DownloadRecord> record,
                             const SettingsSnapshot& settings) {
    record->Parser = this;
    QueueSink sink(owner_, record->Outlinks.get(), this, turn);
    std::string stopText = AnalyseInto(*record, settings, sink);
    if (record->AnalysisDeletesTemp) {
        RemoveFile(record->Temp);
        record->Temp.clear();
    }
    record->Parser = nullptr;
    // Handed back at its turn, with the records its last part found.
    struct Results {
        std::unique_ptr<DownloadRecord> record;
        std::string stopText;
        FoundBatch found;
    };
    auto results = std::make_shared<Results>(Results{std::move(record), std::move(stopText), sink.TakePending()});
    QueueManager* queue = &owner_;
    std::function<void()> post = [queue, results] {
        queue->AnalysisFinished(std::move(results->record), std::move(results->stopText), std::move(results->found));
    };
    std::lock_guard<std::mutex> lock(mutex_);
    if (KeepLocked(turn, post, true)) return;
    post();
    AdvanceLocked();
}

}  // namespace qm::engine
