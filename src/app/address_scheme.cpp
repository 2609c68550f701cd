#include "app/address_scheme.h"

namespace qm::app {

namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

const char* FetchableSchemes() { return "http://, https://, ftp:// and file://"; }

std::string UnsupportedScheme(const std::string& typed) {
    std::size_t i = 0;
    while (i < typed.size() && static_cast<unsigned char>(typed[i]) <= ' ') ++i;
    const std::size_t start = i;
    if (i >= typed.size() || !IsLetter(typed[i])) return {};
    while (i < typed.size() &&
           (IsLetter(typed[i]) || IsDigit(typed[i]) || typed[i] == '+' || typed[i] == '-' || typed[i] == '.'))
        ++i;
    if (i >= typed.size() || typed[i] != ':') return {};
    // One letter before ":" is a drive; digits after it are a port of a bare host name.
    if (i - start == 1) return {};
    if (i + 1 < typed.size() && IsDigit(typed[i + 1])) return {};
    std::string scheme = typed.substr(start, i - start);
    for (char& c : scheme)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (scheme == "http" || scheme == "https" || scheme == "ftp" || scheme == "file") return {};
    // "host.name:" with nothing after it is a host, not a scheme.
    if (scheme.find('.') != std::string::npos && i + 1 >= typed.size()) return {};
    return scheme;
}

bool NamesIpv6Host(const std::string& typed) {
    std::size_t host = typed.find("://");
    host = host == std::string::npos ? 0 : host + 3;
    while (host < typed.size() && static_cast<unsigned char>(typed[host]) <= ' ') ++host;
    // A user name may stand before the host.
    const std::size_t end = typed.find_first_of("/\\?#", host);
    const std::size_t at = typed.rfind('@', end == std::string::npos ? typed.size() : end);
    if (at != std::string::npos && at >= host) host = at + 1;
    return host < typed.size() && typed[host] == '[';
}

}  // namespace qm::app
