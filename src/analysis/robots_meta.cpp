// Finding the robots tag of a page.
#include "analysis/robots_meta.h"

#include <algorithm>

namespace qm::analysis {

namespace {

constexpr std::size_t kMaxTagBytes = 4096;

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '/'; }

// The value of attribute name inside a tag's text, quoted or not; false when it has none.
bool AttributeValue(std::string_view tag, std::string_view name, std::string_view& value) {
    std::size_t i = 0;
    while (i < tag.size()) {
        while (i < tag.size() && Blank(tag[i])) ++i;
        const std::size_t nameStart = i;
        while (i < tag.size() && !Blank(tag[i]) && tag[i] != '=') ++i;
        const std::string_view attr = tag.substr(nameStart, i - nameStart);
        while (i < tag.size() && Blank(tag[i])) ++i;
        std::string_view val;
        if (i < tag.size() && tag[i] == '=') {
            ++i;
            while (i < tag.size() && Blank(tag[i]) && tag[i] != '/') ++i;
            if (i < tag.size() && (tag[i] == '"' || tag[i] == '\'')) {
                const char quote = tag[i++];
                const std::size_t end = std::min(tag.find(quote, i), tag.size());
                val = tag.substr(i, end - i);
                i = end + 1;
            } else {
                const std::size_t start = i;
                while (i < tag.size() && !Blank(tag[i])) ++i;
                val = tag.substr(start, i - start);
            }
        }
        if (attr == name) {
            value = val;
            return true;
        }
        if (attr.empty() && i < tag.size() && !Blank(tag[i])) ++i;  // a stray "=" or quote
    }
    return false;
}

bool HasWord(std::string_view list, std::string_view word) {
    std::size_t i = 0;
    while (i < list.size()) {
        while (i < list.size() && (list[i] == ',' || Blank(list[i]))) ++i;
        const std::size_t start = i;
        while (i < list.size() && list[i] != ',' && !Blank(list[i])) ++i;
        if (list.substr(start, i - start) == word) return true;
    }
    return false;
}

}  // namespace

bool RobotsMetaSaysNoFollow(std::string_view lowered) {
    std::size_t at = 0;
    while ((at = lowered.find("<meta", at)) != std::string_view::npos) {
        at += 5;
        if (at < lowered.size() && !Blank(lowered[at])) continue;
        const std::size_t end = std::min({lowered.find('>', at), lowered.size(), at + kMaxTagBytes});
        const std::string_view tag = lowered.substr(at, end - at);
        std::string_view name, content;
        if (AttributeValue(tag, "name", name) && name == "robots" && AttributeValue(tag, "content", content) &&
            (HasWord(content, "nofollow") || HasWord(content, "none")))
            return true;
        at = end;
    }
    return false;
}

}  // namespace qm::analysis
