// Opening the program's session for a command, with its messages on stderr.
#include <cstdio>

#include "app/session.h"
#include "cli/cli_command.h"

namespace qm::cli {

bool OpenSession(const char* name, app::Session& session, const Invocation& inv, app::Session::Access access) {
    std::string error;
    if (!session.Open(inv.home, error, true, access)) {
        std::fprintf(stderr, "quillmoor-cli %s: %s\n", name, error.c_str());
        return false;
    }
    if (!session.Warnings().empty()) std::fprintf(stderr, "%s\n", session.Warnings().c_str());
    return true;
}

}  // namespace qm::cli
