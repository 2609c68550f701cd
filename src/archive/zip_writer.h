#pragma once
// A ZIP file of stored (uncompressed) entries, as WACZ packages are written: entries are
// streamed in one after the other, then the central directory closes the file.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qm::archive {

class ZipWriter {
public:
    static constexpr std::uint64_t kMaxSize = 0xFFFFFFFEull;  // no ZIP64: 4 GB at most
    explicit ZipWriter(const std::string& path);
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    bool AddText(const std::string& name, const std::string& data);
    bool AddFile(const std::string& name, const std::string& sourcePath);
    // Writes the central directory; false with Error() when anything failed on the way.
    bool Finish();
    const std::string& Error() const { return error_; }

private:
    struct Entry {
        std::string name;
        std::uint32_t crc = 0, size = 0, offset = 0;
    };
    bool Begin(const std::string& name, std::uint32_t crc, std::uint64_t size);
    bool Put(const void* data, std::size_t size);
    std::FILE* file_ = nullptr;
    std::uint64_t written_ = 0;
    std::vector<Entry> entries_;
    std::string error_;
};

}  // namespace qm::archive
