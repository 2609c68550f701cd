#include "platform/program_folder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace qm::platform {

namespace {
std::string& FolderVar() {
    static std::string folder;
    return folder;
}
}  // namespace

std::string HomeDirectory() {
    const char* h = std::getenv("HOME");
    if (h && *h) return h;
    if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

std::string ResolveProgramFolder(const std::string& home, std::string& error) {
    std::string folder = home;
    if (folder.empty()) {
        const char* env = std::getenv("QUILLMOOR_HOME");
        if (env && *env) folder = env;
    }
    if (folder.empty()) folder = HomeDirectory() + "/.local/share/quillmoor";
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(folder), ec);
    if (ec) {
        error = "cannot resolve the program folder " + folder + ": " + ec.message();
        return {};
    }
    p = p.lexically_normal();
    std::string s = p.string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    fs::create_directories(s, ec);
    if (ec || !fs::is_directory(s)) {
        error = "cannot create the program folder " + s + (ec ? ": " + ec.message() : "");
        return {};
    }
    return s;
}

const std::string& ProgramFolder() { return FolderVar(); }
void SetProgramFolder(const std::string& folder) { FolderVar() = folder; }

std::string ProgramFile(std::string_view name) {
    if (FolderVar().empty()) return std::string(name);
    std::string s = FolderVar();
    if (s.back() != '/') s += '/';
    s += name;
    return s;
}

int CreateUniqueFile(const std::string& prefix, bool ownerOnly, std::string& name, std::string& error) {
    static std::mutex mutex;
    static std::mt19937_64 random{std::random_device{}() ^ static_cast<std::uint64_t>(::getpid())};
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::uint64_t r;
        {
            std::lock_guard<std::mutex> lock(mutex);
            r = random();
        }
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".%ld-%08llx", static_cast<long>(::getpid()),
                      static_cast<unsigned long long>(r & 0xffffffffu));
        const std::string candidate = prefix + suffix;
        const int fd =
            ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, ownerOnly ? 0600 : 0644);
        if (fd >= 0) {
            if (ownerOnly) ::fchmod(fd, 0600);
            name = candidate;
            return fd;
        }
        if (errno != EEXIST) {
            error = "cannot create " + candidate + ": " + std::strerror(errno);
            return -1;
        }
    }
    error = "cannot create a new file named " + prefix + ".*";
    return -1;
}

bool WriteFileAtomic(const std::string& path, std::string_view data, bool ownerOnly, std::string& error) {
    std::string tmp;
    int fd = CreateUniqueFile(path + ".tmp", ownerOnly, tmp, error);
    if (fd < 0) return false;
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t w = ::write(fd, p, left);
        if (w < 0) {
            if (errno == EINTR) continue;
            error = "cannot write " + tmp + ": " + std::strerror(errno);
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        p += w;
        left -= static_cast<std::size_t>(w);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        error = "cannot write " + tmp + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        error = "cannot rename " + tmp + " to " + path + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool WriteFilesAtomic(std::vector<FileToWrite>& files, std::string& error) {
    if (files.size() == 1) return files[0].placed = WriteFileAtomic(files[0].path, files[0].data, false, error);
    bool ok = true;
    auto fail = [&](const std::string& text) {
        if (ok) error = text;
        ok = false;
    };
    std::vector<FileToWrite*> written;
    std::vector<std::string> temporary(files.size());  // each file's temporary name
    for (FileToWrite& f : files) {
        std::string& tmp = temporary[static_cast<std::size_t>(&f - files.data())];
        std::string why;
        int fd = CreateUniqueFile(f.path + ".tmp", false, tmp, why);
        if (fd < 0) {
            fail(why);
            continue;
        }
        const char* p = f.data.data();
        std::size_t left = f.data.size();
        bool good = true;
        while (left > 0 && good) {
            ssize_t w = ::write(fd, p, left);
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) {
                fail("cannot write " + tmp + ": " + std::strerror(errno));
                good = false;
                break;
            }
            p += w;
            left -= static_cast<std::size_t>(w);
        }
        if (::close(fd) != 0 && good) {
            fail("cannot write " + tmp + ": " + std::strerror(errno));
            good = false;
        }
        if (good)
            written.push_back(&f);
        else
            ::unlink(tmp.c_str());
    }
    if (written.empty()) return ok;
    // One flush of the file system holding the files makes every temporary file durable
    // before any of them is renamed into place.
    const std::string folder = fs::path(written.front()->path).parent_path().string();
    int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool flushed = dir >= 0 && ::syncfs(dir) == 0;
    if (!flushed) {
        // Without a file-system flush each file is flushed by itself.
        for (FileToWrite*& f : written) {
            const std::string& tmp = temporary[static_cast<std::size_t>(f - files.data())];
            int fd = ::open(tmp.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0 || ::fsync(fd) != 0) {
                fail("cannot write " + tmp + ": " + std::strerror(errno));
                if (fd >= 0) ::close(fd);
                ::unlink(tmp.c_str());
                f = nullptr;
                continue;
            }
            ::close(fd);
        }
    }
    std::vector<std::string> folders;
    for (FileToWrite* f : written) {
        if (!f) continue;
        const std::string& tmp = temporary[static_cast<std::size_t>(f - files.data())];
        if (::rename(tmp.c_str(), f->path.c_str()) != 0) {
            fail("cannot rename " + tmp + " to " + f->path + ": " + std::strerror(errno));
            ::unlink(tmp.c_str());
            continue;
        }
        f->placed = true;
        std::string parent = fs::path(f->path).parent_path().string();
        if (std::find(folders.begin(), folders.end(), parent) == folders.end()) folders.push_back(parent);
    }
    // The renames themselves are made durable with one flush of each folder.
    for (const std::string& parent : folders) {
        int d = ::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (d >= 0) {
            ::fsync(d);
            ::close(d);
        }
    }
    if (dir >= 0) ::close(dir);
    return ok;
}

bool ReadWholeFile(const std::string& path, std::string& data, std::string& error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    data.clear();
    char buf[65536];
    for (;;) {
        ssize_t r = ::read(fd, buf, sizeof buf);
        if (r < 0) {
            if (errno == EINTR) continue;
            error = "cannot read " + path + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (r == 0) break;
        data.append(buf, static_cast<std::size_t>(r));
    }
    ::close(fd);
    return true;
}

std::string KeepAside(const std::string& path, std::string& error) {
    std::error_code ec;
    for (int i = 1; i < 1000; ++i) {
        std::string target = path + ".damaged" + (i == 1 ? std::string() : "-" + std::to_string(i));
        if (fs::exists(target, ec)) continue;
        fs::copy_file(path, target, ec);
        if (ec) {
            error = "cannot keep " + path + " aside as " + target + ": " + ec.message();
            return {};
        }
        ::chmod(target.c_str(), 0600);
        return target;
    }
    error = "cannot keep " + path + " aside: too many damaged copies";
    return {};
}

}  // namespace qm::platform
