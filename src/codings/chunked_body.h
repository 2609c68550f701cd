#pragma once
// The chunked framing of an HTTP/1.1 answer body: chunk-size lines, chunk data, the last
// chunk and the trailer (read and dropped). Every part is bounded, so a hostile server can
// neither grow our memory nor keep the reader in a line forever.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm::codings {

class ChunkedBody {
public:
    enum class Result { More, End, Bad };

    // Takes the next count bytes from the wire, appends the body bytes among them to body, and
    // says whether the body goes on, ended (Leftover() bytes of the input came after it), or
    // broke the framing. After End or Bad nothing more is taken.
    Result Feed(const char* data, std::size_t count, std::string& body);

    std::size_t Leftover() const { return leftover_; }
    bool Ended() const { return state_ == State::Done; }

    // A chunk-size line (with its extensions) longer than this breaks the framing.
    static constexpr std::size_t kMaxSizeLine = 1024;
    // The trailer as a whole, and the number of its fields.
    static constexpr std::size_t kMaxTrailerBytes = 16 * 1024;
    static constexpr std::size_t kMaxTrailerFields = 64;

private:
    enum class State { SizeLine, Data, DataEnd, Trailer, Done, Broken };
    Result SizeLineEnded();
    State state_ = State::SizeLine;
    std::string line_;             // the size line or trailer line read so far
    std::uint64_t chunkLeft_ = 0;  // bytes of the current chunk still to come
    std::size_t trailerBytes_ = 0;
    std::size_t trailerFields_ = 0;
    std::size_t leftover_ = 0;
};

// A whole chunked body's content; false (leaving out unchanged) when it is not well formed
// or ends before its last chunk and trailer.
bool Dechunk(std::string_view body, std::string& out);

}  // namespace qm::codings
