// Address parts, keyword lists and extension lists of the admission filter.
#include "addresses/address_rules.h"
#include "store/file_category.h"

namespace qm::addresses {

namespace {

bool IsSep(char c) { return c == '/' || c == '\\'; }

// Walks the lines of list text (CR LF, LF or CR); a final line break makes no empty line.
class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {}
    bool Next(std::string_view& line) {
        if (pos_ >= text_.size()) return false;
        std::size_t end = pos_;
        while (end < text_.size() && text_[end] != '\r' && text_[end] != '\n') ++end;
        line = text_.substr(pos_, end - pos_);
        if (end < text_.size() && text_[end] == '\r') {
            ++end;
            if (end < text_.size() && text_[end] == '\n') ++end;
        } else if (end < text_.size()) {
            ++end;
        }
        pos_ = end;
        return true;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// A list text split into its entries and its optional flag line (the last line, when it
// begins with a blank).
struct ListView {
    std::string_view entries;  // the text before the flag line
    std::string_view flags;    // empty when there is none
    bool hasFlags = false;
};

ListView ViewList(std::string_view text) {
    ListView v;
    std::size_t end = text.size();
    while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n')) --end;
    std::size_t start = end;
    while (start > 0 && text[start - 1] != '\r' && text[start - 1] != '\n') --start;
    if (start < end && text[start] == ' ') {
        v.hasFlags = true;
        v.flags = text.substr(start, end - start);
        v.entries = text.substr(0, start);
    } else {
        v.entries = text;
    }
    return v;
}

// The flag of entry index (0-based): position index + 1 of the flag line.
bool FlagSet(const ListView& v, std::size_t index, bool missingIsSet) {
    if (!v.hasFlags) return true;
    if (index + 1 >= v.flags.size()) return missingIsSet;
    return v.flags[index + 1] == 'x';
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

// The first or last position of either character. The standard find_first_of looks every
// character up in the set one call at a time, which is slow for the two-character sets here.
std::size_t FindFirstOf2(std::string_view s, char a, char b) {
    for (std::size_t i = 0; i < s.size(); ++i)
        if (s[i] == a || s[i] == b) return i;
    return std::string_view::npos;
}
std::size_t FindLastOf2(std::string_view s, char a, char b) {
    for (std::size_t i = s.size(); i > 0; --i)
        if (s[i - 1] == a || s[i - 1] == b) return i - 1;
    return std::string_view::npos;
}

}  // namespace

void SplitAddress(std::string_view text, const std::string& defaultDoc, AddressParts& parts) {
    // A scheme in front ("http://") goes, with the separators after it. A ":/" further on,
    // inside the path, is part of the path and must not move the server.
    const std::size_t colon = text.find(":/");
    if (colon != std::string_view::npos) {
        const std::size_t firstSep = FindFirstOf2(text, '/', '\\');
        if (firstSep > colon) {
            std::size_t j = colon + 2;
            while (j < text.size() && IsSep(text[j])) ++j;
            text.remove_prefix(j);
        }
    }
    const std::size_t sep = FindFirstOf2(text, '/', '\\');
    std::string_view server = text.substr(0, sep);
    std::string_view rest = sep == std::string_view::npos ? std::string_view() : text.substr(sep);
    const std::size_t at = server.rfind('@');
    if (at != std::string_view::npos) server.remove_prefix(at + 1);
    parts.server.assign(server);

    parts.directory.clear();
    parts.fileName.clear();
    if (!rest.empty()) {
        const std::size_t query = FindFirstOf2(rest, '#', '?');
        const std::string_view head = rest.substr(0, query);
        const std::size_t last = FindLastOf2(head, '/', '\\');
        if (last == std::string_view::npos) {
            parts.directory.assign(rest);
        } else {
            parts.directory.assign(rest.substr(0, last + 1));
            parts.fileName.assign(rest.substr(last + 1));
        }
    }
    if (parts.fileName.empty())
        parts.fileName = defaultDoc;
    else if (parts.fileName[0] == '#' || parts.fileName[0] == '?')
        parts.fileName.insert(0, defaultDoc);
}

std::string_view FileExtension(std::string_view fileName) {
    fileName = fileName.substr(0, FindFirstOf2(fileName, '#', '?'));
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos) return {};
    return fileName.substr(dot + 1);
}

bool KeywordMatch(std::string_view text, std::string_view keyword) {
    bool atStart = false, atEnd = false;
    if (!keyword.empty() && keyword.front() == '^') {
        atStart = true;
        keyword.remove_prefix(1);
    }
    if (!keyword.empty() && keyword.back() == '$') {
        atEnd = true;
        keyword.remove_suffix(1);
    }
    if (keyword.empty() || keyword.size() > text.size()) return false;
    if (atStart && atEnd) return text == keyword;
    if (atStart) return text.substr(0, keyword.size()) == keyword;
    if (atEnd) return text.substr(text.size() - keyword.size()) == keyword;
    return text.find(keyword) != std::string_view::npos;
}

bool ListAllows(std::string_view list, std::string_view text, bool isInclude) {
    if (list.empty() || list.front() == ' ') return true;
    const ListView v = ViewList(list);
    LineReader lines(v.entries);
    std::string_view keyword;
    std::size_t index = 0;
    bool anyInUse = false;
    while (lines.Next(keyword)) {
        const bool inUse = FlagSet(v, index++, false);
        if (!inUse) continue;
        anyInUse = true;
        if (KeywordMatch(text, keyword)) return isInclude;
    }
    return isInclude ? !anyInUse : true;
}

CategoryVerdict CategoryTest(const store::FileCategory& category, std::string_view extension) {
    if (extension.empty() || category.Exts.empty()) return CategoryVerdict::None;
    const ListView v = ViewList(category.Exts);
    LineReader lines(v.entries);
    std::string_view entry;
    std::size_t index = 0;
    while (lines.Next(entry)) {
        if (EqualNoCase(entry, extension)) {
            if (category.Flag(store::CategoryFlag::Excluded)) return CategoryVerdict::Rejected;
            if (category.Flag(store::CategoryFlag::SelectedTypesOnly) && !FlagSet(v, index, true))
                return CategoryVerdict::Rejected;
            return CategoryVerdict::Accepted;
        }
        ++index;
    }
    return CategoryVerdict::None;
}

}  // namespace qm::addresses
