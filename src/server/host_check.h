#pragma once
// Which requests the local web server answers: only those addressed to this machine's own
// names. A web page elsewhere that points a name of its own at 127.0.0.1 (DNS rebinding)
// makes the browser send that name in Host, and must not read the stored sites through it.
#include <string_view>

namespace qm::server {

// True when every Host header of the request head names 127.0.0.1, localhost or [::1]
// (without regard to case), with port as its port or with none. A request without Host
// (HTTP/1.0 clients) is answered. Only the head is looked at.
bool AddressedToUs(std::string_view request, int port);

// True when host ("name" or "name:port", as in a Host header or an address) is one of those
// names, with port as its port or with none.
bool NamesThisServer(std::string_view host, int port);

}  // namespace qm::server
