// Where fetched files are stored, and the temporary files that receive downloads.
#include "engine/local_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <random>
#include <system_error>

#include "addresses/address_rules.h"
#include "platform/private_folder.h"
#include "store/folder.h"
#include "store/options.h"
#include "store/project.h"

namespace qm::engine {

namespace fs = std::filesystem;

const std::string& DefaultDocName() {
    static const std::string fallback = "default.htm";
    const std::string& doc = store::Options().DefaultDoc;
    return doc.empty() ? fallback : doc;
}

void MapName(std::string& name, bool addRoot, const std::string& root) {
    addresses::MapNameWith(name, addRoot, root, DefaultDocName());
}

std::string RootFolder(const store::Project& project) {
    if (project.Folder && !project.Folder->Dir.empty()) return addresses::AsFolder(project.Folder->Dir);
    const std::string& prefix = store::Options().PathPrefix;
    return addresses::AsFolder(prefix.empty() ? store::DefaultDownloadFolder() : prefix);
}

std::string LocalPath(const store::Project& project, const std::string& name) {
    std::string path = name;
    MapName(path, true, RootFolder(project));
    return path;
}

std::string PrimaryName(const std::string& fileName) { return fileName + ".primary"; }

std::string TemporaryFolder() { return platform::PrivateFolder(); }

namespace {

// The private folder held open: new download files are made relative to the folder checked
// once, instead of looking at the folder again (and at whose it is) for every file. Made
// again when the environment names another temporary folder or the folder was removed.
struct PrivateFolderHandle {
    std::string key;   // the environment it was chosen in
    std::string path;  // the folder's name
    int fd = -1;
    void Close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

std::mutex g_folderMutex;
PrivateFolderHandle g_folder;  // under g_folderMutex

// Everything the choice of the private folder depends on.
std::string FolderChoiceKey() {
    std::string key;
    for (const char* name : {"TMPDIR", "TMP", "TEMP", "TEMPDIR", "XDG_RUNTIME_DIR"}) {
        const char* value = std::getenv(name);
        key += value ? value : "";
        key += '\n';
    }
    return key;
}

bool OpenFolderHandle(PrivateFolderHandle& h, const std::string& key) {
    h.Close();
    h.key = key;
    h.path = platform::PrivateFolder();
    if (h.path.empty()) return false;
    h.fd = ::open(h.path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (h.fd < 0) return false;
    // The folder opened is the one that was checked: ours alone.
    struct stat st {};
    static const uid_t uid = ::getuid();
    if (::fstat(h.fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid || (st.st_mode & 077) != 0) {
        h.Close();
        return false;
    }
    return true;
}

}  // namespace

int OpenTemporaryFile(std::string& path) {
    static std::atomic<unsigned> counter{std::random_device{}()};
    std::lock_guard<std::mutex> lock(g_folderMutex);
    const std::string key = FolderChoiceKey();
    // The private folder is looked at again should it vanish while the program runs.
    for (int round = 0; round < 2; ++round) {
        if ((g_folder.fd < 0 || g_folder.key != key) && !OpenFolderHandle(g_folder, key)) return -1;
        for (int attempt = 0; attempt < 100; ++attempt) {
            char name[32];
            std::snprintf(name, sizeof name, "htt%X.tmp", counter.fetch_add(1) & 0xFFFFFFu);
            int fd = ::openat(g_folder.fd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
            if (fd >= 0) {
                path = g_folder.path + "/" + name;
                return fd;
            }
            if (errno != EEXIST) break;
        }
        if (errno != ENOENT) return -1;
        g_folder.Close();  // removed: chosen and made again
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
    const std::string folder = platform::ExistingPrivateFolder();
    if (folder.empty()) return;
    // The marker file makes sure the pattern always has something to match.
    int fd = ::open((folder + "/htt--.tmp").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) ::close(fd);
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string file = it->path().filename().string();
        if (file.size() < 7 || file.compare(0, 3, "htt") != 0 || file.compare(file.size() - 4, 4, ".tmp") != 0)
            continue;
        std::error_code typeEc;
        if (it->symlink_status(typeEc).type() == fs::file_type::directory) continue;
        std::error_code rmEc;
        fs::remove(it->path(), rmEc);  // silently: a file in use simply stays
    }
}

}  // namespace qm::engine
