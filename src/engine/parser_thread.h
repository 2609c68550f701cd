#pragma once
// TParser: the document-analysis thread. It analyses one record at a time, hands every
// record it finds to the main thread and reports back when it is done; it never changes a
// queue list itself. The one thread lives as long as the queue and waits between records.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace qm {

class TGetRec;
class TQueueManager;

class TParser {
public:
    // Starts the thread; it waits for records until the object is destroyed.
    explicit TParser(TQueueManager& owner);
    ~TParser();  // ends and joins the thread once the record it holds is done
    TParser(const TParser&) = delete;
    TParser& operator=(const TParser&) = delete;

    // Hands the thread its next record (main thread). The previous one must be reported
    // finished (the queue's reference to the thread cleared) first; the thread takes the new
    // one as soon as it has sent its last messages about the previous one.
    // priority: 1 lowest, 2 lower, 3 normal, 4 higher, 5 highest (others: lower).
    void Give(std::unique_ptr<TGetRec> record, int priority);
    // Holds no record: every record given has been analysed and handed back.
    bool Finished() const { return done_.load() == given_.load(); }
    // Counts the record handed back as done (main thread, within the analysis thread's last
    // call about it).
    void MarkDone() { ++done_; }
    // The Project of the record being analysed (read on the main thread).
    const void* ProjectOf() const { return project_; }

private:
    void Run();
    void Analyse(std::unique_ptr<TGetRec> record);

    TQueueManager& owner_;
    const void* project_ = nullptr;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::unique_ptr<TGetRec> next_;  // given, not yet taken by the thread
    int priority_ = 0;
    int appliedPriority_ = -1;
    bool quit_ = false;
    std::atomic<std::uint64_t> given_{0};
    std::atomic<std::uint64_t> done_{0};
    std::thread thread_;
};

// Analyses record on the calling thread with the installed routine; found records go to
// the queue (on the main thread directly, from the analysis thread through the main
// thread). Returns the text of a stop request, or empty.
std::string RunAnalysis(TQueueManager& queue, TGetRec& record);

}  // namespace qm
