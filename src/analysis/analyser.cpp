// The tag scanner and the link resolver of document analysis.
#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <fcntl.h>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "analysis/analyser_impl.h"
#include "analysis/robots_meta.h"
#include "analysis/spare_buffers.h"
#include "engine/analysis_hook.h"
#include "engine/credential_scope.h"
#include "engine/crawl_limits.h"
#include "engine/document_type.h"
#include "engine/get_rec.h"
#include "engine/local_scope.h"

namespace qm::analysis {

namespace detail {

namespace {

// The four characters that count as white space between attribute names and values.
inline bool IsBlank(char c) { return c == 8 || c == 10 || c == 13 || c == 32; }
inline bool IsLower(char c) { return c >= 'a' && c <= 'z'; }

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool StartsWithNoCase(std::string_view text, std::string_view lowerPrefix) {
    if (text.size() < lowerPrefix.size()) return false;
    for (std::size_t i = 0; i < lowerPrefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (c != lowerPrefix[i]) return false;
    }
    return true;
}

// The scheme an address begins with ("http" of "http://x"), or empty when it has none: letters
// first, then letters, digits, "+", "-" or ".", up to a ":".
std::string_view SchemeOf(std::string_view text) {
    std::size_t i = 0;
    auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    while (i < text.size() && (letter(text[i]) || (i > 0 && ((text[i] >= '0' && text[i] <= '9') || text[i] == '+' ||
                                                             text[i] == '-' || text[i] == '.'))))
        ++i;
    return i > 0 && i < text.size() && text[i] == ':' ? text.substr(0, i) : std::string_view();
}

bool SameSchemeNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if ((a[i] | 0x20) != (b[i] | 0x20)) return false;  // letters, digits and "+-." only
    return true;
}

// Rows whose tag text has a given second character, in row order.
struct RowsBySecondChar {
    std::array<std::vector<int>, 256> rows;
    std::array<std::size_t, kTagRowCount> length{};
    RowsBySecondChar() {
        for (std::size_t r = 0; r < kTagRowCount; ++r) {
            length[r] = std::strlen(kTagTable[r].tag);
            // The catch-all row and the rows no tag text selects are not in the index.
            if (length[r] < 2) continue;
            rows[static_cast<unsigned char>(kTagTable[r].tag[1])].push_back(int(r));
        }
    }
};

const RowsBySecondChar& TagIndex() {
    static const RowsBySecondChar index;
    return index;
}

}  // namespace

Analyser::Analyser(AnalysisEnvironment& env, engine::DownloadRecord& parent, const std::string& source,
                   const std::string& target, bool writeTarget, engine::AnalysisSink& sink)
    : env_(env), parent_(parent), source_(source), target_(target), writeTarget_(writeTarget), sink_(sink) {}

Analyser::~Analyser() {
    if (out_ >= 0) {
        ::close(out_);
        std::remove(partName_.c_str());
    }
    SpareBuffers& spare = ThreadSpareBuffers();
    KeepSpare(spare.text, std::move(verbatim_));
    KeepSpare(spare.search, std::move(search_));
    if (outBuffer_ && !spare.out) spare.out = std::move(outBuffer_);
}

void Analyser::Report(const std::string& text, bool stop) { sink_.Report(text, stop); }

bool Analyser::ReadSource() {
    // Read with the descriptor itself: one size question and reads straight into the text.
    const int fd = ::open(source_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        Report("Error reading from file: " + source_, false);
        return false;
    }
    std::string data = TakeSpare(ThreadSpareBuffers().text);
    bool failed = false;
    try {
        struct stat st {};
        std::size_t expected = 0;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) expected = std::size_t(st.st_size);
        // One byte more than the size says, so that the end is seen without another read
        // unless the file grew meanwhile.
        constexpr std::size_t kBlock = 65536;
        std::size_t used = 0;
        data.resize(expected + 1);
        for (;;) {
            if (data.size() - used < 1) data.resize(data.size() + kBlock);
            const ssize_t got = ::read(fd, data.data() + used, data.size() - used);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                failed = true;
                break;
            }
            if (got == 0) break;
            used += std::size_t(got);
        }
        data.resize(used);
    } catch (const std::bad_alloc&) {
        ::close(fd);
        return false;  // no room for the text: nothing to say, nothing to do
    }
    ::close(fd);
    if (failed) {
        Report("Error reading from file: " + source_, false);
        return false;
    }
    verbatim_ = std::move(data);
    n_ = verbatim_.size();
    return true;
}

