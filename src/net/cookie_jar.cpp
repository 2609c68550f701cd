// The cookie rules of RFC 6265: storage model, domain and path matching, the Cookie header.
#include "net/cookie_jar.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "net/public_suffix.h"

namespace qm::net {

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool IsNumericHost(const std::string& host) {
    if (host.find(':') != std::string::npos) return true;  // IPv6
    return !host.empty() && host.find_first_not_of("0123456789.") == std::string::npos;
}

// The parts of an address a cookie cares about.
struct Target {
    bool secure = false;
    std::string host;  // lower case, without port or brackets
    std::string path;  // from the first "/" up to "?" or "#"; "/" when none
};

bool SplitTarget(const std::string& url, Target& t) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos) return false;
    const std::string name = Lower(url.substr(0, scheme));
    if (name != "http" && name != "https") return false;
    t.secure = name == "https";
    const std::size_t start = scheme + 3;
    std::size_t end = url.find_first_of("/?#", start);
    if (end == std::string::npos) end = url.size();
    std::string authority = url.substr(start, end - start);
    const std::size_t at = authority.rfind('@');
    if (at != std::string::npos) authority.erase(0, at + 1);
    if (!authority.empty() && authority[0] == '[') {
        const std::size_t close = authority.find(']');
        t.host = authority.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    } else {
        t.host = authority.substr(0, authority.find(':'));
    }
    t.host = Lower(t.host);
    if (!t.host.empty() && t.host.back() == '.') t.host.pop_back();
    if (t.host.empty()) return false;
    t.path = "/";
    if (end < url.size() && url[end] == '/') {
        const std::size_t stop = url.find_first_of("?#", end);
        t.path = url.substr(end, stop == std::string::npos ? std::string::npos : stop - end);
    }
    return true;
}

// The directory of a request path, the path of a cookie that names none.
std::string DefaultPath(const std::string& requestPath) {
    if (requestPath.empty() || requestPath[0] != '/') return "/";
    const std::size_t slash = requestPath.rfind('/');
    return slash == 0 ? "/" : requestPath.substr(0, slash);
}

int MonthOf(const std::string& token) {
    static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
    const std::string t = Lower(token.substr(0, 3));
    for (int i = 0; i < 12; ++i)
        if (t == kMonths[i]) return i + 1;
    return 0;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian calendar).
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

bool AllDigits(const std::string& s, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    return from < to;
}

}  // namespace

bool DomainMatches(const std::string& host, const std::string& domain) {
    if (host == domain) return true;
    if (IsNumericHost(host) || domain.empty() || host.size() <= domain.size()) return false;
    return host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
           host[host.size() - domain.size() - 1] == '.';
}

bool PathMatches(const std::string& requestPath, const std::string& cookiePath) {
    if (requestPath == cookiePath) return true;
    if (requestPath.compare(0, cookiePath.size(), cookiePath) != 0) return false;
    return (!cookiePath.empty() && cookiePath.back() == '/') ||
           (requestPath.size() > cookiePath.size() && requestPath[cookiePath.size()] == '/');
}

