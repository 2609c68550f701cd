// The document-analysis thread and the bridge between the analysis routine and the queue.
#include "engine/parser_thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <vector>

#include "engine/analysis_hook.h"
#include "engine/get_rec.h"
#include "engine/queue_manager.h"
#include "engine/stored_files.h"
#include "platform/event_loop.h"

namespace qm {

namespace {

// What the analysis routine hands back, routed to the main thread.
class QueueSink : public AnalysisSink {
public:
    explicit QueueSink(TQueueManager& queue) : queue_(queue) {}

    bool FoundRecord(std::unique_ptr<TGetRec> record) override {
        if (!record) return false;
        if (platform::IsMainThread()) {
            if (queue_.Stopping()) return false;
            queue_.AddRecord(std::move(record), true, true);
            return true;
        }
        // A stopping queue takes nothing: the record is dropped here, without waiting for
        // the main thread (which may be waiting for this thread to end).
        if (queue_.Stopping()) return false;
        // Records go to the main thread in batches: one hand-over per page of links instead of
        // one per link. They keep their order, and reach the queue before any later message.
        pending_.push_back(std::move(record));
        if (pending_.size() >= kBatchSize) Flush();
        return true;
    }

    // Hands the waiting records to the queue; the seen-address list is read and changed on
    // the main thread only.
    void Flush() {
        if (pending_.empty()) return;
        if (queue_.Stopping()) {
            pending_.clear();
            return;
        }
        queue_.CallOnMain([&] { queue_.AddFoundRecords(pending_); });
        pending_.clear();
    }

    // The records not yet handed over; the analysis thread sends them with its last message.
    std::vector<std::unique_ptr<TGetRec>> TakePending() { return std::move(pending_); }

    void Report(const std::string& text, bool stop) override {
        Flush();
        if (stop) {
            stopText_ = text;
            return;
        }
        queue_.CallOnMain([&] { queue_.ReportMessage(text, false); });
    }

    std::string stopText_;

private:
    static constexpr std::size_t kBatchSize = 256;
    TQueueManager& queue_;
    std::vector<std::unique_ptr<TGetRec>> pending_;
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

std::string AnalyseInto(TGetRec& record, QueueSink& sink) {
    AnalyseFunction fn = CurrentAnalyseFunction();
    fn(record, record.AnalysisSource, record.AnalysisTarget, record.AnalysisDeletesTemp, sink);
    return sink.stopText_;
}

}  // namespace

std::string RunAnalysis(TQueueManager& queue, TGetRec& record) {
    QueueSink sink(queue);
    std::string stopText = AnalyseInto(record, sink);
    sink.Flush();
    return stopText;
}

TParser::TParser(TQueueManager& owner) : owner_(owner) {
    thread_ = std::thread([this] { Run(); });
}

TParser::~TParser() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void TParser::Give(std::unique_ptr<TGetRec> record, int priority) {
    project_ = record ? static_cast<const void*>(record->Project) : nullptr;
    ++given_;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        next_ = std::move(record);
        priority_ = priority;
    }
    wake_.notify_one();
}

void TParser::Run() {
    for (;;) {
        std::unique_ptr<TGetRec> record;
        int priority = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || next_ != nullptr; });
            if (!next_) return;  // asked to end, and nothing left to analyse
            record = std::move(next_);
            priority = priority_;
        }
        if (priority != appliedPriority_) {
            // Raising the priority needs privileges; a refusal leaves the thread at normal.
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), NiceFor(priority));
            appliedPriority_ = priority;
        }
        Analyse(std::move(record));
    }
}

void TParser::Analyse(std::unique_ptr<TGetRec> record) {
    record->Parser = this;
    QueueSink sink(owner_);
    std::string stopText = AnalyseInto(*record, sink);
    if (record->AnalysisDeletesTemp) {
        RemoveFile(record->Temp);
        record->Temp.clear();
    }
    record->Parser = nullptr;
    // Counted done on the main thread, within the same call, so that whoever waits there
    // for this thread to finish sees it at once.
    owner_.AnalysisFinished(this, std::move(record), stopText, sink.TakePending());
}

}  // namespace qm
