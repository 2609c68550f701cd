#pragma once
// What choosing a bookmark does: a new Project named by the bookmark's title, started at its
// address, in the selected folder (the selected Project's folder; the first node when
// nothing is selected).
#include <string>

#include "app/tree_commands.h"

namespace qm::app {

store::Project& ProjectFromBookmark(TreeCommands& commands, store::ProjectTree& tree, const store::Project& defaults,
                                    const std::string& title, const std::string& url);

}  // namespace qm::app
