#pragma once
// The running program without its windows: start-up and shutdown in their order, the
// command line, the timers (quarter second: idle close and the minute handling; one second:
// speed and size texts; the scheduler's minutes with the auto-save), single instance, and
// the tree commands. The desktop window owns one Program and calls it the way
// quillmoor-cli serve and the tests do:
//
//   SystemClock clock;  MyAnswers answers;          // Confirmation: message boxes
//   Program program(clock, answers);
//   program.OnStatusText = [&](int panel, const std::string& t) { statusBar.set(panel, t); };
//   program.OnClosed = [&] { window.close(); };
//   if (program.Start(settings, error) != Program::StartResult::Started) return;
//   ... gestures call program.Commands().Start(node) and so on ...
//   window close button: program.RequestClose();
//
// With ProgramSettings::runTimers the program drives QuarterTick and SecondTick from the
// event loop's timers; tests leave it off and call them with a fake clock.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/options_form.h"
#include "app/speed_average.h"
#include "app/tree_commands.h"

namespace qm {
class ProjectScheduler;
}

namespace qm::app {

class DownloadRun;
class Plugins;
class Session;
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

struct ProgramSettings {
    std::string home;               // program folder (see Session::Open)
    std::vector<std::string> args;  // the command line
    bool singleInstance = true;
    bool startServer = true;
    bool runTimers = true;
    bool loadPlugins = true;        // the plug-ins of the program folder
    // SIGTERM, SIGHUP and SIGINT close the program as its Exit command does, without asking;
    // a second one while it closes ends the process at once.
    bool closeOnSignals = false;
    // Where the engine's messages go (Warnings() when not set).
    std::function<void(const std::string& line)> message;
};

class Program {
public:
    Program(Clock& clock, Confirmation& answers);
    ~Program();  // closes when still open, then destroys in the shutdown order
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    enum class StartResult { Started, AnotherInstance, Failed };
    StartResult Start(const ProgramSettings& settings, std::string& error);
    // Start-up messages (damaged files kept aside, values of the wrong type...).
    const std::vector<std::string>& Warnings() const { return warnings_; }

    // Hooks the front end sets before Start.
    std::function<void()> OnShow;    // a second instance asked this one to show itself
    std::function<void()> OnClosed;  // the program has closed: end the loop, close the window
    // Closing begins, before anything is saved: the front end puts its window state in State().
    std::function<void()> OnClosing;
    // Asks the system to power off; called after everything is saved and closed. Nothing
    // powers off when it is not set.
    std::function<bool(std::string& error)> PowerOff;
    // Status bar texts: panel 3 the selected Project's size, panel 4 the speed. Raised when
    // the text changes.
    std::function<void(int panel, const std::string& text)> OnStatusText;
    // The language file: the desktop program applies "qm.int" of the program folder to its
    // windows here (after the options and the queue manager, before the server starts).
    std::function<void()> LoadLanguage;

    // Restarts the local web server after its port changed (StartServer when not set).
    std::function<void()> RestartServer;

    // The Options dialog's OK: the form's values become the options and window settings; a
    // new port restarts the local web server and the pool takes the new connection count.
    OptionsApplied ApplyOptions(const OptionsForm& form);
    // Cancels the transfer of one connection of the pool (by its number in the Download
    // Progress window); a number no longer in the pool is ignored.
    void AbortConnection(int index);

    Session& GetSession();
    DownloadRun& Engine();
    TreeCommands& Commands();
    WindowState& State();
    ProjectScheduler& Scheduler();
    const CommandLine& Line() const { return line_; }
    Plugins& PluginList();

    // The Projects the command line started.
    const std::vector<Project*>& StartedByCommandLine() const { return commandLineStarted_; }

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

private:
    void ProcessCommandLine(const std::vector<std::string>& args);
    void SetStatus(int panel, std::string& current, const std::string& text);

    Clock& clock_;
    Confirmation& answers_;
    struct Parts;
    std::unique_ptr<Parts> parts_;
    std::vector<std::string> warnings_;
    CommandLine line_;
    std::vector<Project*> commandLineStarted_;
    bool closing_ = false;
    bool closed_ = false;
    bool minuteOn_ = false;
    int idleMs_ = 0;
    SpeedAverage speed_;
    std::string speedText_, sizeText_, saveError_;
};

}  // namespace qm::app
