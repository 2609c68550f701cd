// Description records of stored files, over the store's description file.
#include "engine/stored_files.h"

namespace qm {

bool ReadDescription(const std::string& dir, const std::string& name, std::string& contentType,
                     std::string& lastModified) {
    (void)dir; (void)name; (void)contentType; (void)lastModified;
    return false;
}

void WriteDescription(const std::string& dir, const std::string& name,
                      const std::string& contentType, const std::string& lastModified) {
    (void)dir; (void)name; (void)contentType; (void)lastModified;
}

}  // namespace qm
