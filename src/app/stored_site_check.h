#pragma once
// Walks a Project's stored pages and style sheets the way a download run reached them and
// lists every link that has no stored file, with the reason it has none.
#include <cstddef>
#include <string>
#include <vector>

namespace qm::store {
class Project;
}  // namespace qm::store

namespace qm::app {

enum class BrokenReason {
    Refused,      // a rule of the Project refused the address (detail: the rule, as explain says it)
    Failed,       // the server's answer ended it (detail: the status; "0" for no complete answer)
    BeyondLevel,  // past the Project's levels, or too many steps beyond the last one
    NotReached,   // taken, yet never fetched: the run was stopped or reached a limit
    ScriptName,   // a name read from script text: the script builds the real one at run time
};

struct BrokenLink {
    BrokenReason reason = BrokenReason::NotReached;
    std::string detail;
    std::string url;   // the link as an address
    std::string page;  // the first stored page that has it
    int times = 0;     // how often the stored pages link to it
};

struct SiteCheck {
    std::vector<BrokenLink> broken;  // grouped by reason and detail, then in the order found
    std::size_t pagesRead = 0;       // stored pages and style sheets read
    std::size_t linksSeen = 0;       // distinct addresses met
    bool truncated = false;          // the walk stopped at its limit of addresses
};

// Distinct addresses one walk keeps at the most.
constexpr std::size_t kMaxCheckedAddresses = 2000000;

// Main thread: reads the Project, its folder and the options as they are now. Reads stored
// files only (nothing is fetched or written).
SiteCheck CheckStoredSite(store::Project& project);

// "refused by the rule 'starting server'", "failed with status 404", ...
std::string ReasonText(BrokenReason reason, const std::string& detail);
// The short word of a reason for totals: "refused", "failed", "beyond-level", ...
const char* ReasonWord(BrokenReason reason);

}  // namespace qm::app
