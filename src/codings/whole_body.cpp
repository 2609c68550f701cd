#include "codings/whole_body.h"

#include <memory>
#include <vector>

#include "codings/content_decoding.h"

namespace qm::codings {

Decoded DecodeContent(std::string_view body, std::string_view encoding, std::uint64_t limit, std::string& out) {
    bool known = true;
    const std::vector<std::string> list = ContentCodings(encoding, known);
    if (!known) return Decoded::Unknown;
    if (list.empty()) {
        if (body.size() > limit) return Decoded::TooLarge;
        out.assign(body);
        return Decoded::Ok;
    }
    std::unique_ptr<DecoderChain> chain = DecoderChain::For(list);
    if (!chain) return Decoded::Unknown;
    std::string result;
    bool tooLarge = false;
    const ContentDecoder::Result r =
        chain->Feed(body.data(), body.size(), [&result, &tooLarge, limit](const char* data, std::size_t count) {
            if (result.size() + count > limit) return !(tooLarge = true);
            result.append(data, count);
            return true;
        });
    if (tooLarge) return Decoded::TooLarge;
    // End: the innermost coding came to its proper end (an outer one may hold padding).
    if (r != ContentDecoder::Result::End) return Decoded::Damaged;
    out = std::move(result);
    return Decoded::Ok;
}

}  // namespace qm::codings
