// quillmoor-cli list: the Project tree, one line per folder and, indented, one per Project.
#include <cstdio>

#include "app/core.h"
#include "cli/cli_command.h"

namespace qm::cli {
namespace {

int RunList(const Invocation& inv) {
    if (!inv.args.empty()) return UsageError("list", "no arguments expected");
    app::Core core;
    app::Session& session = core.GetSession();
    std::string error;
    if (!OpenCore("list", core, inv, app::Session::Access::Read)) return kExitFailure;
    for (const auto& folder : session.Tree().Folders) {
        std::printf("%s\n", folder->Caption.c_str());
        for (const auto& p : folder->Children)
            std::printf("  %d\t%s\t%s\n", p->IID, p->Caption.c_str(), p->URL.c_str());
    }
    return kExitOk;
}

}  // namespace
QM_CLI_COMMAND("list", "", "show the folders and Projects: identifier, caption and address", RunList);
}  // namespace qm::cli
