#pragma once
// A folder of the Project tree (ProjectFolder): caption, directory and its Projects.
#include <memory>
#include <string>
#include <vector>

#include "store/project.h"
#include "store/streamable.h"

namespace qm::store {

class ProjectFolder : public TreeItem {
public:
    ProjectFolder() { Kind = kKindFolder; }
    void Load(ObjectStream& stream) override;
    void Save(ObjectStream& stream) override;

    std::vector<std::unique_ptr<Project>> Children;  // owned, in tree order
    int Level = 0;                                   // always 0
    std::string Dir;                                 // empty: the download folder option "PathPrefix" is used
};

}  // namespace qm::store
