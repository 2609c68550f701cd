// quillmoor-cli explain: whether a Project would take an address, and where it would store it.
#include <cstdio>
#include <string>

#include "app/address_explanation.h"
#include "app/project_lookup.h"
#include "app/core.h"
#include "cli/cli_command.h"
#include "engine/connection_setup.h"
#include "net/sockets.h"
#include "platform/event_loop.h"
#include "store/options.h"
#include "store/object_stream.h"
#include "store/project.h"

namespace qm::cli {

namespace {

int RunExplain(const Invocation& inv) {
    std::string projectPath;
    app::ExplainQuestion q;
    int positional = 0;
    for (std::size_t i = 0; i < inv.args.size(); ++i) {
        const std::string& a = inv.args[i];
        if (a == "--embedded") {
            q.embedded = true;
        } else if (a == "--beyond" || a == "--queries") {
            std::int32_t n = 0;
            if (i + 1 >= inv.args.size() || !store::ParseDecimal(inv.args[i + 1], n) || n < 0)
                return UsageError("explain", a + " needs a number");
            (a == "--beyond" ? q.beyond : q.queries) = n;
            ++i;
        } else if (a == "--from") {
            if (i + 1 >= inv.args.size() || inv.args[i + 1].empty())
                return UsageError("explain", "--from needs a page");
            q.fromPage = inv.args[++i];
        } else if (a.size() > 1 && a[0] == '-' && a.rfind("--", 0) == 0) {
            return UsageError("explain", "unknown option '" + a + "'");
        } else if (positional == 0) {
            projectPath = a;
            ++positional;
        } else if (positional == 1) {
            q.url = a;
            ++positional;
        } else {
            return UsageError("explain", "too many arguments");
        }
    }
    if (positional < 2) return UsageError("explain", "a Project and an address are needed");

    app::Core core;

    app::Session& session = core.GetSession();
    std::string error;
    if (!core.Open(inv.home, error, true, app::Session::Access::Read)) {
        std::fprintf(stderr, "quillmoor-cli explain: %s\n", error.c_str());
        return kExitFailure;
    }
    store::Project* project = app::FindProjectPath(session.Tree(), projectPath, error);
    if (!project) {
        std::fprintf(stderr, "quillmoor-cli explain: %s\n", error.c_str());
        return kExitFailure;
    }

    if (project->Robots || !q.fromPage.empty()) {
        // robots.txt and the page holding the link are asked for now.
        platform::InitEventLoop();
        net::NetStartup();
        engine::ApplySharedConnectionOptions(store::Options());
    }
    const app::Explanation why = app::ExplainAddress(*project, q, store::Options().TimeOut + 1000);
    if (!why.admitted) {
        std::printf("admitted=no\nreason=%s\n", why.reason.c_str());
        return kExitOk;
    }
    std::printf("admitted=yes\nurl=%s\ncategory=%s\nfile=%s\ndepth=%d\n", why.url.c_str(), why.category.c_str(),
                why.file.c_str(), why.depth);
    if (why.paceMs > 0) {
        // The address would wait its server's turn.
        std::printf("pace=%lld ms between requests to its server", static_cast<long long>(why.paceMs));
        if (why.crawlDelaySeconds > 0)
            std::printf(" (robots.txt Crawl-delay: %g)\n", why.crawlDelaySeconds);
        else
            std::printf(" (at most %d a second)\n", project->PerSecond);
    }
    return kExitOk;
}

}  // namespace

QM_CLI_COMMAND("explain", "FOLDER/PROJECT URL [--embedded] [--beyond N] [--queries N] [--from PAGE]",
               "tell whether a Project takes an address, and where it stores it; --beyond N: as "
               "found on a page N steps beyond the last level (a frame, or with --embedded a "
               "file it shows); --queries N: as if N query strings under its path were taken; "
               "--from PAGE: as a link on that page (whose robots tag may say nofollow)",
               RunExplain);

}  // namespace qm::cli
