#pragma once
// Where credentials may go. A user name and password belong to one server: the scheme, host
// and port of the address they came with (or the Project's start address). They follow an
// address to the same server, or from http to the https form of it, and nowhere else.
#include <string>
#include <string_view>

namespace qm::store {
class Project;
}  // namespace qm::store
namespace qm::engine {

class DownloadRecord;

// The server of an address in lower case, "scheme://host:port" with the port always written
// (80, 443 or 21 when the address has none) and without credentials; empty when the address
// is not an http, https or ftp address.
std::string ServerOf(std::string_view url);

// Whether credentials that belong to the server of `from` may be sent to the server of `to`:
// the same server, or the https form of an http server (the same host, with its own port or
// 443 for a plain server on 80).
bool CredentialsMayFollow(std::string_view from, std::string_view to);

// Whether the Project's own user name and password may answer a challenge for the record's
// address: the record is on the start address's server (never on http once the Project was
// started over https).
bool ProjectCredentialsApply(const store::Project& project, const DownloadRecord& record);

}  // namespace qm::engine