std::int64_t ParseCookieDate(const std::string& text) {
    // The tokens between delimiters, each tried as a time, a day, a month and a year.
    int hour = -1, minute = 0, second = 0, day = -1, month = 0;
    std::int64_t year = -1;
    std::size_t i = 0;
    const std::size_t n = std::min<std::size_t>(text.size(), 256);
    auto delimiter = [](unsigned char c) {
        return c == 0x09 || (c >= 0x20 && c <= 0x2F) || (c >= 0x3B && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
               (c >= 0x7B && c <= 0x7E);
    };
    while (i < n) {
        while (i < n && delimiter(static_cast<unsigned char>(text[i]))) ++i;
        const std::size_t start = i;
        while (i < n && !delimiter(static_cast<unsigned char>(text[i]))) ++i;
        if (start == i) continue;
        const std::string token = text.substr(start, i - start);
        std::size_t digits = 0;
        while (digits < token.size() && std::isdigit(static_cast<unsigned char>(token[digits]))) ++digits;
        if (hour < 0 && token.find(':') != std::string::npos) {
            int h = -1, m = -1, s = -1;
            if (std::sscanf(token.c_str(), "%2d:%2d:%2d", &h, &m, &s) == 3) {
                hour = h;
                minute = m;
                second = s;
                continue;
            }
        }
        if (day < 0 && digits >= 1 && digits <= 2) {
            day = std::stoi(token.substr(0, digits));
            continue;
        }
        if (month == 0 && MonthOf(token) != 0) {
            month = MonthOf(token);
            continue;
        }
        if (year < 0 && digits >= 2 && digits <= 4 && AllDigits(token, 0, digits)) {
            year = std::stoll(token.substr(0, digits));
            continue;
        }
    }
    if (year >= 70 && year <= 99) year += 1900;
    if (year >= 0 && year <= 69) year += 2000;
    if (hour < 0 || day < 1 || day > 31 || month == 0 || year < 1601 || hour > 23 || minute > 59 || second > 59)
        return -1;
    return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

bool CookieJar::SetFromHeader(const std::string& url, const std::string& setCookie, std::int64_t now) {
    if (setCookie.size() > kMaxLineBytes) return false;
    Target t;
    if (!SplitTarget(url, t)) return false;
    const std::size_t semi = setCookie.find(';');
    const std::string pair = setCookie.substr(0, semi);
    const std::size_t eq = pair.find('=');
    if (eq == std::string::npos) return false;
    Cookie c;
    c.name = Trim(pair.substr(0, eq));
    c.value = Trim(pair.substr(eq + 1));
    if (c.name.empty() || c.name.size() + c.value.size() > kMaxCookieBytes) return false;
    if (c.name.find_first_of("\r\n\t") != std::string::npos || c.value.find_first_of("\r\n") != std::string::npos)
        return false;

    std::string domain;
    bool hasMaxAge = false;
    std::int64_t expires = 0;
    std::string path;
    std::size_t at = semi;
    while (at != std::string::npos) {
        const std::size_t next = setCookie.find(';', at + 1);
        const std::string av = setCookie.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
        at = next;
        const std::size_t aeq = av.find('=');
        const std::string key = Lower(Trim(av.substr(0, aeq)));
        const std::string val = aeq == std::string::npos ? std::string() : Trim(av.substr(aeq + 1));
        if (key == "expires" && !hasMaxAge) {
            const std::int64_t when = ParseCookieDate(val);
            if (when >= 0) expires = when <= 0 ? 1 : when;
        } else if (key == "max-age") {
            const bool negative = !val.empty() && val[0] == '-';
            if (!AllDigits(val, negative ? 1 : 0, val.size())) continue;
            hasMaxAge = true;
            const std::string digits = val.substr(negative ? 1 : 0, 12);
            const std::int64_t seconds = std::stoll(digits);
            expires = negative || seconds == 0 ? 1 : now + seconds;
        } else if (key == "domain") {
            domain = Lower(val);
            if (!domain.empty() && domain[0] == '.') domain.erase(0, 1);
        } else if (key == "path") {
            path = val;
        } else if (key == "secure") {
            c.secure = true;
        } else if (key == "httponly") {
            c.httpOnly = true;
        }
    }
    c.expires = expires;

    if (!domain.empty() && IsPublicSuffix(domain)) {
        // A public suffix names the host itself at most.
        if (domain != t.host) return false;
        domain.clear();
    }
    if (domain.empty()) {
        c.hostOnly = true;
        c.domain = t.host;
    } else {
        if (!DomainMatches(t.host, domain)) return false;
        c.domain = domain;
    }
    c.path = path.empty() || path[0] != '/' ? DefaultPath(t.path) : path;
    // Only a secure page sets a secure cookie, nor may a plain one shadow it.
    if (c.secure && !t.secure) return false;
    if (!t.secure)
        for (const Cookie& old : cookies_)
            if (old.secure && old.name == c.name &&
                (DomainMatches(c.domain, old.domain) || DomainMatches(old.domain, c.domain)) &&
                PathMatches(c.path, old.path))
                return false;

    if (c.expires != 0 && c.expires <= now) {
        // An expired cookie removes the one it names.
        const auto gone = std::remove_if(cookies_.begin(), cookies_.end(), [&](const Cookie& o) {
            return o.name == c.name && o.domain == c.domain && o.path == c.path;
        });
        if (gone != cookies_.end()) {
            cookies_.erase(gone, cookies_.end());
            modified_ = true;
        }
        return true;
    }
    Store(std::move(c));
    return true;
}

int CookieJar::SetFromResponse(const std::string& url, const std::string& header, std::int64_t now) {
    int taken = 0;
    std::size_t start = 0;
    int lines = 0;
    while (start < header.size() && ++lines < 1000) {
        std::size_t end = header.find('\n', start);
        if (end == std::string::npos) end = header.size();
        std::string line = header.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        static const char kName[] = "set-cookie:";
        if (line.size() < sizeof kName - 1 || Lower(line.substr(0, sizeof kName - 1)) != kName) continue;
        if (SetFromHeader(url, Trim(line.substr(sizeof kName - 1)), now)) ++taken;
    }
    return taken;
}

std::string CookieJar::HeaderFor(const std::string& url, std::int64_t now) const {
    Target t;
    if (!SplitTarget(url, t)) return {};
    std::vector<const Cookie*> chosen;
    for (const Cookie& c : cookies_) {
        if (c.expires != 0 && c.expires <= now) continue;
        if (c.secure && !t.secure) continue;
        if (c.hostOnly ? t.host != c.domain : !DomainMatches(t.host, c.domain)) continue;
        if (!PathMatches(t.path, c.path)) continue;
        chosen.push_back(&c);
    }
    std::stable_sort(chosen.begin(), chosen.end(), [](const Cookie* a, const Cookie* b) {
        if (a->path.size() != b->path.size()) return a->path.size() > b->path.size();
        return a->created < b->created;
    });
    std::string out;
    for (const Cookie* c : chosen) {
        if (!out.empty()) out += "; ";
        out += c->name + "=" + c->value;
    }
    return out;
}

bool CookieJar::Add(Cookie cookie) {
    cookie.domain = Lower(cookie.domain);
    if (!cookie.domain.empty() && cookie.domain[0] == '.') cookie.domain.erase(0, 1);
    if (cookie.name.empty() || cookie.domain.empty() || cookie.name.size() + cookie.value.size() > kMaxCookieBytes)
        return false;
    // Whatever a file holds, a cookie never breaks the request's header lines.
    for (const std::string* part : {&cookie.name, &cookie.value, &cookie.path})
        if (part->find_first_of(std::string("\r\n\0", 3)) != std::string::npos) return false;
    if (cookie.path.empty() || cookie.path[0] != '/') cookie.path = "/";
    Store(std::move(cookie));
    return true;
}

void CookieJar::Store(Cookie cookie) {
    cookie.created = ++nextCreated_;
    for (Cookie& old : cookies_) {
        if (old.name == cookie.name && old.domain == cookie.domain && old.path == cookie.path) {
            cookie.created = old.created;  // a replaced cookie keeps its place
            old = std::move(cookie);
            modified_ = true;
            return;
        }
    }
    // Room for the new one: the oldest of its domain, else the oldest of all, gives way.
    std::size_t sameDomain = 0;
    for (const Cookie& c : cookies_) sameDomain += c.domain == cookie.domain;
    if (sameDomain >= kMaxPerDomain) {
        const auto oldest =
            std::find_if(cookies_.begin(), cookies_.end(), [&](const Cookie& c) { return c.domain == cookie.domain; });
        cookies_.erase(oldest);
    } else if (cookies_.size() >= kMaxCookies) {
        cookies_.erase(cookies_.begin());
    }
    cookies_.push_back(std::move(cookie));
    modified_ = true;
}

void CookieJar::Clear() {
    if (!cookies_.empty()) modified_ = true;
    cookies_.clear();
}

void CookieJar::DropExpired(std::int64_t now) {
    const auto gone = std::remove_if(cookies_.begin(), cookies_.end(),
                                     [&](const Cookie& c) { return c.expires != 0 && c.expires <= now; });
    if (gone == cookies_.end()) return;
    cookies_.erase(gone, cookies_.end());
    modified_ = true;
}

}  // namespace qm::net
