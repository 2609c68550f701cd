// Which server a password belongs to, and whether it may follow an address.
#include "engine/credential_scope.h"

#include "addresses/address_rules.h"
#include "engine/get_rec.h"
#include "store/project.h"

namespace qm::engine {

namespace {

struct Server {
    std::string scheme, host;
    std::string port;  // always written
};

bool SplitServer(std::string_view url, Server& out) {
    const std::string lower = addresses::AsciiLowerCopy(url.substr(0, std::min<std::size_t>(url.size(), 2048)));
    std::string_view rest(lower);
    const std::size_t colon = rest.find("://");
    if (colon == std::string_view::npos) return false;
    out.scheme = std::string(rest.substr(0, colon));
    std::string defaultPort;
    if (out.scheme == "http")
        defaultPort = "80";
    else if (out.scheme == "https")
        defaultPort = "443";
    else if (out.scheme == "ftp")
        defaultPort = "21";
    else
        return false;
    rest.remove_prefix(colon + 3);
    std::string_view authority = rest.substr(0, rest.find_first_of("/\\?#"));
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) authority.remove_prefix(at + 1);
    const std::size_t portColon = authority.rfind(':');
    const bool bracketed = !authority.empty() && authority[0] == '[';
    if (portColon != std::string_view::npos && (!bracketed || authority.rfind(']') < portColon)) {
        out.host = std::string(authority.substr(0, portColon));
        out.port = std::string(authority.substr(portColon + 1));
        if (out.port.empty()) out.port = defaultPort;
    } else {
        out.host = std::string(authority);
        out.port = defaultPort;
    }
    return !out.host.empty();
}

}  // namespace

std::string ServerOf(std::string_view url) {
    Server s;
    if (!SplitServer(url, s)) return {};
    return s.scheme + "://" + s.host + ":" + s.port;
}

bool CredentialsMayFollow(std::string_view from, std::string_view to) {
    Server a, b;
    if (!SplitServer(from, a) || !SplitServer(to, b) || a.host != b.host) return false;
    if (a.scheme == b.scheme) return a.port == b.port;
    if (a.scheme == "http" && b.scheme == "https") return a.port == b.port || (a.port == "80" && b.port == "443");
    return false;
}

bool ProjectCredentialsApply(const store::Project& project, const DownloadRecord& record) {
    return CredentialsMayFollow(project.URL, record.URL);
}

}  // namespace qm::engine
