// Archive files on disk: appends of whole gzip members, rotation, indexes and repair.
#include "archive/warc_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "archive/gzip_member.h"
#include "archive/warc_reader.h"
#include "platform/program_folder.h"

namespace qm::archive {

namespace fs = std::filesystem;

namespace {

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
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

bool WarcWriter::OpenNext() {
    char number[16];
    std::snprintf(number, sizeof number, "-%05zu", files_.size());
    const std::string name = stem_ + number + ".warc.gz";
    std::error_code ec;
    fs::create_directories(folder_, ec);
    fd_ = ::open((folder_ + "/" + name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error_ = "cannot create " + folder_ + "/" + name + ": " + std::strerror(errno);
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
        return Append(info);
    }
    return true;
}

bool WarcWriter::Append(const WarcRecord& record) {
    const std::string member = GzipMember(record.Serialize());
    // One write per record: a killed run leaves at most one record cut off, at the end.
    if (!WriteAll(fd_, member)) {
        error_ = "cannot write " + files_.back() + ": " + std::strerror(errno);
        return false;
    }
    ReadRecord read{record, size_, member.size()};
    IndexEntry entry;
    if (EntryOf(read, files_.back(), entry)) entries_.push_back(std::move(entry));
    size_ += member.size();
    return true;
}

bool WarcWriter::Write(const WarcRecord& record) {
    if (fd_ >= 0 && size_ >= rotateBytes_ && !Close()) return false;
    if (fd_ < 0 && !OpenNext()) return false;
    return Append(record);
}

bool WarcWriter::Close() {
    if (fd_ < 0) return true;
    bool ok = ::fsync(fd_) == 0 || errno == EINVAL;
    ok = ::close(fd_) == 0 && ok;
    fd_ = -1;
    std::string error;
    if (!platform::WriteFileAtomic(folder_ + "/" + IndexNameOf(files_.back()), IndexText(entries_), false, error)) {
        error_ = error;
        return false;
    }
    entries_.clear();
    if (!ok) error_ = "cannot close " + files_.back();
    return ok;
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
    return platform::WriteFileAtomic(folder + "/" + IndexNameOf(name), IndexText(entries), false, error);
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
