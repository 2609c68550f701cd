#include "codings/content_decoding.h"

#include <brotli/decode.h>
#include <zlib.h>
#include <zstd.h>

#include <array>
#include <cstring>

namespace qm::codings {

namespace {

std::string LowerTrimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// gzip and deflate through zlib. "deflate" is meant to be a zlib stream, but some servers
// send raw deflate data: a stream whose first bytes are not a zlib header is read raw.
class ZlibDecoder : public ContentDecoder {
public:
    explicit ZlibDecoder(bool gzip) : gzip_(gzip) {}
    ~ZlibDecoder() override {
        if (open_) inflateEnd(&z_);
    }

    Result Feed(const char* data, std::size_t count, const DecodedSink& sink) override {
        if (done_) return Result::End;
        if (!open_) {
            if (count == 0) return Result::More;
            int bits = 15 + 32;  // zlib or gzip header, detected
            if (!gzip_) {
                const auto b0 = static_cast<unsigned char>(data[0]);
                const bool zlibHeader =
                    count < 2 ? (b0 & 0x0F) == 8
                              : (b0 & 0x0F) == 8 && ((b0 << 8) | static_cast<unsigned char>(data[1])) % 31 == 0;
                // A gzip member sent as "deflate" is read as gzip.
                const bool gzipMagic = count >= 2 && b0 == 0x1f && static_cast<unsigned char>(data[1]) == 0x8b;
                bits = gzipMagic ? 15 + 32 : zlibHeader ? 15 : -15;
            }
            if (inflateInit2(&z_, bits) != Z_OK) return Result::Bad;
            open_ = true;
        }
        z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        z_.avail_in = static_cast<uInt>(count);
        while (true) {
            z_.next_out = reinterpret_cast<Bytef*>(out_.data());
            z_.avail_out = static_cast<uInt>(out_.size());
            const int rc = inflate(&z_, Z_NO_FLUSH);
            const std::size_t produced = out_.size() - z_.avail_out;
            if (produced > 0 && !sink(out_.data(), produced)) return Result::Stopped;
            if (rc == Z_STREAM_END) {
                done_ = true;
                return Result::End;
            }
            if (rc == Z_BUF_ERROR && produced == 0) return Result::More;  // needs more input
            if (rc != Z_OK && rc != Z_BUF_ERROR) return Result::Bad;
            if (z_.avail_in == 0 && z_.avail_out != 0) return Result::More;
        }
    }
    bool Finished() const override { return done_; }

private:
    bool gzip_;
    bool open_ = false;
    bool done_ = false;
    z_stream z_{};
    std::array<char, kPieceSize> out_{};
};

class BrotliDecoder : public ContentDecoder {
public:
    BrotliDecoder() : state_(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr)) {}
    ~BrotliDecoder() override { BrotliDecoderDestroyInstance(state_); }

    Result Feed(const char* data, std::size_t count, const DecodedSink& sink) override {
        if (!state_) return Result::Bad;
        if (done_) return Result::End;
        auto in = reinterpret_cast<const std::uint8_t*>(data);
        std::size_t inLeft = count;
        while (true) {
            auto* out = reinterpret_cast<std::uint8_t*>(out_.data());
            std::size_t outLeft = out_.size();
            const BrotliDecoderResult rc = BrotliDecoderDecompressStream(state_, &inLeft, &in, &outLeft, &out, nullptr);
            const std::size_t produced = out_.size() - outLeft;
            if (produced > 0 && !sink(out_.data(), produced)) return Result::Stopped;
            switch (rc) {
            case BROTLI_DECODER_RESULT_SUCCESS: done_ = true; return Result::End;
            case BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT: return Result::More;
            case BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT: continue;
            default: return Result::Bad;
            }
        }
    }
    bool Finished() const override { return done_; }

private:
    BrotliDecoderState* state_;
    bool done_ = false;
    std::array<char, kPieceSize> out_{};
};

class ZstdDecoder : public ContentDecoder {
public:
    ZstdDecoder() : stream_(ZSTD_createDStream()) {
        // Windows beyond 8 MB (zstd's own default limit for HTTP use) are refused.
        if (stream_) ZSTD_DCtx_setParameter(stream_, ZSTD_d_windowLogMax, 23);
    }
    ~ZstdDecoder() override { ZSTD_freeDStream(stream_); }

