// Archive files on disk: appends of whole gzip members, rotation, indexes and repair.
#include "archive/warc_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "archive/captured_bytes.h"
#include "archive/gzip_member.h"
#include "archive/warc_reader.h"

namespace qm::archive {

namespace fs = std::filesystem;

namespace {

bool WriteAll(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// An index is written beside its archive under a temporary name and renamed into place, so a
// reader never sees half of one. (Not flushed to disk: a lost index is rebuilt from its file.)
bool WriteIndex(const std::string& path, const std::string& text, std::string& error) {
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) {
            error = "cannot write " + temporary;
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temporary, path, ec);
    if (ec) error = "cannot write " + path + ": " + ec.message();
    return !ec;
}

bool EndsWith(const std::string& s, const char* tail) {
    const std::size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

}  // namespace

std::string IndexNameOf(const std::string& archiveName) {
    std::string stem = archiveName;
    if (EndsWith(stem, ".warc.gz")) stem.resize(stem.size() - 8);
    return stem + ".cdxj";
}

WarcWriter::WarcWriter(std::string folder, std::string stem, std::uint64_t rotateBytes)
    : folder_(std::move(folder)), stem_(std::move(stem)), rotateBytes_(rotateBytes) {}

WarcWriter::~WarcWriter() { Close(); }

std::string WarcWriter::Error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

bool WarcWriter::Write(WarcRecord record) {
    const std::size_t bytes = record.block.size();
    return Enqueue(Waiting{std::move(record), nullptr, bytes});
}

bool WarcWriter::Submit(Job job, std::size_t bytes) { return Enqueue(Waiting{WarcRecord(), std::move(job), bytes}); }

bool WarcWriter::Enqueue(Waiting waiting) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!error_.empty()) return false;
    if (!worker_.joinable()) {
        stop_ = false;
        worker_ = std::thread([this] { Run(); });
    }
    // A bounded wait: the caller never runs more than a few records ahead of the disk.
    room_.wait(lock, [this] { return waitingBytes_ < kMaxWaitingBytes || !error_.empty(); });
    const bool wasEmpty = waiting_.empty();
    waitingBytes_ += waiting.bytes;
    waiting_.push_back(std::move(waiting));
    // The writing thread sleeps on an empty queue, or gathers a batch on a short one.
    if (wasEmpty || waitingBytes_ >= kGatherBytes) work_.notify_one();
    return true;
}

void WarcWriter::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (waiting_.empty() && !stop_) {
            work_.wait(lock, [this] { return stop_ || !waiting_.empty(); });
            // Woken by the first record after a pause: a few more gather before the work
            // starts, so the thread wakes once per batch instead of once per record.
            work_.wait_for(lock, kGatherTime, [this] { return stop_ || waitingBytes_ >= kGatherBytes; });
        }
        if (waiting_.empty()) return;
        Waiting next = std::move(waiting_.front());
        waiting_.pop_front();
        const bool failedBefore = !error_.empty();
        lock.unlock();
        std::string error;
        const bool ok = failedBefore || (next.job ? next.job(error) : WriteNow(next.record, error));
        const std::size_t done = next.bytes;
        next = Waiting();  // its memory is given back before the next one is taken
        lock.lock();
        waitingBytes_ -= std::min(waitingBytes_, done);
        if (!ok && error_.empty()) error_ = error.empty() ? "cannot write the web archive" : error;
        room_.notify_all();
    }
}

