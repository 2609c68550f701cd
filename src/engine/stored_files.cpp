// Writing stored files: redirect stubs, one-step placement, free space, header values.
#include "engine/stored_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

#include "engine/get_rec.h"
#include "engine/known_directories.h"
#include "engine/local_path.h"
#include "engine/queue_manager.h"
#include "engine/scratch_files.h"
#include "net/header_fields.h"
#include "platform/event_loop.h"
#include "store/string_list.h"

namespace qm::engine {

namespace fs = std::filesystem;

namespace {

// The permission bits new stored files get: what the user's file mask allows.
mode_t StoredFileMode() {
    static const mode_t mode = [] {
        mode_t mask = ::umask(022);
        ::umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

// After a failure with err: when the run took target's directory for made and it is gone,
// makes it again; true when the failed step is worth one more try.
bool RemadeDirectoryOf(const std::string& target, int err) {
    if (err != ENOENT) return false;
    const std::string dir = DirectoryOf(target);
    return !dir.empty() && ForgetDirectory(dir) && MakeDirectories(dir);
}

// An empty private file beside target, locked until it is committed; its descriptor and
// name, or -1.
int CreateBeside(const std::string& target, std::string& name) {
    int fd = CreateScratchBeside(target, name, StoredFileMode());
    if (fd < 0 && RemadeDirectoryOf(target, errno)) fd = CreateScratchBeside(target, name, StoredFileMode());
    return fd;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool CommitBeside(int fd, const std::string& name, const std::string& target, bool ok) {
    return CommitScratch(fd, name, target, ok);
}

std::string TrimControls(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) < 33) ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) < 33) --e;
    return s.substr(b, e - b);
}

// The header text after key up to the end of its line; nothing when no line starts with key.
std::optional<std::string> FindKey(const std::string& headers, const std::string& key) {
    std::optional<std::string_view> field = net::HeaderField(headers, key);
    if (!field) return std::nullopt;
    return std::string(*field);
}

}  // namespace

std::string HeaderValue(const std::string& headers, const std::string& key) {
    std::optional<std::string> rest = FindKey(headers, key);
    return rest ? TrimControls(*rest) : std::string();
}

std::string LastModified(const std::string& headers) {
    return FindKey(headers, "last-modified:").value_or(std::string());
}

bool MakeDirectories(const std::string& path) {
    if (path.empty()) return false;
    if (KnownDirectory(path)) return true;
    std::error_code ec;
    fs::create_directories(path, ec);
    if (!fs::is_directory(path, ec)) return false;
    RememberDirectory(path);
    return true;
}

void RemoveFile(const std::string& path) {
    if (path.empty()) return;
    ::unlink(path.c_str());
}

bool FileExists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool PlaceFile(const std::string& source, const std::string& target, bool moveSource) {
    if (source.empty() || target.empty()) return false;
    if (source == target) return FileExists(target);
    if (moveSource) {
        // Same file system: one rename places the complete file, with the permissions of a
        // stored file given before it appears under its name.
        ::chmod(source.c_str(), StoredFileMode());
        if (::rename(source.c_str(), target.c_str()) == 0) return true;
        int err = errno;
        if (RemadeDirectoryOf(target, err)) {
            if (::rename(source.c_str(), target.c_str()) == 0) return true;
            err = errno;
        }
        if (err != EXDEV) {
            struct stat st;
            if (::stat(source.c_str(), &st) != 0) return false;
        }
    }
    int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    std::string name;
    int out = CreateBeside(target, name);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(in, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (n == 0) break;
        if (!WriteAll(out, buf, static_cast<std::size_t>(n))) {
            ok = false;
            break;
        }
    }
    ::close(in);
    bool placed = CommitBeside(out, name, target, ok);
    if (placed && moveSource) ::unlink(source.c_str());
    return placed;
}

bool PlaceText(const std::string& text, const std::string& target) {
    std::string name;
    int out = CreateBeside(target, name);
    if (out < 0) return false;
    bool ok = WriteAll(out, text.data(), text.size());
    return CommitBeside(out, name, target, ok);
}

std::int64_t FreeSpace(const std::string& path) {
    if (path.empty()) return -1;
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(path), ec);
    if (ec) return -1;
    // The nearest part of the path that exists tells the file system (most often the path
    // itself or its folder: asked directly, without looking first whether it is there).
    struct statvfs sv;
    while (::statvfs(p.c_str(), &sv) != 0) {
        if (!p.has_parent_path() || p.parent_path() == p) return -1;
        p = p.parent_path();
    }
    unsigned long long bytes =
        static_cast<unsigned long long>(sv.f_bavail) * static_cast<unsigned long long>(sv.f_frsize);
    if (bytes > 1000000000ULL) return 1000000000;
    return static_cast<std::int64_t>(bytes);
}

std::string RedirectStubText(const std::string& target) {
    return "<HTML><HEAD><META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; URL=" + target +
           "\"><TITLE>302 File moved</TITLE></HEAD></HTML>";
}

std::string RedirectStubTarget(const DownloadRecord& record) {
    std::string target;
    for (int i = 0; i < record.OldDepth; ++i) target += "../";
    std::string rel = record.NewFName;
    if (record.Project) {
        std::string root = RootFolder(*record.Project);
        if (!root.empty() && rel.compare(0, root.size(), root) == 0) rel.erase(0, root.size());
    }
    while (!rel.empty() && (rel[0] == '/' || rel[0] == '\\')) rel.erase(0, 1);
    for (char& c : rel)
        if (c == '\\') c = '/';
    return target + rel;
}

void WriteRedirectStub(const DownloadRecord& record) {
    if (record.OldFName.empty()) return;
    QueueManager* qm = QueueManager::Instance();
    // Description files and the queue's events belong to the main thread.
    if (qm && !platform::IsMainThread()) {
        qm->CallOnMain([&record] { WriteRedirectStub(record); });
        return;
    }
    const std::string& old = record.OldFName;
    std::size_t cut = old.find_last_of("/\\");
    std::string dir = cut == std::string::npos ? std::string() : old.substr(0, cut);
    std::string name = cut == std::string::npos ? old : old.substr(cut + 1);
    if (!dir.empty()) {
        MakeDirectories(dir);
        RecordFileDescription(dir, name, "text/html", "");
    }
    if (!PlaceText(RedirectStubText(RedirectStubTarget(record)), old)) return;
    if (qm && qm->OnItemStored) {
        DownloadRecord stub;
        stub.FName = old;
        stub.Project = record.Project;
        qm->OnItemStored(*qm, stub);
    }
}

}  // namespace qm::engine
