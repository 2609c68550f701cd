#pragma once
// Why a Project would take an address or not, and where it would store it: the admission
// rules, the crawl-trap rules, and the manners towards the server (robots.txt, a page's
// "nofollow" robots tag, the pace). quillmoor-cli explain prints it; the window may show it.
#include <cstdint>
#include <string>

namespace qm::store {
class Project;
}  // namespace qm::store
namespace qm::app {

struct ExplainQuestion {
    std::string url;
    bool embedded = false;  // a file a page shows (image, style sheet...), not a hyperlink
    int beyond = -1;        // steps beyond the last level of the page holding the link
    int queries = 0;        // query strings already taken under the address's path
    std::string fromPage;   // the page holding the link ("": not asked)
};

struct Explanation {
    bool admitted = false;
    std::string reason;  // why not
    std::string url, category, file;
    int depth = 0;
    // The wait between two requests to the address's server (0: none), and the robots.txt
    // Crawl-delay behind it (0: the Project's own pace).
    std::int64_t paceMs = 0;
    double crawlDelaySeconds = 0;
};

// Asks the servers what it needs (robots.txt, the page holding the link), each at most
// timeoutMs; main thread, with the event loop and the network layer started.
Explanation ExplainAddress(store::Project& project, const ExplainQuestion& question, int timeoutMs);

// The reason text for a link refused by the robots tag of the page holding it.
std::string NoFollowReason(const std::string& page);

// Whether the page at url holds a robots tag saying "nofollow" (or "none"), fetched now.
bool PageSaysNoFollowNow(const std::string& url, int timeoutMs);

}  // namespace qm::app
