#pragma once
// Opening an address with the desktop's default browser (what xdg-open uses).
#include <string>

namespace qm::platform {

// Starts xdg-open with address and returns at once; false with error when it could not start.
bool OpenWithDefaultBrowser(const std::string& address, std::string& error);

}  // namespace qm::platform
