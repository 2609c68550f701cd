#pragma once
// quillmoor-cli commands register themselves here, one file per command (cmd_*.cpp).
#include <string>
#include <vector>

#include "app/core.h"

namespace qm::cli {

struct Invocation {
    std::string home;               // --home DIR, empty when not given
    std::vector<std::string> args;  // the words after the command name
};

// Exit codes: 0 success, 1 failure (with a clear message), 2 usage error, 130 interrupted.
constexpr int kExitOk = 0, kExitFailure = 1, kExitUsage = 2, kExitInterrupted = 130;

using CommandFn = int (*)(const Invocation&);

struct Command {
    const char* name;
    const char* usage;    // the arguments after the name, for the usage text
    const char* summary;  // one line
    CommandFn run;
};

// Adds a command to the table; returns true so that it can initialise a static.
bool RegisterCommand(const Command& command);
const std::vector<Command>& Commands();

// Prints "usage: quillmoor-cli [--home DIR] NAME USAGE" for one command to stderr and
// returns kExitUsage.
int UsageError(const char* name, const std::string& problem);

// Opens the program core for a command (the program folder only, see app::Core::Open); on
// failure prints "quillmoor-cli NAME: why" and returns false. Start-up warnings go to stderr.
// access: see app::Session::Open (a command that only reads opens with Read, so that it works
// alongside the window or serve).
bool OpenCore(const char* name, app::Core& core, const Invocation& inv,
              app::Session::Access access = app::Session::Access::Change);

}  // namespace qm::cli

#define QM_CLI_COMMAND(name, usage, summary, fn) \
    static const bool qm_cli_registered_##fn = ::qm::cli::RegisterCommand({name, usage, summary, fn})
