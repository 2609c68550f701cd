#pragma once
// A plain reference for address cleaning: each rule written as "while it occurs, change its
// first occurrence", quadratic but obviously right. Tests compare the real routine with it.
#include <string>

#include "addresses/address_rules.h"

namespace qm::test {

inline std::string SlowClean(std::string url) {
    const bool isFile = addresses::StartsWithNoCase(url, "file://");
    std::string t;
    bool q = false;
    for (char c : url) {
        if (c == '\r' || c == '\n') continue;
        if (c == '#' || c == '?') q = true;
        t.push_back(c == '\\' && !q ? '/' : c);
    }
    url = t;
    for (std::size_t p; (p = addresses::AsciiLowerCopy(url).find("&amp;")) != std::string::npos;) url.erase(p + 1, 4);
    std::size_t hostEnd = 0;
    if (!isFile) {
        if (url.find('/', 7) == std::string::npos) url += "/";
        hostEnd = url.find('/', 7);
        std::size_t p = url.find(":80/");
        if (p != std::string::npos && p < hostEnd) url.erase(p, 3), hostEnd -= 3;
        std::size_t at = url.find('@');
        if (at != std::string::npos && at < hostEnd) url.erase(7, at - 6), hostEnd -= at - 6;
    }
    for (std::size_t p; (p = url.find("/../", isFile ? 0 : hostEnd)) != std::string::npos;) {
        if (!isFile && p == hostEnd) {
            url.erase(p + 1, 3);
            continue;
        }
        url.erase(p, 4);
        std::size_t b = url.rfind('/', p - 1);
        if (b != std::string::npos) url.erase(b + 1, p - b - 1);
    }
    for (std::size_t p; (p = url.find("/./", 7)) != std::string::npos;) url.erase(p, 2);
    for (std::size_t p; (p = url.find("//", 6)) != std::string::npos;) url.erase(p, 1);
    return url;
}

}  // namespace qm::test
