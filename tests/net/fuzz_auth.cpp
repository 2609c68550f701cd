// Feeds arbitrary bytes to the WWW-Authenticate reader as a response header and answers
// whatever challenge it picks.
#include <cstdint>
#include <string>

#include "net/http_auth.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string header(reinterpret_cast<const char*>(data), size);
    (void)qm::net::HasAuthenticateLine(header);
    const qm::net::AuthChallenge c = qm::net::PickChallenge(header);
    const std::string answer = qm::net::AuthorizationValue(c, "user", "password", "GET", "/", "cnonce");
    // The answer stays on its header line, whatever the challenge held.
    if (answer.find('\r') != std::string::npos || answer.find('\n') != std::string::npos) __builtin_trap();
    return 0;
}
