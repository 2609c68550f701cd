#include "store/folder.h"

#include "store/object_stream.h"

namespace qm::store {

void ProjectFolder::Save(ObjectStream& s) {
    s.WriteStr("Text", Caption);
    s.WriteInt("Levl", Level);
    s.WriteStr("Dir", Dir);
}

void ProjectFolder::Load(ObjectStream& s) {
    Caption = s.ReadStr("Text");
    Level = s.ReadInt("Levl");
    Dir = s.ReadStr("Dir");
}

}  // namespace qm::store
