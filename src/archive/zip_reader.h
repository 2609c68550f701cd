#pragma once
// Reads the members of a ZIP file (as WACZ packages are made: stored or deflated, no ZIP64)
// from its central directory. Bounded: a directory or members that point outside the file,
// members that inflate past their stated size or fail their CRC are refused.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qm::archive {

struct ZipMember {
    std::string name;
    std::uint16_t method = 0;  // 0 stored, 8 deflated
    std::uint32_t crc = 0;
    std::uint64_t packedSize = 0, size = 0;
    std::uint64_t localOffset = 0;  // of its local header
};

class ZipReader {
public:
    explicit ZipReader(const std::string& path);
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // False with Error() when the file is not a ZIP file this reader can read.
    bool Ok() const { return error_.empty(); }
    const std::string& Error() const { return error_; }
    const std::vector<ZipMember>& Members() const { return members_; }
    const ZipMember* Find(const std::string& name) const;
    // Unpacks a member to a new file at target (its CRC checked); false with error.
    bool Extract(const ZipMember& member, const std::string& target, std::string& error);
    // Unpacks a member of at most limit bytes into text.
    bool ReadText(const ZipMember& member, std::uint64_t limit, std::string& text, std::string& error);

private:
    template <typename Put>
    bool Unpack(const ZipMember& member, Put&& put, std::string& error);
    bool ReadDirectory();
    std::FILE* file_ = nullptr;
    std::uint64_t fileSize_ = 0;
    std::vector<ZipMember> members_;
    std::string error_;
};

}  // namespace qm::archive
