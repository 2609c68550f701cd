// gzip members through zlib (windowBits 31 writes the gzip wrapper).
#include "archive/gzip_member.h"

#include <zlib.h>

#include <stdexcept>

namespace qm::archive {

std::string GzipMember(std::initializer_list<std::string_view> parts) {
    z_stream z{};
    // The fastest level: pages still shrink to about a quarter, while a mirror over a fast
    // network would otherwise wait for the compression.
    if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("zlib");
    std::size_t total = 0;
    for (std::string_view p : parts) total += p.size();
    std::string out;
    out.resize(deflateBound(&z, static_cast<uLong>(total)) + 64);
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    int result = Z_OK;
    std::size_t left = parts.size();
    for (std::string_view p : parts) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(p.data()));
        z.avail_in = static_cast<uInt>(p.size());
        result = deflate(&z, --left == 0 ? Z_FINISH : Z_NO_FLUSH);
    }
    out.resize(z.total_out);
    deflateEnd(&z);
    if (result != Z_STREAM_END) throw std::runtime_error("zlib");
    return out;
}

}  // namespace qm::archive