bool WarcWriter::OpenNext(std::string& error) {
    char number[16];
    std::snprintf(number, sizeof number, "-%05zu", files_.size());
    const std::string name = stem_ + number + ".warc.gz";
    std::error_code ec;
    fs::create_directories(folder_, ec);
    fd_ = ::open((folder_ + "/" + name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error = "cannot create " + folder_ + "/" + name + ": " + std::strerror(errno);
        return false;
    }
    files_.push_back(name);
    size_ = 0;
    entries_.clear();
    if (!info_.fields.empty()) {
        WarcRecord info = info_;
        for (auto& [key, value] : info.fields) {
            if (key == "WARC-Record-ID") value = NewRecordId();
            if (key == "WARC-Filename") value = name;
        }
        return Append(info, error);
    }
    return true;
}

bool WarcWriter::Append(const WarcRecord& record, std::string& error) {
    const std::string head = record.SerializedHead();
    std::uint64_t length = 0;
    if (record.blockTail && !record.blockTail->Empty()) {
        if (!AppendLarge(head, record, length, error)) return false;
    } else {
        const std::string_view member = GzipMemberInto({head, record.block, "\r\n\r\n"}, gzip_);
        // One write per record: a killed run leaves at most one record cut off, at the end.
        const bool written = WriteAll(fd_, member);
        length = member.size();
        gzip_.Trim();
        if (!written) {
            error = "cannot write " + files_.back() + ": " + std::strerror(errno);
            return false;
        }
    }
    IndexEntry entry;
    if (EntryOf(record, size_, length, files_.back(), entry)) entries_.push_back(std::move(entry));
    size_ += length;
    return true;
}

// A record too large for memory is compressed into an anonymous file first and then copied
// to the archive in one go, so the archive is incomplete only for the copy, never for the
// compression; a failed copy is cut back off.
bool WarcWriter::AppendLarge(const std::string& head, const WarcRecord& record, std::uint64_t& length,
                             std::string& error) {
    const int member = OpenAnonymousFile(folder_);
    if (member < 0) {
        error = "cannot make a temporary file in " + folder_ + ": " + std::strerror(errno);
        return false;
    }
    std::uint64_t made = 0;
    GzipMemberStream gzip([&](std::string_view bytes) {
        if (!WriteAll(member, bytes)) return false;
        made += bytes.size();
        return true;
    });
    bool ok = gzip.Add(head) && gzip.Add(record.block);
    ok = ok && record.blockTail->ForEach([&gzip, &ok](std::string_view bytes) { ok = ok && gzip.Add(bytes); });
    ok = ok && gzip.Add("\r\n\r\n") && gzip.Finish();
    if (!ok) {
        error = "cannot compress a record of " + files_.back() + " in " + folder_ + ": " + std::strerror(errno);
        ::close(member);
        return false;
    }
    std::vector<char> block(std::size_t{1} << 20);
    std::uint64_t at = 0;
    while (ok && at < made) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), made - at));
        const ssize_t n = ::pread(member, block.data(), want, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0 && WriteAll(fd_, std::string_view(block.data(), static_cast<std::size_t>(n)));
        at += n > 0 ? static_cast<std::uint64_t>(n) : 0;
    }
    ::close(member);
    if (!ok) {
        error = "cannot write " + files_.back() + ": " + std::strerror(errno);
        if (::ftruncate(fd_, static_cast<off_t>(size_)) != 0) error += " (and cannot cut it back)";
        return false;
    }
    length = made;
    return true;
}

bool WarcWriter::WriteNow(const WarcRecord& record, std::string& error) {
    if (fd_ >= 0 && size_ >= rotateBytes_ && !CloseFile(error)) return false;
    if (fd_ < 0 && !OpenNext(error)) return false;
    return Append(record, error);
}

bool WarcWriter::CloseFile(std::string& error) {
    if (fd_ < 0) return true;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    if (!WriteIndex(folder_ + "/" + IndexNameOf(files_.back()), IndexText(entries_), error)) return false;
    entries_.clear();
    if (!closed) error = "cannot close " + files_.back();
    return closed;
}

bool WarcWriter::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    work_.notify_all();
    if (worker_.joinable()) worker_.join();
    std::string error;
    const bool ok = CloseFile(error);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ok && error_.empty()) error_ = error;
    return error_.empty();
}

std::vector<std::string> ArchiveFiles(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto& e : fs::directory_iterator(folder, ec)) {
        const std::string name = e.path().filename().string();
        if (e.is_regular_file(ec) && EndsWith(name, ".warc.gz")) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool IndexArchiveFile(const std::string& folder, const std::string& name, bool cutBack, std::string& error) {
    const std::string path = folder + "/" + name;
    std::vector<IndexEntry> entries;
    std::uint64_t goodEnd = 0;
    {
        WarcReader reader(path);
        ReadRecord r;
        while (reader.Next(r)) {
            IndexEntry e;
            if (EntryOf(r, name, e)) entries.push_back(std::move(e));
        }
        goodEnd = reader.GoodEnd();
        if (!reader.Error().empty() && !cutBack) {
            error = path + ": " + reader.Error();
            return false;
        }
    }
    std::error_code ec;
    if (cutBack && fs::file_size(path, ec) != goodEnd) {
        fs::resize_file(path, goodEnd, ec);
        if (ec) {
            error = "cannot cut back " + path + ": " + ec.message();
            return false;
        }
    }
    return WriteIndex(folder + "/" + IndexNameOf(name), IndexText(entries), error);
}

std::vector<std::string> RepairArchiveFolder(const std::string& folder, std::string& error) {
    std::vector<std::string> repaired;
    for (const std::string& name : ArchiveFiles(folder)) {
        std::error_code ec;
        if (fs::exists(folder + "/" + IndexNameOf(name), ec)) continue;
        if (!IndexArchiveFile(folder, name, true, error)) break;
        repaired.push_back(name);
    }
    return repaired;
}

}  // namespace qm::archive
