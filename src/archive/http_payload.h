#pragma once
// The body of an archived answer as a browser would see it: chunks joined and its
// Content-Encoding undone, never growing past a limit.
#include <cstdint>
#include <string>

#include "codings/whole_body.h"

namespace qm::archive {

// The payload of an HTTP response block: the body after the head, chunks joined when it came
// chunked, its Content-Encoding undone. status and head are set from the block.
codings::Decoded HttpPayload(const std::string& block, std::uint64_t limit, int& status, std::string& head,
                             std::string& body);

}  // namespace qm::archive
