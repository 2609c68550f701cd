// quillmoor-cli import: a WARC file or WACZ package as a new Project with its stored site.
#include <cstdio>

#include "app/core.h"
#include "app/web_archive_import.h"
#include "cli/cli_command.h"
#include "store/project.h"
#include "store/project_tree.h"

namespace qm::cli {
namespace {

int RunImport(const Invocation& inv) {
    std::vector<std::string> words;
    std::string caption;
    for (std::size_t i = 0; i < inv.args.size(); ++i) {
        const std::string& a = inv.args[i];
        if (a == "--caption") {
            if (i + 1 >= inv.args.size()) return UsageError("import", "--caption needs a text");
            caption = inv.args[++i];
        } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            return UsageError("import", "unknown option " + a);
        } else {
            words.push_back(a);
        }
    }
    if (words.size() != 2 || words[0].empty() || words[1].empty())
        return UsageError("import", "name a FILE.warc.gz or FILE.wacz and a FOLDER");
    app::Core core;
    if (!OpenCore("import", core, inv)) return kExitFailure;
    app::Session& session = core.GetSession();
    store::ProjectTree& tree = session.Tree();
    store::ProjectFolder* folder = tree.FindFolder(words[1]);
    if (!folder) folder = &tree.AddFolder(words[1]);
    auto progress = [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
    app::ImportReport report;
    std::string error;
    if (!app::ImportWebArchive(tree, *folder, session.Defaults(), words[0], caption, progress, report, error)) {
        std::fprintf(stderr, "quillmoor-cli import: %s\n", error.c_str());
        return kExitFailure;
    }
    if (!session.Save(error)) {
        std::fprintf(stderr, "quillmoor-cli import: %s\n", error.c_str());
        return kExitFailure;
    }
    std::fprintf(stderr, "stored=%zu redirects=%zu failed=%zu skipped=%zu\n", report.stored, report.redirects,
                 report.failed, report.skipped);
    std::printf("%d\n", report.project->IID);
    return kExitOk;
}

}  // namespace
QM_CLI_COMMAND("import", "FILE.warc.gz|FILE.wacz FOLDER [--caption TEXT]",
               "make a Project whose stored site is rebuilt from a web archive (the latest answer of each "
               "address, links translated), keeping the archive with it",
               RunImport);
}  // namespace qm::cli
