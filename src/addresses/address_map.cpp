// The mapping from a relative local name to a stored file name.
#include "addresses/address_rules.h"

namespace qm::addresses {

namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsSep(char c) { return c == '/' || c == '\\'; }

}  // namespace

// A bracketed IPv6 host at the start of name ("[2001:db8::1]:8080/x") is stored under
// "ipv6_2001-db8--1" (port and rest as for any host): no brackets or colons in a folder name,
// and no host name can clash with it, as "_" is not a letter of host names. A zone ("%eth0")
// is dropped.
void StoredIpv6Host(std::string& name) {
    if (name.empty() || name[0] != '[') return;
    const std::size_t close = name.find(']');
    const std::size_t slash = name.find_first_of("/\\");
    if (close == std::string::npos || (slash != std::string::npos && slash < close)) return;
    std::string folder = "ipv6_";
    for (std::size_t i = 1; i < close; ++i) {
        const char c = name[i];
        if (c == '%') break;
        folder += c == ':' ? '-' : AsciiLower(c);
    }
    name.replace(0, close + 1, folder);
}

void MoveExtensionLast(std::string& text) {
    const std::size_t query = text.find('?');
    if (query == std::string::npos) return;
    std::size_t dot = std::string::npos;
    for (std::size_t i = query; i > 0; --i) {
        const char c = text[i - 1];
        if (c == '/' || c == '\\') break;
        if (c == '.') {
            dot = i - 1;
            break;
        }
    }
    if (dot == std::string::npos || query - dot < 2 || query - dot > 11) return;
    for (std::size_t i = dot + 1; i < query; ++i) {
        const char c = text[i];
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum) return;
    }
    std::size_t fragment = text.find('#', query);
    if (fragment == std::string::npos) fragment = text.size();
    const std::string extension = text.substr(dot, query - dot);
    text.erase(dot, query - dot);
    text.insert(fragment - extension.size(), extension);
}

void MapNameWith(std::string& name, bool addRoot, const std::string& root, const std::string& defaultDoc) {
    if (name.empty()) return;
    if (name.size() > 2 && IsLetter(name[0]) && name[1] == ':' && IsSep(name[2])) {
        // A drive: c:/dir/x is kept under "Local Files/dir/x".
        name.replace(0, 2, "Local Files");
    } else {
        const std::size_t port = name.find(":80/");
        if (port != std::string::npos) name.erase(port, 3);
        // A user name left in front of the host.
        const std::size_t at = name.find('@');
        if (at != std::string::npos) {
            const std::size_t slash = name.find('/');
            if (slash == std::string::npos || slash > at) name.erase(0, at + 1);
        }
        StoredIpv6Host(name);
        for (char& c : name) {
            switch (c) {
            case '?': c = '@'; break;
            case ':': c = '+'; break;
            case '|':
            case '%': c = '_'; break;
            default: break;
            }
        }
    }
    if (!addRoot) return;

    std::string out;
    out.reserve(root.size() + name.size() + defaultDoc.size());
    auto put = [&out](char c) {
        if (IsSep(c)) {
            if (!out.empty() && out.back() == kPathSep) return;
            c = kPathSep;
        }
        out.push_back(c);
    };
    for (char c : root) put(c);
    // The root is a folder even when written without its final separator.
    if (!root.empty()) put(kPathSep);
    for (char c : name) put(c);
    if (!out.empty() && out.back() == kPathSep) out += defaultDoc;
    name.swap(out);
}

std::string StoredFileName(std::string relative, bool extLast, const std::string& root, const std::string& defaultDoc) {
    if (extLast) MoveExtensionLast(relative);
    MapNameWith(relative, true, root, defaultDoc);
    return relative;
}

std::size_t MappedRootLength(std::string_view root) {
    std::size_t n = 0;
    bool lastSep = false;
    for (char c : root) {
        if (IsSep(c)) {
            if (lastSep) continue;
            lastSep = true;
        } else {
            lastSep = false;
        }
        ++n;
    }
    return lastSep || n == 0 ? n : n + 1;
}

std::string AsFolder(std::string dir) {
    if (!dir.empty() && !IsSep(dir.back())) dir += kPathSep;
    return dir;
}

bool SegmentsStayInside(std::string_view path, std::size_t offset) {
    if (offset >= path.size()) return false;
    bool onlyDots = true;
    std::size_t segLen = 0;
    for (std::size_t i = offset; i <= path.size(); ++i) {
        if (i == path.size() || IsSep(path[i])) {
            if (segLen > 0 && onlyDots) return false;
            onlyDots = true;
            segLen = 0;
        } else {
            ++segLen;
            if (path[i] != '.') onlyDots = false;
        }
    }
    return true;
}

}  // namespace qm::addresses
