// quillmoor-cli get: adds a Project for an address (unless its folder has one) and downloads it.
#include <cstdio>
#include <string>
#include <vector>

#include "app/address_scheme.h"
#include "app/new_project.h"
#include "app/core.h"
#include "cli/cli_command.h"
#include "cli/run_downloads.h"
#include "store/object_stream.h"
#include "store/project.h"
#include "store/project_tree.h"
#include "store/ui_messages.h"

namespace qm::cli {

namespace {

bool ParseLevel(const std::string& text, int& level) {
    std::int32_t v = 0;
    if (!store::ParseDecimal(text, v) || v < 0) return false;
    level = v;
    return true;
}

int RunGet(const Invocation& inv) {
    std::string url, folderName;
    int level = -1;
    bool log = false;
    bool allServers = false;
    const auto& a = inv.args;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] == "--level") {
            if (i + 1 >= a.size() || !ParseLevel(a[i + 1], level))
                return UsageError("get", "--level needs a number of levels");
            ++i;
        } else if (a[i] == "--folder") {
            if (i + 1 >= a.size() || a[i + 1].empty()) return UsageError("get", "--folder needs a folder name");
            folderName = a[++i];
        } else if (a[i] == "--log") {
            log = true;
        } else if (a[i] == "--all-servers") {
            allServers = true;
        } else if (a[i].size() > 2 && a[i].compare(0, 2, "--") == 0) {
            return UsageError("get", "unknown option " + a[i]);
        } else if (url.empty()) {
            url = a[i];
        } else {
            return UsageError("get", "one address only");
        }
    }
    if (url.empty()) return UsageError("get", "an address is needed");
    if (const std::string scheme = app::UnsupportedScheme(url); !scheme.empty())
        return UsageError("get", "cannot fetch " + scheme + ": addresses (only " + app::FetchableSchemes() + ")");

    app::Core core;

    app::Session& session = core.GetSession();
    std::string error;
    if (!OpenCore("get", core, inv, app::Session::Access::Run)) return kExitFailure;
    store::ProjectTree& tree = session.Tree();
    store::ProjectFolder* folder = nullptr;
    if (folderName.empty())
        folder = tree.Folders.empty() ? nullptr : tree.Folders.front().get();
    else
        folder = tree.FindFolder(folderName);
    if (!folder) folder = &tree.AddFolder(folderName.empty() ? store::UIMessage(store::UIText::Default) : folderName);

    const std::string address = app::NormaliseTypedAddress(url);
    store::Project* project = nullptr;
    for (auto& p : folder->Children)
        if (p->URL == address) {
            project = p.get();
            break;
        }
    if (!project) {
        project = &app::NewProject(tree, *folder, session.Defaults(), url);
        project->Caption = project->URL;
        if (level >= 0) project->Lev = level;
        // As mirroring tools do: the starting server only, unless asked for every server.
        project->RSrvsBx = allServers ? 0 : 1;
    } else {
        if (level >= 0) project->Lev = level;
        if (allServers) project->RSrvsBx = 0;
    }
    // The Project is named by its index, which no caption can be mistaken for.
    std::size_t index = 0;
    for (std::size_t i = 0; i < folder->Children.size(); ++i)
        if (folder->Children[i].get() == project) index = i;
    return RunStartWords(core, {folder->Caption + "/" + std::to_string(index)}, log);
}

}  // namespace

QM_CLI_COMMAND("get", "URL [--level N] [--folder FOLDER] [--all-servers] [--log]",
               "add a Project for URL (unless the folder has one) and download it, from its "
               "starting server only unless --all-servers",
               RunGet);

}  // namespace qm::cli