void Analyser::MakeContext() {
    settings_ = env_.Settings(parent_);
    std::string url = parent_.URL;
    std::size_t q = url.find('?');
    if (q != npos) url.erase(q);
    std::size_t slash = url.find_last_of("/\\");
    if (slash != npos) url.erase(slash + 1);
    if (StartsWithNoCase(url, "ftp://")) {
        // A listing page from an FTP server links to its entries relative to itself.
        scheme_ = "ftp://";
    } else {
        scheme_ = StartsWithNoCase(url, "https://") ? "https://" : "http://";
    }
    if (StartsWithNoCase(url, scheme_)) url.erase(0, scheme_.size());
    folder_ = url;
    std::size_t hostEnd = folder_.find_first_of("/\\");
    host_ = hostEnd == npos ? folder_ : folder_.substr(0, hostEnd);
    static const std::string kPrimary = ".primary";
    sourceIsPrimary_ = source_.size() >= kPrimary.size() &&
                       source_.compare(source_.size() - kPrimary.size(), kPrimary.size(), kPrimary) == 0;
}

void Analyser::Run() {
    if (!ReadSource()) return;
    sourceOnDisk_ = true;
    RunOn(std::move(verbatim_));
}

bool Analyser::Fold() {
    // NUL bytes become blanks and letters are lowered in place; the upper-case ones are
    // noted, so that a large document does not take its memory twice.
    try {
        upperCase_.assign((n_ + 63) / 64, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    unsigned char* text = reinterpret_cast<unsigned char*>(verbatim_.data());
    for (std::size_t i = 0; i < n_; ++i) {
        const unsigned char c = text[i];
        if (c == 0) {
            text[i] = ' ';
        } else if (c >= 'A' && c <= 'Z') {
            text[i] = static_cast<unsigned char>(c - 'A' + 'a');
            upperCase_[i / 64] |= std::uint64_t(1) << (i % 64);
        }
    }
    search_ = std::move(verbatim_);
    verbatim_ = std::string();
    folded_ = true;
    return true;
}

void Analyser::Unfold(std::size_t from, std::size_t to, char* out) const {
    if (to <= from) return;
    std::memcpy(out, search_.data() + from, to - from);
    for (std::size_t word = from / 64; word <= (to - 1) / 64; ++word) {
        std::uint64_t bits = upperCase_[word];
        const std::size_t base = word * 64;
        if (base < from) bits &= ~std::uint64_t(0) << (from - base);
        if (to - base < 64) bits &= (std::uint64_t(1) << (to - base)) - 1;
        while (bits != 0) {
            const std::size_t i = base + std::size_t(std::countr_zero(bits));
            out[i - from] = char(out[i - from] - 'a' + 'A');
            bits &= bits - 1;
        }
    }
}

std::string Analyser::Verbatim(std::size_t from, std::size_t to) const {
    if (!folded_) return verbatim_.substr(from, to - from);
    if (from > n_) from = n_;
    if (to > n_) to = n_;
    std::string text(to > from ? to - from : 0, '\0');
    Unfold(from, to, text.data());
    return text;
}

std::string_view Analyser::Original(std::size_t from, std::size_t to, std::string& scratch) const {
    if (!folded_) return std::string_view(verbatim_).substr(from, to - from);
    scratch = Verbatim(from, to);
    return scratch;
}

void Analyser::RunOn(std::string text) {
    verbatim_ = std::move(text);
    n_ = verbatim_.size();
    MakeContext();

    if (parent_.JavaClass) {
        ScanJavaClass(reinterpret_cast<const unsigned char*>(verbatim_.data()), n_);
        if (writeTarget_) CopyJavaClass();
        return;
    }

    if (n_ >= kFoldedFrom) {
        if (!Fold()) return;
    } else {
        // NUL bytes become blanks in both copies; the search copy has its letters lowered.
        try {
            search_ = TakeSpare(ThreadSpareBuffers().search);
            search_.resize(n_);
        } catch (const std::bad_alloc&) {
            return;
        }
        static const auto kLower = [] {
            std::array<unsigned char, 256> t{};
            for (int c = 0; c < 256; ++c) t[std::size_t(c)] = (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
            t[0] = ' ';
            return t;
        }();
        unsigned char* in = reinterpret_cast<unsigned char*>(verbatim_.data());
        unsigned char* out = reinterpret_cast<unsigned char*>(search_.data());
        for (std::size_t i = 0; i < n_; ++i) {
            unsigned char c = in[i];
            if (c == 0) {
                in[i] = ' ';
                sourceAltered_ = true;
            }
            out[i] = kLower[c];
        }
    }

    cursor_ = 0;
    noFollow_ = settings_.Robots && RobotsMetaSaysNoFollow(search_);
    if (writeTarget_ && !OpenTarget(std::int64_t(n_))) return;

    std::string type = parent_.ContentType;
    for (char& c : type)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (type.find("x-javascript") != npos) {
        if (settings_.EnableScript) {
            row_ = kRowScript;
            ScanScript(0, n_);
        }
    } else if (engine::IsStyleSheet(parent_.ContentType, parent_.URL)) {
        ScanStyle(0, n_, false);
    } else {
        TagLoop();
    }
    if (writeTarget_) CloseTarget();
}

// The first occurrence at or after from of any row's tag text; at one place the lower row
// wins. Every tag text starts with "<", so one pass over the "<" characters finds it.
std::size_t Analyser::NextTag(std::size_t from, int& row) const {
    const char* text = search_.data();
    const auto& index = TagIndex();
    std::size_t i = from;
    while (i < n_) {
        const void* hit = std::memchr(text + i, '<', n_ - i);
        if (!hit) return npos;
        i = std::size_t(static_cast<const char*>(hit) - text);
        // text[n_] is the terminating NUL, so text[i + 1] can always be read.
        for (int r : index.rows[static_cast<unsigned char>(text[i + 1])]) {
            std::size_t len = index.length[std::size_t(r)];
            if (n_ - i >= len && std::memcmp(text + i, kTagTable[r].tag, len) == 0) {
                row = r;
                return i;
            }
        }
        if (IsLower(text[i + 1])) {  // any other tag, for its style and resource attributes
            row = kRowAnyTag;
            return i;
        }
        ++i;
    }
    return npos;
}

void Analyser::TagLoop() {
    std::size_t searchFrom = 0;
    for (;;) {
        int row = 0;
        std::size_t pos = NextTag(std::max(cursor_, searchFrom), row);
        if (pos == npos) return;
        row_ = row;
        bool goOn = row == kRowAnyTag ? OtherTag(pos) : kTagTable[row].block ? BlockRow(row, pos) : NormalRow(row, pos);
        if (!goOn) return;
        // Every step moves on by at least one character, whatever the text.
        searchFrom = std::max(cursor_, pos + 1);
    }
}

std::size_t Analyser::FindIn(std::string_view needle, std::size_t from, std::size_t to) const {
    if (from >= to || to - from < needle.size()) return npos;
    std::string_view hay(search_.data() + from, to - from);
    std::size_t at = hay.find(needle);
    return at == npos ? npos : from + at;
}

std::size_t Analyser::FindCached(CachedFind& cache, std::string_view needle, std::size_t from) const {
    if (cache.from != npos && cache.from <= from && (cache.at == npos || cache.at >= from)) return cache.at;
    cache.from = from;
    cache.at = FindIn(needle, from, n_);
    return cache.at;
}

std::size_t Analyser::FindCharCached(CachedFind& cache, char c, std::size_t from, std::size_t to) const {
    if (cache.from != npos && cache.from <= from && (cache.at == npos || cache.at >= from))
        return (cache.at != npos && cache.at < to) ? cache.at : npos;
    cache.from = from;
    cache.at = npos;
    if (from < to) {
        const void* hit = std::memchr(search_.data() + from, c, to - from);
        if (hit) cache.at = std::size_t(static_cast<const char*>(hit) - search_.data());
    }
    return cache.at;
}

std::size_t Analyser::TagEnd(std::size_t pos) { return FindCharCached(tagEnd_, '>', pos, n_); }

// An attribute name inside the tag; a tag without an end searches to the end of the text.
std::size_t Analyser::FindAttribute(int row, int slot, std::string_view name, std::size_t from, std::size_t tagEnd) {
    if (tagEnd != npos) return FindIn(name, from, tagEnd);
    return FindCached(attrCache_[row][slot], name, from);
}

// After an attribute name: white space, "=", white space, then the value with or without
// quotes. False when there is no "=".
bool Analyser::AttributeValue(std::size_t afterName, std::size_t& start, std::size_t& end) const {
    const char* s = search_.data();
    std::size_t i = afterName;
    while (i < n_ && IsBlank(s[i])) ++i;
    if (i >= n_ || s[i] != '=') return false;
    ++i;
    while (i < n_ && IsBlank(s[i])) ++i;
    char closing = ' ';
    if (i < n_ && (s[i] == '"' || s[i] == '\'')) {
        closing = s[i];
        ++i;
        while (i < n_ && IsBlank(s[i])) ++i;
    }
    start = i;
    while (i < n_ && s[i] != '>' && s[i] != closing) ++i;
    end = i;
    if ((i >= n_ || s[i] == ' ' || s[i] == '>') && end > start && (s[end - 1] == '"' || s[end - 1] == '\'')) --end;
    return true;
}

bool Analyser::BlockRow(int row, std::size_t pos) {
    const TagRow& t = kTagTable[row];
    std::string_view first = t.first;
    std::size_t end = first == ">" ? TagEnd(pos) : FindIn(first, pos, n_);
    if (row == kRowStyleBlock) {
        // The sheet starts after the tag's ">"; without an end marker it runs to the end.
        std::size_t te = TagEnd(pos);
        std::size_t limit = end == npos ? n_ : end;
        if (te != npos && te < limit) ScanStyle(te + 1, limit, false);
        if (end == npos) return false;
        MoveTo(std::min(n_, end + first.size()));
        return true;
    }
    std::size_t start = pos;
    bool handler = false;
    if (*t.second) {
        std::size_t limit = end == npos ? n_ : end;
        std::size_t alt = FindIn(t.second, pos, limit);
        if (alt != npos) {
            start = alt;
            if (row == kRowComment) end = alt;
            if (row == kRowInputHandler) handler = true;
        }
    }
    if (row == kRowInputHandler && end != npos) {
        // An image button's source, and any style value, before the handler's script.
        std::vector<TagExtra> extras = TagExtras(pos, end);
        RunExtras(extras, handler ? start : end);
    }
    if (t.kind == kLinkScript && settings_.EnableScript && (row == kRowScript || handler)) {
        ScanScript(start, end == npos ? n_ : end);
    }
    if (end == npos) return false;
    MoveTo(std::min(n_, end + first.size()));
    return true;
}

bool Analyser::NormalRow(int row, std::size_t pos) {
    const TagRow& t = kTagTable[row];
    const std::size_t tagLen = std::strlen(t.tag);
    const std::size_t te = TagEnd(pos);
    const std::string_view firstName = t.first;
    const std::string_view secondName = t.second;

    std::size_t a1 = FindAttribute(row, 0, firstName, pos, te);
    if (a1 != npos && a1 > 0 && IsLower(search_[a1 - 1])) a1 = FindAttribute(row, 1, firstName, a1 + 1, te);
    std::vector<TagExtra> extras;
    if (te != npos && t.kind != kLinkBase && t.kind != kLinkParam && t.kind != kLinkOption) extras = TagExtras(pos, te);
    if (a1 != npos && row == kRowAnchor) {
        char c = search_[pos + 2];
        if (IsLower(c) && c != 'p' && c != 'r') {
            RunExtras(extras, npos);
            MoveTo(pos + tagLen);
            return true;
        }
    }
    std::size_t v1s = 0, v1e = 0, v2s = 0, v2e = 0;
    bool has1 = a1 != npos && AttributeValue(a1 + firstName.size(), v1s, v1e);
    bool has2 = false;
    if (!secondName.empty()) {
        std::size_t a2 = FindAttribute(row, 2, secondName, pos, te);
        if (row == kRowApplet && a2 != npos && search_[a2 + secondName.size()] == 'b')
            a2 = FindAttribute(row, 3, secondName, a2 + secondName.size(), te);
        has2 = a2 != npos && AttributeValue(a2 + secondName.size(), v2s, v2e);
    }
    if (!has1 && !has2) {
        RunExtras(extras, npos);
        MoveTo(pos + tagLen);
        return true;
    }
    if (!has1) {
        v1s = v2s;
        v1e = v2e;
        has2 = false;
    }
    secondValue_ = has2 ? Verbatim(v2s, v2e) : std::string();
    if (t.kind == kLinkEmbedded && has2 && v2s < v1s) {
        std::swap(v1s, v2s);
        std::swap(v1e, v2e);
    }

    if (t.kind == kLinkBase) {
        std::string base = Verbatim(v1s, v1e);
        // A base of another scheme than the page's own (a page fetched over http naming
        // "file:///etc/") is ignored: links stay with the page's own kind of address.
        const std::string_view baseScheme = SchemeOf(base);
        if (!baseScheme.empty() && !SameSchemeNoCase(baseScheme, SchemeOf(parent_.URL))) base.clear();
        std::size_t q = base.find('?');
        if (q != npos) base.erase(q);
        std::size_t slash = base.find_last_of("/\\");
        const std::size_t schemeEnd = StartsWithNoCase(base, "https://") ? 8 : 7;
        if ((StartsWithNoCase(base, "http://") || StartsWithNoCase(base, "https://")) &&
            (slash == npos || slash < schemeEnd))
            base += '/';  // a bare host is its own top folder
        else if (slash != npos)
            base.erase(slash + 1);
        std::size_t port = base.find(":80/");
        if (port != npos) base.erase(port, 3);
        if (!base.empty()) parent_.Base = base;
        MoveTo(pos);
        // Without its ">" the tag runs to the end of the text, which is kept as it is.
        if (te == npos) return false;
        cursor_ = std::max(cursor_, te + 1);
        return true;
    }

    // Values the classic row takes itself are not taken again as extra attributes.
    std::erase_if(extras, [&](const TagExtra& x) { return x.start == v1s || (has2 && x.start == v2s); });
    RunExtras(extras, v1s);
    MoveTo(v1s);
    // A <link> to what the page loads to show itself takes no level step; any other
    // relation (next, index, author...) is a hyperlink.
    if (row == kRowLink) row_ = te != npos ? LinkRelationRow(pos, te) : kRowAnchor;

    if (t.kind == kLinkPage && v1e - v1s >= 11 && search_.compare(v1s, 11, "javascript:") == 0) {
        if (settings_.EnableScript) {
            row_ = kRowScript;
            ScanScript(v1s + 11, te == npos ? n_ : te);
            row_ = row;
        } else if (te != npos) {
            MoveTo(te);
        }
        return te != npos;
    }

    if (t.kind == kLinkParam || t.kind == kLinkOption) {
        ScanParamValue(v1s, v1e);
        return true;
    }

    if (v1e > v1s) ProcessLink(v1e, false);
    if (has2 && row != kRowApplet && v2s >= cursor_) {
        MoveTo(v2s);
        if (v2e > v2s) ProcessLink(v2e, false);
    }
    RunExtras(extras, npos);
    return true;
}

// The link from the cursor up to end: resolved, handed over as a record, and written.
void Analyser::ProcessLink(std::size_t end, bool guessed) {
    override_.clear();
    const std::size_t origin = cursor_;
    if (end <= origin) return;
    const TagRow& t = kTagTable[row_];
    const std::string_view link(search_.data() + origin, end - origin);
    const bool refused = parent_.Lev == 0 && t.kind == kLinkPage && t.levelStep == 1;
    bool queued = false;
    bool overridden = false;
    std::size_t start = origin;
    LinkClass cls;

    if (StartsWith(link, "http://") || StartsWith(link, "https://") || StartsWith(link, "//")) {
        cls = LinkClass::Absolute;
        if (!refused) {
            auto record = env_.NewRecord();
            // "//host/path" is reached the way this document was.
            record->URL =
                link[0] == '/' ? scheme_.substr(0, scheme_.size() - 2) + Verbatim(origin, end) : Verbatim(origin, end);
            queued = AddFoundLink(std::move(record), guessed);
        }
    } else if (StartsWith(link, "/") || StartsWith(link, "\\") || StartsWith(link, "http:/")) {
        cls = LinkClass::HostRelative;
        queued = true;
        if (link[0] == 'h') start += 5;
        if (!refused) {
            auto record = env_.NewRecord();
            record->URL = scheme_ + host_ + Verbatim(start, end);
            queued = AddFoundLink(std::move(record), guessed);
        }
    } else {
        cls = LinkClass::Relative;
        if (StartsWith(link, "http:")) start += 5;
        std::string_view rest(search_.data() + start, end - start);
        if (StartsWith(rest, "../")) {
            std::size_t climbs = 0;
            while (StartsWith(rest.substr(climbs * 3), "../")) ++climbs;
            const long n = long(climbs) + 1, d = parent_.Depth;
            if (n > d) {
                if (!sourceIsPrimary_ && n - d == 1) {
                    std::string text = Verbatim(start + climbs * 3, end);
                    std::size_t segEnd = text.find_first_of("/\\");
                    std::size_t segLen = segEnd == npos ? text.size() : segEnd;
                    std::size_t dots = 0;
                    for (std::size_t i = 0; i < segLen; ++i) {
                        if (text[i] == '.') ++dots;
                        if (text[i] == '+') text[i] = ':';
                    }
                    if (dots > 1 || (dots == 1 && segEnd != npos)) {
                        override_ = "http://" + text;
                        overridden = true;
                    }
                }
                // A link that climbs above the host's folder is cut back to the host's top.
                start += std::min<std::size_t>(std::size_t(n - d), climbs) * 3;
            }
        }
        rest = std::string_view(search_.data() + start, end - start);
        std::string_view head = rest.substr(0, 7);
        if (StartsWith(head, "mailto:") || StartsWith(head, "telnet:") || StartsWith(head, "gopher:") ||
            StartsWith(head, "https:/") || StartsWith(head, "file:") || StartsWith(head, "news:") ||
            StartsWith(head, "ftp:/") || StartsWith(head, "data:")) {  // an inline picture or font: nothing to fetch
            cls = LinkClass::OtherScheme;
        } else if (!refused && !StartsWith(rest, "#")) {
            // Put together in the record's own room: a recycled record needs no allocation.
            std::string scratch;
            const std::string_view text = Original(start, end, scratch);
            auto record = env_.NewRecord();
            if (!parent_.Base.empty() && t.kind != kLinkParam)
                record->URL.assign(parent_.Base).append(text);
            else if (t.kind == kLinkParam && !appletBase_.empty())
                record->URL.assign(appletBase_).append(text);
            else
                record->URL.assign(scheme_).append(folder_).append(text);
            if ((t.kind == kLinkParam || t.kind == kLinkOption) && text.find('.') == npos) {
                record.reset();
            } else {
                queued = AddFoundLink(std::move(record), guessed);
            }
            // A script string naming a host and a path is tried as an absolute address too.
            if (guessed) {
                std::size_t slash = text.find('/');
                if (slash != npos) {
                    int dots = 0;
                    for (std::size_t i = 1; i < slash; ++i)
                        if (text[i] == '.' && text[i - 1] != '.') ++dots;
                    if (dots >= 2) {
                        auto second = env_.NewRecord();
                        second->URL.assign("http://").append(text);
                        queued = AddFoundLink(std::move(second), guessed) || queued;
                    }
                }
            }
        }
    }
    override_.clear();
    WriteLink(cls, origin, start, end, queued, overridden);
    cursor_ = end;
}

bool Analyser::AddFoundLink(std::unique_ptr<engine::DownloadRecord> record, bool guessed) {
    if (!override_.empty()) {
        record->URL = override_;
        override_.clear();
    }
    const TagRow& t = kTagTable[row_];
    record->IsImage = t.kind != kLinkPage;
    record->Img = parent_.Img;
    record->Srv = parent_.Srv;
    if (t.kind == kLinkApplet) {
        std::string& url = record->URL;
        if (!secondValue_.empty()) {
            if (url.empty() || url.back() != '/') url += '/';
            appletBase_ = url;
        } else {
            appletBase_.clear();
        }
        url += secondValue_;
        std::size_t k = url.find_last_of("./\\");
        if (k != npos && k > 0 && url[k] != '.') url += ".class";
        appletDepth_ = 0;
        if (!appletBase_.empty()) {
            appletDepth_ = int(
                std::count_if(appletBase_.begin(), appletBase_.end(), [](char c) { return c == '/' || c == '\\'; }));
            if (StartsWith(appletBase_, "http://")) appletDepth_ -= 2;
        }
        record->JavaClass = true;
        static const std::string kJava = ".java";
        if (url.size() >= kJava.size() &&
            StartsWithNoCase(std::string_view(url).substr(url.size() - kJava.size()), kJava))
            url.replace(url.size() - kJava.size(), kJava.size(), ".class");
    }
    const bool levelStep = parent_.Lev >= 1 && (t.levelStep == 1 || guessed);
    if (parent_.Lev < 1)
        record->Lev = 0;
    else
        record->Lev = levelStep ? parent_.Lev - 1 : parent_.Lev;
    // Chains of frames (or of anything followed without a level step) end a few steps on.
    record->IsFrame = row_ == kRowFrame || row_ == kRowIFrame;
    if (levelStep) {
        record->StepsBeyondLevel = 0;
    } else {
        if (!engine::FollowsBeyondLevel(parent_.StepsBeyondLevel, record->IsFrame)) return false;
        record->StepsBeyondLevel = static_cast<std::uint8_t>(parent_.StepsBeyondLevel + 1);
    }
    // A page that came over the network never leads to a local file.
    if (engine::LeavesNetworkForLocalFile(parent_.URL, record->URL)) return false;
    // An address handed to the queue before is in its seen list: nothing more to do for it.
    if (!(t.kind == kLinkPage && settings_.ThisWay) && sink_.AlreadyHandedOver(*record, parent_.Project)) {
        env_.Recycle(std::move(record));
        return true;
    }
    record->FoundInScript = guessed;
    record->Project = parent_.Project;
    record->InitWay = parent_.InitWay;
    record->Referer = parent_.URL;
    record->Busy = false;
    record->URLPsw.clear();
    if (!env_.Normalise(*record)) return false;
    // The page's credentials go with links to its own server only.
    if (record->URLPsw.empty() && !parent_.URLPsw.empty() && engine::CredentialsMayFollow(parent_.URL, record->URL))
        record->URLPsw = parent_.URLPsw;
    if (noFollow_ && t.kind == kLinkPage && (t.levelStep == 1 || guessed)) return false;
    if (t.kind == kLinkPage && settings_.ThisWay &&
        record->Path.compare(0, parent_.InitWay.size(), parent_.InitWay) != 0)
        return false;
    sink_.FoundRecord(std::move(record));
    return true;
}

}  // namespace detail

void AnalysisEnvironment::Recycle(std::unique_ptr<engine::DownloadRecord> record) { record.reset(); }

void AnalyseBuffer(AnalysisEnvironment& env, engine::DownloadRecord& record, std::string text,
                   const std::string& sourceName, const std::string& target, bool writeTarget,
                   engine::AnalysisSink& sink) {
    detail::Analyser analyser(env, record, sourceName, target, writeTarget, sink);
    analyser.RunOn(std::move(text));
}

void AnalyseWith(AnalysisEnvironment& env, engine::DownloadRecord& record, const std::string& source,
                 const std::string& target, bool writeTarget, engine::AnalysisSink& sink) {
    detail::Analyser analyser(env, record, source, target, writeTarget, sink);
    analyser.Run();
}

}  // namespace qm::analysis
