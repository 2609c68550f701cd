// Transfer bytes kept in memory up to a point and in an anonymous file beyond it.
#include "archive/captured_bytes.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

namespace qm::archive {

int OpenAnonymousFile(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    // File systems without unnamed files: a named one, unlinked at once.
    std::string path = folder + "/.capture-XXXXXX";
    fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(path.c_str());
    return fd;
}

CapturedBytes::CapturedBytes(std::string spillFolder, std::size_t memoryBytes, std::uint64_t maxBytes)
    : folder_(std::move(spillFolder)), memoryBytes_(memoryBytes), maxBytes_(maxBytes) {}

CapturedBytes::CapturedBytes(CapturedBytes&& other) noexcept
    : folder_(std::move(other.folder_)),
      memoryBytes_(other.memoryBytes_),
      maxBytes_(other.maxBytes_),
      front_(std::move(other.front_)),
      fd_(other.fd_),
      spilled_(other.spilled_),
      truncated_(other.truncated_) {
    other.fd_ = -1;
    other.spilled_ = 0;
    other.front_.clear();
}

CapturedBytes& CapturedBytes::operator=(CapturedBytes&& other) noexcept {
    if (this != &other) {
        Release();
        folder_ = std::move(other.folder_);
        memoryBytes_ = other.memoryBytes_;
        maxBytes_ = other.maxBytes_;
        front_ = std::move(other.front_);
        fd_ = other.fd_;
        spilled_ = other.spilled_;
        truncated_ = other.truncated_;
        other.fd_ = -1;
        other.spilled_ = 0;
        other.front_.clear();
    }
    return *this;
}

CapturedBytes::~CapturedBytes() { Release(); }

void CapturedBytes::Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    spilled_ = 0;
}

bool CapturedBytes::Append(std::string_view bytes) {
    if (truncated_) return false;
    if (bytes.size() > maxBytes_ - Size()) {
        truncated_ = true;
        return false;
    }
    if (fd_ < 0 && front_.size() + bytes.size() <= memoryBytes_) {
        front_.append(bytes);
        return true;
    }
    if (fd_ < 0 && (folder_.empty() || (fd_ = OpenAnonymousFile(folder_)) < 0)) {
        truncated_ = true;
        return false;
    }
    while (!bytes.empty()) {
        ssize_t n = ::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(spilled_));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            truncated_ = true;
            return false;
        }
        spilled_ += static_cast<std::uint64_t>(n);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void CapturedBytes::Expect(std::uint64_t total) {
    if (fd_ >= 0 || total <= front_.capacity()) return;
    front_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(total, memoryBytes_)));
}

bool CapturedBytes::ForEach(const std::function<void(std::string_view)>& each) const {
    if (!front_.empty()) each(front_);
    if (spilled_ == 0) return true;
    std::vector<char> block(std::size_t{1} << 20);
    std::uint64_t at = 0;
    while (at < spilled_) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), spilled_ - at));
        ssize_t n = ::pread(fd_, block.data(), want, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        each(std::string_view(block.data(), static_cast<std::size_t>(n)));
        at += static_cast<std::uint64_t>(n);
    }
    return true;
}

std::string CapturedBytes::All() const {
    std::string out;
    out.reserve(static_cast<std::size_t>(Size()));
    ForEach([&out](std::string_view b) { out.append(b); });
    return out;
}

}  // namespace qm::archive
