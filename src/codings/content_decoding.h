#pragma once
// The content codings a server may apply to an answer body (gzip, deflate, br, zstd), undone
// as the body arrives. The decoded bytes go to a sink in pieces of bounded size, so a body
// that expands enormously is seen (and can be stopped) long before it fills memory.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qm::codings {

// What the client offers in Accept-Encoding.
inline constexpr const char* kAcceptedEncodings = "gzip, deflate, br, zstd";

// Receives decoded bytes; returns false to stop decoding at once.
using DecodedSink = std::function<bool(const char* data, std::size_t count)>;

class ContentDecoder {
public:
    enum class Result { More, End, Stopped, Bad };
    virtual ~ContentDecoder() = default;
    // Decodes count more bytes of the coded body. End: the coded stream is complete (bytes
    // after its end are ignored); Stopped: the sink said stop; Bad: the bytes are not of
    // this coding.
    virtual Result Feed(const char* data, std::size_t count, const DecodedSink& sink) = 0;
    // Whether the coded stream came to its proper end.
    virtual bool Finished() const = 0;

    // The largest piece handed to the sink at once.
    static constexpr std::size_t kPieceSize = 16 * 1024;
};

// A decoder for one coding name ("gzip", "x-gzip", "deflate", "br", "zstd"; case does not
// matter); null for "identity" and for codings this client does not know.
std::unique_ptr<ContentDecoder> MakeContentDecoder(std::string_view coding);

// The codings of a Content-Encoding value in the order they were applied; empty when there
// are none. Sets known to false when one of them cannot be undone here.
std::vector<std::string> ContentCodings(std::string_view value, bool& known);

// Undoes several codings, the last applied first.
class DecoderChain : public ContentDecoder {
public:
    // Null when codings is empty or names one that cannot be undone (the body is then kept
    // as it came). At most kMaxCodings codings are undone.
    static std::unique_ptr<DecoderChain> For(const std::vector<std::string>& codings);
    Result Feed(const char* data, std::size_t count, const DecodedSink& sink) override;
    bool Finished() const override;
    static constexpr std::size_t kMaxCodings = 3;

private:
    Result FeedStage(std::size_t stage, const char* data, std::size_t count, const DecodedSink& sink);
    std::vector<std::unique_ptr<ContentDecoder>> stages_;  // in the order they are undone
};

}  // namespace qm::codings
