// quillmoor-cli start: downloads Projects named as on the desktop program's command line.
// quillmoor-cli resume: continues a queue written by start --suspend-to.
#include <cstdio>
#include <string>
#include <vector>

#include "app/core.h"
#include "cli/cli_command.h"
#include "cli/run_downloads.h"

namespace qm::cli {

namespace {

// Reads --log and --suspend-to FILE; the other words are left in words.
int ReadRunOptions(const char* name, const Invocation& inv, bool& log, std::string& suspendTo,
                   std::vector<std::string>& words) {
    for (std::size_t i = 0; i < inv.args.size(); ++i) {
        const std::string& a = inv.args[i];
        if (a == "--log") {
            log = true;
        } else if (a == "--suspend-to") {
            if (i + 1 >= inv.args.size()) return UsageError(name, "--suspend-to needs a file");
            suspendTo = inv.args[++i];
        } else if (a.rfind("--suspend-to=", 0) == 0) {
            suspendTo = a.substr(13);
            if (suspendTo.empty()) return UsageError(name, "--suspend-to needs a file");
        } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            return UsageError(name, "unknown option " + a);
        } else {
            words.push_back(a);
        }
    }
    return kExitOk;
}

int RunStart(const Invocation& inv) {
    bool log = false;
    std::string suspendTo;
    std::vector<std::string> words;
    if (int code = ReadRunOptions("start", inv, log, suspendTo, words); code != kExitOk) return code;
    if (words.empty()) return UsageError("start", "name at least one FOLDER/PROJECT");
    app::Core core;
    if (!OpenCore("start", core, inv, app::Session::Access::Run)) return kExitFailure;
    return RunStartWords(core, words, log, suspendTo);
}

int RunResume(const Invocation& inv) {
    bool log = false;
    std::string suspendTo;
    std::vector<std::string> words;
    if (int code = ReadRunOptions("resume", inv, log, suspendTo, words); code != kExitOk) return code;
    if (words.size() != 1) return UsageError("resume", "name one queue file");
    app::Core core;
    if (!OpenCore("resume", core, inv, app::Session::Access::Run)) return kExitFailure;
    return RunResumeFile(core, words[0], log, suspendTo);
}

}  // namespace

QM_CLI_COMMAND("start", "[--log] [--suspend-to FILE] FOLDER/PROJECT|FOLDER/INDEX|FOLDER/all ...",
               "download Projects until nothing is left, then print their statistics; with "
               "--suspend-to, Ctrl-C writes the queue to FILE",
               RunStart);
QM_CLI_COMMAND("resume", "[--log] [--suspend-to FILE] FILE",
               "continue the downloads of a queue file written by start --suspend-to", RunResume);

}  // namespace qm::cli
