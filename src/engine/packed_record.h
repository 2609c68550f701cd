#pragma once
// Queued download records kept small. A page can yield a million links; each waits in the
// download queue, not busy, with nothing but its saved fields, its level and admission
// outcome. Such a record is kept packed: its own texts in one block, and what it shares with
// its neighbours (Project, category, referring page, start path, directory) in one shared
// context. It is unpacked into a full DownloadRecord when a connection takes it or someone looks
// at it.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace qm::store {
class Project;
}  // namespace qm::store
namespace qm::store {
struct FileCategory;
}  // namespace qm::store
namespace qm::engine {

class DownloadRecord;

// What consecutive records of one page have in common.
struct PackedContext {
    qm::store::Project* Project = nullptr;
    store::FileCategory* Category = nullptr;
    std::string Referer;
    std::string InitWay;
    std::string Path;
    std::atomic<std::uint32_t> refs{0};
};

// A counted reference to a context: a queued record holds one, in 8 bytes.
class ContextRef {
public:
    ContextRef() = default;
    explicit ContextRef(PackedContext* context);  // takes a new context
    ContextRef(const ContextRef& other);
    ContextRef& operator=(const ContextRef& other);
    ContextRef(ContextRef&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ContextRef& operator=(ContextRef&& other) noexcept;
    ~ContextRef();
    const PackedContext* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    void Drop();
    PackedContext* p_ = nullptr;
};

class PackedRecord {
public:
    PackedRecord();
    ~PackedRecord();
    PackedRecord(PackedRecord&&) noexcept;
    PackedRecord& operator=(PackedRecord&&) noexcept;
    // Whether record holds nothing beyond what the packed form keeps (queued, not busy, no
    // run state).
    static bool Packable(const DownloadRecord& record);
    // Packs record; shares last's context when it has the same values, else makes a new one
    // and leaves it in last for the next record.
    static PackedRecord Pack(const DownloadRecord& record, ContextRef& last);
    std::unique_ptr<DownloadRecord> Unpack() const;

    qm::store::Project* Project() const { return context_ ? context_->Project : nullptr; }
    bool Empty() const { return !context_; }

private:
    ContextRef context_;
    // The flags, Lev, Depth, ConnTries and the "IID" read for a record without a Project as
    // numbers of one to five bytes; how many bytes URL shares with the start of Referer; then
    // the rest of URL, RFile (empty when it is URL's last segment), FName (empty when it is
    // Path + "/" + RFile), Temp, Base and URLPsw, each preceded by its length.
    std::unique_ptr<char[]> data_;
};

// One entry of the download queue: a full record, or a packed one that becomes full the
// first time it is dereferenced.
class QueuedRecord {
public:
    explicit QueuedRecord(std::unique_ptr<DownloadRecord> record);
    explicit QueuedRecord(PackedRecord packed);
    ~QueuedRecord();
    QueuedRecord(QueuedRecord&&) noexcept;
    QueuedRecord& operator=(QueuedRecord&&) noexcept;

    DownloadRecord* get() const;  // unpacks
    DownloadRecord* operator->() const { return get(); }
    DownloadRecord& operator*() const { return *get(); }
    std::unique_ptr<DownloadRecord> Release();  // unpacks and gives the record away

    // Cheap looks that leave a packed record packed.
    bool IsPacked() const { return !full_; }
    bool Is(const DownloadRecord* record) const { return full_ && full_.get() == record; }
    bool Busy() const;
    std::int64_t NotBeforeMs() const;
    qm::store::Project* Project() const;
    // A full copy of a packed record (for writing it out), or nullptr when it is full.
    std::unique_ptr<DownloadRecord> UnpackedCopy() const;

private:
    mutable std::unique_ptr<DownloadRecord> full_;
    mutable PackedRecord packed_;
};

}  // namespace qm::engine
