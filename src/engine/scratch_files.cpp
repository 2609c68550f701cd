// Scratch files beside stored names, their locks, and the sweep of those a killed run left.
#include "engine/scratch_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <memory>

namespace qm::engine {

namespace {

constexpr std::string_view kFixedSuffix = "part";
constexpr std::size_t kRandomLength = 6;  // mkstemp's "XXXXXX"

bool IsRandomChar(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

int Locked(int fd) {
    if (fd >= 0 && ::flock(fd, LOCK_EX) != 0) {
        // Locks are advisory; a file system without them still gets its scratch file.
    }
    return fd;
}

}  // namespace

int CreateScratchBeside(const std::string& target, std::string& name, unsigned mode) {
    std::string pattern = target + std::string(kScratchMark) + std::string(kRandomLength, 'X');
    std::unique_ptr<char[]> buf(new char[pattern.size() + 1]);
    pattern.copy(buf.get(), pattern.size());
    buf[pattern.size()] = '\0';
    int fd = Locked(::mkostemp(buf.get(), O_CLOEXEC));
    if (fd < 0) return -1;
    name = buf.get();
    ::fchmod(fd, static_cast<mode_t>(mode));
    return fd;
}

int OpenFixedScratch(const std::string& target, std::string& name, unsigned mode) {
    name = target + std::string(kScratchMark) + std::string(kFixedSuffix);
    return Locked(
        ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, static_cast<mode_t>(mode)));
}

bool CommitScratch(int fd, const std::string& name, const std::string& target, bool ok) {
    // Renamed while still open, so that the lock covers the file until it has its name.
    const bool placed = ok && ::rename(name.c_str(), target.c_str()) == 0;
    if (!placed) ::unlink(name.c_str());
    ::close(fd);
    return placed;
}

bool IsScratchName(std::string_view fileName) {
    const std::size_t mark = fileName.rfind(kScratchMark);
    if (mark == std::string_view::npos || mark == 0) return false;
    std::string_view tail = fileName.substr(mark + kScratchMark.size());
    if (tail == kFixedSuffix) return true;
    if (tail.size() != kRandomLength) return false;
    for (char c : tail)
        if (!IsRandomChar(c)) return false;
    return true;
}

int RemoveStaleScratchFiles(const std::string& directory) {
    DIR* dir = ::opendir(directory.c_str());
    if (!dir) return 0;
    const int dirFd = ::dirfd(dir);
    int removed = 0;
    while (dirent* entry = ::readdir(dir)) {
        if (!IsScratchName(entry->d_name)) continue;
        int fd = ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;  // a link, gone, or not ours to read
        // A writer that still runs holds the lock; one that was killed does not. An empty
        // file made this very moment may not be locked by its writer yet.
        struct stat st;
        const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        const bool justMade = regular && st.st_size == 0 && st.st_mtime + 2 > ::time(nullptr);
        if (regular && !justMade && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (::unlinkat(dirFd, entry->d_name, 0) == 0) ++removed;
        }
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

}  // namespace qm::engine
