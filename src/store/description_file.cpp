#include "store/description_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "store/object_stream.h"

namespace qm::store {

namespace {
constexpr std::int64_t kHeaderSize = 12;
constexpr std::int64_t kTailSize = 76;
constexpr std::int64_t kOldRecordSize = 202;

class File {
public:
    File(const std::string& path, int flags) : fd_(::open(path.c_str(), flags | O_CLOEXEC, 0644)) {}
    ~File() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Ok() const { return fd_ >= 0; }
    bool Stat(struct stat& st) const { return ::fstat(fd_, &st) == 0; }
    std::int64_t Size() const {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 ? st.st_size : 0;
    }
    // Reads go through a read-ahead block: a walk over many small records then costs one
    // system call per block instead of two per record.
    bool ReadAt(std::int64_t offset, void* buf, std::size_t n) const {
        if (n > kBlockSize) return ReadDirect(offset, buf, n);
        if (offset < blockAt_ ||
            offset + static_cast<std::int64_t>(n) > blockAt_ + static_cast<std::int64_t>(blockLen_)) {
            block_.resize(kBlockSize);
            ssize_t r = ::pread(fd_, block_.data(), kBlockSize, offset);
            blockAt_ = offset;
            blockLen_ = r > 0 ? static_cast<std::size_t>(r) : 0;
            if (blockLen_ < n) return ReadDirect(offset, buf, n);
        }
        std::memcpy(buf, block_.data() + (offset - blockAt_), n);
        return true;
    }
    bool WriteAt(std::int64_t offset, const void* buf, std::size_t n) {
        blockLen_ = 0;
        auto* p = static_cast<const char*>(buf);
        while (n > 0) {
            ssize_t w = ::pwrite(fd_, p, n, offset);
            if (w <= 0) return false;
            p += w;
            offset += w;
            n -= static_cast<std::size_t>(w);
        }
        return true;
    }
    bool Truncate(std::int64_t size) {
        blockLen_ = 0;
        return ::ftruncate(fd_, size) == 0;
    }

private:
    static constexpr std::size_t kBlockSize = 64 * 1024;
    bool ReadDirect(std::int64_t offset, void* buf, std::size_t n) const {
        auto* p = static_cast<char*>(buf);
        while (n > 0) {
            ssize_t r = ::pread(fd_, p, n, offset);
            if (r <= 0) return false;
            p += r;
            offset += r;
            n -= static_cast<std::size_t>(r);
        }
        return true;
    }
    int fd_;
    mutable std::vector<unsigned char> block_;
    mutable std::int64_t blockAt_ = 0;
    mutable std::size_t blockLen_ = 0;
};

std::int32_t Le32(const unsigned char* p) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                     static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}
void PutLe32(unsigned char* p, std::int32_t v) {
    auto u = static_cast<std::uint32_t>(v);
    p[0] = u & 0xff;
    p[1] = (u >> 8) & 0xff;
    p[2] = (u >> 16) & 0xff;
    p[3] = (u >> 24) & 0xff;
}

// A short text in a length-byte field of capacity characters.
std::string ShortText(const unsigned char* p, std::size_t capacity) {
    std::size_t n = std::min<std::size_t>(p[0], capacity);
    return std::string(reinterpret_cast<const char*>(p + 1), n);
}
void PutShortText(unsigned char* p, std::size_t capacity, const std::string& s) {
    std::memset(p, 0, capacity + 1);
    std::size_t n = std::min(s.size(), capacity);
    p[0] = static_cast<unsigned char>(n);
    std::memcpy(p + 1, s.data(), n);
}

void DecodeTail(const unsigned char* tail, FileDescription& r) {
    r.DayStamp = Le32(tail);
    r.LastModified = ShortText(tail + 4, 30);
    r.ContentType = ShortText(tail + 35, 40);
}
void EncodeTail(unsigned char* tail, const FileDescription& r, std::int32_t day) {
    PutLe32(tail, day);
    PutShortText(tail + 4, 30, r.LastModified);
    PutShortText(tail + 35, 40, r.ContentType);
}

struct Header {
    std::int64_t total, nameLen, textLen;
};

// Walks the records of an open "Descr.QV3". visit(offset, header) returns true to stop.
// Returns the offset where the walk ended: the end marker, the end of the file, or the first
// record that is damaged (lengths negative, inconsistent or reaching past the end).
template <typename Visit>
std::int64_t Walk(const File& f, bool& atMarker, Visit visit) {
    atMarker = false;
    const std::int64_t size = f.Size();
    std::int64_t pos = 0;
    while (pos + kHeaderSize <= size) {
        unsigned char h[kHeaderSize];
        if (!f.ReadAt(pos, h, sizeof h)) break;
        Header hd{Le32(h), Le32(h + 4), Le32(h + 8)};
        if (hd.total == 0 && hd.nameLen == 0) {
            atMarker = true;
            break;
        }
        if (hd.nameLen < 0 || hd.textLen < 0 || hd.total != kHeaderSize + hd.nameLen + hd.textLen + kTailSize ||
            pos + hd.total > size)
            break;
        if (visit(pos, hd)) break;
        pos += hd.total;
    }
    return pos;
}

std::string Dir(const std::string& directory) {
    if (directory.empty()) return "./";
    char last = directory.back();
    return (last == '/' || last == '\\') ? directory : directory + "/";
}

// Where each record of a "Descr.QV3" lies, learnt by one walk over the file and kept while the
// file is the one seen then (same file, size and modification time): records are then found
// and updated without reading the file again. Our own writes keep it current; any other
// change to the file makes the next use walk the file again.
struct Located {
    std::int64_t pos;     // the record's header
    std::int64_t tailAt;  // its day stamp, last-modified text and content type
};
struct FileIndex {
    bool valid = false;
    dev_t dev = 0;
    ino_t ino = 0;
    std::int64_t size = 0;
    timespec modified{};
    std::int64_t end = 0;                              // where the walk ended
    bool marker = false;                               // it ended at an end marker
    std::unordered_map<std::string, Located> records;  // the first record of each name
};

// Directories of one run; bounded so that a very long run does not grow it without end.
constexpr std::size_t kMaxIndexedFiles = 512;
std::mutex g_indexMutex;
std::unordered_map<std::string, FileIndex>& Indexes() {
    static auto* indexes = new std::unordered_map<std::string, FileIndex>();
    return *indexes;
}

// The index of the open file f at path, walked again when the file is not the one indexed.
// Null when the file cannot be examined. The caller holds g_indexMutex.
FileIndex* IndexOf(const File& f, const std::string& path) {
    struct stat st {};
    if (!f.Stat(st)) return nullptr;
    auto& indexes = Indexes();
    auto it = indexes.find(path);
    if (it != indexes.end() && it->second.valid && it->second.dev == st.st_dev && it->second.ino == st.st_ino &&
        it->second.size == st.st_size && it->second.modified.tv_sec == st.st_mtim.tv_sec &&
        it->second.modified.tv_nsec == st.st_mtim.tv_nsec)
        return &it->second;
    if (it == indexes.end()) {
        if (indexes.size() >= kMaxIndexedFiles) indexes.clear();
        it = indexes.emplace(path, FileIndex{}).first;
    }
    FileIndex& ix = it->second;
    ix.records.clear();
    ix.end = Walk(f, ix.marker, [&](std::int64_t pos, const Header& h) {
        std::string n(static_cast<std::size_t>(h.nameLen), '\0');
        if (!f.ReadAt(pos + kHeaderSize, n.data(), n.size())) return false;
        ix.records.emplace(std::move(n), Located{pos, pos + kHeaderSize + h.nameLen + h.textLen});
        return false;
    });
    ix.dev = st.st_dev;
    ix.ino = st.st_ino;
    ix.size = st.st_size;
    ix.modified = st.st_mtim;
    ix.valid = true;
    return &ix;
}

// After our own write: the file as it is now is the one indexed.
void Restamp(const File& f, FileIndex& ix) {
    struct stat st {};
    if (!ix.valid || !f.Stat(st) || st.st_size != ix.size) {
        ix.valid = false;
        return;
    }
    ix.modified = st.st_mtim;
}

bool ReadOld(const std::string& directory, const std::string& name, FileDescription& record) {
    File f(Dir(directory) + kOldDescriptionFile, O_RDONLY);
    if (!f.Ok()) return false;
    const std::int64_t size = f.Size();
    unsigned char rec[kOldRecordSize];
    for (std::int64_t pos = 0; pos + kOldRecordSize <= size; pos += kOldRecordSize) {
        if (!f.ReadAt(pos, rec, sizeof rec)) return false;
        std::string n = ShortText(rec, 100);
        if (n != name) continue;
        record.Name = n;
        record.DayStamp = 1;
        record.LastModified = ShortText(rec + 101, 99).substr(0, 30);
        std::error_code ec;
        if (rec[201] == 1 || std::filesystem::exists(Dir(directory) + name + ".primary", ec))
            record.ContentType = "text/html";
        return true;
    }
    return false;
}
}  // namespace

