// Reading robots.txt and matching paths against its rules.
#include "engine/robots_txt.h"

#include <algorithm>
#include <cstdlib>

namespace qm::engine {

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

}  // namespace

std::string ProductToken(const std::string& userAgent) {
    std::string token = Lower(Trim(userAgent));
    const std::size_t end = token.find_first_of("/ \t");
    if (end != std::string::npos) token.erase(end);
    return token;
}

bool RobotsPatternMatches(std::string_view pattern, std::string_view path) {
    bool anchored = !pattern.empty() && pattern.back() == '$';
    if (anchored) pattern.remove_suffix(1);
    // Matching with one remembered "*" at a time: each star takes as few bytes as it can,
    // and only the last star is ever widened, so the work stays within pattern x path.
    std::size_t p = 0, s = 0;
    std::size_t starP = std::string_view::npos, starS = 0;
    while (true) {
        if (p == pattern.size()) {
            if (!anchored || s == path.size()) return true;
        } else if (pattern[p] == '*') {
            starP = p++;
            starS = s;
            continue;
        } else if (s < path.size() && pattern[p] == path[s]) {
            ++p;
            ++s;
            continue;
        }
        if (starP == std::string_view::npos || starS >= path.size()) return false;
        p = starP + 1;
        s = ++starS;
    }
}

RobotsRules RobotsRules::DisallowAll() {
    RobotsRules r;
    r.disallowAll_ = true;
    return r;
}

RobotsRules RobotsRules::Parse(std::string_view text, const std::string& userAgent) {
    if (text.size() > kMaxBytes) text = text.substr(0, kMaxBytes);
    // A UTF-8 byte order mark is not part of the first line.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    const std::string ours = ProductToken(userAgent);
    RobotsRules mine, star;
    bool mineFound = false, starFound = false;
    // The groups the lines now read belong to: a run of user-agent lines opens a group.
    bool inMine = false, inStar = false, lastWasAgent = false;
    std::vector<std::string> sitemaps;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t hash = line.find('#');
        if (hash != std::string_view::npos) line = line.substr(0, hash);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string key = Lower(Trim(line.substr(0, colon)));
        const std::string_view value = Trim(line.substr(colon + 1));
        if (key == "user-agent") {
            if (!lastWasAgent) inMine = inStar = false;
            lastWasAgent = true;
            const std::string agent = ProductToken(std::string(value));
            if (agent == "*") {
                inStar = starFound = true;
            } else if (!ours.empty() && agent == ours) {
                inMine = mineFound = true;
            }
            continue;
        }
        if (key == "sitemap") {
            if (sitemaps.size() < kMaxSitemaps && !value.empty()) sitemaps.emplace_back(value);
            continue;  // not part of any group
        }
        lastWasAgent = false;
        if (key == "allow" || key == "disallow") {
            if (value.empty() || value.size() > 4096) continue;  // "Disallow:" alone refuses nothing
            const Rule rule{key == "allow", std::string(value)};
            if (inMine && mine.rules_.size() < kMaxRules) mine.rules_.push_back(rule);
            if (inStar && star.rules_.size() < kMaxRules) star.rules_.push_back(rule);
        } else if (key == "crawl-delay") {
            char* stop = nullptr;
            const std::string number(value.substr(0, 32));
            double seconds = std::strtod(number.c_str(), &stop);
            if (stop == number.c_str() || !(seconds >= 0)) continue;
            seconds = std::min(seconds, 3600.0);
            if (inMine) mine.crawlDelay_ = seconds;
            if (inStar) star.crawlDelay_ = seconds;
        }
    }
    RobotsRules result = mineFound ? std::move(mine) : starFound ? std::move(star) : RobotsRules();
    result.sitemaps_ = std::move(sitemaps);
    return result;
}

const RobotsRules::Rule* RobotsRules::Deciding(const std::string& path) const {
    const Rule* best = nullptr;
    for (const Rule& r : rules_) {
        if (!RobotsPatternMatches(r.pattern, path)) continue;
        if (!best || r.pattern.size() > best->pattern.size() ||
            (r.pattern.size() == best->pattern.size() && r.allow && !best->allow))
            best = &r;
    }
    return best;
}

bool RobotsRules::Allows(const std::string& pathAndQuery) const {
    if (pathAndQuery == "/robots.txt") return true;
    if (disallowAll_) return false;
    const Rule* r = Deciding(pathAndQuery);
    return !r || r->allow;
}

std::string RobotsRules::RefusingRule(const std::string& pathAndQuery) const {
    if (Allows(pathAndQuery)) return {};
    if (disallowAll_) return "no answer from the server";
    return "Disallow: " + Deciding(pathAndQuery)->pattern;
}

}  // namespace qm::engine
