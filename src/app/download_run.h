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

#include "app/tree_commands.h"

namespace qm::store { class Project; }
namespace qm::engine { class QueueManager; }

namespace qm::app {

class Session;

struct RunSettings {
    bool log = false;  // also report the connections' status lines
    // Where progress and messages go (stderr when not set); terminal: one rewritten line.
    std::function<void(const std::string& line)> progress;
    std::function<void(const std::string& line)> message;
    bool terminal = false;
    // When set, a stop request writes the queue to this file (Suspend To File) instead of
    // discarding it. When the file cannot be written the run goes on; a second stop request
    // then discards the queue.
    std::string suspendTo;
};

// What the progress shows while records wait out the pause after a failed attempt (empty
// when none waits), so that a quiet run says why it is quiet.
std::string RetryWaitText(const engine::QueueManager& queue);

class DownloadRun : public ProjectEngine {
public:
    // The session must be open. Creates the queue manager with the option "HTTPCount".
    explicit DownloadRun(Session& session, RunSettings settings = {});
    ~DownloadRun() override;
    DownloadRun(const DownloadRun&) = delete;
    DownloadRun& operator=(const DownloadRun&) = delete;

    engine::QueueManager& Queue();

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
    // Adopts a Project whose records were queued from a queue file (finishing time, summary).
    void Adopt(store::Project& project);
    bool Idle() const;

    // Saves the store, the site maps and the options. False with error.
    bool Save(std::string& error);

    // The result line of a Project: caption and its five statistics.
    static std::string SummaryLine(const store::Project& project);
    // The progress line: files done, queued, kilobytes, speed.
    std::string ProgressLine() const;

private:
    void Tick();
    void HookProject(store::Project& project);

    Session& session_;
    RunSettings settings_;
    std::unique_ptr<engine::QueueManager> queue_;
    std::vector<store::Project*> started_;
    std::int64_t lastTotal_ = 0;
    std::int64_t ring_[5] = {0, 0, 0, 0, 0};
    int ringPos_ = 0;
    bool suspendedToFile_ = false;
};

}  // namespace qm::app

namespace qm::app {

// quillmoor-cli start and get: starts each word as the command line does, runs until the
// engine is idle (Ctrl-C, SIGTERM or SIGHUP stop it), sets the finishing times, saves everything,
// prints one line per started Project on standard output. Returns the exit code: 0 done,
// 1 nothing could be started (the reason on standard error) or saving failed, 130 stopped.
int RunStartWords(Session& session, const std::vector<std::string>& words, bool log,
                  const std::string& suspendTo = {});
// quillmoor-cli resume: Resume From File, then runs until idle as RunStartWords does (Ctrl-C
// discards, or writes the queue again when suspendTo is given).
int RunResumeFile(Session& session, const std::string& file, bool log, const std::string& suspendTo = {});

}  // namespace qm::app