std::int32_t ProgramDayCount() {
    static const std::int32_t day = static_cast<std::int32_t>(std::lround(NowDateTime()));
    return day;
}

bool ReadDescription(const std::string& directory, const std::string& name, FileDescription& record) {
    const std::string path = Dir(directory) + kDescriptionFile;
    File f(path, O_RDONLY);
    if (f.Ok()) {
        std::lock_guard<std::mutex> lock(g_indexMutex);
        if (FileIndex* ix = IndexOf(f, path)) {
            auto it = ix->records.find(name);
            if (it != ix->records.end()) {
                const std::int64_t textAt = it->second.pos + kHeaderSize + static_cast<std::int64_t>(name.size());
                std::vector<unsigned char> buf(static_cast<std::size_t>(it->second.tailAt - textAt + kTailSize));
                if (f.ReadAt(textAt, buf.data(), buf.size())) {
                    record.Name = name;
                    record.Text.assign(reinterpret_cast<const char*>(buf.data()), buf.size() - kTailSize);
                    DecodeTail(buf.data() + buf.size() - kTailSize, record);
                    return true;
                }
            }
        }
    }
    return ReadOld(directory, name, record);
}

bool WriteDescription(const std::string& directory, const FileDescription& record) {
    const std::string path = Dir(directory) + kDescriptionFile;
    File f(path, O_RDWR | O_CREAT);
    if (!f.Ok()) return false;
    const std::int32_t day = ProgramDayCount();
    std::lock_guard<std::mutex> lock(g_indexMutex);
    FileIndex* ix = IndexOf(f, path);
    if (!ix) return false;
    unsigned char tail[kTailSize];
    EncodeTail(tail, record, day);
    auto found = ix->records.find(record.Name);
    if (found != ix->records.end()) {
        if (!f.WriteAt(found->second.tailAt, tail, sizeof tail)) {
            ix->valid = false;
            return false;
        }
        Restamp(f, *ix);
        return true;
    }

    const std::int64_t end = ix->end;
    std::int64_t size = ix->size;
    // Damaged bytes after the last good record cannot be read back by anyone; the new record
    // replaces them so that it can be found.
    if (!ix->marker && end < size) {
        ix->valid = false;
        if (!f.Truncate(end)) return false;
        size = end;
    }
    std::vector<unsigned char> buf;
    const std::int64_t total =
        kHeaderSize + static_cast<std::int64_t>(record.Name.size() + record.Text.size()) + kTailSize;
    if (total > 0x7fffffff) return false;
    buf.resize(static_cast<std::size_t>(total));
    PutLe32(buf.data(), static_cast<std::int32_t>(total));
    PutLe32(buf.data() + 4, static_cast<std::int32_t>(record.Name.size()));
    PutLe32(buf.data() + 8, static_cast<std::int32_t>(record.Text.size()));
    std::memcpy(buf.data() + kHeaderSize, record.Name.data(), record.Name.size());
    std::memcpy(buf.data() + kHeaderSize + record.Name.size(), record.Text.data(), record.Text.size());
    std::memcpy(buf.data() + kHeaderSize + record.Name.size() + record.Text.size(), tail, sizeof tail);
    ix->valid = false;
    if (!f.WriteAt(end, buf.data(), buf.size())) return false;
    // The record went over the end of the file (or over the end marker, when nothing followed
    // it): the index now holds it too. Anything else is learnt again at the next use.
    if (size <= end + total) {
        ix->size = end + total;
        ix->end = end + total;
        ix->marker = false;
        ix->records.emplace(record.Name, Located{end, end + total - kTailSize});
        ix->valid = true;
        Restamp(f, *ix);
    }
    return true;
}

}  // namespace qm::store
