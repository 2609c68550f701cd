// Download runs on the terminal: the progress line rewritten in place when standard error is
// a terminal, signals that stop the run, the statistics and the exit code.
#include "cli/run_downloads.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>

#include "app/download_run.h"
#include "cli/cli_command.h"
#include "engine/queue_file.h"
#include "engine/queue_manager.h"
#include "platform/stop_signals.h"
#include "store/project.h"

namespace qm::cli {

namespace {

std::atomic<bool> g_interrupted{false};

// Messages on their own lines; the progress line, on a terminal, rewritten in place.
class TerminalLines {
public:
    explicit TerminalLines(bool terminal) : terminal_(terminal) {}

    void Message(const std::string& line) {
        if (lineOpen_) std::fputs("\r\x1b[K", stderr);
        lineOpen_ = false;
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }
    void Progress(const std::string& line) {
        if (!terminal_) {
            std::fprintf(stderr, "%s\n", line.c_str());
        } else {
            std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
            lineOpen_ = true;
        }
        std::fflush(stderr);
    }
    // Ends the progress line so that what follows starts on a line of its own.
    void Close() {
        if (lineOpen_) std::fputs("\n", stderr);
        lineOpen_ = false;
        std::fflush(stderr);
    }

private:
    bool terminal_;
    bool lineOpen_ = false;
};

int RunWith(app::Core& core, const std::function<bool(app::DownloadRun&, std::string&)>& begin, bool log,
            const std::string& suspendTo) {
    TerminalLines lines(::isatty(2) != 0);
    app::RunSettings settings;
    settings.log = log;
    settings.suspendTo = suspendTo;
    settings.message = [&lines](const std::string& line) { lines.Message(line); };
    settings.progress = [&lines](const std::string& line) { lines.Progress(line); };

    g_interrupted.store(false);
    // Every signal asks the run to stop: a second one discards a queue that could not be written.
    platform::StopSignals signals([](int) { g_interrupted.store(true); }, false);

    int code = kExitOk;
    {
        app::DownloadRun& run = core.StartEngine(settings);
        std::string reasons;
        if (!begin(run, reasons)) {
            std::fprintf(stderr, "quillmoor-cli: nothing started%s%s\n", reasons.empty() ? "" : ": ", reasons.c_str());
            code = kExitFailure;
        } else {
            if (!reasons.empty()) settings.message(reasons);
            const bool idle = run.RunUntilIdle(g_interrupted);
            lines.Close();
            if (!idle) code = kExitInterrupted;
            for (store::Project* p : run.Started()) std::printf("%s\n", app::DownloadRun::SummaryLine(*p).c_str());
            std::fflush(stdout);
        }
        std::string error;
        if (!run.Save(error)) {
            std::fprintf(stderr, "quillmoor-cli: %s\n", error.c_str());
            if (code == kExitOk) code = kExitFailure;
        }
    }
    return code;
}

}  // namespace

int RunStartWords(app::Core& core, const std::vector<std::string>& words, bool log, const std::string& suspendTo) {
    return RunWith(
        core,
        [&words](app::DownloadRun& run, std::string& reasons) {
            for (const std::string& w : words) {
                std::string why;
                if (!run.StartArg(w, why) && !why.empty()) reasons += (reasons.empty() ? "" : "\n") + why;
            }
            return !run.Started().empty();
        },
        log, suspendTo);
}

int RunResumeFile(app::Core& core, const std::string& file, bool log, const std::string& suspendTo) {
    return RunWith(
        core,
        [&file](app::DownloadRun& run, std::string& reasons) {
            engine::ResumeReport report;
            const bool read = run.ResumeFrom(file, report);
            for (const std::string& line : report.problems) reasons += (reasons.empty() ? "" : "\n") + line;
            if (report.noProject > 0)
                reasons += (reasons.empty() ? "" : "\n") + std::to_string(report.noProject) +
                           " record(s) of Projects no longer in the tree were dropped";
            if (!read) return false;
            if (run.Started().empty())
                reasons += (reasons.empty() ? "" : "\n") + std::string("the queue file holds no record to resume");
            return !run.Started().empty();
        },
        log, suspendTo);
}

}  // namespace qm::cli
