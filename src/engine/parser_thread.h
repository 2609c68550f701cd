#pragma once
// AnalysisThread: the document-analysis thread. It analyses one record at a time, hands every
// record it finds to the main thread and reports back when it is done; it never changes a
// queue list itself. Its messages are queued for the main thread in order, without waiting
// for them to be acted on. The one thread lives as long as the queue.
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm::engine {

class DownloadRecord;
class QueueManager;
struct SettingsSnapshot;

class AnalysisThread {
public:
    // Starts the thread; it waits for records until the object is destroyed.
    explicit AnalysisThread(QueueManager& owner);
    ~AnalysisThread();  // ends and joins the thread once the records it holds are done
    AnalysisThread(const AnalysisThread&) = delete;
    AnalysisThread& operator=(const AnalysisThread&) = delete;

    // The rest is for the main thread.

    // Hands the thread a record. Records are analysed one at a time, in the order given; a
    // record given while another is analysed waits in the thread's inbox, so that the thread
    // goes on without waiting for the main thread between pages. The settings the analysis
    // reads are copied here, so the main thread may change the originals from now on.
    // priority: 1 lowest, 2 lower, 3 normal, 4 higher, 5 highest (others: lower).
    void Give(std::unique_ptr<DownloadRecord> record, int priority);
    // Records given whose results have not been handed back yet.
    std::size_t Outstanding() const { return inFlight_.size(); }
    bool Finished() const { return inFlight_.empty(); }
    // Whether a record of project is given and not handed back.
    bool Holds(const void* project) const;
    // Counts the oldest record given as handed back (within its result call).
    void MarkDone();
    // Takes back the records given that the thread has not started, in their order.
    std::vector<std::unique_ptr<DownloadRecord>> TakeBackWaiting();

private:
    struct Given {
        std::unique_ptr<DownloadRecord> record;
        std::unique_ptr<const SettingsSnapshot> settings;
        int priority = 0;
    };
    void Run();
    void Analyse(std::unique_ptr<DownloadRecord> record, const SettingsSnapshot& settings);

    QueueManager& owner_;
    std::deque<const void*> inFlight_;  // main thread: the Project of each record given
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Given> inbox_;  // given, not yet taken by the thread
    int appliedPriority_ = -1;
    bool quit_ = false;
    std::thread thread_;
};

// Analyses record on the main thread with the installed routine, with the settings as they
// are now; found records go to the queue. Returns the text of a stop request, or empty.
std::string RunAnalysis(QueueManager& queue, DownloadRecord& record);

}  // namespace qm::engine
