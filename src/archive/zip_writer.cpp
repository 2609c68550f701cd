// Stored ZIP entries with their CRC-32 from zlib.
#include "archive/zip_writer.h"

#include <zlib.h>

namespace qm::archive {

namespace {

void Le16(std::string& out, std::uint32_t v) {
    out += static_cast<char>(v & 0xff);
    out += static_cast<char>((v >> 8) & 0xff);
}
void Le32(std::string& out, std::uint32_t v) {
    Le16(out, v & 0xffff);
    Le16(out, v >> 16);
}

}  // namespace

ZipWriter::ZipWriter(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {
    if (!file_) error_ = "cannot create " + path;
}

ZipWriter::~ZipWriter() {
    if (file_) std::fclose(file_);
}

bool ZipWriter::Put(const void* data, std::size_t size) {
    if (!file_ || !error_.empty()) return false;
    if (written_ + size > kMaxSize) {
        error_ = "the package would be larger than 4 GB";
        return false;
    }
    if (std::fwrite(data, 1, size, file_) != size) {
        error_ = "cannot write the package";
        return false;
    }
    written_ += size;
    return true;
}

bool ZipWriter::Begin(const std::string& name, std::uint32_t crc, std::uint64_t size) {
    if (size > kMaxSize) {
        error_ = name + " is larger than 4 GB";
        return false;
    }
    Entry e{name, crc, static_cast<std::uint32_t>(size), static_cast<std::uint32_t>(written_)};
    std::string h;
    Le32(h, 0x04034b50);
    Le16(h, 20);      // version needed
    Le16(h, 0x0800);  // names in UTF-8
    Le16(h, 0);       // stored
    Le16(h, 0);
    Le16(h, 0x21);  // 1980-01-01: a package's bytes do not depend on the clock
    Le32(h, crc);
    Le32(h, e.size);
    Le32(h, e.size);
    Le16(h, static_cast<std::uint32_t>(name.size()));
    Le16(h, 0);
    h += name;
    entries_.push_back(e);
    return Put(h.data(), h.size());
}

bool ZipWriter::AddText(const std::string& name, const std::string& data) {
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    return Begin(name, crc, data.size()) && Put(data.data(), data.size());
}

bool ZipWriter::AddFile(const std::string& name, const std::string& sourcePath) {
    std::FILE* in = std::fopen(sourcePath.c_str(), "rb");
    if (!in) {
        error_ = "cannot read " + sourcePath;
        return false;
    }
    // The CRC comes first, in the local header: the file is read twice.
    uLong crc = crc32(0, nullptr, 0);
    std::uint64_t size = 0;
    std::vector<char> block(1 << 16);
    for (std::size_t n; (n = std::fread(block.data(), 1, block.size(), in)) > 0; size += n)
        crc = crc32(crc, reinterpret_cast<const Bytef*>(block.data()), static_cast<uInt>(n));
    bool ok = Begin(name, static_cast<std::uint32_t>(crc), size);
    std::rewind(in);
    std::uint64_t copied = 0;
    for (std::size_t n; ok && copied < size && (n = std::fread(block.data(), 1, block.size(), in)) > 0; copied += n)
        ok = Put(block.data(), std::min<std::uint64_t>(n, size - copied));
    std::fclose(in);
    if (ok && copied != size) {
        error_ = sourcePath + " changed while it was packed";
        ok = false;
    }
    return ok;
}

bool ZipWriter::Finish() {
    if (!file_ || !error_.empty()) return false;
    const auto start = static_cast<std::uint32_t>(written_);
    std::string d;
    for (const Entry& e : entries_) {
        Le32(d, 0x02014b50);
        Le16(d, 20);
        Le16(d, 20);
        Le16(d, 0x0800);
        Le16(d, 0);
        Le16(d, 0);
        Le16(d, 0x21);
        Le32(d, e.crc);
        Le32(d, e.size);
        Le32(d, e.size);
        Le16(d, static_cast<std::uint32_t>(e.name.size()));
        Le16(d, 0);
        Le16(d, 0);
        Le16(d, 0);
        Le16(d, 0);
        Le32(d, 0);
        Le32(d, e.offset);
        d += e.name;
    }
    std::string end;
    Le32(end, 0x06054b50);
    Le16(end, 0);
    Le16(end, 0);
    Le16(end, static_cast<std::uint32_t>(entries_.size()));
    Le16(end, static_cast<std::uint32_t>(entries_.size()));
    Le32(end, static_cast<std::uint32_t>(d.size()));
    Le32(end, start);
    Le16(end, 0);
    bool ok = Put(d.data(), d.size()) && Put(end.data(), end.size());
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    if (!ok && error_.empty()) error_ = "cannot write the package";
    return ok;
}

}  // namespace qm::archive
