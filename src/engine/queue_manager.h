#pragma once
// QueueManager: the one download queue of the program. It owns the download queue, the
// analysis list, the seen-address list and the connection pool shared by every running
// Project, hands records to idle connections in arrival order, decides what happens with
// every response (item processing) and runs document analysis on up to four threads, whose
// results reach the queue in the order one thread would give them.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <deque>
#include <vector>

#include "engine/crawl_limits.h"
#include "engine/free_space_gauge.h"
#include "engine/message_kind.h"
#include "engine/packed_record.h"
#include "engine/pool_change.h"
#include "engine/retry_wait.h"
#include "engine/seen_addresses.h"
#include "archive/recorder.h"
#include "engine/web_archive.h"
#include "net/connection_codes.h"
#include "store/string_list.h"

namespace qm::platform {
class Timer;
}  // namespace qm::platform
namespace qm::store {
class Project;
}  // namespace qm::store
namespace qm::net {
class DownloadConnection;
}  // namespace qm::net
namespace qm::engine {

class DownloadRecord;
class AnalysisThread;
class PageRendering;
class ServerManners;

// The user name and password a record's connection gets before it starts: the answer to a
// challenge the record carries, or an ftp address's log-on; none otherwise (auth_answer.cpp).
void ChooseCredentials(const DownloadRecord& record, std::string& user, std::string& password);

// Queue state texts raised with kind 101.
extern const char* const kTextReady;
extern const char* const kTextDownload;
extern const char* const kTextSuspend;
extern const char* const kTextParsing;

// Counter operations on a Project; each recomputes StateText and ProgressText and raises
// OnProjectChange Counters, and Finished when the Project has nothing queued or in processing.
void IncQueued(store::Project& project);
void DecQueued(store::Project& project);
void IncDone(store::Project& project);
// Raises code 2 when the Project is idle (QueuedCount and ProcessingCount both 0).
void NotifyIfFinished(store::Project& project);
// The texts shown while a Project downloads and while it is idle.
std::string DownloadingText();
std::string IdleText();

// Records an analysis found, on their way to the queue. "known" are addresses the analysis
// thread had already handed over in generation knownGeneration: the queue has seen them, and
// takes them only if its seen-address generation has changed since.
struct FoundBatch {
    std::vector<std::unique_ptr<DownloadRecord>> found;
    std::vector<std::unique_ptr<DownloadRecord>> known;
    std::uint64_t knownGeneration = 0;
    bool Empty() const { return found.empty() && known.empty(); }
};

// The download queue and the analysis list: taken from the front, added at the back, and
// long on big sites. Records waiting in the download queue are kept packed.
using RecordList = std::deque<std::unique_ptr<DownloadRecord>>;
using QueueList = std::deque<QueuedRecord>;

class QueueManager {
public:
    explicit QueueManager(int connectionCount);
    ~QueueManager();
    QueueManager(const QueueManager&) = delete;
    QueueManager& operator=(const QueueManager&) = delete;

    // The queue manager of the program, or nullptr (set while one exists).
    static QueueManager* Instance();

    // Events (sender first).
    std::function<void(QueueManager& sender, const std::string& text, MessageKind kind)> OnStatus;
    std::function<void(QueueManager& sender)> OnChange;
    std::function<void(QueueManager& sender, int number, PoolChange change)> OnPoolChange;
    std::function<void(QueueManager& sender, DownloadRecord& record)> OnItemStored;
    // Asks the user for a user name and password for a page of project that its server
    // protects (the Project's password method 1); false: the page is skipped. Without a
    // handler such pages are skipped with a log line.
    std::function<bool(QueueManager& sender, store::Project& project, const std::string& url, const std::string& realm,
                       std::string& user, std::string& password)>
        OnPasswordWanted;
    // Status lines of the connections: "HTTP" + index + ": " + text.
    std::function<void(QueueManager& sender, net::DownloadConnection& conn, const std::string& text,
                       net::StatusKind kind)>
        OnConnStatus;
    // Status lines of the browser that renders pages ("Rendering ...", "Rendered ...").
    std::function<void(QueueManager& sender, const std::string& text, net::StatusKind kind)> OnRenderStatus;

