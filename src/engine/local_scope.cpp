// The local files a Project may read: those under the folder of its own file:// start.
#include "engine/local_scope.h"

#include "addresses/address_rules.h"
#include "engine/admission.h"

namespace qm::engine {

bool IsLocalFileAddress(std::string_view text) { return addresses::StartsWithNoCase(text, "file://"); }

bool LocalFileAllowed(const std::string& startUrl, const std::string& cleanedUrl, AdmissionResult& why) {
    std::string start = startUrl;
    addresses::CleanedAddress parts;
    if (addresses::CleanAddress(start, parts) != addresses::CleanStatus::Ok || !parts.isFile)
        return why.Refuse("local file");
    addresses::DropFragment(start);
    const std::size_t query = start.find('?');
    if (query != std::string::npos) start.resize(query);
    // The start folder: the start address up to and including its last "/"; the address
    // is cleaned the same way, so "/../" cannot climb out of it unseen.
    // Compared as local names, where "c:/" and "c|/" are one drive.
    std::string folder = addresses::RelativeLocalName(start, true);
    folder.resize(folder.find_last_of('/') + 1);  // "Local Files/" has one at least
    const std::string name = addresses::RelativeLocalName(cleanedUrl, true);
    if (name.compare(0, folder.size(), folder) != 0) return why.Refuse("outside start folder");
    return true;
}

}  // namespace qm::engine
