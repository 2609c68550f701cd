// The cookie list of the Project properties.
#include "viewmodels/cookie_panel.h"

#include "app/project_cookies_commands.h"

namespace qm::viewmodels {

CookiePanel ShowCookies(const store::Project& project, bool defaults) {
    CookiePanel panel;
    if (defaults || project.IID == 0) return panel;
    panel.lines = app::CookieLines(project);
    panel.canClear = !panel.lines.empty();
    return panel;
}

CookiePanel ClearCookies(const store::Project& project) {
    app::ClearCookies(project);
    return ShowCookies(project, false);
}

}  // namespace qm::viewmodels
