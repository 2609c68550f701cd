// The listener maps requests with a copy of the tree's folders and the options; a copy that
// still matches after a change would keep serving from where the files no longer are.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "server/served_settings.h"
#include "store/folder.h"
#include "store/options.h"
#include "store/project_tree.h"

namespace qm::server {
namespace {

TEST(ServedSettings, EveryChangeTheMappingReadsIsNoticed) {
    store::Options().Reset();
    store::Options().PathPrefix = "/srv/default/";
    store::ProjectTree tree;
    tree.AddFolder("Sites").Dir = "/srv/sites/";
    tree.AddFolder("Plain");  // no directory of its own: the download folder

    const ServedSettings first = ServedSettings::Of(&tree, store::Options());
    ASSERT_EQ(first.folders.size(), 2u);
    EXPECT_EQ(first.folders[0].lowerCaption, "sites");
    EXPECT_EQ(first.folders[1].dir, "/srv/default/");
    EXPECT_EQ(first.defaultDoc, "default.htm");
    EXPECT_TRUE(first.Matches(&tree, store::Options()));
    EXPECT_FALSE(first.Matches(nullptr, store::Options()));

    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"caption", [&] { tree.Folders[0]->Caption = "SITES"; }},
        {"directory", [&] { tree.Folders[0]->Dir = "/srv/moved/"; }},
        {"directory given", [&] { tree.Folders[1]->Dir = "/srv/plain/"; }},
        {"folder added", [&] { tree.AddFolder("More"); }},
        {"folder removed", [&] { tree.Folders.pop_back(); }},
        {"download folder", [&] { store::Options().PathPrefix = "/srv/elsewhere/"; }},
        {"download folder unset", [&] { store::Options().PathPrefix.clear(); }},
        {"offered folder", [&] { store::Options().DDs.Add("/srv/offered/"); }},
        {"default document", [&] { store::Options().DefaultDoc = "index.html"; }},
        {"address prefix", [&] { store::Options().URLPrefix = "/qm"; }},
        {"extension last", [&] { store::Options().ExtLast = !store::Options().ExtLast; }},
    };
    for (const auto& [what, change] : changes) {
        const ServedSettings before = ServedSettings::Of(&tree, store::Options());
        change();
        EXPECT_FALSE(before.Matches(&tree, store::Options())) << what;
        EXPECT_TRUE(ServedSettings::Of(&tree, store::Options()).Matches(&tree, store::Options())) << what;
    }
    // A folder without a directory follows the download folder.
    tree.Folders[1]->Dir.clear();
    store::Options().PathPrefix = "/srv/new/";
    EXPECT_EQ(ServedSettings::Of(&tree, store::Options()).folders[1].dir, "/srv/new/");
    store::Options().Reset();
}

}  // namespace
}  // namespace qm::server
