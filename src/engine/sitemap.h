#pragma once
// Sitemaps (sitemaps.org): a <urlset> of page addresses or a <sitemapindex> of more sitemaps,
// plain or gzip-compressed. Read as link sources with every size bounded.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qm::engine {

struct Sitemap {
    bool index = false;             // the addresses are sitemaps themselves
    std::vector<std::string> locs;  // the <loc> addresses, entities decoded
};

// The most of a sitemap read once uncompressed (the format's own limit), the most
// addresses taken from one, and the most sitemaps one run reads.
inline constexpr std::size_t kMaxSitemapBytes = 50 * 1024 * 1024;
inline constexpr std::size_t kMaxSitemapLocs = 50000;
inline constexpr std::size_t kMaxSitemapsPerRun = 50;

// Reads a sitemap as it came from the server (gzip is recognised by its first bytes).
Sitemap ParseSitemap(std::string_view body);

}  // namespace qm::engine
