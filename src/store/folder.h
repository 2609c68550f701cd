#pragma once
// A folder of the Project tree (TDContainer): caption, directory and its Projects.
#include <memory>
#include <string>
#include <vector>

#include "store/project.h"
#include "store/streamable.h"

namespace qm {

class TDContainer : public TQVClass {
public:
    TDContainer() { Kind = kKindFolder; }
    void Load(TAnStream& stream) override;
    void Save(TAnStream& stream) override;

    std::vector<std::unique_ptr<TDClass>> Children;  // owned, in tree order
    int Level = 0;    // always 0
    std::string Dir;  // empty: the download folder option "PathPrefix" is used
};

}  // namespace qm
