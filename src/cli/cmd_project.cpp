// quillmoor-cli project and defaults: a Project's settings (or the Defaults Project's) as
// KEY=VALUE lines, or set with the store's reading rules.
#include <cstdio>

#include "app/project_lookup.h"
#include "app/project_settings.h"
#include "app/core.h"
#include "cli/cli_command.h"
#include "store/project.h"

namespace qm::cli {
namespace {

int ShowOrSet(const char* name, app::Session& session, store::Project& project,
              const std::vector<std::string>& changes) {
    if (changes.empty()) {
        for (const auto& [key, value] : app::ProjectSettings(project))
            std::printf("%s=%s\n", key.c_str(), value.c_str());
        return kExitOk;
    }
    std::string error;
    if (!app::SetProjectSettings(project, changes, error)) return UsageError(name, error);
    if (!session.Save(error)) {
        std::fprintf(stderr, "quillmoor-cli %s: %s\n", name, error.c_str());
        return kExitFailure;
    }
    return kExitOk;
}

int RunProject(const Invocation& inv) {
    if (inv.args.empty()) return UsageError("project", "name a Project as FOLDER/PROJECT");
    for (std::size_t i = 1; i < inv.args.size(); ++i)
        if (inv.args[i].find('=') == std::string::npos || inv.args[i][0] == '=')
            return UsageError("project", "expected KEY=VALUE, got '" + inv.args[i] + "'");
    app::Core core;
    app::Session& session = core.GetSession();
    if (!OpenCore("project", core, inv,
                  inv.args.size() > 1 ? app::Session::Access::Change : app::Session::Access::Read))
        return kExitFailure;
    std::string error;
    store::Project* project = app::FindProjectPath(session.Tree(), inv.args[0], error);
    if (!project) {
        std::fprintf(stderr, "quillmoor-cli project: %s\n", error.c_str());
        return kExitFailure;
    }
    return ShowOrSet("project", session, *project, {inv.args.begin() + 1, inv.args.end()});
}

int RunDefaults(const Invocation& inv) {
    for (const auto& a : inv.args)
        if (a.find('=') == std::string::npos || a[0] == '=')
            return UsageError("defaults", "expected KEY=VALUE, got '" + a + "'");
    app::Core core;
    app::Session& session = core.GetSession();
    if (!OpenCore("defaults", core, inv, inv.args.empty() ? app::Session::Access::Read : app::Session::Access::Change))
        return kExitFailure;
    return ShowOrSet("defaults", session, session.Defaults(), inv.args);
}

}  // namespace
QM_CLI_COMMAND("project", "FOLDER/PROJECT [KEY=VALUE ...]",
               "show a Project's settings in store order, or set some (unknown key or bad value: exit 2)", RunProject);
QM_CLI_COMMAND("defaults", "[KEY=VALUE ...]", "show or set the Defaults Project's settings", RunDefaults);
}  // namespace qm::cli
