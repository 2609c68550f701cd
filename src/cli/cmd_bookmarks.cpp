// quillmoor-cli bookmarks [--add FOLDER]: the bookmarks the bookmarks menu offers, or every
// one of them turned into a Project in FOLDER (one Project per address).
#include <cstdio>
#include <set>

#include "desktop/bookmarks.h"
#include "app/new_project.h"
#include "app/core.h"
#include "cli/cli_command.h"
#include "store/defaults_project.h"
#include "store/options.h"
#include "store/string_list.h"

namespace qm::cli {
namespace {

void Links(const desktop::BookmarkItem& item, std::vector<const desktop::BookmarkItem*>& out) {
    for (const desktop::BookmarkItem& c : item.children) {
        if (c.kind == desktop::BookmarkItem::Kind::Link && !c.url.empty() && c.url != "N/A") out.push_back(&c);
        if (c.kind == desktop::BookmarkItem::Kind::Folder) Links(c, out);
    }
}

int RunBookmarks(const Invocation& inv) {
    std::string folderName;
    if (inv.args.size() == 2 && inv.args[0] == "--add" && !inv.args[1].empty())
        folderName = inv.args[1];
    else if (!inv.args.empty())
        return UsageError("bookmarks", "only --add FOLDER is taken");
    app::Core core;
    app::Session& session = core.GetSession();
    if (!OpenCore("bookmarks", core, inv,
                  folderName.empty() ? app::Session::Access::Read : app::Session::Access::Change))
        return kExitFailure;
    // No menu to fit: one level each.
    const desktop::BookmarkItem root =
        desktop::ReadAllBookmarks(desktop::MachineSources(session.Registry(), store::Options().BookmarksFile, 0));
    if (folderName.empty()) {
        std::fputs(desktop::BookmarkListing(root).c_str(), stdout);
        return kExitOk;
    }
    store::ProjectTree& tree = session.Tree();
    store::ProjectFolder* folder = tree.FindFolder(folderName);
    if (!folder) folder = &tree.AddFolder(folderName);
    std::set<std::string> known;
    for (const auto& p : folder->Children) known.insert(store::LowerCase(p->URL));
    std::vector<const desktop::BookmarkItem*> links;
    Links(root, links);
    int added = 0;
    for (const desktop::BookmarkItem* link : links) {
        if (!known.insert(store::LowerCase(app::NormaliseTypedAddress(link->url))).second) continue;
        store::Project& p = app::NewProject(tree, *folder, session.Defaults(), link->url);
        p.Caption = store::LimitCaption(link->caption);
        std::printf("%d\t%s\t%s\n", p.IID, p.Caption.c_str(), p.URL.c_str());
        ++added;
    }
    std::string error;
    if (added > 0 && !session.Save(error)) {
        std::fprintf(stderr, "quillmoor-cli bookmarks: %s\n", error.c_str());
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace
QM_CLI_COMMAND("bookmarks", "[--add FOLDER]", "list the browsers' bookmarks, or add each as a Project to FOLDER",
               RunBookmarks);
}  // namespace qm::cli
