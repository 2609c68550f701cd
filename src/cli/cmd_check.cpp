// quillmoor-cli check: the links of a stored site that have no stored file, and why.
#include <cstdio>
#include <string>

#include "app/core.h"
#include "app/project_lookup.h"
#include "app/stored_site_check.h"
#include "cli/cli_command.h"
#include "store/project.h"

namespace qm::cli {

namespace {

int RunCheck(const Invocation& inv) {
    if (inv.args.size() != 1)
        return UsageError("check", inv.args.empty() ? "a Project is needed" : "too many arguments");
    if (inv.args[0].rfind("--", 0) == 0) return UsageError("check", "unknown option '" + inv.args[0] + "'");
    app::Core core;
    if (!OpenCore("check", core, inv, app::Session::Access::Read)) return kExitFailure;
    std::string error;
    store::Project* project = app::FindProjectPath(core.GetSession().Tree(), inv.args[0], error);
    if (!project) {
        std::fprintf(stderr, "quillmoor-cli check: %s\n", error.c_str());
        return kExitFailure;
    }
    const app::SiteCheck check = app::CheckStoredSite(*project);
    std::string group;
    int counts[5] = {};
    for (const app::BrokenLink& link : check.broken) {
        const std::string heading = app::ReasonText(link.reason, link.detail);
        if (heading != group) {
            std::printf("%s:\n", heading.c_str());
            group = heading;
        }
        std::printf("  %s", link.url.c_str());
        if (!link.page.empty()) std::printf("\ton %s", link.page.c_str());
        if (link.times > 1) std::printf(" (linked %d times)", link.times);
        std::printf("\n");
        ++counts[static_cast<int>(link.reason)];
    }
    std::printf("pages=%zu links=%zu broken=%zu", check.pagesRead, check.linksSeen, check.broken.size());
    for (int r = 0; r < 5; ++r) std::printf(" %s=%d", app::ReasonWord(static_cast<app::BrokenReason>(r)), counts[r]);
    std::printf("\n");
    if (check.truncated)
        std::fprintf(stderr, "quillmoor-cli check: stopped after %zu addresses\n", app::kMaxCheckedAddresses);
    return check.broken.empty() && !check.truncated ? kExitOk : kExitFailure;
}

}  // namespace

QM_CLI_COMMAND("check", "FOLDER/PROJECT",
               "list the links of a stored site that have no stored file, grouped by why "
               "(refused by a rule, failed, beyond the level, not reached, built by a script); "
               "exit 1 when any is broken",
               RunCheck);

}  // namespace qm::cli
