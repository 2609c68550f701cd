// A download record: construction and its object-stream form.
#include "engine/get_rec.h"

#include "store/options.h"

namespace qm {

TGetRec::TGetRec() : ConnTries(Options().ConnRetries) {}

void TGetRec::Load(TAnStream& stream) { (void)stream; }

void TGetRec::Save(TAnStream& stream) { (void)stream; }

}  // namespace qm