    // Starting a Project: the caller empties the seen-address list first (Start command).
    bool StartProject(store::Project& project);
    void ClearSeen();

    void AddRecord(std::unique_ptr<DownloadRecord> record, bool checkSeen, bool withPause);
    void FillConnections();
    void SetConnectionCount(int n);
    void SetSuspended(bool flag);
    bool Suspended() const { return suspended_; }
    void StopAll();
    void StopProject(store::Project& project);
    void ReportMessage(const std::string& text, bool stop);
    void QueueForAnalysis(std::unique_ptr<DownloadRecord> record, const std::string& source, const std::string& target,
                          bool deleteTemp);
    void StartAnalysis();
    void FlushAnalysis();
    // The analysis threads started at the first analysis (1 to 4); 0, the default: one per
    // processor core, at most four. Takes effect only before the first analysis.
    void SetAnalysisThreads(int n) { analysisThreads_ = n; }
    // Analyses everything waiting for analysis and waits until the analysis thread has handed
    // back every record it was given, so that every link found so far is in the queue (main
    // thread; Suspend To File).
    void FinishAnalysis();

    // What the front ends show.
    bool Stopping() const { return stopping_.load(); }
    // Whether found records of project are dropped now: the whole queue is stopping, or
    // that Project is (any thread).
    bool Dropping(const store::Project* project) const {
        return stoppingAll_.load() || (project && stoppingProject_.load() == project);
    }
    bool StoppingAll() const { return stoppingAll_.load(); }
    bool Idle() const;  // nothing queued, nothing waiting for or in analysis
    std::size_t QueueCount() const { return queue_.size(); }
    std::size_t AnalysisCount() const { return analysis_.size(); }
    std::size_t PoolSize() const { return pool_.size(); }
    int PendingCount() const { return pendingCount_; }
    std::size_t BusyConnections() const;
    net::DownloadConnection& Connection(std::size_t index) { return *pool_[index]; }
    // Dereferencing an entry unpacks it; QueuedRecord's cheap looks do not.
    const QueueList& Queue() const { return queue_; }
    bool Seen(const std::string& url) const { return seen_.Contains(url); }
    std::int64_t TotalReceived() const { return totalReceived_; }
    // Records waiting out the pause after a failed attempt, and the seconds until the first
    // of them is due (0 when none waits).
    std::size_t RetryWaitingCount() const;
    int SecondsToNextRetry() const;
    // The web archive of a Project that records one: opened when the Project starts, closed
    // (its files indexed) when the Project has finished, is stopped, or the queue ends.
    void CloseArchive(store::Project& project);
    archive::Recorder* ArchiveOf(const store::Project* project) const;

    // The addresses of the pages in the browser now.
    std::vector<std::string> PagesRendering() const;
    // Pages in the browser and pages waiting for it.
    std::size_t PagesForBrowser() const;
    // Copies of the pages waiting for the browser or in it (Suspend To File).
    std::vector<std::unique_ptr<DownloadRecord>> PagesToRender() const;

    // The waits between attempts of a record that failed (tests shorten them).
    void SetRetryWait(RetryWait wait) { retryWait_ = wait; }

    // Runs fn on the main thread from the analysis thread and waits for it. While the main
    // thread waits for the analysis thread to end it keeps running these calls, so the two
    // never wait for each other.
    void CallOnMain(std::function<void()> fn);
    // Queues fn to run on the main thread after the calls queued before it, without waiting.
    void PostToMain(std::function<void()> fn);
    // Runs the calls the analysis thread queued (main thread only).
    void RunPendingCalls();

