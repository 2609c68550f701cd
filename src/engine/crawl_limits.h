#pragma once
// What keeps every run finite whatever a site does: the redirect limit, the steps a chain of
// frames may take beyond the last level, and the crawl-trap rules (paths that repeat
// themselves, endless query strings under one path).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace qm::store {
class Project;
}  // namespace qm::store
namespace qm::engine {

// Redirects one record follows at the most (as browsers and wget do).
constexpr int kMaxRedirects = 20;
// Links that take no level step (frames, style sheets, embedded files) may go only so many
// steps beyond the page that reached the last level, or beyond the last link that took a
// step: a chain of frames this many,
constexpr int kMaxStepsBeyondLevel = 3;
// and a chain of files a page shows more, since style sheets import sheets that import sheets
// (themes built on themes) before one names its pictures and fonts.
constexpr int kMaxShownStepsBeyondLevel = 8;
// A segment, or a group of segments, may follow itself this many times in one path.
constexpr int kMaxSegmentRepeats = 3;
// Distinct query strings taken under one path in one run.
constexpr std::uint32_t kMaxQueriesPerPath = 1000;

// Whether a link that takes no level step is followed from a page (or style sheet) that is
// pageSteps such steps on. A file shown (anything but a frame) may go further, so that the
// deepest frame taken is shown whole, with its sheets' own imports and pictures.
bool FollowsBeyondLevel(int pageSteps, bool frame);

// Reasons shown by quillmoor-cli explain.
extern const char* const kReasonBeyondLevel;
extern const char* const kReasonRepeatingPath;
extern const char* const kReasonTooManyQueries;

// Whether the path of url (up to its query) has a segment or a group of segments that
// follows itself more than kMaxSegmentRepeats times: /a/a/a/a/ or /a/b/a/b/a/b/a/b/.
bool RepeatsPathSegments(std::string_view url);

// The address up to its query, or empty when it has none.
std::string_view PathBeforeQuery(std::string_view url);

// The crawl-trap rules of the running Projects, kept from one emptying of the seen-address
// list to the next. Main thread only.
class CrawlTraps {
public:
    enum class Verdict { Take, RepeatingPath, TooManyQueries };

    // For an address new to the queue: whether the project takes it, counting its query
    // string when it has one and is taken.
    Verdict Check(const store::Project& project, std::string_view url);
    // True the first time the verdict is met for the project since Clear.
    bool FirstHit(const store::Project& project, Verdict verdict);
    void Clear();

    // Paths whose query strings are counted at the most; further paths go uncounted, so a
    // site of endless paths cannot make the counts grow without bound.
    static constexpr std::size_t kMaxCountedPaths = 200000;
    std::size_t CountedPaths() const { return queries_.size(); }

private:
    std::unordered_map<std::uint64_t, std::uint32_t> queries_;  // hash of Project and path
    std::vector<std::pair<const store::Project*, Verdict>> reported_;
};

// The log line for a refusal met for the first time.
std::string CrawlTrapMessage(CrawlTraps::Verdict verdict, std::string_view url);

}  // namespace qm::engine
