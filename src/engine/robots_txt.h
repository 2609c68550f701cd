#pragma once
// robots.txt as RFC 9309 reads it: the group of our user agent (else the "*" group), Allow and
// Disallow rules with "*" and "$", the longest match deciding (Allow on a tie); also the
// Crawl-delay of that group and the file's Sitemap lines.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qm::engine {

class RobotsRules {
public:
    // The most of a file read (the RFC asks for at least 500 kibibytes), and the most rules
    // and sitemaps kept.
    static constexpr std::size_t kMaxBytes = 512 * 1024;
    static constexpr std::size_t kMaxRules = 10000;
    static constexpr std::size_t kMaxSitemaps = 100;

    // Rules that allow everything (no robots.txt, or one that could not be had: 4xx).
    RobotsRules() = default;
    // Rules that refuse everything (the server failed to answer: 5xx).
    static RobotsRules DisallowAll();
    // Reads a robots.txt text for the user agent's product token ("Quillmoor/1.0 (X11)" is
    // "quillmoor").
    static RobotsRules Parse(std::string_view text, const std::string& userAgent);

    // Whether a path (with its query) may be fetched; "/robots.txt" always may.
    bool Allows(const std::string& pathAndQuery) const;
    // The rule that refuses it, as written ("Disallow: /private"), for messages.
    std::string RefusingRule(const std::string& pathAndQuery) const;
    double CrawlDelaySeconds() const { return crawlDelay_; }
    const std::vector<std::string>& Sitemaps() const { return sitemaps_; }

private:
    struct Rule {
        bool allow = false;
        std::string pattern;
    };
    const Rule* Deciding(const std::string& path) const;
    std::vector<Rule> rules_;
    std::vector<std::string> sitemaps_;
    double crawlDelay_ = 0;
    bool disallowAll_ = false;
};

// Whether pattern (with "*" for any run of bytes and a final "$" for the end) matches the
// start of path.
bool RobotsPatternMatches(std::string_view pattern, std::string_view path);
// Our user agent's product token in lower case: its first word up to "/".
std::string ProductToken(const std::string& userAgent);

}  // namespace qm::engine
