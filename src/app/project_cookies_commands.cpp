// Listing, importing and clearing a Project's cookies.
#include "app/project_cookies_commands.h"

#include <ctime>

#include "engine/project_cookies.h"
#include "net/cookie_file.h"
#include "store/project.h"

namespace qm::app {

std::string CookiesListing(const store::Project& project) {
    return net::CookiesText(engine::ProjectCookies(project.IID));
}

std::vector<std::string> CookieLines(const store::Project& project) {
    std::vector<std::string> lines;
    for (const net::Cookie& c : engine::ProjectCookies(project.IID).Cookies()) {
        std::string line = (c.hostOnly ? "" : ".") + c.domain + " " + c.path + " " + c.name + "=" + c.value;
        if (c.secure) line += " secure";
        if (c.httpOnly) line += " httponly";
        if (c.expires == 0) {
            line += " (session)";
        } else {
            char when[32] = "";
            const std::time_t t = static_cast<std::time_t>(c.expires);
            std::tm parts{};
            if (gmtime_r(&t, &parts) && std::strftime(when, sizeof when, "%Y-%m-%d %H:%M UTC", &parts))
                line += std::string(" (until ") + when + ")";
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

int ImportCookies(const store::Project& project, const std::string& file, std::string& error) {
    net::CookieJar& jar = engine::ProjectCookies(project.IID);
    const int added = net::ImportCookieFile(file, jar, error);
    if (added < 0) return -1;
    jar.SetModified(true);
    if (!engine::SaveProjectCookies(project.IID, error)) return -1;
    return added;
}

void ClearCookies(const store::Project& project) {
    engine::ProjectCookies(project.IID).Clear();
    engine::ForgetProjectCookies(project.IID, true);
}

}  // namespace qm::app
