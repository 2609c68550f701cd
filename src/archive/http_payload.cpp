#include "archive/http_payload.h"

#include "archive/warc_record.h"
#include "codings/chunked_body.h"

namespace qm::archive {

codings::Decoded HttpPayload(const std::string& block, std::uint64_t limit, int& status, std::string& head,
                             std::string& body) {
    std::string_view h, b;
    if (!SplitHttpMessage(block, h, b)) {
        status = HttpStatus(block);
        return codings::Decoded::Damaged;
    }
    head.assign(h);
    status = HttpStatus(h);
    std::string dechunked;
    if (HttpHeaderValue(h, "Transfer-Encoding").find("chunked") != std::string::npos && codings::Dechunk(b, dechunked))
        b = dechunked;
    return codings::DecodeContent(b, HttpHeaderValue(h, "Content-Encoding"), limit, body);
}

}  // namespace qm::archive
