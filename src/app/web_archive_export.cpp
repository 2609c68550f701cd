// The WACZ export of a Project's web archive, shared by the window and quillmoor-cli.
#include "app/web_archive_export.h"

#include "archive/wacz.h"
#include "archive/warc_writer.h"
#include "engine/queue_manager.h"
#include "engine/web_archive.h"
#include "store/project.h"

namespace qm::app {

bool ExportWebArchive(const store::Project& project, const std::string& target,
                      const std::function<void(const std::string&)>& progress, std::string& error) {
    // A run still recording has not written its last records yet: its files wait for it.
    if (engine::QueueManager* queue = engine::QueueManager::Instance())
        if (queue->ArchiveOf(&project)) {
            error =
                "Project '" + project.Caption + "' is recording its web archive now; export it when it has finished";
            return false;
        }
    const std::string folder = engine::ArchiveFolder(project);
    std::string repairError;
    archive::RepairArchiveFolder(folder, repairError);
    std::vector<std::string> paths;
    for (const std::string& name : archive::ArchiveFiles(folder)) paths.push_back(folder + "/" + name);
    if (paths.empty()) {
        error =
            "Project '" + project.Caption + "' has no web archive yet (switch on \"Record a web archive\" and run it)";
        return false;
    }
    return archive::WriteWacz(target, project.Caption, paths, progress, error);
}

}  // namespace qm::app
