// Feeds arbitrary bytes to the chunked framing and to every content decoder, cut into pieces
// of varying size, and checks that each ends in a bounded way: the framing never yields more
// body than it was given, a decoder never hands its sink more than a piece at once, and a
// whole body never decodes past its limit.
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "codings/chunked_body.h"
#include "codings/content_decoding.h"
#include "codings/whole_body.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t piece = 1 + data[0] % 97;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const std::size_t length = size - 1;

    qm::codings::ChunkedBody chunks;
    std::string body;
    for (std::size_t at = 0; at < length; at += piece) {
        const auto r = chunks.Feed(bytes + at, std::min(piece, length - at), body);
        if (r != qm::codings::ChunkedBody::Result::More) break;
    }
    if (body.size() > length) std::abort();

    static const char* const kCodings[] = {"gzip", "deflate", "br", "zstd"};
    for (const char* coding : kCodings) {
        auto decoder = qm::codings::MakeContentDecoder(coding);
        std::size_t produced = 0;
        auto sink = [&](const char*, std::size_t n) {
            if (n == 0 || n > qm::codings::ContentDecoder::kPieceSize) std::abort();
            produced += n;
            return produced < 8 * 1024 * 1024;  // a bomb is stopped by its reader
        };
        for (std::size_t at = 0; at < length; at += piece) {
            const auto r = decoder->Feed(bytes + at, std::min(piece, length - at), sink);
            if (r != qm::codings::ContentDecoder::Result::More) break;
        }
    }
    // Whole bodies (archived answers): never past their limit, with a chain of codings too.
    static const char* const kEncodings[] = {"gzip", "deflate", "br", "zstd", "gzip, br", "deflate, zstd"};
    const std::string_view whole(bytes, length);
    for (const char* encoding : kEncodings) {
        std::string out;
        if (qm::codings::DecodeContent(whole, encoding, 1 << 20, out) == qm::codings::Decoded::Ok &&
            out.size() > (1u << 20))
            std::abort();
    }
    std::string dechunked;
    if (qm::codings::Dechunk(whole, dechunked) && dechunked.size() > length) std::abort();
    return 0;
}
