#include "store/folder.h"

#include "store/object_stream.h"

namespace qm {

void TDContainer::Save(TAnStream& s) {
    s.WriteStr("Text", Caption);
    s.WriteInt("Levl", Level);
    s.WriteStr("Dir", Dir);
}

void TDContainer::Load(TAnStream& s) {
    Caption = s.ReadStr("Text");
    Level = s.ReadInt("Levl");
    Dir = s.ReadStr("Dir");
}

}  // namespace qm
