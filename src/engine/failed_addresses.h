#pragma once
// Addresses a Project gave up on, with the answer that ended them, kept in "<IID>.failed"
// beside its site map: a later look at the stored site can then say why a link has no file.
#include <string>
#include <unordered_map>

namespace qm::store {
class Project;
}  // namespace qm::store
namespace qm::engine {

// The file grows to this size at the most; later failures go unrecorded.
constexpr long kMaxFailedFileBytes = 8L * 1024 * 1024;

std::string FailedAddressesFile(const store::Project& project);
// Appends "status<TAB>url" (status 0: no complete answer). Failures to write are ignored.
void NoteFailedAddress(const store::Project& project, const std::string& url, int status);
// Every recorded address with its last status; reads at most kMaxFailedFileBytes.
std::unordered_map<std::string, int> ReadFailedAddresses(const store::Project& project);

}  // namespace qm::engine
