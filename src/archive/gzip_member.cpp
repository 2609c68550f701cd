// gzip members: whole ones through ISA-L's igzip where the build has it (libdeflate
// otherwise), streamed ones through zlib (windowBits 31 writes the gzip wrapper).
#include "archive/gzip_member.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

#ifdef QM_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#else
#include <libdeflate.h>
#endif

namespace qm::archive {

namespace {

// Grows a buffer without writing to it first (its bytes are overwritten at once); keeps the
// first `kept` bytes.
void GrowTo(std::unique_ptr<char[]>& buffer, std::size_t& capacity, std::size_t size, std::size_t kept = 0) {
    if (size <= capacity) return;
    capacity = std::max(size, capacity + capacity / 2);
    std::unique_ptr<char[]> grown(new char[capacity]);
    if (kept > 0) std::memcpy(grown.get(), buffer.get(), kept);
    buffer = std::move(grown);
}

std::size_t TotalSize(std::initializer_list<std::string_view> parts) {
    std::size_t total = 0;
    for (std::string_view p : parts) total += p.size();
    return total;
}

#ifdef QM_HAVE_ISAL

// igzip's fastest level that still matches repeats: more than twice as fast as libdeflate's
// level 1 on web pages, for members about 6 % larger. A mirror over a fast network would
// otherwise wait for the compression. The stream takes a large block where it lies, so it
// is never copied together with the record's head first. One stream per writing thread.
struct IsalStream {
    isal_zstream z;
    std::unique_ptr<std::uint8_t[]> levelBuffer{new std::uint8_t[ISAL_DEF_LVL1_DEFAULT]};
    // A new member (isal_deflate_reset would not write the gzip header again).
    isal_zstream& Begin() {
        isal_deflate_init(&z);
        z.level = 1;
        z.level_buf = levelBuffer.get();
        z.level_buf_size = ISAL_DEF_LVL1_DEFAULT;
        z.gzip_flag = IGZIP_GZIP;
        return z;
    }
};

IsalStream& ThreadStream() {
    thread_local std::unique_ptr<IsalStream> stream(new IsalStream);
    return *stream;
}

}  // namespace

std::string_view GzipMemberInto(std::initializer_list<std::string_view> parts, GzipBuffers& buffers) {
    isal_zstream& z = ThreadStream().Begin();
    const std::size_t total = TotalSize(parts);
    // Room for stored blocks of incompressible bytes and the gzip wrapper: grown only when
    // even that falls short.
    GrowTo(buffers.output, buffers.outputCapacity, total + total / 16 + 1024);
    std::size_t made = 0;
    const auto feed = [&](std::string_view bytes, bool last) {
        z.next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(bytes.data()));
        z.avail_in = static_cast<std::uint32_t>(bytes.size());
        z.end_of_stream = last ? 1 : 0;
        z.flush = NO_FLUSH;
        do {
            if (buffers.outputCapacity - made < 1024)
                GrowTo(buffers.output, buffers.outputCapacity, buffers.outputCapacity + 1024, made);
            z.next_out = reinterpret_cast<std::uint8_t*>(buffers.output.get() + made);
            z.avail_out = static_cast<std::uint32_t>(std::min<std::size_t>(buffers.outputCapacity - made, UINT32_MAX));
            const std::uint32_t room = z.avail_out;
            if (isal_deflate(&z) != COMP_OK) throw std::runtime_error("igzip");
            made += room - z.avail_out;
        } while (z.avail_in > 0 || (last && z.internal_state.state != ZSTATE_END));
    };
    // igzip compresses a short first input of a stream poorly (a record's WARC head alone
    // made members 12 % larger): small parts and the start of the next one are gathered
    // into a piece of kGathered bytes first; larger parts go in as they are, in pieces igzip
    // can count (32 bits).
    constexpr std::size_t kGathered = std::size_t{64} << 10, kLargest = std::size_t{1} << 30;
    GrowTo(buffers.input, buffers.inputCapacity, kGathered);
    std::size_t gathered = 0;
    for (std::string_view part : parts) {
        while (!part.empty()) {
            if (gathered == 0 && part.size() >= kGathered) {
                const std::string_view piece = part.substr(0, kLargest);
                part.remove_prefix(piece.size());
                feed(piece, false);
                continue;
            }
            const std::size_t take = std::min(part.size(), kGathered - gathered);
            std::memcpy(buffers.input.get() + gathered, part.data(), take);
            gathered += take;
            part.remove_prefix(take);
            if (gathered == kGathered) {
                feed(std::string_view(buffers.input.get(), gathered), false);
                gathered = 0;
            }
        }
    }
    feed(std::string_view(buffers.input.get(), gathered), true);
    return std::string_view(buffers.output.get(), made);
}

