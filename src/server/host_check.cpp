#include "server/host_check.h"

#include <string>

#include "server/request_head.h"
#include "store/string_list.h"

namespace qm::server {

bool NamesThisServer(std::string_view host, int port) {
    std::string_view name = host;
    std::string_view portText;
    const std::size_t colon = host.rfind(':');
    const std::size_t bracket = host.rfind(']');
    if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
        name = host.substr(0, colon);
        portText = host.substr(colon + 1);
        // "host:" with nothing after it names no port, as an empty port means the default.
        if (portText.empty()) return false;
        if (portText.size() > 5) return false;
        int value = 0;
        for (char c : portText) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + (c - '0');
        }
        if (value != port) return false;
    }
    return store::CompareNoCase(name, "127.0.0.1") == 0 || store::CompareNoCase(name, "localhost") == 0 ||
           store::CompareNoCase(name, "[::1]") == 0;
}

bool AddressedToUs(std::string_view request, int port) {
    // A Host header given twice must name us both times.
    for (std::string_view host : HeaderValues(request, "host:"))
        if (!NamesThisServer(host, port)) return false;
    return true;
}

}  // namespace qm::server
