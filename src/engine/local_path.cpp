// Where fetched files are stored, and the temporary files that receive downloads.
#include "engine/local_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
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

int OpenTemporaryFile(std::string& path) {
    // The private folder is looked at again should it vanish while the program runs.
    std::string folder = platform::PrivateFolder();
    if (folder.empty()) return -1;
    bool lookedAgain = false;
    static std::atomic<unsigned> counter{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "htt%X.tmp", counter.fetch_add(1) & 0xFFFFFFu);
        std::string candidate = folder + "/" + name;
        int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            path = std::move(candidate);
            return fd;
        }
        if (errno == ENOENT && !lookedAgain) {
            folder = platform::PrivateFolder();
            if (folder.empty()) return -1;
            lookedAgain = true;
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
