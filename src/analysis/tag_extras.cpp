// Links of today's pages that the classic tag rows do not see: style sheets in <style> blocks
// and style="" values, srcset lists, <video>/<audio>/<source>/<track>, <object data>,
// <input type=image>, and <link> kinds that name embedded resources. Each is resolved and
// rewritten through the same link routine as every other link.
#include <algorithm>
#include <cstring>

#include "analysis/analyser_impl.h"
#include "analysis/css_scan.h"

namespace qm::analysis::detail {

namespace {

inline bool IsHtmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// The text can stand in a style sheet without quotes or escapes.
bool PlainInStyle(std::string_view text) {
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u <= 32 || u == 0x7F || c == '"' || c == '\'' || c == '(' || c == ')' || c == '\\') return false;
    }
    return true;
}

struct Attribute {
    std::string_view name;  // lower case (from the search copy)
    std::size_t start = 0;  // the value, without quotes and surrounding blanks
    std::size_t end = 0;
    bool hasValue = false;
};

// The attributes of the tag at pos whose ">" is at tagEnd, read as browsers read them.
std::vector<Attribute> ReadAttributes(std::string_view s, std::size_t pos, std::size_t tagEnd,
                                      std::string_view& tagName) {
    std::vector<Attribute> out;
    std::size_t i = pos + 1;
    while (i < tagEnd && !IsHtmlSpace(s[i]) && s[i] != '/') ++i;
    tagName = s.substr(pos + 1, i - pos - 1);
    while (i < tagEnd) {
        while (i < tagEnd && (IsHtmlSpace(s[i]) || s[i] == '/')) ++i;
        if (i >= tagEnd) break;
        std::size_t ns = i;
        ++i;  // a name may begin with "="
        while (i < tagEnd && !IsHtmlSpace(s[i]) && s[i] != '/' && s[i] != '=') ++i;
        Attribute a;
        a.name = s.substr(ns, i - ns);
        std::size_t k = i;
        while (k < tagEnd && IsHtmlSpace(s[k])) ++k;
        if (k < tagEnd && s[k] == '=') {
            ++k;
            while (k < tagEnd && IsHtmlSpace(s[k])) ++k;
            a.hasValue = true;
            if (k < tagEnd && (s[k] == '"' || s[k] == '\'')) {
                const void* close = std::memchr(s.data() + k + 1, s[k], tagEnd - k - 1);
                a.start = k + 1;
                a.end = close ? std::size_t(static_cast<const char*>(close) - s.data()) : tagEnd;
                i = std::min(tagEnd, a.end + 1);
            } else {
                a.start = k;
                while (k < tagEnd && !IsHtmlSpace(s[k])) ++k;
                a.end = k;
                i = k;
            }
            while (a.start < a.end && IsHtmlSpace(s[a.start])) ++a.start;
            while (a.end > a.start && IsHtmlSpace(s[a.end - 1])) --a.end;
        }
        out.push_back(a);
    }
    return out;
}

const Attribute* Find(const std::vector<Attribute>& attributes, std::string_view name) {
    for (const Attribute& a : attributes)
        if (a.hasValue && a.name == name) return &a;
    return nullptr;
}

