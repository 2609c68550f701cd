#pragma once
// The program core both front ends drive: the opened program folder (Session), the options,
// the engine with its queue (DownloadRun), the local web server, the scheduler, the tree
// commands, single instance and the timers (quarter second: idle close and the minute
// handling; one second: speed and size texts; the scheduler's minutes with the auto-save).
//
// The desktop window and quillmoor-cli serve run the whole program with Start:
//
//   SystemClock clock;  MyAnswers answers;          // Confirmation: message boxes
//   Core core(clock, answers);
//   core.OnStatusText = [&](int panel, const std::string& t) { statusBar.set(panel, t); };
//   core.OnClosed = [&] { window.close(); };
//   if (core.Start(settings, error) != Core::StartResult::Started) return;
//   ... gestures call core.Commands().Start(node) and so on ...
//   window close button: core.RequestClose();
//
// A quillmoor-cli command opens only the program folder with Open, and a download run adds
// the engine with StartEngine:
//
//   Core core;
//   if (!core.Open(home, error, true, Session::Access::Run)) ...
//   DownloadRun& run = core.StartEngine(settings);
//
// With CoreSettings::runTimers the program drives QuarterTick and SecondTick from the
// event loop's timers; tests leave it off and call them with a fake clock.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/download_run.h"
#include "app/progress_tracker.h"
#include "app/session.h"
#include "app/speed_average.h"
#include "app/tree_commands.h"

namespace qm::desktop {
class Plugins;
}  // namespace qm::desktop
namespace qm::engine {
class ProjectScheduler;
}  // namespace qm::engine

namespace qm::app {

class WindowState;

// The time of day as a date-time (days since 30 December 1899, local time).
class Clock {
public:
    virtual ~Clock() = default;
    virtual double Now() const = 0;
};
class SystemClock : public Clock {
public:
    double Now() const override;
};

struct CoreSettings {
    std::string home;               // program folder (see Session::Open)
    std::vector<std::string> args;  // the command line
    bool singleInstance = true;
    bool startServer = true;
    bool runTimers = true;
    bool loadPlugins = true;  // the plug-ins of the program folder
    // SIGTERM, SIGHUP and SIGINT close the program as its Exit command does, without asking;
    // a second one while it closes ends the process at once.
    bool closeOnSignals = false;
    // Where the engine's messages go (Warnings() when not set).
    std::function<void(const std::string& line)> message;
};

class Core {
public:
    Core(Clock& clock, Confirmation& answers);
    // For a command without questions: the system clock, every question answered No and
    // every refusal kept in Warnings().
    Core();
    // For a command that answers the tree commands' questions itself (the system clock).
    explicit Core(Confirmation& answers);
    ~Core();  // closes when still open, then destroys in the shutdown order
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    // Opens the program folder only (see Session::Open); nothing runs and nothing is saved
    // unless the command saves. Warnings: GetSession().Warnings().
    bool Open(const std::string& home, std::string& error, bool loadTree = true,
              Session::Access access = Session::Access::Change);
    // The engine for a download run of a command (after Open; once).
    DownloadRun& StartEngine(RunSettings settings);

    enum class StartResult { Started, AnotherInstance, Failed };
    StartResult Start(const CoreSettings& settings, std::string& error);
    // Start-up messages (damaged files kept aside, values of the wrong type...).
    const std::vector<std::string>& Warnings() const { return warnings_; }

    // Hooks the front end sets before Start.
    std::function<void()> OnShow;  // a second instance asked this one to show itself
    // A second instance handed over its command-line words and they were carried out (new
    // Projects for addresses, named Projects started): the tree changed; the lines say what
    // could not be done.
    std::function<void(const std::vector<std::string>& problems)> OnWordsOpened;
    std::function<void()> OnClosed;  // the program has closed: end the loop, close the window
    // Closing begins, before anything is saved: the front end puts its window state in State().
    std::function<void()> OnClosing;
    // Asks the system to power off; called after everything is saved and closed. Nothing
    // powers off when it is not set.
    std::function<bool(std::string& error)> PowerOff;
    // Status bar texts: panel 3 the selected Project's size, panel 4 the speed. Raised when
    // the text changes.
    std::function<void(int panel, const std::string& text)> OnStatusText;
    // The progress figures were sampled again (each quarter second while the engine runs).
    std::function<void()> OnProgress;
    // The language file: the desktop program applies "qm.int" of the program folder to its
    // windows here (after the options and the queue manager, before the server starts).
    std::function<void()> LoadLanguage;

    // Restarts the local web server after its port changed (StartServer when not set).
    std::function<void()> RestartServer;

    // After the options changed (the Options dialog's OK): a new port restarts the local web
    // server, and the pool takes the connection count.
    void OptionsChanged(bool portChanged);
    // Cancels the transfer of one connection of the pool (by its number in the Download
    // Progress window); a number no longer in the pool is ignored.
    void AbortConnection(int index);

    Session& GetSession();
    DownloadRun& Engine();
    // The tree commands on the opened tree (made on first use after Open; Start makes them).
    TreeCommands& Commands();
    WindowState& State();
    engine::ProjectScheduler& Scheduler();
    const CommandLine& Line() const { return line_; }
    desktop::Plugins& PluginList();

    // The Projects the command line started.
    const std::vector<store::Project*>& StartedByCommandLine() const { return commandLineStarted_; }

    // Close request of the user: with "ConfirmExit" asks UI message 21 + "?" first.
    // Returns true when the program closed.
    bool RequestClose();
    // Closes without asking: stops the queue, saves the window state, the options, the
    // Defaults Project, the site maps and the tree store. Runs once.
    void Close();
    bool Closed() const { return closed_; }
    // From the start of closing on (events are still handled while it waits for the engine).
    bool Closing() const { return closing_ || closed_; }
    const std::string& SaveError() const { return saveError_; }
    // "Save changes" and the auto-save: window state, options, Defaults Project, store.
    bool SaveAll(std::string& error);

    // Timers.
    void QuarterTick();
    void SecondTick();
    int IdleMs() const { return idleMs_; }
    bool MinuteHandlingOn() const { return minuteOn_; }
    const std::string& SpeedText() const { return speedText_; }
    const std::string& SizeText() const { return sizeText_; }
    // The progress figures: connections each quarter second, Projects each second.
    const ProgressTracker& Progress() const { return progress_; }

private:
    void ProcessCommandLine(const std::vector<std::string>& args);
    // Addresses become new Projects, FOLDER/PROJECT words start Projects; what names no
    // Project is said in problems.
    void OpenWords(const std::vector<std::string>& words, std::vector<std::string>& problems);
    void SetStatus(int panel, std::string& current, const std::string& text);

    struct Fallbacks;  // the clock and answers of a Core made without them
    std::unique_ptr<Fallbacks> fallbacks_;
    Clock& clock_;
    Confirmation& answers_;
    struct Parts;
    std::unique_ptr<Parts> parts_;
    std::vector<std::string> warnings_;
    CommandLine line_;
    std::vector<store::Project*> commandLineStarted_;
    bool started_ = false;  // Start ran: the whole program runs
    bool closing_ = false;
    bool closed_ = false;
    bool minuteOn_ = false;
    int idleMs_ = 0;
    SpeedAverage speed_;
    ProgressTracker progress_;
    std::string speedText_, sizeText_, saveError_;
};

}  // namespace qm::app
