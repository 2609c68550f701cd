#pragma once
// Where a Project's web archive lives, and what a run records in it.
#include <cstdint>
#include <ctime>
#include <string>

namespace qm::store {
class Project;
}  // namespace qm::store
namespace qm::engine {

// The Project's archive folder, beside its stored sites: root folder + "Web archives/" + IID.
std::string ArchiveFolder(const store::Project& project);

// What one transfer of a recording Project collected on the way.
struct ArchiveCapture {
    static constexpr std::size_t kMaxBytes = std::size_t{256} << 20;  // more is recorded as cut off
    const store::Project* project = nullptr;
    std::string url;
    std::time_t date = 0;
    bool resource = false;  // ftp:// and file://: the body alone
    bool truncated = false;
    std::string bytes;  // http: the answer as received; otherwise the body
    std::string ipAddress;
    void Append(const char* data, std::size_t count) {
        if (truncated || bytes.size() + count > kMaxBytes) {
            truncated = true;
            return;
        }
        bytes.append(data, count);
    }
};

}  // namespace qm::engine
