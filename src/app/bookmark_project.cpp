#include "app/bookmark_project.h"

#include "app/new_project.h"
#include "store/defaults_project.h"

namespace qm::app {

store::Project& ProjectFromBookmark(TreeCommands& commands, store::ProjectTree& tree, const store::Project& defaults,
                                    const std::string& title, const std::string& url) {
    store::ProjectFolder& folder = commands.TargetFolder();
    store::Project& project = NewProject(tree, folder, defaults, url);
    project.Caption = store::LimitCaption(title.empty() ? project.URL : title);
    commands.Select(Node{&folder, &project});
    return project;
}

}  // namespace qm::app