    // For the analysis thread: hands back the analysed record together with the records its
    // last part found. On the main thread the found records are queued first, then the
    // record is reported analysed, then the next analysis is given out.
    void AnalysisFinished(std::unique_ptr<DownloadRecord> record, std::string stopText, FoundBatch found);
    // For the analysis thread: hands found records to the main thread, and waits while many
    // handed over before are still waiting there, so that a page of a million links cannot
    // pile up records faster than the queue takes them in.
    void HandOverFound(FoundBatch batch);
    // Queues records found by an analysis, skipping addresses already seen (main thread).
    void AddFoundRecords(std::vector<std::unique_ptr<DownloadRecord>>& found);
    void AddFoundRecords(FoundBatch& batch);
    // Changes whenever addresses handed to the queue may have been dropped unseen or
    // forgotten (a stop, ClearSeen): the analysis thread's knowledge of what the queue has
    // seen is valid within one generation.
    std::uint64_t SeenGeneration() const { return seenGeneration_.load(); }

private:
    // Starts record on conn. A record finishing while a start is under way (an existing file
    // taken as it is, a limit, a local file) does not start the next one from inside: the
    // outermost start does, in a loop, so long runs of such records need no deep stack.
    void StartRecord(DownloadRecord& record, net::DownloadConnection& conn);
    void StartRecordOnce(DownloadRecord& record, net::DownloadConnection& conn);
    std::unique_ptr<DownloadRecord> RecordFinished(DownloadRecord& record);
    void RetireConnection(std::unique_ptr<net::DownloadConnection> conn);
    std::unique_ptr<DownloadRecord> TakeFromQueue(DownloadRecord& record);
    void ApplyPendingCount();
    void RaiseStatus(const std::string& text);
    void RaiseQueueState();
    DownloadRecord* FirstWaiting();
    // Forgets what the last looks for a record to start learnt about the queue's front.
    void ForgetHeldFront() { heldFront_ = HeldFront(); }
    net::DownloadConnection* FirstIdle();
    net::DownloadConnection& AddConnection();
    void WaitForParser(const std::function<bool()>& stillWaiting);
    void OnAnalysedRecord(std::unique_ptr<DownloadRecord> record);
    // A record taken off the analysis list unanalysed (stopping): its file and count go.
    void DropUnanalysed(std::unique_ptr<DownloadRecord> record);

    // Web archives (web_archive.cpp).
    void OpenArchive(store::Project& project);
    void CloseArchives();
    void BeginCapture(DownloadRecord& record, net::DownloadConnection& conn);
    void CaptureBody(DownloadRecord& record, const char* block, std::size_t count);
    void DropCapture(DownloadRecord& record, net::DownloadConnection& conn);
    // Writes what the record's transfer collected; whole: the answer arrived to its end.
    void EndCapture(DownloadRecord& record, net::DownloadConnection& conn, bool whole);
    void RecordOutlinks(DownloadRecord& record);
    std::unordered_map<const store::Project*, std::unique_ptr<archive::Recorder>> archives_;
    std::unordered_map<const DownloadRecord*, ArchiveCapture> captures_;

    // Item processing (item_processing.cpp).
    void OnHeader(DownloadRecord& record, net::DownloadConnection& conn);
    void OnData(DownloadRecord& record, const char* block, std::size_t count);
    void OnDone(DownloadRecord& record, net::DownloadConnection& conn, net::DoneCode code);
    void HandleDone(DownloadRecord& record, net::DownloadConnection& conn, net::DoneCode code);
    // A page its Project renders waits for the browser (status: its answer's).
    void RenderIfWanted(const DownloadRecord& record, int status);
    // Makes the temporary file that receives the record's body and opens it as DataFile
    // (once per attempt; Temp stays empty when it cannot be made).
    void OpenBodyFile(DownloadRecord& record);
    void FinishRecord(std::unique_ptr<DownloadRecord> record);
    // A 401 answer with a challenge (auth_answer.cpp): queues the record again with the
    // credentials that answer it, or stops its Project; true when it took the record.
    bool AnswerChallenge(std::unique_ptr<DownloadRecord>& record, const std::string& headers);
    void RetryRecord(std::unique_ptr<DownloadRecord> record);
    // Queues a record again after a failed attempt, to start once its wait is over.
    void RetryAfterFailure(std::unique_ptr<DownloadRecord> record);
    // Wakes the queue when the earliest waiting record is due.
    void ArmRetryTimer(std::int64_t dueMs);
    // Before the first write into a directory in this run: removes the scratch files a
    // killed run left there.
    void SweepScratchOnce(const std::string& directory);

