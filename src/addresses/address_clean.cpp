// Cleaning an address into its canonical form. Every step is one left-to-right pass over the
// text: the "delete while it occurs" rules are computed with an output buffer that is checked
// at its end only, which gives the same result as deleting the first occurrence again and
// again, in linear time.
#include <cstring>

#include "addresses/address_rules.h"

namespace qm::addresses {

namespace {

constexpr std::size_t kSchemeLen = 7;     // "http://" and "file://"; "https://" has one more
constexpr std::size_t kFtpSchemeLen = 6;  // "ftp://"

bool EndsWith(const std::string& text, const char* tail, std::size_t tailLen) {
    return text.size() >= tailLen && std::memcmp(text.data() + text.size() - tailLen, tail, tailLen) == 0;
}

bool EndsWithNoCase(const std::string& text, const char* tail, std::size_t tailLen) {
    if (text.size() < tailLen) return false;
    const char* p = text.data() + text.size() - tailLen;
    for (std::size_t i = 0; i < tailLen; ++i)
        if (AsciiLower(p[i]) != tail[i]) return false;
    return true;
}

// Whether pattern occurs in text at or after from (glibc's memmem is linear).
bool Occurs(const std::string& text, const char* pattern, std::size_t from = 0) {
    if (from >= text.size()) return false;
    return ::memmem(text.data() + from, text.size() - from, pattern, std::strlen(pattern)) != nullptr;
}

bool IsDriveSegment(std::string_view seg) {
    if (seg.size() != 2) return false;
    char c = seg[0];
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    return letter && (seg[1] == ':' || seg[1] == '|');
}

// Backslashes become "/" until the first "#" or "?"; line breaks go everywhere.
void CleanCharacters(std::string& url) {
    std::size_t w = 0;
    bool inQuery = false;
    for (std::size_t r = 0; r < url.size(); ++r) {
        char c = url[r];
        if (c == '\r' || c == '\n') continue;
        if (c == '#' || c == '?') inQuery = true;
        if (c == '\\' && !inQuery) c = '/';
        url[w++] = c;
    }
    url.resize(w);
}

// "&amp;" becomes "&", again and again, so "&amp;amp;" ends as "&" (any letter case).
void CollapseAmpEntities(std::string& url) {
    if (url.find('&') == std::string::npos) return;
    std::string out;
    out.reserve(url.size());
    for (char c : url) {
        out.push_back(c);
        if (c == ';' && EndsWithNoCase(out, "&amp;", 5)) out.resize(out.size() - 4);
    }
    url.swap(out);
}

// "/../" removes the segment before it. For an http address hostEnd is the index of the "/"
// that ends the host: a "/../" right there only loses its "../", and the host itself is never
// touched (an occurrence inside "http://../" is left for the root-folder check to refuse).
// For a local-file address (hostEnd npos) a ".." that would eat into "file://", a drive or
// the leading "/" climbs above the start of the address.
bool ResolveParents(std::string& url, bool isFile, std::size_t hostEnd) {
    if (!Occurs(url, "/../")) return true;
    std::string out;
    out.reserve(url.size());
    for (char c : url) {
        out.push_back(c);
        if (c != '/' || !EndsWith(out, "/../", 4)) continue;
        const std::size_t s = out.size() - 4;
        if (!isFile) {
            if (s < hostEnd) continue;  // inside "http://../": not a path segment
            if (s == hostEnd) {         // right after the host: drop "../" only
                out.resize(out.size() - 3);
                continue;
            }
            out.resize(s);
            out.resize(out.rfind('/') + 1);  // a "/" at or after hostEnd exists
            continue;
        }
        if (s < kSchemeLen) return false;  // "file://../"
        out.resize(s);
        const std::size_t q = out.rfind('/');  // at least the scheme's own "/"
        std::string_view seg(out.data() + q + 1, out.size() - q - 1);
        if (q + 1 == kSchemeLen && seg.empty()) return false;              // "file:///../"
        if (q + 1 <= kSchemeLen + 1 && IsDriveSegment(seg)) return false;  // above the drive
        out.resize(q + 1);
    }
    url.swap(out);
    return true;
}

// "/./" becomes "/" (after the scheme).
void ResolveCurrent(std::string& url, std::size_t schemeLen) {
    if (!Occurs(url, "/./", schemeLen)) return;
    std::string out;
    out.reserve(url.size());
    for (char c : url) {
        out.push_back(c);
        if (c == '/' && out.size() >= schemeLen + 3 && EndsWith(out, "/./", 3)) {
            out.resize(out.size() - 2);
            out.back() = '/';
        }
    }
    url.swap(out);
}

// Runs of "/" after "http:/" (or "ftp:/") shrink to one, so file:///c:/x becomes file://c:/x.
void CollapseSlashes(std::string& url, std::size_t schemeLen) {
    std::size_t w = schemeLen;
    for (std::size_t r = schemeLen; r < url.size(); ++r) {
        if (url[r] == '/' && url[w - 1] == '/') continue;
        url[w++] = url[r];
    }
    url.resize(w);
}

}  // namespace

std::string AsciiLowerCopy(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = AsciiLower(c);
    return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (AsciiLower(text[i]) != AsciiLower(prefix[i])) return false;
    return true;
}

int CountSeparators(std::string_view text) {
    int n = 0;
    for (char c : text) n += (c == '/' || c == '\\');
    return n;
}

CleanStatus CleanAddress(std::string& url, CleanedAddress& out) {
    out = CleanedAddress{};
    if (StartsWithNoCase(url, "file://"))
        out.isFile = true;
    else if (StartsWithNoCase(url, "https://"))
        out.isSecure = true;
    else if (!StartsWithNoCase(url, "http://") && !StartsWithNoCase(url, "ftp://"))
        return CleanStatus::BadScheme;
    const std::size_t schemeLen = SchemeLength(url);
    const bool ftp = schemeLen == kFtpSchemeLen;

    CleanCharacters(url);
    CollapseAmpEntities(url);

    std::size_t hostEnd = std::string::npos;
    if (!out.isFile) {
        if (url.find('/', schemeLen) == std::string::npos) url.push_back('/');
        hostEnd = url.find('/', schemeLen);
        // The only default port that can start before the host end is the one ending there.
        const std::string_view defaultPort = out.isSecure ? ":443/" : ftp ? ":21/" : ":80/";
        if (hostEnd >= schemeLen + defaultPort.size() - 1 &&
            url.compare(hostEnd + 1 - defaultPort.size(), defaultPort.size(), defaultPort) == 0) {
            url.erase(hostEnd + 1 - defaultPort.size(), defaultPort.size() - 1);
            hostEnd -= defaultPort.size() - 1;
        }
        const std::size_t at = url.find('@');
        if (at != std::string::npos && at < hostEnd) {
            out.hasCredentials = true;
            out.credentials.assign(url, schemeLen, at - schemeLen);
            url.erase(schemeLen, at - schemeLen + 1);
            hostEnd -= at - schemeLen + 1;
        }
    }
    if (!ResolveParents(url, out.isFile, hostEnd)) return CleanStatus::ClimbsAbove;
    ResolveCurrent(url, schemeLen);
    CollapseSlashes(url, schemeLen);
    return CleanStatus::Ok;
}

void DropFragment(std::string& url) {
    const std::size_t hash = url.find('#');
    if (hash != std::string::npos) url.resize(hash);
}

std::size_t SchemeLength(std::string_view url) {
    if (StartsWithNoCase(url, "https://")) return kSchemeLen + 1;
    if (StartsWithNoCase(url, "ftp://")) return kFtpSchemeLen;
    return kSchemeLen;
}

std::string RelativeLocalName(std::string_view url, bool isFile) {
    const std::size_t schemeLen = SchemeLength(url);
    std::string_view name = url.size() > schemeLen ? url.substr(schemeLen) : std::string_view();
    if (!isFile) return std::string(name);
    if (name.size() >= 2 && (name[1] == ':' || name[1] == '|')) name.remove_prefix(name.size() < 3 ? name.size() : 3);
    std::string rel = "Local Files/";
    rel.append(name);
    return rel;
}

}  // namespace qm::addresses
