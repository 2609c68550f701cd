#pragma once
// A download run as the program carries it out without windows: the queue manager with
// "HTTPCount" connections, Projects started from command-line words, their finishing times
// and site maps, progress once a second, and stopping on request.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/progress_tracker.h"
#include "app/speed_average.h"
#include "app/tree_commands.h"
#include "engine/message_kind.h"
#include "engine/pool_change.h"

namespace qm::engine {
class DownloadRecord;
class QueueManager;
struct ResumeReport;
}  // namespace qm::engine
namespace qm::store {
class Project;
}  // namespace qm::store

namespace qm::app {

class Session;

struct RunSettings {
    bool log = false;  // also report the connections' status lines
    // Where the progress line (once a second) and messages go; nowhere when not set.
    std::function<void(const std::string& line)> progress;
    std::function<void(const std::string& line)> message;
    // When set, a stop request writes the queue to this file (Suspend To File) instead of
    // discarding it. When the file cannot be written the run goes on; a second stop request
    // then discards the queue.
    std::string suspendTo;
};

// What the progress shows while records wait out the pause after a failed attempt (empty
// when none waits), so that a quiet run says why it is quiet.
std::string RetryWaitText(const engine::QueueManager& queue);

// What the progress line adds about the end: "  1 min 20 s left" once the queue settled,
// "  (queue still growing)" before, nothing when nothing runs or no file was stored lately.
std::string TimeLeftText(const ProgressTracker& progress);

// Writes the site maps of these Projects that changed. False with the error naming a Project
// whose map could not be written.
bool SaveSiteMaps(const std::vector<store::Project*>& projects, std::string& error);

// The number the browser's status lines come with, in the place of a connection's.
constexpr int kBrowserLine = -1;

class DownloadRun : public ProjectEngine {
public:
    // The session must be open. Creates the queue manager with the option "HTTPCount".
    explicit DownloadRun(Session& session, RunSettings settings = {});
    ~DownloadRun() override;
    DownloadRun(const DownloadRun&) = delete;
    DownloadRun& operator=(const DownloadRun&) = delete;

    engine::QueueManager& Queue();

    // Events for a front end; they may be set at any time, and unset ones do nothing.
    // A connection's status line (connection number, text, kind), or with kBrowserLine as
    // the number the browser's line about a page it renders; unset: with RunSettings::log
    // the message "HTTPn: text" (the browser's: the text alone).
    std::function<void(int connection, const std::string& text, engine::MessageKind kind)> OnConnectionStatus;
    // The queue's state texts and the analysis messages; unset: analysis messages go to
    // RunSettings::message.
    std::function<void(const std::string& text, engine::MessageKind kind)> OnQueueStatus;
    // A connection joined or left the pool.
    std::function<void(int number, engine::PoolChange change)> OnPoolChange;
    // A file was stored and added to its Project's site map.
    std::function<void(engine::DownloadRecord& record)> OnFileStored;
    // A Project's server asks for a password the Project has the user give ("pswMethod" 1):
    // ask returns true with user and password, false when the user refused. Without one
    // (the default, or an empty ask) such pages are skipped.
    using PasswordQuestion = std::function<bool(store::Project& project, const std::string& url,
                                                const std::string& realm, std::string& user, std::string& password)>;
    void AskPasswordsWith(PasswordQuestion ask);

    // One command-line word: "FOLDER/PROJECT", "FOLDER/INDEX" or "FOLDER/all" starts those
    // Projects; "/close" and "/shutdown" are accepted and change nothing here (the run ends
    // when the engine is idle anyway). False with the reason when it started nothing.
    bool StartArg(const std::string& arg, std::string& why);
    // Starts one Project for a command-line word: empties the seen-address list and starts
    // it; refused while it is downloading (a word named twice starts it once).
    bool Start(store::Project& project, std::string& why);
    const std::vector<store::Project*>& Started() const { return started_; }

    // The Start command itself: also a Project that is still downloading is started again
    // (its seen addresses are forgotten and its start address queued anew).
    bool Restart(store::Project& project, std::string& why);

    // The engine side of the tree commands (the desktop's Start and the scheduler restart).
    bool StartProject(store::Project& project, std::string& why) override { return Restart(project, why); }
    void StopProject(store::Project& project) override;
    void ForgetProject(store::Project& project) override;
    bool Suspended() const override;
    void SetSuspended(bool suspended) override;

    // Runs the event loop until the engine is idle (nothing queued, nothing in processing)
    // or stop becomes true; then stops what is left. Returns true when it ended idle.
    bool RunUntilIdle(std::atomic<bool>& stop);
    // True when the last RunUntilIdle wrote the queue to RunSettings::suspendTo.
    bool SuspendedToFile() const { return suspendedToFile_; }
    // Suspend To File: the queue is written to file and emptied. False with error when the
    // file could not be written (the queue then goes on).
    bool SuspendTo(const std::string& file, std::string& error);
    // Resume From File: the queue file's records join the queue and their Projects are
    // adopted as if started (finishing times, summary lines). False when the file could not
    // be read; report tells what was dropped.
    bool ResumeFrom(const std::string& file, engine::ResumeReport& report);
    // Adopts a Project whose records were queued from a queue file (finishing time, summary).
    void Adopt(store::Project& project);
    bool Idle() const;

    // Saves the store, the site maps and the options. False with error.
    bool Save(std::string& error);

    // The result line of a Project: caption and its five statistics.
    static std::string SummaryLine(const store::Project& project);
    // The progress line: files done, queued, kilobytes, speed.
    std::string ProgressLine() const;
    // The counters of the started Projects and the state of the pool's connections, as the
    // progress figures take them.
    std::vector<ProjectCounts> ProjectSamples() const;
    std::vector<ConnectionSample> ConnectionSamples();

private:
    void Tick();
    void HookProject(store::Project& project);

    Session& session_;
    RunSettings settings_;
    std::unique_ptr<engine::QueueManager> queue_;
    std::vector<store::Project*> started_;
    SpeedAverage speed_;
    ProgressTracker progress_;  // the progress line's time left
    bool suspendedToFile_ = false;
};

}  // namespace qm::app
