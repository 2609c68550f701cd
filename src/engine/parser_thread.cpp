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
        queue_.CallOnMain([&] {
            for (auto& record : pending_) {
                if (queue_.Stopping()) break;
                if (queue_.Seen(record->URL)) continue;
                queue_.AddRecord(std::move(record), false, true);
            }
        });
        pending_.clear();
    }

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

std::string RunAnalysis(TQueueManager& queue, TGetRec& record) {
    QueueSink sink(queue);
    AnalyseFunction fn = CurrentAnalyseFunction();
    fn(record, record.AnalysisSource, record.AnalysisTarget, record.AnalysisDeletesTemp, sink);
    sink.Flush();
    return sink.stopText_;
}

TParser::TParser(TQueueManager& owner, std::unique_ptr<TGetRec> record, int priority)
    : owner_(owner), record_(std::move(record)), priority_(priority) {
    project_ = record_ ? static_cast<const void*>(record_->Project) : nullptr;
}

TParser::~TParser() {
    if (thread_.joinable()) thread_.join();
}

void TParser::Start() { thread_ = std::thread([this] { Run(); }); }

void TParser::Run() {
    // Raising the priority needs privileges; a refusal leaves the thread at normal.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), NiceFor(priority_));
    record_->Parser = this;
    std::string stopText = RunAnalysis(owner_, *record_);
    if (record_->AnalysisDeletesTemp) {
        RemoveFile(record_->Temp);
        record_->Temp.clear();
    }
    record_->Parser = nullptr;
    owner_.AnalysisFinished(this, std::move(record_), stopText);
    finished_.store(true);
    // Wakes the main thread's loop, which may be waiting for this thread to end.
    platform::Post([] {});
}

}  // namespace qm
