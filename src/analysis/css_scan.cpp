// The style-sheet address finder: a single forward pass over the sheet that tokenises just
// enough of the CSS syntax (comments, strings, escapes, words, url() and brackets) to find
// the addresses where a browser would find them.
#include "analysis/css_scan.h"

#include <cstdint>

namespace qm::analysis {

namespace {

constexpr std::size_t npos = std::string_view::npos;

inline bool IsNewline(char c) { return c == '\n' || c == '\r' || c == '\f'; }
inline bool IsSpace(char c) { return c == ' ' || c == '\t' || IsNewline(c); }
inline bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
inline int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}
inline bool IsWordChar(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           u >= 0x80;
}
inline bool IsNonPrintable(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u <= 8 || u == 0x0B || (u >= 0x0E && u <= 0x1F) || u == 0x7F;
}
inline char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view lower) {
    if (a.size() != lower.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != lower[i]) return false;
    return true;
}

bool StartsWithAt(std::string_view text, std::size_t at, std::string_view prefix) {
    return at <= text.size() && text.size() - at >= prefix.size() && text.compare(at, prefix.size(), prefix) == 0;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// A valid escape starts at i: a backslash not followed by a line end or the end of the text.
bool IsEscape(std::string_view t, std::size_t i) { return i + 1 < t.size() && t[i] == '\\' && !IsNewline(t[i + 1]); }

// Reads the escape at i (a valid one) into out; returns the position after it.
std::size_t ReadEscape(std::string_view t, std::size_t i, std::string* out) {
    ++i;  // the backslash
    if (IsHex(t[i])) {
        std::uint32_t cp = 0;
        std::size_t digits = 0;
        while (i < t.size() && digits < 6 && IsHex(t[i])) {
            cp = cp * 16 + std::uint32_t(HexValue(t[i]));
            ++i;
            ++digits;
        }
        if (i < t.size() && IsSpace(t[i])) {
            if (t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n') ++i;
            ++i;
        }
        if (out) AppendUtf8(*out, cp);
        return i;
    }
    if (out) *out += t[i];
    return i + 1;
}

struct Scanner {
    std::string_view t;
    bool inAttribute;
    std::vector<StyleLink> links;

    void Add(std::size_t start, std::size_t end, std::string value, bool import) {
        if (!IsFetchableReference(value)) return;
        // Blanks around a quoted address are not part of it.
        std::size_t a = 0, b = value.size();
        while (a < b && IsSpace(value[a])) ++a;
        while (b > a && IsSpace(value[b - 1])) --b;
        std::string_view raw = t.substr(start, end - start);
        std::size_t ra = 0, rb = raw.size();
        while (ra < rb && IsSpace(raw[ra])) ++ra;
        while (rb > ra && IsSpace(raw[rb - 1])) --rb;
        StyleLink link;
        link.start = start + ra;
        link.end = start + rb;
        link.value = value.substr(a, b - a);
        link.escaped = raw.substr(ra, rb - ra) != link.value;
        link.import = import;
        links.push_back(std::move(link));
    }

    // A string at i (t[i] is its quote). Returns the position after it; good is false for a
    // string broken by a line end, which browsers drop.
    std::size_t String(std::size_t i, std::size_t& start, std::size_t& end, std::string& value, bool& good) {
        const char quote = t[i++];
        start = i;
        good = true;
        value.clear();
        while (i < t.size()) {
            char c = t[i];
            if (c == quote) {
                end = i;
                return i + 1;
            }
            if (IsNewline(c)) {
                good = false;
                end = i;
                return i;
            }
            if (c == '\\') {
                if (i + 1 >= t.size()) {
                    ++i;
                    break;
                }
                if (IsNewline(t[i + 1])) {  // a line continued inside the string
                    i += (t[i + 1] == '\r' && i + 2 < t.size() && t[i + 2] == '\n') ? 3 : 2;
                    continue;
                }
                i = ReadEscape(t, i, &value);
                continue;
            }
            value += c;
            ++i;
        }
        end = t.size();
        return t.size();
    }

    // The argument of url( whose "(" ends just before i. Returns the position after its ")".
    std::size_t Url(std::size_t i, bool import) {
        while (i < t.size() && IsSpace(t[i])) ++i;
        if (i < t.size() && (t[i] == '"' || t[i] == '\'')) {
            std::size_t s = 0, e = 0;
            std::string value;
            bool good = false;
            i = String(i, s, e, value, good);
            if (good) Add(s, e, std::move(value), import);
            return SkipTo(i, ')');
        }
        if (inAttribute) {
            for (std::string_view entity : {"&quot;", "&#34;", "&#39;", "&apos;"}) {
                if (!StartsWithAt(t, i, entity)) continue;
                std::size_t s = i + entity.size();
                std::size_t close = t.find(')', s);
                std::size_t e = t.find(entity, s);
                if (e == npos || (close != npos && e > close)) break;
                Add(s, e, std::string(t.substr(s, e - s)), import);
                return SkipTo(e + entity.size(), ')');
            }
        }
        const std::size_t s = i;
        std::string value;
        while (i < t.size()) {
            char c = t[i];
            if (c == ')') {
                Add(s, i, std::move(value), import);
                return i + 1;
            }
            if (IsSpace(c)) {
                std::size_t e = i;
                while (i < t.size() && IsSpace(t[i])) ++i;
                if (i >= t.size() || t[i] == ')') {
                    Add(s, e, std::move(value), import);
                    return i < t.size() ? i + 1 : i;
                }
                return SkipBadUrl(i);
            }
            if (c == '"' || c == '\'' || c == '(' || IsNonPrintable(c)) return SkipBadUrl(i);
            if (c == '\\') {
                if (!IsEscape(t, i)) return SkipBadUrl(i);
                i = ReadEscape(t, i, &value);
                continue;
            }
            value += c;
            ++i;
        }
        Add(s, i, std::move(value), import);  // the sheet ends inside url(
        return i;
    }

    // The rest of a malformed url(...): up to its ")", escapes stepped over.
    std::size_t SkipBadUrl(std::size_t i) {
        while (i < t.size() && t[i] != ')') i = IsEscape(t, i) ? ReadEscape(t, i, nullptr) : i + 1;
        return i < t.size() ? i + 1 : i;
    }

    // Blanks and comments up to the closing character; whatever else stands there is left to
    // the main loop.
    std::size_t SkipTo(std::size_t i, char closing) {
        while (i < t.size() && IsSpace(t[i])) ++i;
        if (i < t.size() && t[i] == closing) return i + 1;
        return i;
    }

    void Run() {
        std::size_t i = 0;
        bool importPending = false;  // after @import, before its address
        // Open brackets: true for image-set(), whose strings are addresses.
        std::vector<bool> brackets;
        std::size_t imageSets = 0;
        while (i < t.size()) {
            const char c = t[i];
            if (c == '/' && i + 1 < t.size() && t[i + 1] == '*') {
                std::size_t close = t.find("*/", i + 2);
                i = close == npos ? t.size() : close + 2;
                continue;
            }
            if (c == '"' || c == '\'') {
                std::size_t s = 0, e = 0;
                std::string value;
                bool good = false;
                i = String(i, s, e, value, good);
                if (good && (importPending || imageSets > 0)) Add(s, e, std::move(value), importPending);
                importPending = false;
                continue;
            }
            if (c == '@') {
                std::size_t k = i + 1;
                while (k < t.size() && (IsWordChar(t[k]) || IsEscape(t, k)))
                    k = t[k] == '\\' ? ReadEscape(t, k, nullptr) : k + 1;
                importPending = EqualsNoCase(t.substr(i + 1, k - i - 1), "import");
                i = std::max(k, i + 1);
                continue;
            }
            if (IsWordChar(c) || IsEscape(t, i)) {
                std::size_t k = i;
                while (k < t.size() && (IsWordChar(t[k]) || IsEscape(t, k)))
                    k = t[k] == '\\' ? ReadEscape(t, k, nullptr) : k + 1;
                std::string_view word = t.substr(i, k - i);
                if (k < t.size() && t[k] == '(') {
                    if (EqualsNoCase(word, "url")) {
                        i = Url(k + 1, importPending);
                        importPending = false;
                        continue;
                    }
                    bool imageSet = EqualsNoCase(word, "image-set") || EqualsNoCase(word, "-webkit-image-set");
                    brackets.push_back(imageSet);
                    if (imageSet) ++imageSets;
                    i = k + 1;
                    continue;
                }
                i = k;
                continue;
            }
            if (c == '\\') {  // a backslash before a line end: a stray character
                ++i;
                continue;
            }
            if (c == '(' || c == '[' || c == '{') {
                brackets.push_back(false);
            } else if (c == ')' || c == ']' || c == '}') {
                if (!brackets.empty()) {
                    if (brackets.back()) --imageSets;
                    brackets.pop_back();
                }
            }
            if (c == ';' || c == '{' || c == '}') importPending = false;
            ++i;
        }
    }
};

}  // namespace

bool IsFetchableReference(std::string_view text) {
    std::size_t a = 0, b = text.size();
    while (a < b && IsSpace(text[a])) ++a;
    while (b > a && IsSpace(text[b - 1])) --b;
    text = text.substr(a, b - a);
    if (text.empty() || text[0] == '#') return false;
    if (!((text[0] >= 'a' && text[0] <= 'z') || (text[0] >= 'A' && text[0] <= 'Z'))) return true;
    std::size_t k = 1;
    while (k < text.size()) {
        char c = text[k];
        bool schemeChar = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
                          c == '-' || c == '.';
        if (!schemeChar) break;
        ++k;
    }
    if (k >= text.size() || text[k] != ':') return true;  // no scheme: a relative address
    std::string_view scheme = text.substr(0, k);
    return EqualsNoCase(scheme, "http") || EqualsNoCase(scheme, "https");
}

std::vector<StyleLink> ScanStyleSheet(std::string_view text, bool inAttribute) {
    Scanner scanner{text, inAttribute, {}};
    scanner.Run();
    return std::move(scanner.links);
}

}  // namespace qm::analysis
