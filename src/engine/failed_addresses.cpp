// The record of addresses given up on, one line each, appended as failures happen.
#include "engine/failed_addresses.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "store/project.h"

namespace qm::engine {

std::string FailedAddressesFile(const store::Project& project) {
    std::string name = project.SiteMapFileName();
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && name.find('/', dot) == std::string::npos) name.erase(dot);
    return name + ".failed";
}

void NoteFailedAddress(const store::Project& project, const std::string& url, int status) {
    if (url.empty() || url.find_first_of("\r\n") != std::string::npos) return;
    const std::string path = FailedAddressesFile(project);
    // Owner only, like the site map: addresses may carry names the user typed.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < kMaxFailedFileBytes) {
        const std::string line = std::to_string(status) + '\t' + url + '\n';
        // One write: appended lines of two programs never interleave.
        const ssize_t written = ::write(fd, line.data(), line.size());
        (void)written;
    }
    ::close(fd);
}

std::unordered_map<std::string, int> ReadFailedAddresses(const store::Project& project) {
    std::unordered_map<std::string, int> failed;
    std::FILE* f = std::fopen(FailedAddressesFile(project).c_str(), "rb");
    if (!f) return failed;
    std::string line;
    bool overlong = false;
    long total = 0;
    auto take = [&] {
        if (overlong) return;
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos || tab == 0 || tab > 4 || tab + 1 >= line.size()) return;
        int status = 0;
        for (std::size_t i = 0; i < tab; ++i) {
            if (line[i] < '0' || line[i] > '9') return;
            status = status * 10 + (line[i] - '0');
        }
        failed[line.substr(tab + 1)] = status;
    };
    for (int c; total < kMaxFailedFileBytes && (c = std::fgetc(f)) != EOF; ++total) {
        if (c == '\n') {
            take();
            line.clear();
            overlong = false;
        } else if (line.size() < 8192) {
            line += static_cast<char>(c);
        } else {
            overlong = true;
        }
    }
    std::fclose(f);
    return failed;
}

}  // namespace qm::engine
