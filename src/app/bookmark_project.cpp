#include "app/bookmark_project.h"

#include "app/new_project.h"
#include "store/defaults_project.h"

namespace qm::app {

TDClass& ProjectFromBookmark(TreeCommands& commands, ProjectTree& tree, const TDClass& defaults,
                             const std::string& title, const std::string& url) {
    TDContainer& folder = commands.TargetFolder();
    TDClass& project = NewProject(tree, folder, defaults, url);
    project.Caption = LimitCaption(title.empty() ? project.URL : title);
    commands.Select(Node{&folder, &project});
    return project;
}

}  // namespace qm::app
