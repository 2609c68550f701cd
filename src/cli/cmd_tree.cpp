// quillmoor-cli new-folder, rename, delete and move: the Project tree commands, answered from
// the command's own flags. Refusals go to standard error and exit 1.
#include <cstdio>

#include "app/project_lookup.h"
#include "app/core.h"
#include "app/tree_commands.h"
#include "cli/cli_command.h"
#include "store/ui_messages.h"

namespace qm::cli {
namespace {

// The user named the node on the command line: removing it is what was asked for; the files
// only go with --files.
class FlagAnswers : public app::Confirmation {
public:
    bool deleteFiles = false;
    std::string refusal;
    bool Ask(app::Question which, const std::string&, const std::string&) override {
        return which == app::Question::RemoveFiles ? deleteFiles : true;
    }
    void ShowError(const std::string& message, const std::string&) override { refusal = message; }
};

// FOLDER or FOLDER/PROJECT: a folder whose caption is the whole text wins over a split.
app::Node FindNode(const store::ProjectTree& tree, const std::string& text, std::string& error) {
    if (store::ProjectFolder* folder = app::FindFolderArg(tree, text)) return {folder, nullptr};
    const std::size_t slash = text.rfind('/');
    if (slash == std::string::npos) {
        error = "no folder '" + text + "'";
        return {};
    }
    store::ProjectFolder* folder = app::FindFolderArg(tree, text.substr(0, slash));
    if (!folder) {
        error = "no folder '" + text.substr(0, slash) + "'";
        return {};
    }
    const std::string part = text.substr(slash + 1);
    if (part.empty()) return {folder, nullptr};
    std::vector<store::Project*> found = app::FindProjectsArg(*folder, part);
    if (found.size() != 1) {
        error = "no Project '" + part + "' in folder '" + folder->Caption + "'";
        return {};
    }
    return {folder, found.front()};
}

int Finish(const char* name, app::Session& session) {
    std::string error;
    if (!session.Save(error)) {
        std::fprintf(stderr, "quillmoor-cli %s: %s\n", name, error.c_str());
        return kExitFailure;
    }
    return kExitOk;
}

int Fail(const char* name, const std::string& message) {
    std::fprintf(stderr, "quillmoor-cli %s: %s\n", name, message.c_str());
    return kExitFailure;
}

int RunNewFolder(const Invocation& inv) {
    if (inv.args.size() != 1 || inv.args[0].empty()) return UsageError("new-folder", "give the folder's caption");
    FlagAnswers answers;
    app::Core core(answers);
    app::Session& session = core.GetSession();
    if (!OpenCore("new-folder", core, inv)) return kExitFailure;
    app::TreeCommands& commands = core.Commands();
    store::ProjectFolder& folder = commands.NewFolder();
    commands.Rename({&folder, nullptr}, inv.args[0]);
    return Finish("new-folder", session);
}

int RunRename(const Invocation& inv) {
    if (inv.args.size() != 2) return UsageError("rename", "give the node and its new caption");
    if (inv.args[1].empty()) return UsageError("rename", "the caption may not be empty");
    FlagAnswers answers;
    app::Core core(answers);
    app::Session& session = core.GetSession();
    if (!OpenCore("rename", core, inv)) return kExitFailure;
    std::string error;
    app::Node node = FindNode(session.Tree(), inv.args[0], error);
    if (!node.folder) return Fail("rename", error);
    core.Commands().Rename(node, inv.args[1]);
    return Finish("rename", session);
}

int RunDelete(const Invocation& inv) {
    FlagAnswers answers;
    std::vector<std::string> words;
    for (const auto& a : inv.args) {
        if (a == "--files")
            answers.deleteFiles = true;
        else if (a.size() > 2 && a.compare(0, 2, "--") == 0)
            return UsageError("delete", "unknown option " + a);
        else
            words.push_back(a);
    }
    if (words.size() != 1) return UsageError("delete", "name one folder or Project");
    app::Core core(answers);
    app::Session& session = core.GetSession();
    if (!OpenCore("delete", core, inv)) return kExitFailure;
    std::string error;
    app::Node node = FindNode(session.Tree(), words[0], error);
    if (!node.folder) return Fail("delete", error);
    if (!core.Commands().Delete(node))
        return Fail("delete", answers.refusal.empty() ? "nothing was deleted" : answers.refusal);
    return Finish("delete", session);
}

int RunMove(const Invocation& inv) {
    if (inv.args.size() != 2) return UsageError("move", "give what to move and where");
    FlagAnswers answers;
    app::Core core(answers);
    app::Session& session = core.GetSession();
    if (!OpenCore("move", core, inv)) return kExitFailure;
    std::string error;
    app::Node source = FindNode(session.Tree(), inv.args[0], error);
    if (!source.folder) return Fail("move", error);
    app::Node target = FindNode(session.Tree(), inv.args[1], error);
    if (!target.folder) return Fail("move", error);
    if (!app::TreeCommands::CanDrop(source, target)) return Fail("move", "a folder cannot be moved onto a Project");
    if (!core.Commands().Drop(source, target)) return Fail("move", "nothing to move: source and target are the same");
    return Finish("move", session);
}

}  // namespace
QM_CLI_COMMAND("new-folder", "CAPTION", "add a root folder to the Project tree", RunNewFolder);
QM_CLI_COMMAND("rename", "FOLDER[/PROJECT] CAPTION", "rename a folder or a Project", RunRename);
QM_CLI_COMMAND("delete", "FOLDER[/PROJECT] [--files]",
               "delete a Project (--files: also its stored files) or an empty folder", RunDelete);
QM_CLI_COMMAND("move", "FOLDER/PROJECT FOLDER[/PROJECT]",
               "move a Project to the end of a folder or before another Project (a folder before a folder)", RunMove);
}  // namespace qm::cli
