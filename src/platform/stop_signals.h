#pragma once
// Ending on a signal: SIGTERM (kill, systemctl stop, a logout), SIGHUP (the terminal or the
// session went away) and SIGINT (Ctrl-C) reach the main thread's event loop through a
// self-pipe, so that the program can save and end as its Exit command does. The handler
// itself only writes one byte to the pipe.
#include <functional>
#include <memory>

namespace qm::platform {

class StopSignals {
public:
    // onSignal runs on the main thread, from the event loop, with the signal's number. With
    // secondEndsAtOnce, a signal that comes after a first one ends the process at once
    // (exit code 128 + its number) instead of reaching onSignal again. Main thread; one
    // watcher at a time.
    explicit StopSignals(std::function<void(int signal)> onSignal, bool secondEndsAtOnce = true);
    ~StopSignals();  // the handlers in place before come back
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qm::platform
