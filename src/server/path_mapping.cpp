#include "server/path_mapping.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "addresses/address_rules.h"
#include "server/responses.h"

namespace qm::server {

namespace {

bool IsSep(char c) { return c == '/' || c == '\\'; }

bool IsFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
bool IsFolder(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A download folder written without its final separator is still a folder: the mapped path
// goes inside it, never beside it.
std::string Join(const std::string& root, const std::string& path) {
    if (root.empty() || path.empty() || IsSep(root.back()) || IsSep(path.front())) return root + path;
    return root + '/' + path;
}

// Every folder stored sites may live in: the Project tree folders' directories, the download
// folder and the offered download folders.
std::vector<std::string> DownloadFolders(const ServedSettings& settings) {
    std::vector<std::string> roots;
    for (const auto& folder : settings.folders)
        if (!folder.dir.empty()) roots.push_back(folder.dir);
    roots.push_back(settings.pathPrefix);
    for (const std::string& d : settings.offered)
        if (!d.empty()) roots.push_back(d);
    return roots;
}

// Whether path lies inside one of the folders, after symbolic links and dot segments of
// both are resolved.
bool InsideDownloadFolder(const std::string& path, const std::vector<std::string>& roots) {
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::weakly_canonical(path, ec);
    if (ec) return false;
    const std::string t = target.string();
    for (const std::string& r : roots) {
        std::error_code rec;
        std::filesystem::path root = std::filesystem::weakly_canonical(r, rec);
        if (rec) continue;
        std::string rs = root.string();
        while (rs.size() > 1 && rs.back() == '/') rs.pop_back();
        if (t == rs) return true;
        if (t.size() > rs.size() && t.compare(0, rs.size(), rs) == 0 && (rs == "/" || t[rs.size()] == '/')) return true;
    }
    return false;
}

}  // namespace

bool HasParentSegment(const std::string& path) {
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || IsSep(path[i])) {
            if (i - start == 2 && path[start] == '.' && path[start + 1] == '.') return true;
            start = i + 1;
        }
    }
    return false;
}

namespace {

// The names a request path (after its folder segment) may be stored under, the likeliest
// first. A query is kept as the browser sent it and the name is made as downloads are named
// (a "%" of the query becomes "_", the extension goes last when the option says so), so that
// "items?q=a%20b" finds "items@q=a_20b"; the path before the query is decoded as always. Then,
// for a request with a query, the whole path decoded and mapped without moving the extension,
// as such requests were mapped before.
std::vector<std::string> StoredNameCandidates(const std::string& path, const ServedSettings& settings) {
    std::vector<std::string> names;
    const std::size_t query = path.find('?');
    const std::string decoded = DecodePercent(path.substr(0, query), 2);
    if (query == std::string::npos) {
        names.push_back(addresses::StoredFileName(decoded, false, std::string(), settings.defaultDoc));
        return names;
    }
    names.push_back(
        addresses::StoredFileName(decoded + path.substr(query), settings.extLast, std::string(), settings.defaultDoc));
    std::string old = addresses::StoredFileName(DecodePercent(path, 2), false, std::string(), settings.defaultDoc);
    if (old != names.front()) names.push_back(std::move(old));
    return names;
}

bool EndsWithDoc(const std::string& text, const std::string& tail) {
    return !tail.empty() && text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Looks for a mapped name under root, the cached root and the offered download folders, in
// that order (the first offered folder that holds it becomes the cached root). Empty when none
// does, or when the name would climb out of the folder it is looked for in.
std::string FindUnderRoots(const std::string& path, const std::string& root, const ServedSettings& settings,
                           std::string& cachedRoot, int* openedFile) {
    const std::string& defaultDoc = settings.defaultDoc;
    std::string folderPart;
    if (EndsWithDoc(path, defaultDoc)) {
        folderPart = path.substr(0, path.size() - defaultDoc.size());
        if (!folderPart.empty() && IsSep(folderPart.back())) folderPart.pop_back();
    }
    if (HasParentSegment(path)) return std::string();

    auto accepted = [&](const std::string& r) {
        const std::string candidate = Join(r, path);
        // Opening answers what a look at the file would, when the caller needs it open. A
        // named pipe must not hold the thread until someone writes to it.
        const int fd = openedFile ? ::open(candidate.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK) : -1;
        if (fd >= 0) {
            struct stat st {};
            if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
                *openedFile = fd;
                return true;
            }
            ::close(fd);
        } else if (IsFile(candidate)) {
            return true;  // not to be opened, or there but not for us to read
        }
        return IsFolder(folderPart.empty() ? candidate : Join(r, folderPart));
    };
    if (accepted(root)) return Join(root, path);
    if (!cachedRoot.empty() && accepted(cachedRoot)) return Join(cachedRoot, path);
    cachedRoot.clear();
    for (const std::string& d : settings.offered) {
        if (!d.empty() && accepted(d)) {
            cachedRoot = d;
            return Join(d, path);
        }
    }
    return std::string();
}

}  // namespace

std::string MapToStoredFile(const std::string& original, const ServedSettings& settings, std::string& cachedRoot,
                            bool& notFound, int* openedFile) {
    notFound = false;
    if (openedFile) *openedFile = -1;
    std::string path = original;
    // The first segment names a Project tree folder by its caption.
    std::size_t sep = std::string::npos;
    for (std::size_t i = 0; i < path.size(); ++i)
        if (IsSep(path[i])) {
            sep = i;
            break;
        }
    std::string segment;
    if (sep != std::string::npos) segment = Lower(DecodePercent(path.substr(0, sep), 0));
    std::string root;
    bool found = false;
    if (sep != std::string::npos) {
        for (const auto& folder : settings.folders) {
            if (folder.lowerCaption == segment) {
                root = folder.dir;
                found = true;
                break;
            }
        }
    }
    if (found)
        path.erase(0, sep + 1);
    else
        root = settings.pathPrefix;
    if (path.empty()) return path;

    for (const std::string& name : StoredNameCandidates(path, settings)) {
        std::string stored = FindUnderRoots(name, root, settings, cachedRoot, openedFile);
        if (!stored.empty()) return stored;
    }
    notFound = true;
    return std::string();
}

ResolvedPath ResolveRequestPath(const std::string& requestPath, const ServedSettings& settings, std::string& cachedRoot,
                                int* openedFile) {
    if (openedFile) *openedFile = -1;
    ResolvedPath result;
    result.defaultDoc = settings.defaultDoc;
    std::string path = requestPath;
    const std::string& prefix = settings.urlPrefix;
    if (!prefix.empty() && Lower(path.substr(0, prefix.size())) == Lower(prefix))
        path.erase(0, prefix.size());
    else if (!path.empty())
        path.erase(0, 1);

    if (path.size() >= 3 && path[1] == '%' && path[2] == '/') {
        // The local drive form "c%/dir/file" names a file directly; here the drive letter
        // stands for the root of the file system. Only files inside a download folder are
        // served.
        std::string local = DecodePercent(path, 2).substr(2);
        if (HasParentSegment(local) || !InsideDownloadFolder(local, DownloadFolders(settings))) {
            result.refused = true;
            return result;
        }
        result.path = local;
        return result;
    }
    bool notFound = false;
    result.path = MapToStoredFile(path, settings, cachedRoot, notFound, openedFile);
    result.refused = notFound;
    return result;
}

}  // namespace qm::server
