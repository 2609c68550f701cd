// quillmoor-cli cookies: a Project's cookie jar listed, filled from a browser's file, or emptied.
#include <cstdio>

#include "app/core.h"
#include "app/project_cookies_commands.h"
#include "app/project_lookup.h"
#include "cli/cli_command.h"
#include "store/project.h"

namespace qm::cli {
namespace {

int RunCookies(const Invocation& inv) {
    std::string projectPath, importFile;
    bool clear = false;
    for (std::size_t i = 0; i < inv.args.size(); ++i) {
        const std::string& a = inv.args[i];
        if (a == "--clear") {
            clear = true;
        } else if (a == "--import") {
            if (i + 1 >= inv.args.size()) return UsageError("cookies", "--import needs a FILE");
            importFile = inv.args[++i];
        } else if (a.rfind("--", 0) == 0) {
            return UsageError("cookies", "unknown option '" + a + "'");
        } else if (projectPath.empty()) {
            projectPath = a;
        } else {
            return UsageError("cookies", "too many arguments");
        }
    }
    if (projectPath.empty()) return UsageError("cookies", "name a Project as FOLDER/PROJECT");
    app::Core core;
    const bool changes = clear || !importFile.empty();
    if (!OpenCore("cookies", core, inv, changes ? app::Session::Access::Change : app::Session::Access::Read))
        return kExitFailure;
    std::string error;
    store::Project* project = app::FindProjectPath(core.GetSession().Tree(), projectPath, error);
    if (!project) {
        std::fprintf(stderr, "quillmoor-cli cookies: %s\n", error.c_str());
        return kExitFailure;
    }
    if (clear) app::ClearCookies(*project);
    if (!importFile.empty()) {
        const int added = app::ImportCookies(*project, importFile, error);
        if (added < 0) {
            std::fprintf(stderr, "quillmoor-cli cookies: %s\n", error.c_str());
            return kExitFailure;
        }
        std::fprintf(stderr, "%d cookies imported\n", added);
    }
    if (!changes) std::fputs(app::CookiesListing(*project).c_str(), stdout);
    return kExitOk;
}

}  // namespace
QM_CLI_COMMAND("cookies", "FOLDER/PROJECT [--import FILE] [--clear]",
               "list a Project's cookies (cookies.txt form), import a cookies.txt or Firefox cookies.sqlite, "
               "or clear them",
               RunCookies);
}  // namespace qm::cli
