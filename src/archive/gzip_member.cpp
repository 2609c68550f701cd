// gzip members through zlib (windowBits 31 writes the gzip wrapper).
#include "archive/gzip_member.h"

#include <zlib.h>

#include <stdexcept>

namespace qm::archive {

std::string GzipMember(std::string_view bytes) {
    z_stream z{};
    // Level 6 compresses pages well at a cost far below the network's.
    if (deflateInit2(&z, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("zlib");
    std::string out;
    out.resize(deflateBound(&z, static_cast<uLong>(bytes.size())) + 32);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (result != Z_STREAM_END) throw std::runtime_error("zlib");
    return out;
}

}  // namespace qm::archive