    QueueList queue_;
    // What the last look for a record to start learnt: the first `length` entries of the
    // queue cannot start before an event of the server manners (generation), a removal in
    // front of them or the clock reaching `earliest`. A queue of many records waiting for
    // one robots.txt is then not looked through again for every record added behind it.
    struct HeldFront {
        std::size_t length = 0;
        std::size_t held = 0;       // of them, passed over for their server's manners
        std::int64_t earliest = 0;  // when the first timed wait among them ends (0: none)
        std::uint64_t generation = 0;
        bool valid = false;
    };
    HeldFront heldFront_;
    RecordList analysis_;
    // What the user answered when asked for a Project's password, by Project identifier,
    // until the Project starts again.
    struct AskedPassword {
        bool given = false;
        std::string user, password;
    };
    std::unordered_map<int, AskedPassword> askedPasswords_;
    SeenAddresses seen_;
    // The context the last packed record got: the next record of the same page shares it.
    ContextRef lastContext_;
    // Crawl-trap counts of the addresses in seen_ (emptied with it).
    CrawlTraps traps_;
    // Whether a new address is refused as a crawl trap; logs the first refusal of each kind.
    bool RefusedAsTrap(const DownloadRecord& record);
    std::unordered_set<std::string> swept_;  // directories cleared of scratch files this run
    int startDepth_ = 0;
    int startWanted_ = 0;  // finished records whose next start was left to the outer start
    std::vector<std::unique_ptr<net::DownloadConnection>> pool_;
    std::vector<std::unique_ptr<net::DownloadConnection>> retired_;  // removed, destroyed after the event
    bool suspended_ = false;
    std::atomic<bool> stopping_{false};  // nothing is started or taken while a stop runs
    // What a stop drops: everything (StopAll), or one Project's records (StopProject), whose
    // analysis of another Project's page goes on meanwhile.
    std::atomic<bool> stoppingAll_{false};
    std::atomic<const store::Project*> stoppingProject_{nullptr};
    std::atomic<std::uint64_t> seenGeneration_{1};
    int pendingCount_ = 0;
    std::int64_t totalReceived_ = 0;
    FreeSpaceGauge freeSpace_;  // checked before every start
    RetryWait retryWait_;
    std::unique_ptr<platform::Timer> retryTimer_;
    std::int64_t retryTimerDueMs_ = 0;  // when the armed timer fires (0: not armed)

    // robots.txt, the pace per server and log-ins of the Projects that ask for them.
    std::unique_ptr<ServerManners> manners_;
    static constexpr std::size_t kMaxHeldLooks = 5000;

    // Pages of Projects that render them, in the headless browser.
    std::unique_ptr<PageRendering> rendering_;

    // The analysis threads, made at the first analysis and kept until the queue is destroyed.
    std::unique_ptr<AnalysisThread> thread_;
    int analysisThreads_ = 0;

    // Calls from the analysis thread waiting for the main thread.
    struct PendingCall;
    void QueueCall(std::shared_ptr<PendingCall> call);
    std::mutex handMutex_;
    std::condition_variable handTaken_;
    std::size_t handedWaiting_ = 0;  // batches handed over and not yet taken in
    std::mutex callsMutex_;
    std::deque<std::shared_ptr<PendingCall>> calls_;
    std::shared_ptr<std::atomic<bool>> alive_;
};

}  // namespace qm::engine
