#pragma once
// The cookies part of the Project properties: the lines its list shows and the clear button.
#include <string>
#include <vector>

#include "store/project.h"

namespace qm::viewmodels {

struct CookiePanel {
    std::vector<std::string> lines;  // one per cookie
    bool canClear = false;           // the button is enabled while there is something to clear
};

// The panel for a Project; the Defaults Project keeps no cookies (empty, nothing to clear).
CookiePanel ShowCookies(const store::Project& project, bool defaults);
// Clears the Project's cookies at once (not on OK: what is cleared is gone) and gives the
// panel afterwards.
CookiePanel ClearCookies(const store::Project& project);

}  // namespace qm::viewmodels
