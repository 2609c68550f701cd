#pragma once
// AnalysisThread: the document-analysis threads, one to four. Each analyses one record at a
// time and reports back when it is done; none changes a queue list itself. Whatever the
// threads find reaches the main thread in the order the records were given, as if one
// thread had analysed them one after another: the records found in the oldest record under
// analysis go to the queue at once, those of later records wait until their turn. Messages
// are queued for the main thread without waiting for them to be acted on. The threads live
// as long as the queue.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm::engine {

class DownloadRecord;
class QueueManager;
struct FoundBatch;
struct SettingsSnapshot;

class AnalysisThread {
public:
    // Starts threads threads (1 to 4); they wait for records until the object is destroyed.
    explicit AnalysisThread(QueueManager& owner, int threads = 1);
    ~AnalysisThread();  // ends and joins the threads once the records they hold are done
    AnalysisThread(const AnalysisThread&) = delete;
    AnalysisThread& operator=(const AnalysisThread&) = delete;

    int Threads() const { return static_cast<int>(threads_.size()); }

    // The rest is for the main thread, except Hand and Deliver.

    // Hands the threads a record. A record given while every thread is busy waits in the
    // inbox, so that the threads go on without waiting for the main thread between pages.
    // The settings the analysis reads are copied here, so the main thread may change the
    // originals from now on.
    // priority: 1 lowest, 2 lower, 3 normal, 4 higher, 5 highest (others: lower).
    void Give(std::unique_ptr<DownloadRecord> record, int priority);
    // Records given whose results have not been handed back yet.
    std::size_t Outstanding() const { return inFlight_.size(); }
    bool Finished() const { return inFlight_.empty(); }
    // Whether a record of project is given and not handed back.
    bool Holds(const void* project) const;
    // Counts the oldest record given as handed back (within its result call).
    void MarkDone();
    // Takes back the records given that no thread has started, in their order.
    std::vector<std::unique_ptr<DownloadRecord>> TakeBackWaiting();

    // For an analysing thread, about the record given as number turn: hands found records to
    // the queue, at once when it is that record's turn (waiting while the main thread is
    // behind), else kept until then (waiting while many are kept).
    void Hand(std::uint64_t turn, FoundBatch batch);
    // Runs post (which queues work for the main thread) at the record's turn: now, or when
    // the records given before it have been handed back.
    void Deliver(std::uint64_t turn, std::function<void()> post);

private:
    struct Given {
        std::uint64_t turn = 0;
        std::unique_ptr<DownloadRecord> record;
        std::unique_ptr<const SettingsSnapshot> settings;
        int priority = 0;
        std::uint64_t bytes = 0;  // the size of the document
    };
    // What a record given after the one whose turn it is handed back so far.
    struct Kept {
        std::vector<std::function<void()>> posts;
        std::size_t records = 0;
        bool done = false;  // analysed: the last post hands the record back
    };
    // A record found in a later record waits while more than this many are kept for it.
    static constexpr std::size_t kMaxKeptRecords = 4096;
    // Documents are analysed side by side while their sizes add up to at most this; a larger
    // one is analysed alone (analysis holds a few copies of a document in memory).
    static constexpr std::uint64_t kMaxBytesAtOnce = 1024 * 1024;

    void Run();
    void Analyse(std::uint64_t turn, std::unique_ptr<DownloadRecord> record, const SettingsSnapshot& settings);
    // Keeps post for turn unless it is turn's turn (mutex_ held); true when kept.
    bool KeepLocked(std::uint64_t turn, std::function<void()>& post, bool done);
    // turn is handed back: the next records' kept posts run, up to one still analysed.
    void AdvanceLocked();

    QueueManager& owner_;
    std::deque<const void*> inFlight_;  // main thread: the Project of each record given
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable turnChanged_;
    std::deque<Given> inbox_;     // given, not yet taken by a thread
    std::uint64_t nextTurn_ = 0;  // the number of the next record given
    std::uint64_t turn_ = 0;      // the record whose results go to the queue now
    std::map<std::uint64_t, Kept> kept_;
    std::uint64_t bytesAnalysed_ = 0;  // the sizes of the documents under analysis
    bool quit_ = false;
    std::vector<std::thread> threads_;
};

// The analysis threads a queue starts: one per processor core, at most four.
int DefaultAnalysisThreads();

// Analyses record on the main thread with the installed routine, with the settings as they
// are now; found records go to the queue. Returns the text of a stop request, or empty.
std::string RunAnalysis(QueueManager& queue, DownloadRecord& record);

}  // namespace qm::engine
