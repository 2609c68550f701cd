#pragma once
// Where a Project's web archive lives, and what a run records in it.
#include <cstdint>
#include <ctime>
#include <string>

#include "archive/captured_bytes.h"

namespace qm::store {
class Project;
}  // namespace qm::store
namespace qm::engine {

// The Project's archive folder, beside its stored sites: root folder + "Web archives/" + IID.
std::string ArchiveFolder(const store::Project& project);

// What one transfer of a recording Project collected on the way.
struct ArchiveCapture {
    const store::Project* project = nullptr;
    std::string url;
    std::time_t date = 0;
    bool resource = false;  // ftp:// and file://: the body alone
    // http: the answer as received; otherwise the body. Megabytes past the first few wait in
    // a file in the archive folder; past CapturedBytes::kMaxBytes it is recorded as cut off.
    archive::CapturedBytes bytes;
    std::string ipAddress;
    bool sized = false;  // the memory for the announced length is taken
    void Append(const char* data, std::size_t count) { bytes.Append(std::string_view(data, count)); }
};

}  // namespace qm::engine
