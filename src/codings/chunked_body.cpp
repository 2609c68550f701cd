#include "codings/chunked_body.h"

#include <algorithm>

namespace qm::codings {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

ChunkedBody::Result ChunkedBody::SizeLineEnded() {
    std::size_t i = 0;
    while (i < line_.size() && (line_[i] == ' ' || line_[i] == '\t')) ++i;
    std::uint64_t size = 0;
    std::size_t digits = 0;
    for (; i < line_.size() && HexDigit(line_[i]) >= 0; ++i, ++digits) {
        // Fifteen hex digits are far beyond any body; more would overflow the count.
        if (digits == 15) return Result::Bad;
        size = size * 16 + static_cast<std::uint64_t>(HexDigit(line_[i]));
    }
    while (i < line_.size() && (line_[i] == ' ' || line_[i] == '\t')) ++i;
    // Only extensions (";name=value") may follow the size; they are ignored.
    if (digits == 0 || (i < line_.size() && line_[i] != ';')) return Result::Bad;
    line_.clear();
    chunkLeft_ = size;
    state_ = size == 0 ? State::Trailer : State::Data;
    return Result::More;
}

ChunkedBody::Result ChunkedBody::Feed(const char* data, std::size_t count, std::string& body) {
    std::size_t i = 0;
    while (i < count) {
        switch (state_) {
        case State::Done: leftover_ += count - i; return Result::End;
        case State::Broken: return Result::Bad;
        case State::Data: {
            const std::size_t take =
                static_cast<std::size_t>(std::min<std::uint64_t>(chunkLeft_, static_cast<std::uint64_t>(count - i)));
            body.append(data + i, take);
            i += take;
            chunkLeft_ -= take;
            if (chunkLeft_ == 0) state_ = State::DataEnd;
            break;
        }
        case State::DataEnd:
            // The CRLF after the chunk data; a bare LF is taken too.
            if (data[i] == '\r' && line_.empty()) {
                line_.assign(1, '\r');  // (assigning the literal trips a false -Wrestrict in GCC 12)
                ++i;
            } else if (data[i] == '\n') {
                line_.clear();
                state_ = State::SizeLine;
                ++i;
            } else {
                state_ = State::Broken;
                return Result::Bad;
            }
            break;
        case State::SizeLine: {
            const char c = data[i++];
            if (c == '\n') {
                if (!line_.empty() && line_.back() == '\r') line_.pop_back();
                if (SizeLineEnded() == Result::Bad) {
                    state_ = State::Broken;
                    return Result::Bad;
                }
            } else {
                if (line_.size() >= kMaxSizeLine) {
                    state_ = State::Broken;
                    return Result::Bad;
                }
                line_ += c;
            }
            break;
        }
        case State::Trailer: {
            const char c = data[i++];
            if (++trailerBytes_ > kMaxTrailerBytes) {
                state_ = State::Broken;
                return Result::Bad;
            }
            if (c != '\n') {
                if (c != '\r') line_ += c;
                break;
            }
            if (line_.empty()) {
                state_ = State::Done;
                leftover_ = count - i;
                return Result::End;
            }
            line_.clear();
            if (++trailerFields_ > kMaxTrailerFields) {
                state_ = State::Broken;
                return Result::Bad;
            }
            break;
        }
        }
    }
    if (state_ == State::Done) return Result::End;
    return state_ == State::Broken ? Result::Bad : Result::More;
}

bool Dechunk(std::string_view body, std::string& out) {
    ChunkedBody chunks;
    std::string result;
    if (chunks.Feed(body.data(), body.size(), result) != ChunkedBody::Result::End) return false;
    out = std::move(result);
    return true;
}

}  // namespace qm::codings
