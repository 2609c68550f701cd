#include "platform/private_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

namespace qm::platform {

namespace {

std::mutex g_mutex;
std::string g_chosenFor;  // the usual path and $XDG_RUNTIME_DIR the choice was made for
std::string g_chosen;     // under g_mutex

std::string RuntimeFolder() {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    if (!dir || dir[0] != '/') return {};
    return IsOwnPrivateFolder(dir) ? std::string(dir) : std::string();
}

// Makes path as a private folder unless it exists; true when it is one now.
bool MakeOwn(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return IsOwnPrivateFolder(path);
}

std::string ChoiceKey() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return UsualPrivateFolder() + '\n' + (runtime ? runtime : "");
}

}  // namespace

bool IsOwnPrivateFolder(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

std::string UsualPrivateFolder() {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec || base.empty()) base = "/tmp";
    return (base / ("quillmoor-" + std::to_string(::getuid()))).string();
}

std::string PrivateFolder() {
    const std::string key = ChoiceKey();
    std::lock_guard<std::mutex> lock(g_mutex);
    if (key == g_chosenFor && IsOwnPrivateFolder(g_chosen)) return g_chosen;
    g_chosenFor = key;
    g_chosen.clear();
    const std::string usual = UsualPrivateFolder();
    if (MakeOwn(usual)) return g_chosen = usual;
    // The usual name is taken by something that is not ours alone: never use it.
    if (const std::string runtime = RuntimeFolder(); !runtime.empty() && MakeOwn(runtime + "/quillmoor"))
        return g_chosen = runtime + "/quillmoor";
    std::string pattern = usual + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) && IsOwnPrivateFolder(name.data())) g_chosen = name.data();
    return g_chosen;
}

std::string ExistingPrivateFolder() {
    const std::string key = ChoiceKey();
    std::lock_guard<std::mutex> lock(g_mutex);
    if (key == g_chosenFor && IsOwnPrivateFolder(g_chosen)) return g_chosen;
    const std::string usual = UsualPrivateFolder();
    if (IsOwnPrivateFolder(usual)) return usual;
    const std::string runtime = RuntimeFolder();
    if (!runtime.empty() && IsOwnPrivateFolder(runtime + "/quillmoor")) return runtime + "/quillmoor";
    return {};
}

}  // namespace qm::platform
