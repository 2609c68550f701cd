// quillmoor-cli explain: whether a Project would take an address, and where it would store it.
#include <cstdio>
#include <string>

#include "app/project_lookup.h"
#include "app/session.h"
#include "cli/cli_command.h"
#include "engine/admission.h"
#include "engine/get_rec.h"
#include "engine/normalise.h"
#include "store/project.h"

namespace qm::cli {

namespace {

const char* CategoryName(const TGetRec& rec) {
    if (!rec.Category || !rec.Project) return "none";
    const TFileCategory* first = &rec.Project->Categories[0];
    const std::ptrdiff_t index = rec.Category - first;
    if (index < 0 || index >= kCategoryCount) return "none";
    return kCategoryNames[static_cast<std::size_t>(index)];
}

int RunExplain(const Invocation& inv) {
    std::string projectPath, url;
    bool embedded = false;
    int positional = 0;
    for (const std::string& a : inv.args) {
        if (a == "--embedded") {
            embedded = true;
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

    app::Session session;
    std::string error;
    if (!session.Open(inv.home, error, true, app::Session::Access::Read)) {
        std::fprintf(stderr, "quillmoor-cli explain: %s\n", error.c_str());
        return kExitFailure;
    }
    TDClass* project = app::FindProjectPath(session.Tree(), projectPath, error);
    if (!project) {
        std::fprintf(stderr, "quillmoor-cli explain: %s\n", error.c_str());
        return kExitFailure;
    }

    // The address as a link found in one of the Project's pages would be.
    TGetRec rec;
    rec.Project = project;
    rec.URL = url;
    rec.Lev = project->Lev > 0 ? project->Lev - 1 : 0;
    rec.IsImage = embedded;
    AdmissionResult why;
    if (!Normalise(rec, why)) {
        std::printf("admitted=no\nreason=%s\n", why.reason.c_str());
        return kExitOk;
    }
    std::printf("admitted=yes\nurl=%s\ncategory=%s\nfile=%s\ndepth=%d\n", rec.URL.c_str(),
                CategoryName(rec), rec.FName.c_str(), rec.Depth);
    return kExitOk;
}

}  // namespace

QM_CLI_COMMAND("explain", "FOLDER/PROJECT URL [--embedded]",
               "tell whether a Project takes an address, and where it stores it", RunExplain);

}  // namespace qm::cli
