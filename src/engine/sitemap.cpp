// Reading sitemaps and sitemap indexes.
#include "engine/sitemap.h"

#include <algorithm>

#include "codings/content_decoding.h"

namespace qm::engine {

namespace {

// The gzip member's content, cut at kMaxSitemapBytes; what decodes before damage is kept.
std::string Gunzip(std::string_view data) {
    std::string out;
    auto gzip = codings::MakeContentDecoder("gzip");
    gzip->Feed(data.data(), data.size(), [&out](const char* piece, std::size_t count) {
        out.append(piece, std::min(count, kMaxSitemapBytes - out.size()));
        return out.size() < kMaxSitemapBytes;
    });
    return out;
}

std::string DecodeEntities(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        static const struct {
            const char* name;
            char c;
        } kEntities[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
        bool done = false;
        for (const auto& e : kEntities) {
            const std::string_view name(e.name);
            if (text.substr(i, name.size()) == name) {
                out += e.c;
                i += name.size() - 1;
                done = true;
                break;
            }
        }
        if (!done) out += '&';
    }
    return out;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

}  // namespace

Sitemap ParseSitemap(std::string_view body) {
    std::string unpacked;
    if (body.size() >= 2 && static_cast<unsigned char>(body[0]) == 0x1f &&
        static_cast<unsigned char>(body[1]) == 0x8b) {
        unpacked = Gunzip(body);
        body = unpacked;
    }
    if (body.size() > kMaxSitemapBytes) body = body.substr(0, kMaxSitemapBytes);
    Sitemap map;
    map.index = body.find("<sitemapindex") != std::string_view::npos;
    std::size_t at = 0;
    while (map.locs.size() < kMaxSitemapLocs) {
        const std::size_t open = body.find("<loc>", at);
        if (open == std::string_view::npos) break;
        const std::size_t start = open + 5;
        const std::size_t close = body.find("</loc>", start);
        if (close == std::string_view::npos) break;
        std::string_view loc = Trim(body.substr(start, close - start));
        // CDATA sections hold the address as it stands.
        if (loc.substr(0, 9) == "<![CDATA[" && loc.size() >= 12 && loc.substr(loc.size() - 3) == "]]>")
            map.locs.emplace_back(Trim(loc.substr(9, loc.size() - 12)));
        else if (!loc.empty() && loc.size() <= 4096)
            map.locs.push_back(DecodeEntities(loc));
        at = close + 6;
    }
    return map;
}

}  // namespace qm::engine
