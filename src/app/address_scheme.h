#pragma once
// Which typed addresses the program can fetch at all, decided before anything is created: an
// address naming another scheme ("gopher://...", "mailto:...") is refused with its scheme
// named, instead of being taken for a host name.
#include <string>

namespace qm::app {

// The schemes a start address may have, for messages: "http://, https://, ftp:// and file://".
const char* FetchableSchemes();

// The scheme a typed address names when the program cannot fetch it ("gopher", "mailto"), in
// lower case; empty when the address is http://, https://, ftp://, file:// or names no scheme at all
// ("example.com/docs", "host:8080/x", "c:\web\index.htm").
std::string UnsupportedScheme(const std::string& typed);

// Whether a typed address names its host as a bracketed IPv6 literal ("http://[::1]:8080/").
bool NamesIpv6Host(const std::string& typed);

}  // namespace qm::app
