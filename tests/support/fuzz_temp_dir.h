#pragma once
// A folder of a fuzz target's own under the system temporary folder, made on first use and
// removed with everything in it when the process exits. One per process: the first call's tag
// names it.
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace qm::test {

inline const std::string& FuzzTempDir(const std::string& tag) {
    struct Folder {
        std::string path;
        ~Folder() {
            std::error_code ec;
            if (!path.empty()) std::filesystem::remove_all(path, ec);
        }
    };
    static const Folder folder = [&tag] {
        std::error_code ec;
        std::string pattern = (std::filesystem::temp_directory_path(ec) / ("qm-fuzz-" + tag + "-XXXXXX")).string();
        if (ec) pattern = "/tmp/qm-fuzz-" + tag + "-XXXXXX";
        const char* made = ::mkdtemp(pattern.data());
        return Folder{made ? std::string(made) : std::string()};
    }();
    return folder.path;
}

}  // namespace qm::test
