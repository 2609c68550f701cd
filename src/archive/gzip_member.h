#pragma once
// One gzip member per archive record, so that an index offset opens exactly one record.
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

typedef struct z_stream_s z_stream;

namespace qm::archive {

// The parts, one after the other, as one complete gzip member.
std::string GzipMember(std::initializer_list<std::string_view> parts);

// Buffers a writing thread keeps from one record to the next, so that compressing a record
// neither allocates nor touches fresh memory (nor zero-fills what is overwritten at once).
struct GzipBuffers {
    static constexpr std::size_t kKeptBytes = std::size_t{8} << 20;
    std::unique_ptr<char[]> input, output;  // input: parts gathered, where the compressor needs that
    std::size_t inputCapacity = 0, outputCapacity = 0;
    // Gives back a buffer grown past kKeptBytes for one large record.
    void Trim();
};
// As GzipMember, made in buffers; the member stays valid until their next use.
std::string_view GzipMemberInto(std::initializer_list<std::string_view> parts, GzipBuffers& buffers);
inline std::string GzipMember(std::string_view bytes) { return GzipMember({bytes}); }

// One gzip member made of bytes given in pieces, handed on in blocks as it is made (for
// records too large to compress in memory).
class GzipMemberStream {
public:
    // sink takes each compressed block; false from it ends the member with a failure.
    explicit GzipMemberStream(std::function<bool(std::string_view)> sink);
    ~GzipMemberStream();
    GzipMemberStream(const GzipMemberStream&) = delete;
    GzipMemberStream& operator=(const GzipMemberStream&) = delete;
    bool Add(std::string_view bytes);
    bool Finish();

private:
    bool Run(std::string_view bytes, int flush);
    std::function<bool(std::string_view)> sink_;
    z_stream* z_;
    std::string out_;
    bool ok_ = true;
};

}  // namespace qm::archive
