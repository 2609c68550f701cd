// Description records of stored files, over the store's description file.
#include <cerrno>

#include "engine/known_directories.h"
#include "engine/stored_files.h"
#include "store/description_file.h"

namespace qm::engine {

bool LookupFileDescription(const std::string& dir, const std::string& name, std::string& contentType,
                           std::string& lastModified) {
    store::FileDescription record;
    record.ContentType = contentType;
    if (!store::ReadDescription(dir, name, record)) return false;
    contentType = record.ContentType;
    lastModified = record.LastModified;
    return true;
}

void RecordFileDescription(const std::string& dir, const std::string& name, const std::string& contentType,
                           const std::string& lastModified) {
    store::FileDescription record;
    record.Name = name;
    record.ContentType = contentType.substr(0, 40);
    record.LastModified = lastModified.substr(0, 30);
    if (store::WriteDescription(dir, record)) return;
    // The directory the run took for made was removed meanwhile: made again, once.
    if (errno == ENOENT && ForgetDirectory(dir) && MakeDirectories(dir)) store::WriteDescription(dir, record);
}

}  // namespace qm::engine
