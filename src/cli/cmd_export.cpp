// quillmoor-cli export: a Project's web archive as one WACZ file.
#include <cstdio>

#include "app/core.h"
#include "app/project_lookup.h"
#include "app/web_archive_export.h"
#include "cli/cli_command.h"
#include "store/project.h"

namespace qm::cli {
namespace {

int RunExport(const Invocation& inv) {
    if (inv.args.size() != 2) return UsageError("export", "name a Project as FOLDER/PROJECT and a FILE.wacz");
    app::Core core;
    if (!OpenCore("export", core, inv, app::Session::Access::Read)) return kExitFailure;
    std::string error;
    store::Project* project = app::FindProjectPath(core.GetSession().Tree(), inv.args[0], error);
    if (!project) {
        std::fprintf(stderr, "quillmoor-cli export: %s\n", error.c_str());
        return kExitFailure;
    }
    auto progress = [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
    if (!app::ExportWebArchive(*project, inv.args[1], progress, error)) {
        std::fprintf(stderr, "quillmoor-cli export: %s\n", error.c_str());
        return kExitFailure;
    }
    std::printf("%s\n", inv.args[1].c_str());
    return kExitOk;
}

}  // namespace
QM_CLI_COMMAND("export", "FOLDER/PROJECT FILE.wacz",
               "pack the web archive a Project recorded into one WACZ file (WACZ 1.1.1)", RunExport);
}  // namespace qm::cli
