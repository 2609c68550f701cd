#pragma once
// Which local files a download may read. Only a Project started from a file:// address reads
// local files, and only inside the folder of its start address; an address reached from a
// page or a redirect that came over the network never becomes a local file.
#include <string>
#include <string_view>

namespace qm::engine {

struct AdmissionResult;

// Whether text is a file:// address (any letter case).
bool IsLocalFileAddress(std::string_view text);

// Whether a link or redirect target leaves a network address for a local file.
inline bool LeavesNetworkForLocalFile(std::string_view from, std::string_view to) {
    return IsLocalFileAddress(to) && !IsLocalFileAddress(from);
}

// Whether a Project started from startUrl may read the local file of a cleaned file://
// address; refuses with the reason "local file" (the Project is not a local one) or
// "outside start folder".
bool LocalFileAllowed(const std::string& startUrl, const std::string& cleanedUrl, AdmissionResult& why);

}  // namespace qm::engine
