// Where fetched files are stored, and the temporary files that receive downloads.
#include "engine/local_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

#include "engine/address_rules.h"
#include "store/folder.h"
#include "store/options.h"
#include "store/project.h"

namespace qm {

namespace fs = std::filesystem;

const std::string& DefaultDocName() {
    static const std::string fallback = "default.htm";
    const std::string& doc = Options().DefaultDoc;
    return doc.empty() ? fallback : doc;
}

namespace {

// The private folder must be a real folder of this user that nobody else may enter: the
// clean-up deletes files in it without asking.
bool IsOwnPrivateFolder(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

std::string PrivateFolderPath() {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec || base.empty()) base = "/tmp";
    return (base / ("quillmoor-" + std::to_string(::getuid()))).string();
}

}  // namespace

void MapName(std::string& name, bool addRoot, const std::string& root) {
    MapNameWith(name, addRoot, root, DefaultDocName());
}

std::string RootFolder(const TDClass& project) {
    if (project.Folder && !project.Folder->Dir.empty()) return AsFolder(project.Folder->Dir);
    const std::string& prefix = Options().PathPrefix;
    return AsFolder(prefix.empty() ? DefaultDownloadFolder() : prefix);
}

std::string LocalPath(const TDClass& project, const std::string& name) {
    std::string path = name;
    MapName(path, true, RootFolder(project));
    return path;
}

std::string PrimaryName(const std::string& fileName) { return fileName + ".primary"; }

std::string TemporaryFolder() {
    const std::string path = PrivateFolderPath();
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return {};
    return IsOwnPrivateFolder(path) ? path : std::string();
}

int OpenTemporaryFile(std::string& path) {
    // The folder is checked once and then trusted: it is ours and, in a sticky temporary
    // folder, only we can move it away. Should it vanish all the same, it is checked again;
    // another system temporary folder is checked as a new one.
    static std::mutex mutex;
    static std::string checked;
    std::string folder = PrivateFolderPath();
    bool fresh = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (folder != checked) folder.clear();
    }
    if (folder.empty()) {
        folder = TemporaryFolder();
        if (folder.empty()) return -1;
        fresh = true;
    }
    static std::atomic<unsigned> counter{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "htt%X.tmp", counter.fetch_add(1) & 0xFFFFFFu);
        std::string candidate = folder + "/" + name;
        int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            if (fresh) {
                std::lock_guard<std::mutex> lock(mutex);
                checked = folder;
            }
            path = std::move(candidate);
            return fd;
        }
        if (errno == ENOENT && !fresh) {
            folder = TemporaryFolder();
            if (folder.empty()) return -1;
            fresh = true;
            continue;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

std::string CreateTemporaryFile() {
    std::string path;
    int fd = OpenTemporaryFile(path);
    if (fd < 0) return {};
    ::close(fd);
    return path;
}

void CleanTemporaryFiles() {
    const std::string folder = PrivateFolderPath();
    if (!IsOwnPrivateFolder(folder)) return;
    // The marker file makes sure the pattern always has something to match.
    int fd = ::open((folder + "/htt--.tmp").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) ::close(fd);
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string file = it->path().filename().string();
        if (file.size() < 7 || file.compare(0, 3, "htt") != 0 ||
            file.compare(file.size() - 4, 4, ".tmp") != 0)
            continue;
        std::error_code typeEc;
        if (it->symlink_status(typeEc).type() == fs::file_type::directory) continue;
        std::error_code rmEc;
        fs::remove(it->path(), rmEc);  // silently: a file in use simply stays
    }
}

}  // namespace qm
