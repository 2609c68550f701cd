#include "platform/folder_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace qm::platform {

namespace {

constexpr char kLockFile[] = "quillmoor.lock";
constexpr std::size_t kMaxHolderText = 512;
constexpr int kRetryMs = 50;

struct Entry {
    int fd = -1;
    int holders = 0;
};

std::mutex g_mutex;
std::map<std::string, Entry> g_held;  // under g_mutex: the folders this process holds
std::string g_name;                   // under g_mutex

std::string HolderName() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_name.empty() ? std::string(program_invocation_short_name) : g_name;
}

bool LockWhole(int fd) {
    struct flock f {};
    f.l_type = F_WRLCK;
    f.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_SETLK, &f) == 0;
}

// What the holder wrote: its process number, "brief" or "long", and its name.
struct Holder {
    std::string pid, name;
    bool brief = true;  // a holder that has not yet written its line counts as brief
};
Holder ReadHolder(int fd) {
    char buf[kMaxHolderText];
    const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    Holder h;
    if (n <= 0) return h;
    const std::string text(buf, static_cast<std::size_t>(n));
    const std::size_t a = text.find('\n');
    const std::size_t b = a == std::string::npos ? a : text.find('\n', a + 1);
    if (b == std::string::npos) return h;
    h.pid = text.substr(0, a);
    h.brief = text.compare(a + 1, b - a - 1, "long") != 0;
    const std::size_t c = text.find('\n', b + 1);
    h.name = text.substr(b + 1, c == std::string::npos ? std::string::npos : c - b - 1);
    return h;
}

// The line a holder writes (made before g_mutex is taken).
std::string HolderLine(FolderLock::Hold hold) {
    return std::to_string(::getpid()) + "\n" + (hold == FolderLock::Hold::Long ? "long" : "brief") + "\n" +
           HolderName() + "\n";
}

void WriteHolder(int fd, std::string text) {
    if (text.size() > kMaxHolderText - 1) text.resize(kMaxHolderText - 1);
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t n = ::pwrite(fd, text.data(), text.size(), 0);
    }
}

}  // namespace

void SetLockHolderName(const std::string& name) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_name = name;
}

bool FolderLock::Acquire(const std::string& folder, Hold hold, int waitMs, std::string& error) {
    Release();
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto found = g_held.find(folder);
        if (found != g_held.end()) {
            ++found->second.holders;
            folder_ = folder;
            return true;
        }
    }
    const std::string path = (folder.empty() ? std::string(".") : folder) + "/" + kLockFile;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    const std::string line = HolderLine(hold);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            auto found = g_held.find(folder);
            if (found != g_held.end()) {  // another thread of this process took it meanwhile
                ::close(fd);
                ++found->second.holders;
                folder_ = folder;
                return true;
            }
            if (LockWhole(fd)) {
                g_held[folder] = Entry{fd, 1};
                folder_ = folder;
                WriteHolder(fd, line);
                return true;
            }
        }
        if (errno != EAGAIN && errno != EACCES) {
            error = "cannot lock " + path + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        const Holder holder = ReadHolder(fd);
        if (!holder.brief || std::chrono::steady_clock::now() >= deadline) {
            error = "the program folder " + folder + " is in use by " +
                    (holder.name.empty() ? std::string("another program") : holder.name) +
                    (holder.pid.empty() ? std::string() : " (process " + holder.pid + ")") +
                    "; make the change there, or end it and try again";
            ::close(fd);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kRetryMs));
    }
}

void FolderLock::Release() {
    if (folder_.empty()) return;
    std::lock_guard<std::mutex> lock(g_mutex);
    auto found = g_held.find(folder_);
    folder_.clear();
    if (found == g_held.end() || --found->second.holders > 0) return;
    // The holder's line goes with the lock, so that nobody is named who no longer holds it.
    [[maybe_unused]] const int cut = ::ftruncate(found->second.fd, 0);
    ::close(found->second.fd);
    g_held.erase(found);
}

}  // namespace qm::platform
