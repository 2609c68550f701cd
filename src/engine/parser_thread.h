#pragma once
// TParser: the document-analysis thread. It analyses one record, hands every record it
// finds to the main thread and reports back when it is done; it never changes a queue list
// itself.
#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace qm {

class TGetRec;
class TQueueManager;

class TParser {
public:
    // priority: 1 lowest, 2 lower, 3 normal, 4 higher, 5 highest (others: lower).
    TParser(TQueueManager& owner, std::unique_ptr<TGetRec> record, int priority);
    ~TParser();  // joins the thread
    TParser(const TParser&) = delete;
    TParser& operator=(const TParser&) = delete;

    void Start();
    bool Finished() const { return finished_.load(); }
    // The Project of the record being analysed (read on the main thread).
    const void* ProjectOf() const { return project_; }

private:
    void Run();

    TQueueManager& owner_;
    std::unique_ptr<TGetRec> record_;
    const void* project_ = nullptr;
    int priority_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
};

// Analyses record on the calling thread with the installed routine; found records go to
// the queue (on the main thread directly, from the analysis thread through the main
// thread). Returns the text of a stop request, or empty.
std::string RunAnalysis(TQueueManager& queue, TGetRec& record);

}  // namespace qm
