// Member-by-member reading of .warc.gz files through zlib.
#include "archive/warc_reader.h"

#include <zlib.h>

namespace qm::archive {

namespace {
constexpr std::size_t kInputBlock = 1 << 16;
constexpr std::size_t kMaxHeaderBytes = 1 << 20;
}  // namespace

WarcReader::WarcReader(const std::string& path, std::uint64_t recordLimit)
    : file_(std::fopen(path.c_str(), "rb")), limit_(recordLimit), in_(kInputBlock) {
    if (!file_) error_ = "cannot open " + path;
}

WarcReader::~WarcReader() {
    if (file_) std::fclose(file_);
}

bool WarcReader::Fill() {
    if (eof_ || !file_) return false;
    if (inPos_ > 0) {
        std::copy(in_.begin() + static_cast<std::ptrdiff_t>(inPos_), in_.begin() + static_cast<std::ptrdiff_t>(inLen_),
                  in_.begin());
        inLen_ -= inPos_;
        inPos_ = 0;
    }
    std::size_t n = std::fread(in_.data() + inLen_, 1, in_.size() - inLen_, file_);
    if (n == 0) eof_ = true;
    inLen_ += n;
    return n > 0;
}

bool WarcReader::Next(ReadRecord& out) {
    if (!file_) return false;
    if (inPos_ == inLen_ && !Fill()) return false;  // a clean end
    z_stream z{};
    if (inflateInit2(&z, 31) != Z_OK) {
        error_ = "zlib";
        return false;
    }
    const std::uint64_t start = fileOffset_;
    std::string text;
    std::uint64_t consumed = 0;
    char block[1 << 16];
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        if (inPos_ == inLen_ && !Fill()) {
            error_ = "the record at " + std::to_string(start) + " is cut off";
            break;
        }
        z.next_in = in_.data() + inPos_;
        z.avail_in = static_cast<uInt>(inLen_ - inPos_);
        z.next_out = reinterpret_cast<Bytef*>(block);
        z.avail_out = sizeof block;
        result = inflate(&z, Z_NO_FLUSH);
        const std::size_t used = (inLen_ - inPos_) - z.avail_in;
        inPos_ += used;
        fileOffset_ += used;
        consumed += used;
        if (result != Z_OK && result != Z_STREAM_END && !(result == Z_BUF_ERROR && used > 0)) {
            error_ = "the record at " + std::to_string(start) + " does not decompress";
            break;
        }
        text.append(block, sizeof block - z.avail_out);
        if (text.size() > limit_) {
            error_ = "the record at " + std::to_string(start) + " is longer than the limit";
            break;
        }
    }
    inflateEnd(&z);
    if (result != Z_STREAM_END) return false;
    out.offset = start;
    out.length = consumed;
    if (!ParseWarcRecord(text, out.record)) {
        error_ = "the record at " + std::to_string(start) + " is not a WARC record";
        return false;
    }
    goodEnd_ = fileOffset_;
    return true;
}

bool ReadRecordAt(const std::string& path, std::uint64_t offset, std::uint64_t length, WarcRecord& out,
                  std::uint64_t recordLimit) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::string member;
    bool ok = length <= recordLimit && fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
    if (ok) {
        member.resize(length);
        ok = std::fread(member.data(), 1, length, f) == length;
    }
    std::fclose(f);
    if (!ok) return false;
    z_stream z{};
    if (inflateInit2(&z, 31) != Z_OK) return false;
    z.next_in = reinterpret_cast<Bytef*>(member.data());
    z.avail_in = static_cast<uInt>(member.size());
    std::string text;
    char block[1 << 16];
    int result = Z_OK;
    while (result == Z_OK && text.size() <= recordLimit) {
        z.next_out = reinterpret_cast<Bytef*>(block);
        z.avail_out = sizeof block;
        result = inflate(&z, Z_NO_FLUSH);
        text.append(block, sizeof block - z.avail_out);
    }
    // The member must end exactly where the index says.
    ok = result == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return ok && ParseWarcRecord(text, out);
}

bool ParseWarcRecord(const std::string& text, WarcRecord& out) {
    out = WarcRecord{};
    std::size_t headEnd = text.find("\r\n\r\n");
    if (headEnd == std::string::npos || headEnd > kMaxHeaderBytes) return false;
    if (text.compare(0, 5, "WARC/") != 0) return false;
    std::size_t at = text.find("\r\n") + 2;
    std::uint64_t length = 0;
    bool haveLength = false;
    while (at < headEnd) {
        std::size_t eol = text.find("\r\n", at);
        std::string line = text.substr(at, eol - at);
        at = eol + 2;
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        std::size_t v = colon + 1;
        while (v < line.size() && line[v] == ' ') ++v;
        std::string value = line.substr(v);
        if (name == "Content-Length") {
            if (value.empty() || value.size() > 15 || value.find_first_not_of("0123456789") != std::string::npos)
                return false;
            length = std::stoull(value);
            haveLength = true;
        } else {
            out.fields.emplace_back(std::move(name), std::move(value));
        }
    }
    if (!haveLength || length > text.size() - (headEnd + 4)) return false;
    out.block = text.substr(headEnd + 4, length);
    return true;
}

}  // namespace qm::archive
