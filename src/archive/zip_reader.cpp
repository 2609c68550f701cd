// Reading ZIP members through the central directory, inflated by zlib.
#include "archive/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace qm::archive {

namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kEntrySignature = 0x02014b50;
constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kMaxComment = 0xffff;

std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool ReadAt(std::FILE* f, std::uint64_t offset, void* out, std::size_t size) {
    return std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0 && std::fread(out, 1, size, f) == size;
}

}  // namespace

ZipReader::ZipReader(const std::string& path) {
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) {
        error_ = "cannot open " + path + ": " + std::strerror(errno);
        return;
    }
    if (std::fseek(file_, 0, SEEK_END) != 0 || std::ftell(file_) < 0) {
        error_ = "cannot read " + path;
        return;
    }
    fileSize_ = static_cast<std::uint64_t>(std::ftell(file_));
    if (!ReadDirectory() && error_.empty()) error_ = path + " is not a ZIP file";
    if (!error_.empty() && error_.find(path) == std::string::npos) error_ = path + ": " + error_;
}

ZipReader::~ZipReader() {
    if (file_) std::fclose(file_);
}

bool ZipReader::ReadDirectory() {
    if (fileSize_ < kEndSize) return false;
    // The end record is in the last 22 bytes plus a comment of up to 64 KB.
    const std::size_t tail = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize_, kEndSize + kMaxComment));
    std::vector<unsigned char> end(tail);
    if (!ReadAt(file_, fileSize_ - tail, end.data(), tail)) return false;
    std::size_t at = tail - kEndSize + 1;
    do {
        --at;
        if (Le32(&end[at]) == kEndSignature) break;
    } while (at > 0);
    if (Le32(&end[at]) != kEndSignature) return false;
    const std::uint16_t count = Le16(&end[at + 10]);
    const std::uint32_t dirSize = Le32(&end[at + 12]), dirOffset = Le32(&end[at + 16]);
    if (count == 0xffff || dirOffset == 0xffffffffu) {
        error_ = "ZIP64 packages are not read";
        return false;
    }
    if (static_cast<std::uint64_t>(dirOffset) + dirSize > fileSize_) {
        error_ = "its central directory is damaged";
        return false;
    }
    // The 16-bit count keeps the directory below 65536 entries.
    std::vector<unsigned char> dir(dirSize);
    if (dirSize > 0 && !ReadAt(file_, dirOffset, dir.data(), dirSize)) return false;
    std::size_t p = 0;
    for (std::uint16_t i = 0; i < count; ++i) {
        if (dirSize - p < 46 || Le32(&dir[p]) != kEntrySignature) {
            error_ = "its central directory is damaged";
            return false;
        }
        ZipMember m;
        m.method = Le16(&dir[p + 10]);
        m.crc = Le32(&dir[p + 16]);
        m.packedSize = Le32(&dir[p + 20]);
        m.size = Le32(&dir[p + 24]);
        const std::size_t nameLength = Le16(&dir[p + 28]), extra = Le16(&dir[p + 30]), comment = Le16(&dir[p + 32]);
        m.localOffset = Le32(&dir[p + 42]);
        if (dirSize - p - 46 < nameLength + extra + comment) {
            error_ = "its central directory is damaged";
            return false;
        }
        m.name.assign(reinterpret_cast<const char*>(&dir[p + 46]), nameLength);
        p += 46 + nameLength + extra + comment;
        if (m.localOffset + 30 > fileSize_ || m.packedSize > fileSize_) {
            error_ = "member " + m.name + " lies outside the file";
            return false;
        }
        members_.push_back(std::move(m));
    }
    return true;
}

const ZipMember* ZipReader::Find(const std::string& name) const {
    for (const ZipMember& m : members_)
        if (m.name == name) return &m;
    return nullptr;
}

template <typename Put>
bool ZipReader::Unpack(const ZipMember& m, Put&& put, std::string& error) {
    error = "member " + m.name + " is damaged";
    unsigned char local[30];
    if (!file_ || !ReadAt(file_, m.localOffset, local, sizeof local) || Le32(local) != kLocalSignature) return false;
    const std::uint64_t dataAt = m.localOffset + 30 + Le16(&local[26]) + Le16(&local[28]);
    if (dataAt > fileSize_ || m.packedSize > fileSize_ - dataAt) return false;
    if (m.method != 0 && m.method != 8) {
        error = "member " + m.name + " is packed in a way this reader does not know";
        return false;
    }
    if (std::fseek(file_, static_cast<long>(dataAt), SEEK_SET) != 0) return false;
    z_stream z{};
    if (m.method == 8 && inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
    std::unique_ptr<z_stream, void (*)(z_stream*)> guard(&z, [](z_stream* s) { inflateEnd(s); });
    std::vector<unsigned char> in(1 << 16), out(1 << 16);
    std::uint64_t left = m.packedSize, made = 0;
    uLong crc = crc32(0, nullptr, 0);
    bool ended = m.method == 0;
    while (left > 0 && (m.method == 0 || !ended)) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(in.size(), left));
        if (std::fread(in.data(), 1, want, file_) != want) return false;
        left -= want;
        if (m.method == 0) {
            if (made + want > m.size) return false;
            crc = crc32(crc, in.data(), static_cast<uInt>(want));
            if (!put(reinterpret_cast<const char*>(in.data()), want)) return false;
            made += want;
            continue;
        }
        z.next_in = in.data();
        z.avail_in = static_cast<uInt>(want);
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            const int r = inflate(&z, Z_NO_FLUSH);
            if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) return false;
            const std::size_t n = out.size() - z.avail_out;
            // Never more than the directory promised.
            if (made + n > m.size) return false;
            crc = crc32(crc, out.data(), static_cast<uInt>(n));
            if (n > 0 && !put(reinterpret_cast<const char*>(out.data()), n)) return false;
            made += n;
            ended = r == Z_STREAM_END;
            if (r == Z_BUF_ERROR) break;  // wants more input
        } while (!ended && (z.avail_in > 0 || z.avail_out == 0));
    }
    if (!ended || made != m.size || crc != m.crc) return false;
    error.clear();
    return true;
}

bool ZipReader::Extract(const ZipMember& member, const std::string& target, std::string& error) {
    std::FILE* out = std::fopen(target.c_str(), "wb");
    if (!out) {
        error = "cannot create " + target + ": " + std::strerror(errno);
        return false;
    }
    bool ok = Unpack(
        member, [out](const char* data, std::size_t n) { return std::fwrite(data, 1, n, out) == n; }, error);
    if (std::fclose(out) != 0 && ok) {
        error = "cannot write " + target;
        ok = false;
    }
    if (!ok) std::remove(target.c_str());
    return ok;
}

bool ZipReader::ReadText(const ZipMember& member, std::uint64_t limit, std::string& text, std::string& error) {
    if (member.size > limit) {
        error = "member " + member.name + " is too large";
        return false;
    }
    text.clear();
    return Unpack(
        member, [&text](const char* data, std::size_t n) { return text.append(data, n), true; }, error);
}

}  // namespace qm::archive