// Whether tag name takes attribute as an embedded resource (srcset: as a candidate list).
// <input> only when it is an image button.
bool ResourceAttribute(std::string_view tag, std::string_view attribute, TagExtra::Kind& kind) {
    struct Rule {
        const char* tag;
        const char* attribute;
        TagExtra::Kind kind;
    };
    static const Rule kRules[] = {
        {"img", "src", TagExtra::Link},     {"img", "srcset", TagExtra::Srcset},
        {"source", "src", TagExtra::Link},  {"source", "srcset", TagExtra::Srcset},
        {"video", "src", TagExtra::Link},   {"video", "poster", TagExtra::Link},
        {"audio", "src", TagExtra::Link},   {"track", "src", TagExtra::Link},
        {"object", "data", TagExtra::Link}, {"embed", "src", TagExtra::Link},
        {"input", "src", TagExtra::Link},
    };
    for (const Rule& r : kRules) {
        if (tag == r.tag && attribute == r.attribute) {
            kind = r.kind;
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<TagExtra> Analyser::TagExtras(std::size_t pos, std::size_t tagEnd) const {
    std::vector<TagExtra> extras;
    if (tagEnd == npos || tagEnd <= pos) return extras;
    std::string_view tag;
    const std::vector<Attribute> attributes = ReadAttributes(search_, pos, tagEnd, tag);
    bool imageButton = false;
    if (tag == "input") {
        const Attribute* type = Find(attributes, "type");
        imageButton = type && search_.compare(type->start, type->end - type->start, "image") == 0;
    }
    for (const Attribute& a : attributes) {
        if (!a.hasValue || a.end <= a.start) continue;
        TagExtra x;
        x.start = a.start;
        x.end = a.end;
        if (a.name == "style") {
            x.kind = TagExtra::Style;
        } else if (!ResourceAttribute(tag, a.name, x.kind) || (tag == "input" && !imageButton)) {
            continue;
        }
        extras.push_back(x);
    }
    return extras;
}

void Analyser::RunExtras(std::vector<TagExtra>& extras, std::size_t before) {
    const int saved = row_;
    std::string scratch;
    for (TagExtra& x : extras) {
        if (x.done) continue;
        if (x.start >= before) break;
        x.done = true;
        if (x.start < cursor_) continue;
        switch (x.kind) {
        case TagExtra::Style: ScanStyle(x.start, x.end, true); break;
        case TagExtra::Link:
            if (!IsFetchableReference(Original(x.start, x.end, scratch))) break;
            row_ = kRowEmbeddedExtra;
            MoveTo(x.start);
            ProcessLink(x.end, false);
            break;
        case TagExtra::Srcset: {
            // Candidates: an address (no blanks), then descriptors up to the next ",".
            // Commas inside an address stay in it; commas ending it do not.
            row_ = kRowEmbeddedExtra;
            std::size_t i = x.start;
            while (i < x.end) {
                while (i < x.end && (IsHtmlSpace(search_[i]) || search_[i] == ',')) ++i;
                std::size_t s = i;
                while (i < x.end && !IsHtmlSpace(search_[i])) ++i;
                std::size_t e = i;
                while (e > s && search_[e - 1] == ',') --e;
                if (e > s && s >= cursor_ && IsFetchableReference(Original(s, e, scratch))) {
                    MoveTo(s);
                    ProcessLink(e, false);
                }
                if (e < i) continue;  // the address ended with ",": no descriptors
                int depth = 0;
                while (i < x.end && (depth > 0 || search_[i] != ',')) {
                    if (search_[i] == '(')
                        ++depth;
                    else if (search_[i] == ')' && depth > 0)
                        --depth;
                    ++i;
                }
            }
            break;
        }
        }
        row_ = saved;
    }
    row_ = saved;
}

bool Analyser::OtherTag(std::size_t pos) {
    std::size_t te = TagEnd(pos);
    if (te == npos) return true;  // no tag end: nothing to read, the text is kept as it is
    std::vector<TagExtra> extras = TagExtras(pos, te);
    RunExtras(extras, npos);
    return true;
}

int Analyser::LinkRelationRow(std::size_t pos, std::size_t tagEnd) const {
    std::string_view tag;
    const std::vector<Attribute> attributes = ReadAttributes(search_, pos, tagEnd, tag);
    const Attribute* rel = Find(attributes, "rel");
    if (!rel) return kRowAnchor;
    std::string_view value(search_.data() + rel->start, rel->end - rel->start);
    static const std::string_view kShown[] = {"icon",      "apple-touch-icon", "apple-touch-icon-precomposed",
                                              "mask-icon", "preload",          "modulepreload",
                                              "manifest"};
    bool styleSheet = false;
    std::size_t i = 0;
    while (i < value.size()) {
        while (i < value.size() && IsHtmlSpace(value[i])) ++i;
        std::size_t s = i;
        while (i < value.size() && !IsHtmlSpace(value[i])) ++i;
        std::string_view word = value.substr(s, i - s);
        if (std::find(std::begin(kShown), std::end(kShown), word) != std::end(kShown)) return kRowResource;
        if (word == "stylesheet") styleSheet = true;
    }
    return styleSheet ? kRowLink : kRowAnchor;
}

void Analyser::ScanStyle(std::size_t from, std::size_t to, bool inAttribute) {
    if (to > n_) to = n_;
    if (from >= to) return;
    const int saved = row_;
    row_ = kRowResource;
    std::string scratch;
    const std::vector<StyleLink> links = ScanStyleSheet(Original(from, to, scratch), inAttribute);
    for (const StyleLink& link : links) {
        const std::size_t s = from + link.start, e = from + link.end;
        if (s < cursor_ || e <= s) continue;
        if (!link.escaped) {
            MoveTo(s);
            ProcessLink(e, false);
            continue;
        }
        // An address written with escapes is followed in its plain form, which also takes
        // its place in the rewritten sheet; one that needs its escapes is left as it is.
        if (link.value.size() > e - s || !PlainInStyle(link.value)) continue;
        MoveTo(s);
        for (std::size_t k = 0; k < link.value.size(); ++k) {
            char c = link.value[k];
            const bool upper = c >= 'A' && c <= 'Z';
            search_[s + k] = upper ? char(c - 'A' + 'a') : c;
            if (!folded_)
                verbatim_[s + k] = c;
            else if (upper)
                upperCase_[(s + k) / 64] |= std::uint64_t(1) << ((s + k) % 64);
            else
                upperCase_[(s + k) / 64] &= ~(std::uint64_t(1) << ((s + k) % 64));
        }
        ProcessLink(s + link.value.size(), false);
        cursor_ = e;  // the rest of the escaped text is not written
    }
    row_ = saved;
}

}  // namespace qm::analysis::detail
