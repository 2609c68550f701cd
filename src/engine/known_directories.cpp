// The run's memo of directories known to exist.
#include "engine/known_directories.h"

#include <mutex>
#include <unordered_set>

namespace qm::engine {

namespace {

// A run over a huge site is bounded: past this many folders the memo starts again.
constexpr std::size_t kMaxKnown = 4096;

std::mutex g_mutex;
std::unordered_set<std::string>& Known() {
    static auto* known = new std::unordered_set<std::string>();
    return *known;
}

// "a/b/" and "a/b" are one directory.
std::string_view Trimmed(const std::string& path) {
    std::string_view p(path);
    while (p.size() > 1 && (p.back() == '/' || p.back() == '\\')) p.remove_suffix(1);
    return p;
}

}  // namespace

bool KnownDirectory(const std::string& path) {
    if (path.empty()) return false;
    std::lock_guard<std::mutex> lock(g_mutex);
    return Known().count(std::string(Trimmed(path))) != 0;
}

void RememberDirectory(const std::string& path) {
    if (path.empty()) return;
    std::lock_guard<std::mutex> lock(g_mutex);
    auto& known = Known();
    if (known.size() >= kMaxKnown) known.clear();
    known.emplace(Trimmed(path));
}

bool ForgetDirectory(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return Known().erase(std::string(Trimmed(path))) != 0;
}

void ForgetKnownDirectories() {
    std::lock_guard<std::mutex> lock(g_mutex);
    Known().clear();
}

std::string DirectoryOf(const std::string& filePath) {
    const std::size_t cut = filePath.find_last_of("/\\");
    return cut == std::string::npos ? std::string() : filePath.substr(0, cut);
}

}  // namespace qm::engine
