// The crawl-trap rules and the limits that end chains of redirects and frames.
#include "engine/crawl_limits.h"

#include "addresses/address_rules.h"
#include "store/project.h"

namespace qm::engine {

const char* const kReasonBeyondLevel = "steps beyond the last level";
const char* const kReasonRepeatingPath = "repeating path segments";
const char* const kReasonTooManyQueries = "too many query strings";

namespace {

// Longer paths are judged by their first segments only.
constexpr std::size_t kMaxSegmentsExamined = 256;

std::uint64_t HashBytes(std::uint64_t h, std::string_view text) {
    for (unsigned char c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + 32);
        h = (h ^ c) * 1099511628211ull;
    }
    return h;
}

}  // namespace

bool FollowsBeyondLevel(int pageSteps, bool frame) {
    return pageSteps + 1 <= (frame ? kMaxStepsBeyondLevel : kMaxShownStepsBeyondLevel);
}

std::string_view PathBeforeQuery(std::string_view url) {
    const std::size_t q = url.find('?');
    if (q == std::string_view::npos) return {};
    return url.substr(0, q);
}

bool RepeatsPathSegments(std::string_view url) {
    const std::size_t start = addresses::SchemeLength(url);
    if (start >= url.size()) return false;
    const std::size_t hostEnd = url.find_first_of("/\\", start);
    if (hostEnd == std::string_view::npos) return false;
    std::string_view path = url.substr(hostEnd);
    path = path.substr(0, path.find_first_of("?#"));

    // Segments as hashes; empty ones ("//") are passed over.
    std::vector<std::uint64_t> segs;
    std::size_t i = 0;
    while (i < path.size() && segs.size() < kMaxSegmentsExamined) {
        while (i < path.size() && (path[i] == '/' || path[i] == '\\')) ++i;
        std::size_t s = i;
        while (i < path.size() && path[i] != '/' && path[i] != '\\') ++i;
        if (i > s) segs.push_back(HashBytes(14695981039346656037ull, path.substr(s, i - s)));
    }
    // For every group length k: a run of segments equal to the one k before them, k times
    // kMaxSegmentRepeats long, is a group followed by that many copies of itself.
    const std::size_t n = segs.size();
    const std::size_t needed = static_cast<std::size_t>(kMaxSegmentRepeats);
    for (std::size_t k = 1; k * (needed + 1) <= n; ++k) {
        std::size_t run = 0;
        for (std::size_t j = k; j < n; ++j) {
            run = segs[j] == segs[j - k] ? run + 1 : 0;
            if (run >= k * needed) return true;
        }
    }
    return false;
}

CrawlTraps::Verdict CrawlTraps::Check(const store::Project& project, std::string_view url) {
    if (RepeatsPathSegments(url)) return Verdict::RepeatingPath;
    const std::string_view path = PathBeforeQuery(url);
    if (path.empty()) return Verdict::Take;
    std::uint64_t key = HashBytes(14695981039346656037ull, path);
    key ^= static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&project)) * 0x9e3779b97f4a7c15ull;
    auto it = queries_.find(key);
    if (it == queries_.end()) {
        if (queries_.size() < kMaxCountedPaths) queries_.emplace(key, 1);
        return Verdict::Take;
    }
    if (it->second >= kMaxQueriesPerPath) return Verdict::TooManyQueries;
    ++it->second;
    return Verdict::Take;
}

bool CrawlTraps::FirstHit(const store::Project& project, Verdict verdict) {
    for (const auto& r : reported_)
        if (r.first == &project && r.second == verdict) return false;
    reported_.emplace_back(&project, verdict);
    return true;
}

void CrawlTraps::Clear() {
    queries_.clear();
    reported_.clear();
}

std::string CrawlTrapMessage(CrawlTraps::Verdict verdict, std::string_view url) {
    if (verdict == CrawlTraps::Verdict::RepeatingPath)
        return "Crawl trap: a path that repeats itself is not followed: " + std::string(url);
    return "Crawl trap: more than " + std::to_string(kMaxQueriesPerPath) + " query strings under " +
           std::string(PathBeforeQuery(url)) + ", no more of them are followed";
}

}  // namespace qm::engine
