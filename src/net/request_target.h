#pragma once
// The target of a request line as HTTP allows it: addresses found in pages may hold blanks,
// quotes, control characters or bytes above 127, which a request line may not carry.
#include <string>
#include <string_view>

namespace qm::net {

// Percent-encodes every byte a request target (or a Referer address) may not hold as it
// stands. Letters, digits, "-._~", "!$&'()*+,;=", ":@/?" stay; a "%" stays only when two
// hex digits follow it (an escape already made), otherwise it becomes "%25".
std::string EncodeRequestTarget(std::string_view target);

}  // namespace qm::net
