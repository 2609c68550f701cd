// Undoing transfer and content encodings of archived answers through zlib.
#include "archive/content_decoding.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

#include "archive/warc_record.h"

namespace qm::archive {

namespace {

std::string Lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// windowBits: 15 + 32 reads gzip and zlib wrappers, -15 raw deflate.
Decoded Inflate(std::string_view body, int windowBits, std::uint64_t limit, std::string& out) {
    z_stream z{};
    if (inflateInit2(&z, windowBits) != Z_OK) return Decoded::Damaged;
    std::string result;
    std::vector<unsigned char> block(1 << 16);
    Decoded verdict = Decoded::Damaged;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    // Bodies of archived answers are far below 4 GB; anything longer is cut to that.
    z.avail_in = static_cast<uInt>(std::min<std::size_t>(body.size(), 0xffffffffu));
    for (;;) {
        z.next_out = block.data();
        z.avail_out = static_cast<uInt>(block.size());
        const int r = inflate(&z, Z_NO_FLUSH);
        const std::size_t n = block.size() - z.avail_out;
        if (result.size() + n > limit) {
            verdict = Decoded::TooLarge;
            break;
        }
        result.append(reinterpret_cast<const char*>(block.data()), n);
        if (r == Z_STREAM_END) {
            verdict = Decoded::Ok;
            break;
        }
        if (r != Z_OK) break;  // damaged, or cut off (no more input)
    }
    inflateEnd(&z);
    if (verdict == Decoded::Ok) out = std::move(result);
    return verdict;
}

}  // namespace

Decoded DecodeContent(std::string_view body, std::string_view encoding, std::uint64_t limit, std::string& out) {
    const std::string e = Lowered(encoding);
    if (e.empty() || e == "identity") {
        if (body.size() > limit) return Decoded::TooLarge;
        out.assign(body);
        return Decoded::Ok;
    }
    if (e == "gzip" || e == "x-gzip") return Inflate(body, 15 + 32, limit, out);
    if (e == "deflate") {
        // Servers send both the zlib form the standard names and raw deflate.
        const Decoded wrapped = Inflate(body, 15 + 32, limit, out);
        return wrapped == Decoded::Damaged ? Inflate(body, -15, limit, out) : wrapped;
    }
    return Decoded::Unknown;
}

Decoded HttpPayload(const std::string& block, std::uint64_t limit, int& status, std::string& head, std::string& body) {
    std::string_view h, b;
    if (!SplitHttpMessage(block, h, b)) {
        status = HttpStatus(block);
        return Decoded::Damaged;
    }
    head.assign(h);
    status = HttpStatus(h);
    std::string dechunked;
    if (HttpHeaderValue(h, "Transfer-Encoding").find("chunked") != std::string::npos && Dechunk(b, dechunked))
        b = dechunked;
    return DecodeContent(b, HttpHeaderValue(h, "Content-Encoding"), limit, body);
}

}  // namespace qm::archive
