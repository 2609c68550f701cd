// quillmoor-cli explain: whether a Project would take an address, and where it would store it.
#include <cstdio>
#include <string>

#include "app/project_lookup.h"
#include "app/core.h"
#include "cli/cli_command.h"
#include "engine/admission.h"
#include "engine/crawl_limits.h"
#include "engine/get_rec.h"
#include "engine/connection_setup.h"
#include "engine/normalise.h"
#include "engine/server_manners.h"
#include "net/sockets.h"
#include "platform/event_loop.h"
#include "store/options.h"
#include "store/object_stream.h"
#include "store/project.h"

namespace qm::cli {

namespace {

const char* CategoryName(const engine::DownloadRecord& rec) {
    if (!rec.Category || !rec.Project) return "none";
    const store::FileCategory* first = &rec.Project->Categories[0];
    const std::ptrdiff_t index = rec.Category - first;
    if (index < 0 || index >= store::kCategoryCount) return "none";
    return store::kCategoryNames[static_cast<std::size_t>(index)];
}

int RunExplain(const Invocation& inv) {
    std::string projectPath, url;
    bool embedded = false;
    int beyond = -1;  // steps beyond the last level of the page holding the link
    int queries = 0;  // query strings already taken under the address's path
    int positional = 0;
    for (std::size_t i = 0; i < inv.args.size(); ++i) {
        const std::string& a = inv.args[i];
        if (a == "--embedded") {
            embedded = true;
        } else if (a == "--beyond" || a == "--queries") {
            std::int32_t n = 0;
            if (i + 1 >= inv.args.size() || !store::ParseDecimal(inv.args[i + 1], n) || n < 0)
                return UsageError("explain", a + " needs a number");
            (a == "--beyond" ? beyond : queries) = n;
            ++i;
        } else if (a.size() > 1 && a[0] == '-' && a.rfind("--", 0) == 0) {
            return UsageError("explain", "unknown option '" + a + "'");
        } else if (positional == 0) {
            projectPath = a;
            ++positional;
        } else if (positional == 1) {
            url = a;
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

    // The address as a link found in one of the Project's pages would be.
    engine::DownloadRecord rec;
    rec.Project = project;
    rec.URL = url;
    rec.Lev = project->Lev > 0 ? project->Lev - 1 : 0;
    rec.IsImage = embedded;
    engine::AdmissionResult why;
    if (beyond >= 0) {
        // A frame (or, with --embedded, a file shown) on a page that many steps beyond.
        rec.Lev = 0;
        if (!engine::FollowsBeyondLevel(beyond, embedded)) why.Refuse(engine::kReasonBeyondLevel);
    }
    if (why.reason.empty() && engine::Normalise(rec, why) && project->CrawlTraps) {
        if (engine::RepeatsPathSegments(rec.URL))
            why.Refuse(engine::kReasonRepeatingPath);
        else if (!engine::PathBeforeQuery(rec.URL).empty() &&
                 static_cast<std::uint32_t>(queries) >= engine::kMaxQueriesPerPath)
            why.Refuse(engine::kReasonTooManyQueries);
    }
    if (why.admitted && project->Robots) {
        // The server's own robots.txt has the last word.
        platform::InitEventLoop();
        net::NetStartup();
        engine::ApplySharedConnectionOptions(store::Options());
        const std::string rule = engine::ServerManners::RobotsRuleNow(rec, store::Options().TimeOut + 1000);
        if (!rule.empty()) why.Refuse("robots.txt (" + rule + ")");
    }
    if (!why.admitted) {
        std::printf("admitted=no\nreason=%s\n", why.reason.c_str());
        return kExitOk;
    }
    std::printf("admitted=yes\nurl=%s\ncategory=%s\nfile=%s\ndepth=%d\n", rec.URL.c_str(), CategoryName(rec),
                rec.FName.c_str(), rec.Depth);
    return kExitOk;
}

}  // namespace

QM_CLI_COMMAND("explain", "FOLDER/PROJECT URL [--embedded] [--beyond N] [--queries N]",
               "tell whether a Project takes an address, and where it stores it; --beyond N: as "
               "found on a page N steps beyond the last level (a frame, or with --embedded a "
               "file it shows); --queries N: as if N query strings under its path were taken",
               RunExplain);

}  // namespace qm::cli
