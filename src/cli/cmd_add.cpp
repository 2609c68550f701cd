// quillmoor-cli add: a new Project in a root folder, as the New Project command makes it.
#include <cstdio>

#include "app/address_scheme.h"
#include "app/new_project.h"
#include "app/core.h"
#include "cli/cli_command.h"
#include "store/defaults_project.h"
#include "store/object_stream.h"

namespace qm::cli {
namespace {

int RunAdd(const Invocation& inv) {
    std::vector<std::string> words;
    std::string caption;
    bool haveCaption = false, haveLevel = false;
    std::int32_t level = 0;
    for (std::size_t i = 0; i < inv.args.size(); ++i) {
        const std::string& a = inv.args[i];
        if (a == "--level") {
            if (i + 1 >= inv.args.size() || !store::ParseDecimal(inv.args[i + 1], level))
                return UsageError("add", "--level needs a whole number");
            haveLevel = true;
            ++i;
        } else if (a == "--caption") {
            if (i + 1 >= inv.args.size()) return UsageError("add", "--caption needs a text");
            caption = inv.args[++i];
            haveCaption = true;
        } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            return UsageError("add", "unknown option " + a);
        } else {
            words.push_back(a);
        }
    }
    if (words.size() != 2) return UsageError("add", "FOLDER and URL are needed");
    if (words[0].empty()) return UsageError("add", "FOLDER must not be empty");
    if (words[1].empty()) return UsageError("add", "URL must not be empty");
    if (const std::string scheme = app::UnsupportedScheme(words[1]); !scheme.empty())
        return UsageError("add", "cannot fetch " + scheme + ": addresses (only " + app::FetchableSchemes() + ")");

    app::Core core;

    app::Session& session = core.GetSession();
    std::string error;
    if (!OpenCore("add", core, inv)) return kExitFailure;
    store::ProjectTree& tree = session.Tree();
    store::ProjectFolder* folder = tree.FindFolder(words[0]);
    if (!folder) folder = &tree.AddFolder(words[0]);

    store::Project settings;
    settings.Assign(session.Defaults());
    if (haveLevel) settings.Lev = level;
    store::Project& project = app::NewProject(tree, *folder, settings, words[1]);
    project.Caption = store::LimitCaption(haveCaption ? caption : project.URL);

    if (!session.Save(error)) {
        std::fprintf(stderr, "quillmoor-cli add: %s\n", error.c_str());
        return kExitFailure;
    }
    std::printf("%d\n", project.IID);
    return kExitOk;
}

}  // namespace
QM_CLI_COMMAND("add", "FOLDER URL [--level N] [--caption TEXT]",
               "add a Project with the default settings to a folder (made when missing)", RunAdd);
}  // namespace qm::cli
