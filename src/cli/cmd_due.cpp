// quillmoor-cli due: the Projects the scheduler would start at a minute, without starting them.
#include <cstdio>

#include "app/core.h"
#include "cli/cli_command.h"
#include "engine/scheduler.h"
#include "store/folder.h"
#include "store/object_stream.h"
#include "store/project.h"

namespace qm::cli {
namespace {

int RunDue(const Invocation& inv) {
    double at = store::NowDateTime();
    for (std::size_t i = 0; i < inv.args.size(); ++i) {
        std::string text;
        if (inv.args[i] == "--at" && i + 1 < inv.args.size())
            text = inv.args[++i];
        else if (inv.args[i].rfind("--at=", 0) == 0)
            text = inv.args[i].substr(5);
        else
            return UsageError("due", "unexpected '" + inv.args[i] + "'");
        if (!engine::ParseMinuteText(text, at))
            return UsageError("due", "expected \"YYYY-MM-DD HH:MM\", got '" + text + "'");
    }
    app::Core core;
    app::Session& session = core.GetSession();
    std::string error;
    if (!OpenCore("due", core, inv, app::Session::Access::Read)) return kExitFailure;
    for (store::Project* p : engine::DueProjects(session.Tree(), at))
        std::printf("%s/%s\n", p->Folder ? p->Folder->Caption.c_str() : "", p->Caption.c_str());
    return kExitOk;
}

}  // namespace
QM_CLI_COMMAND("due", "[--at \"YYYY-MM-DD HH:MM\"]",
               "list the Projects the scheduler starts at that minute (now by default), one FOLDER/PROJECT a line",
               RunDue);
}  // namespace qm::cli
