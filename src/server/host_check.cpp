#include "server/host_check.h"

#include <string>

#include "server/request_head.h"
#include "store/string_list.h"

namespace qm::server {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

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
    const std::size_t headEnd = RequestHeadEnd(request);
    const std::string_view head = headEnd == std::string_view::npos ? request : request.substr(0, headEnd);
    static constexpr std::string_view kHost = "host:";
    // Every line after the request line; a Host header given twice must name us both times.
    for (std::size_t at = head.find('\n'); at != std::string_view::npos; at = head.find('\n', at + 1)) {
        std::string_view line = head.substr(at + 1);
        line = line.substr(0, line.find('\n'));
        if (store::CompareNoCase(line.substr(0, kHost.size()), kHost) != 0) continue;
        std::string_view value = line.substr(kHost.size());
        while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
        while (!value.empty() && (IsBlank(value.back()) || value.back() == '\r')) value.remove_suffix(1);
        if (!NamesThisServer(value, port)) return false;
    }
    return true;
}

}  // namespace qm::server
