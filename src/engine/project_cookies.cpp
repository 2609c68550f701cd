// Each Project's cookie jar in memory and in its file.
#include "engine/project_cookies.h"

#include <ctime>
#include <filesystem>
#include <map>

#include "net/cookie_file.h"
#include "platform/program_folder.h"

namespace qm::engine {

namespace {
std::map<int, net::CookieJar>& Jars() {
    static std::map<int, net::CookieJar> jars;
    return jars;
}
}  // namespace

std::int64_t CookieClock() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::string CookieFileName(int projectId) { return platform::ProgramFile(std::to_string(projectId) + ".cookies"); }

net::CookieJar& ProjectCookies(int projectId) {
    auto [it, made] = Jars().try_emplace(projectId);
    if (made) {
        std::string text, error;
        const std::string name = CookieFileName(projectId);
        std::error_code ec;
        if (std::filesystem::exists(name, ec) && platform::ReadWholeFile(name, text, error)) {
            net::ReadCookiesText(text, it->second);
            it->second.DropExpired(CookieClock());
        }
        it->second.SetModified(false);
    }
    return it->second;
}

bool SaveProjectCookies(int projectId, std::string& error) {
    auto it = Jars().find(projectId);
    if (it == Jars().end() || !it->second.Modified()) return true;
    it->second.DropExpired(CookieClock());
    // Cookies may hold log-in sessions: the file is the user's own.
    if (!platform::WriteFileAtomic(CookieFileName(projectId), net::CookiesText(it->second), true, error)) return false;
    it->second.SetModified(false);
    return true;
}

void SaveAllProjectCookies() {
    for (auto& [id, jar] : Jars()) {
        std::string error;
        SaveProjectCookies(id, error);
    }
}

void ForgetProjectCookies(int projectId, bool removeFile) {
    Jars().erase(projectId);
    if (!removeFile) return;
    std::error_code ec;
    std::filesystem::remove(CookieFileName(projectId), ec);
}

}  // namespace qm::engine
