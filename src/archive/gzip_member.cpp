// gzip members: whole ones through libdeflate, streamed ones through zlib (windowBits 31
// writes the gzip wrapper).
#include "archive/gzip_member.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace qm::archive {

namespace {

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

// Grows a buffer without writing to it first (its bytes are overwritten at once).
void GrowTo(std::unique_ptr<char[]>& buffer, std::size_t& capacity, std::size_t size) {
    if (size <= capacity) return;
    capacity = std::max(size, capacity + capacity / 2);
    buffer.reset(new char[capacity]);
}

}  // namespace

std::string_view GzipMemberInto(std::initializer_list<std::string_view> parts, GzipBuffers& buffers) {
    libdeflate_compressor* c = ThreadCompressor();
    std::string_view input;
    if (parts.size() == 1) {
        input = *parts.begin();
    } else {
        std::size_t total = 0;
        for (std::string_view p : parts) total += p.size();
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
