// quillmoor-cli start: downloads Projects named as on the desktop program's command line.
#include <cstdio>
#include <string>
#include <vector>

#include "app/download_run.h"
#include "app/session.h"
#include "cli/cli_command.h"

namespace qm::cli {

namespace {

int RunStart(const Invocation& inv) {
    bool log = false;
    std::vector<std::string> words;
    for (const std::string& a : inv.args) {
        if (a == "--log") log = true;
        else if (a.size() > 2 && a.compare(0, 2, "--") == 0) return UsageError("start", "unknown option " + a);
        else words.push_back(a);
    }
    if (words.empty()) return UsageError("start", "name at least one FOLDER/PROJECT");
    app::Session session;
    std::string error;
    if (!session.Open(inv.home, error)) {
        std::fprintf(stderr, "quillmoor-cli: %s\n", error.c_str());
        return kExitFailure;
    }
    if (!session.Warnings().empty()) std::fprintf(stderr, "%s\n", session.Warnings().c_str());
    return app::RunStartWords(session, words, log);
}

}  // namespace

QM_CLI_COMMAND("start", "[--log] FOLDER/PROJECT|FOLDER/INDEX|FOLDER/all ...",
               "download Projects until nothing is left, then print their statistics", RunStart);

}  // namespace qm::cli
