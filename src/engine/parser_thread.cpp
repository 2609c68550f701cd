// The document-analysis thread and the bridge between the analysis routine and the queue.
#include "engine/parser_thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
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
    QueueSink(QueueManager& queue, std::vector<std::string>* outlinks) : queue_(queue), outlinks_(outlinks) {}

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
        queue->PostToMain([queue, text] { queue->ReportMessage(text, false); });
    }

    std::string stopText_;

private:
    static constexpr std::size_t kBatchSize = 256;
    static constexpr std::size_t kMaxOutlinks = 100000;
    QueueManager& queue_;
    std::vector<std::string>* outlinks_;  // the analysed page's links, for its web archive
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

AnalysisThread::AnalysisThread(QueueManager& owner) : owner_(owner) {
    thread_ = std::thread([this] { Run(); });
}

AnalysisThread::~AnalysisThread() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void AnalysisThread::Give(std::unique_ptr<DownloadRecord> record, int priority) {
    inFlight_.push_back(record ? static_cast<const void*>(record->Project) : nullptr);
    auto settings = std::make_unique<const SettingsSnapshot>(TakeSettingsSnapshot(record ? record->Project : nullptr));
    {
        std::lock_guard<std::mutex> lock(mutex_);
        inbox_.push_back(Given{std::move(record), std::move(settings), priority});
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
        inbox_.clear();
    }
    // The records not started are always the newest given.
    inFlight_.erase(inFlight_.end() - static_cast<std::ptrdiff_t>(back.size()), inFlight_.end());
    return back;
}

void AnalysisThread::Run() {
    for (;;) {
        Given next;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || !inbox_.empty(); });
            if (inbox_.empty()) return;  // asked to end, and nothing left to analyse
            next = std::move(inbox_.front());
            inbox_.pop_front();
        }
        if (next.priority != appliedPriority_) {
            // Raising the priority needs privileges; a refusal leaves the thread at normal.
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), NiceFor(next.priority));
            appliedPriority_ = next.priority;
        }
        if (next.record) Analyse(std::move(next.record), *next.settings);
    }
}

void AnalysisThread::Analyse(std::unique_ptr<DownloadRecord> record, const SettingsSnapshot& settings) {
    record->Parser = this;
    QueueSink sink(owner_, record->Outlinks.get());
    std::string stopText = AnalyseInto(*record, settings, sink);
    if (record->AnalysisDeletesTemp) {
        RemoveFile(record->Temp);
        record->Temp.clear();
    }
    record->Parser = nullptr;
    owner_.AnalysisFinished(std::move(record), std::move(stopText), sink.TakePending());
}

}  // namespace qm::engine
