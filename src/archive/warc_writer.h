#pragma once
// Appends records to a run's archive files: each record one gzip member written in one
// append, a new file once the present one passes the rotation size, and each file's CDXJ
// index written beside it ("NAME.warc.gz" -> "NAME.cdxj") when the file is closed.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "archive/cdxj.h"
#include "archive/gzip_member.h"
#include "archive/warc_record.h"

namespace qm::archive {

class WarcWriter {
public:
    static constexpr std::uint64_t kDefaultRotation = 1ull << 30;
    // Files are folder/stem + "-00000.warc.gz", "-00001.warc.gz", ...
    WarcWriter(std::string folder, std::string stem, std::uint64_t rotateBytes = kDefaultRotation);
    ~WarcWriter();  // closes
    WarcWriter(const WarcWriter&) = delete;
    WarcWriter& operator=(const WarcWriter&) = delete;

    // Appends record; the first record of every file is warcinfo (a copy of the one given
    // by SetInfo, which comes before the first Write). Records are compressed and written
    // by a thread of the writer's own, in order, so the caller need not wait for them.
    // False with Error() when an earlier record could not be written.
    bool Write(WarcRecord record);
    // Work that makes records (digests, revisit decisions) run on the writing thread, in order
    // with the records written, so the caller's thread only hands it over. A job writes its
    // records with WriteHere and says what failed in error. bytes: the memory it holds while
    // it waits, counted against the same bound as waiting records.
    using Job = std::function<bool(std::string& error)>;
    bool Submit(Job job, std::size_t bytes);
    // For a job, on the writing thread: appends record at once.
    bool WriteHere(const WarcRecord& record, std::string& error) { return WriteNow(record, error); }
    void SetInfo(const WarcRecord& info) { info_ = info; }
    // Writes what is waiting, closes the present file and writes its index. False with
    // Error() on a failure.
    bool Close();
    std::string Error() const;
    const std::vector<std::string>& Files() const { return files_; }  // complete after Close

private:
    static constexpr std::size_t kMaxWaitingBytes = std::size_t{4} << 20;
    // A batch the writing thread waits for once woken: this many bytes, or this long.
    static constexpr std::size_t kGatherBytes = std::size_t{1} << 20;
    static constexpr std::chrono::milliseconds kGatherTime{20};
    void Run();
    bool WriteNow(const WarcRecord& record, std::string& error);
    bool CloseFile(std::string& error);
    bool OpenNext(std::string& error);
    bool Append(const WarcRecord& record, std::string& error);
    bool AppendLarge(const std::string& head, const WarcRecord& record, std::uint64_t& length, std::string& error);
    mutable std::mutex mutex_;
    std::condition_variable work_, room_;
    struct Waiting {
        WarcRecord record;
        Job job;  // instead of the record, when set
        std::size_t bytes = 0;
    };
    bool Enqueue(Waiting waiting);
    std::deque<Waiting> waiting_;
    std::size_t waitingBytes_ = 0;
    bool stop_ = false;
    std::thread worker_;
    std::string folder_, stem_;
    std::uint64_t rotateBytes_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::vector<IndexEntry> entries_;
    std::vector<std::string> files_;
    WarcRecord info_;
    std::string error_;
    GzipBuffers gzip_;  // the writing thread's
};

// Makes every archive file in folder whole: a file without its index (its run was killed)
// is cut back to its last whole record and indexed. Returns the names repaired.
std::vector<std::string> RepairArchiveFolder(const std::string& folder, std::string& error);
// Indexes one archive file (folder/name) and writes folder/name's ".cdxj"; cutBack first
// truncates the file after its last whole record.
bool IndexArchiveFile(const std::string& folder, const std::string& name, bool cutBack, std::string& error);
// The archive files (*.warc.gz) of folder, sorted by name (oldest run first).
std::vector<std::string> ArchiveFiles(const std::string& folder);
// "NAME.warc.gz" -> "NAME.cdxj".
std::string IndexNameOf(const std::string& archiveName);

}  // namespace qm::archive
