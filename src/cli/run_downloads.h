#pragma once
// quillmoor-cli start, get and resume on the terminal: the live progress line, stopping on
// signals, the statistics lines and the exit code.
#include <string>
#include <vector>

#include "app/core.h"

namespace qm::cli {

// Starts each word as the command line does, runs until the engine is idle (Ctrl-C, SIGTERM
// or SIGHUP stop it), sets the finishing times, saves everything, prints one line per started
// Project on standard output. Returns the exit code: 0 done, 1 nothing could be started (the
// reason on standard error) or saving failed, 130 stopped.
int RunStartWords(app::Core& core, const std::vector<std::string>& words, bool log, const std::string& suspendTo = {});
// Resume From File, then runs until idle as RunStartWords does (Ctrl-C discards, or writes
// the queue again when suspendTo is given).
int RunResumeFile(app::Core& core, const std::string& file, bool log, const std::string& suspendTo = {});

}  // namespace qm::cli
