#pragma once
// CookieJar: the cookies one Project keeps, with the rules browsers apply (RFC 6265): which
// server may set a cookie for which domain and path, which cookies go back with a request,
// Secure, HttpOnly and expiry. A domain that is a public suffix ("co.uk") is never a
// cookie's domain (public_suffix.h).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qm::net {

struct Cookie {
    std::string name, value;
    std::string domain;  // lower case, without a leading "."
    std::string path = "/";
    std::int64_t expires = 0;  // seconds since 1970; 0: ends with the session
    bool hostOnly = false;     // sent to domain itself only, not to its subdomains
    bool secure = false;       // sent over https only
    bool httpOnly = false;
    std::int64_t created = 0;  // for the order of equal paths
};

class CookieJar {
public:
    // The most cookies kept, in all and for one domain; the oldest give way first.
    static constexpr std::size_t kMaxCookies = 3000;
    static constexpr std::size_t kMaxPerDomain = 60;
    // A cookie's name and value together, and one Set-Cookie line, at most.
    static constexpr std::size_t kMaxCookieBytes = 4096;
    static constexpr std::size_t kMaxLineBytes = 8192;

    // Takes one Set-Cookie value received from url at time now (seconds since 1970); false
    // when the rules refuse it. A cookie already expired removes the one it replaces.
    bool SetFromHeader(const std::string& url, const std::string& setCookie, std::int64_t now);
    // Takes every Set-Cookie line of an answer's header; the number taken.
    int SetFromResponse(const std::string& url, const std::string& header, std::int64_t now);
    // The Cookie header value for a request to url (empty: no cookie applies).
    std::string HeaderFor(const std::string& url, std::int64_t now) const;

    // Adds a cookie as it stands (import, stored jars), replacing one of the same name, domain
    // and path; false when it is damaged (no name or domain, too long).
    bool Add(Cookie cookie);
    void Clear();
    void DropExpired(std::int64_t now);
    const std::vector<Cookie>& Cookies() const { return cookies_; }
    bool Modified() const { return modified_; }
    void SetModified(bool modified) { modified_ = modified; }

private:
    void Store(Cookie cookie);
    std::vector<Cookie> cookies_;
    std::int64_t nextCreated_ = 0;
    bool modified_ = false;
};

// Whether host lies in domain: the same, or ending in "." + domain, and not a numeric
// address (lower-case texts).
bool DomainMatches(const std::string& host, const std::string& domain);
// Whether a request path lies under a cookie path.
bool PathMatches(const std::string& requestPath, const std::string& cookiePath);
// A cookie date ("Wed, 09 Jun 2021 10:18:14 GMT" and the older forms) as seconds since 1970;
// -1 when it is none.
std::int64_t ParseCookieDate(const std::string& text);

}  // namespace qm::net
