// Links that are not plain tag attributes: quoted file names in script text, the words of
// applet parameter and option values, and the names in a Java class's constant pool.
#include <algorithm>
#include <cstring>

#include "analysis/analyser_impl.h"
#include "analysis/java_class.h"
#include "engine/get_rec.h"

namespace qm::analysis::detail {

namespace {

constexpr std::size_t kLongestLiteral = 1500;

inline bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

void Analyser::ScanScript(std::size_t start, std::size_t end) {
    if (end > n_) end = n_;
    MoveTo(start);
    std::size_t p = std::max(cursor_, start);
    const char* s = search_.data();
    CachedFind entity, dquote, squote, semicolon, lf, cr;
    while (p < end) {
        std::size_t ent = npos;
        if (entity.from == npos || entity.from > p || (entity.at != npos && entity.at < p)) {
            entity.from = p;
            entity.at = FindIn("&quot;", p, end);
        }
        ent = entity.at;
        std::size_t d = FindCharCached(dquote, '"', p, end);
        std::size_t q = FindCharCached(squote, '\'', p, end);
        std::size_t opening = std::min(d, q);
        if (ent != npos && (opening == npos || ent < opening)) opening = ent + 5;
        if (opening == npos || opening >= end) return;
        const char quote = s[opening];
        p = opening + 1;
        std::size_t closing;
        if (quote == '"')
            closing = FindCharCached(dquote, '"', p, end);
        else if (quote == '\'')
            closing = FindCharCached(squote, '\'', p, end);
        else
            closing = FindCharCached(semicolon, ';', p, end);
        closing = std::min({closing, FindCharCached(lf, '\n', p, end), FindCharCached(cr, '\r', p, end)});
        if (closing == npos || closing >= end) return;
        if (s[closing] == '\n' || s[closing] == '\r' || closing - p > kLongestLiteral) {
            p = closing + 1;
            continue;
        }
        std::size_t literalEnd = closing;
        if (quote == ';') literalEnd = closing - p >= 5 ? closing - 5 : p;
        if (literalEnd > p) {
            const char other = quote == '"' ? '\'' : '"';
            std::size_t k = literalEnd;
            while (k > p) {
                char c = s[k - 1];
                if (c == '.' || c == '/' || c == '\\' || c == other) break;
                --k;
            }
            // k - 1 is the last ".", "/", "\" or other quote, when k > p.
            bool fileLike = k > p + 1 && s[k - 1] == '.' && literalEnd - k >= 1 && literalEnd - k <= 5;
            if (fileLike) {
                MoveTo(p);
                if (cursor_ == p) ProcessLink(literalEnd, true);
            } else {
                ScanInnerStrings(p, closing, other);
            }
        }
        p = closing + 1;
    }
}

void Analyser::ScanInnerStrings(std::size_t from, std::size_t to, char quote) {
    const char* s = search_.data();
    while (from < to) {
        const void* a = std::memchr(s + from, quote, to - from);
        if (!a) return;
        std::size_t open = std::size_t(static_cast<const char*>(a) - s);
        if (open + 1 >= to) return;
        const void* b = std::memchr(s + open + 1, quote, to - open - 1);
        if (!b) return;
        std::size_t close = std::size_t(static_cast<const char*>(b) - s);
        std::size_t first = open + 1;
        std::size_t k = close;
        while (k > first && s[k - 1] != '.') --k;
        // k - 1 is the last "." of the candidate, when k > first.
        if (k > first + 1 && close - k >= 1 && close - k <= 5) {
            MoveTo(first);
            if (cursor_ == first) ProcessLink(close, true);
        }
        from = close + 1;
    }
}

bool Analyser::IsParamSeparator(std::size_t i) const {
    const unsigned char c = static_cast<unsigned char>(search_[i]);
    if (c < 33 || c == '"' || c == '\'' || c == '*' || c == '|') return true;
    return c == '%' && !IsHexDigit(search_[i + 1]);  // search_[n_] is the terminating NUL
}

void Analyser::ScanParamValue(std::size_t valueStart, std::size_t valueEnd) {
    MoveTo(valueStart);
    if (cursor_ != valueStart) return;
    // The end of the value ends its last word too.
    for (std::size_t i = valueStart; i <= valueEnd && i <= n_; ++i) {
        bool separator = i == valueEnd || IsParamSeparator(i);
        if (!separator) continue;
        if (i > cursor_) ProcessLink(i, false);
        if (i < valueEnd) MoveTo(i + 1);
    }
}

void Analyser::ScanJavaClass(const unsigned char* data, std::size_t length) {
    JavaClassNames names = ReadJavaClassNames(data, length);
    secondValue_.clear();
    row_ = kRowApplet;
    for (const std::string& name : names.classNames) {
        if (name.find_first_of("<>") != npos) continue;
        auto record = env_.NewRecord();
        record->URL = scheme_ + folder_ + name + ".class";
        AddFoundLink(std::move(record), false);
    }
    row_ = kRowAnchor;
    for (const std::string& file : names.fileStrings) {
        auto record = env_.NewRecord();
        bool absolute = file.size() >= 7;
        for (std::size_t i = 0; absolute && i < 7; ++i) {
            char c = file[i];
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
            absolute = c == "http://"[i];
        }
        if (!file.empty() && file[0] == '/')
            record->URL = scheme_ + host_ + file;
        else if (absolute)
            record->URL = file;
        else
            record->URL = scheme_ + folder_ + file;
        AddFoundLink(std::move(record), false);
    }
}

}  // namespace qm::analysis::detail
