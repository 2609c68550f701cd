#pragma once
// The Project's admission filter: which addresses a Project takes.
#include <string>
#include <utility>
#include <vector>

namespace qm::store {
class Project;
}  // namespace qm::store
namespace qm::engine {

class DownloadRecord;
struct SettingsSnapshot;

// Why an address was admitted or refused, for quillmoor-cli explain.
struct AdmissionResult {
    bool admitted = false;
    std::string reason;  // the rule that refused, e.g. "scheme", "starting server", "server keywords"

    // Records a refusal by that rule; returns false for the caller to pass on.
    bool Refuse(std::string rule) {
        admitted = false;
        reason = std::move(rule);
        return false;
    }
};

// Runs the filter on the record (sets its Category); false refuses the address. Without
// rules given, the record's Project and the options are read as they are now (main thread).
bool Admit(DownloadRecord& record);
bool Admit(DownloadRecord& record, AdmissionResult& why);
// With the rules of a snapshot taken for the record's Project (any thread).
bool Admit(DownloadRecord& record, const SettingsSnapshot& rules, AdmissionResult& why);

// The words of log-out addresses, never followed while a Project logs in with a form, and
// the reason given for them.
extern const char* const kLogOutWords[4];
extern const char* const kReasonLogOut;
// Whether a lower-case path (with its file name and query) holds one of those words.
bool IsLogOutAddress(const std::string& lowerPath);

// The server of an address as the starting-server rule compares it (lower case, with a port
// other than the scheme's own).
std::string ServerOf(const std::string& url);

// Servers the start address was redirected to: for the rest of the run they count as the
// Project's starting server. Any thread may ask; the main thread adds and forgets.
// JoinStartingServer is false when the server was the starting one or had joined already.
bool JoinStartingServer(const store::Project& project, const std::string& server);
void ForgetJoinedServers(const store::Project& project);
// The servers joined so far (main thread or any other: the list is locked).
std::vector<std::string> JoinedServers(const store::Project& project);

}  // namespace qm::engine
