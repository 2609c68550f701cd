// Opening the program core for a command, with its messages on stderr.
#include <cstdio>

#include "app/core.h"
#include "cli/cli_command.h"

namespace qm::cli {

bool OpenCore(const char* name, app::Core& core, const Invocation& inv, app::Session::Access access) {
    std::string error;
    if (!core.Open(inv.home, error, true, access)) {
        std::fprintf(stderr, "quillmoor-cli %s: %s\n", name, error.c_str());
        return false;
    }
    const std::string& warnings = core.GetSession().Warnings();
    if (!warnings.empty()) std::fprintf(stderr, "%s\n", warnings.c_str());
    return true;
}

}  // namespace qm::cli
