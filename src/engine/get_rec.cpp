// A download record: construction and its object-stream form (type code 2).
#include "engine/get_rec.h"

#include <memory>

#include "store/object_stream.h"
#include "store/options.h"
#include "store/project.h"

namespace qm::engine {

namespace {
std::unique_ptr<store::StreamObject> NewGetRec() { return std::make_unique<DownloadRecord>(); }
// Object streams create download records for type code 2 once this file is linked in.
const bool kRegistered = (store::RegisterStreamType(store::kTypeGetRec, &NewGetRec), true);
}  // namespace

DownloadRecord::DownloadRecord() : DownloadRecord(store::Options().ConnRetries) {}

DownloadRecord::DownloadRecord(int connTries) : ConnTries(connTries) { (void)kRegistered; }

DownloadRecord::~DownloadRecord() {
    if (DataFile) std::fclose(DataFile);
}

void DownloadRecord::Load(store::ObjectStream& stream) {
    LoadedIID = stream.ReadInt("IID");
    stream.ReadStr("URL", URL);
    Img = stream.ReadBool("Img");
    Lev = stream.ReadInt("Lev");
    Srv = stream.ReadBool("Srv");
    stream.ReadStr("FName", FName);
    stream.ReadStr("Temp", Temp);
    stream.ReadStr("Path", Path);
    stream.ReadStr("RFile", RFile);
    stream.ReadStr("Base", Base);
    stream.ReadStr("InitWay", InitWay);
    JavaClass = stream.ReadBool("JavaClass");
    Depth = stream.ReadInt("Depth");
    IsImage = stream.ReadBool("IsImage");
    stream.ReadStr("URLPsw", URLPsw);
    // A record read back starts its run afresh.
    Busy = false;
    Category = nullptr;
    ConnTries = store::Options().ConnRetries;
}

void DownloadRecord::Save(store::ObjectStream& stream) {
    stream.WriteInt("IID", Project ? Project->IID : LoadedIID);
    stream.WriteStr("URL", URL);
    stream.WriteBool("Img", Img);
    stream.WriteInt("Lev", Lev);
    stream.WriteBool("Srv", Srv);
    stream.WriteStr("FName", FName);
    stream.WriteStr("Temp", Temp);
    stream.WriteStr("Path", Path);
    stream.WriteStr("RFile", RFile);
    stream.WriteStr("Base", Base);
    stream.WriteStr("InitWay", InitWay);
    stream.WriteBool("JavaClass", JavaClass);
    stream.WriteInt("Depth", Depth);
    stream.WriteBool("IsImage", IsImage);
    stream.WriteStr("URLPsw", URLPsw);
}

}  // namespace qm::engine