    Result Feed(const char* data, std::size_t count, const DecodedSink& sink) override {
        if (!stream_) return Result::Bad;
        if (done_) return Result::End;
        ZSTD_inBuffer in{data, count, 0};
        while (true) {
            ZSTD_outBuffer out{out_.data(), out_.size(), 0};
            const std::size_t rc = ZSTD_decompressStream(stream_, &out, &in);
            if (ZSTD_isError(rc)) return Result::Bad;
            if (out.pos > 0 && !sink(out_.data(), out.pos)) return Result::Stopped;
            if (rc == 0) {
                // One frame is the body; what follows is ignored.
                done_ = true;
                return Result::End;
            }
            if (in.pos == in.size && out.pos < out.size) return Result::More;
        }
    }
    bool Finished() const override { return done_; }

private:
    ZSTD_DStream* stream_;
    bool done_ = false;
    std::array<char, kPieceSize> out_{};
};

}  // namespace

std::unique_ptr<ContentDecoder> MakeContentDecoder(std::string_view coding) {
    const std::string name = LowerTrimmed(coding);
    if (name == "gzip" || name == "x-gzip") return std::make_unique<ZlibDecoder>(true);
    if (name == "deflate") return std::make_unique<ZlibDecoder>(false);
    if (name == "br") return std::make_unique<BrotliDecoder>();
    if (name == "zstd") return std::make_unique<ZstdDecoder>();
    return nullptr;
}

std::vector<std::string> ContentCodings(std::string_view value, bool& known) {
    known = true;
    std::vector<std::string> codings;
    while (!value.empty()) {
        const std::size_t comma = value.find(',');
        const std::string name = LowerTrimmed(value.substr(0, comma));
        value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
        if (name.empty() || name == "identity") continue;
        if (!MakeContentDecoder(name)) known = false;
        codings.push_back(name);
        if (codings.size() > DecoderChain::kMaxCodings) known = false;
        if (codings.size() > DecoderChain::kMaxCodings + 1) break;
    }
    return codings;
}

std::unique_ptr<DecoderChain> DecoderChain::For(const std::vector<std::string>& codings) {
    if (codings.empty() || codings.size() > kMaxCodings) return nullptr;
    auto chain = std::make_unique<DecoderChain>();
    for (auto it = codings.rbegin(); it != codings.rend(); ++it) {
        auto stage = MakeContentDecoder(*it);
        if (!stage) return nullptr;
        chain->stages_.push_back(std::move(stage));
    }
    return chain;
}

ContentDecoder::Result DecoderChain::FeedStage(std::size_t stage, const char* data, std::size_t count,
                                               const DecodedSink& sink) {
    if (stage + 1 == stages_.size()) return stages_[stage]->Feed(data, count, sink);
    Result inner = Result::More;
    const Result outer = stages_[stage]->Feed(data, count, [&](const char* d, std::size_t n) {
        inner = FeedStage(stage + 1, d, n, sink);
        return inner == Result::More;
    });
    if (outer == Result::Stopped) return inner == Result::End ? Result::End : inner;
    if (outer == Result::Bad) return Result::Bad;
    if (outer == Result::End) return stages_.back()->Finished() ? Result::End : Result::Bad;
    return Result::More;
}

ContentDecoder::Result DecoderChain::Feed(const char* data, std::size_t count, const DecodedSink& sink) {
    return FeedStage(0, data, count, sink);
}

bool DecoderChain::Finished() const {
    for (const auto& s : stages_)
        if (!s->Finished()) return false;
    return true;
}

}  // namespace qm::codings