#else

// The fastest level: pages still shrink to about a quarter, while a mirror over a fast
// network would otherwise wait for the compression. One compressor per writing thread.
libdeflate_compressor* ThreadCompressor() {
    struct Compressor {
        libdeflate_compressor* c = libdeflate_alloc_compressor(1);
        ~Compressor() { libdeflate_free_compressor(c); }
    };
    thread_local Compressor compressor;
    if (!compressor.c) throw std::runtime_error("libdeflate");
    return compressor.c;
}

}  // namespace

std::string_view GzipMemberInto(std::initializer_list<std::string_view> parts, GzipBuffers& buffers) {
    libdeflate_compressor* c = ThreadCompressor();
    std::string_view input;
    if (parts.size() == 1) {
        input = *parts.begin();
    } else {
        const std::size_t total = TotalSize(parts);
        GrowTo(buffers.input, buffers.inputCapacity, total);
        std::size_t at = 0;
        for (std::string_view p : parts) {
            if (!p.empty()) std::memcpy(buffers.input.get() + at, p.data(), p.size());
            at += p.size();
        }
        input = std::string_view(buffers.input.get(), total);
    }
    GrowTo(buffers.output, buffers.outputCapacity, libdeflate_gzip_compress_bound(c, input.size()));
    const std::size_t made =
        libdeflate_gzip_compress(c, input.data(), input.size(), buffers.output.get(), buffers.outputCapacity);
    if (made == 0) throw std::runtime_error("libdeflate");
    return std::string_view(buffers.output.get(), made);
}

#endif

void GzipBuffers::Trim() {
    if (inputCapacity > kKeptBytes) {
        input.reset();
        inputCapacity = 0;
    }
    if (outputCapacity > kKeptBytes) {
        output.reset();
        outputCapacity = 0;
    }
}

std::string GzipMember(std::initializer_list<std::string_view> parts) {
    GzipBuffers buffers;
    return std::string(GzipMemberInto(parts, buffers));
}

}  // namespace qm::archive

namespace qm::archive {

GzipMemberStream::GzipMemberStream(std::function<bool(std::string_view)> sink)
    : sink_(std::move(sink)), z_(new z_stream{}), out_(std::size_t{256} << 10, '\0') {
    if (deflateInit2(z_, Z_BEST_SPEED, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("zlib");
}

GzipMemberStream::~GzipMemberStream() {
    deflateEnd(z_);
    delete z_;
}

bool GzipMemberStream::Run(std::string_view bytes, int flush) {
    z_->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z_->avail_in = static_cast<uInt>(bytes.size());
    int result = Z_OK;
    do {
        z_->next_out = reinterpret_cast<Bytef*>(out_.data());
        z_->avail_out = static_cast<uInt>(out_.size());
        result = deflate(z_, flush);
        if (result == Z_STREAM_ERROR) return ok_ = false;
        const std::size_t made = out_.size() - z_->avail_out;
        if (made > 0 && !sink_(std::string_view(out_.data(), made))) return ok_ = false;
    } while (z_->avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
    return true;
}

bool GzipMemberStream::Add(std::string_view bytes) {
    // zlib counts in 32 bits: large pieces go in parts.
    while (ok_ && !bytes.empty()) {
        const std::size_t n = std::min<std::size_t>(bytes.size(), std::size_t{1} << 30);
        Run(bytes.substr(0, n), Z_NO_FLUSH);
        bytes.remove_prefix(n);
    }
    return ok_;
}

bool GzipMemberStream::Finish() { return ok_ && Run({}, Z_FINISH); }

}  // namespace qm::archive
