#include "app/bookmark_project.h"

#include "app/new_project.h"
#include "store/defaults_project.h"

namespace qm::app {

Project& ProjectFromBookmark(TreeCommands& commands, ProjectTree& tree, const Project& defaults,
                             const std::string& title, const std::string& url) {
    ProjectFolder& folder = commands.TargetFolder();
    Project& project = NewProject(tree, folder, defaults, url);
    project.Caption = LimitCaption(title.empty() ? project.URL : title);
    commands.Select(Node{&folder, &project});
    return project;
}

}  // namespace qm::app
