#include "store/string_list.h"

#include <algorithm>

namespace qm::store {

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string out;
    std::size_t size = 0;
    for (const auto& l : lines) size += l.size() + 2;
    out.reserve(size);
    for (const auto& l : lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.emplace_back(text.substr(start, i - start));
            if (c == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
            ++i;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < n) lines.emplace_back(text.substr(start));
    return lines;
}

static inline unsigned char Fold(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

std::string LowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(Fold(static_cast<unsigned char>(c)));
    return out;
}

int CompareNoCase(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char x = Fold(static_cast<unsigned char>(a[i]));
        unsigned char y = Fold(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

int SortedStringList::Order(std::string_view a, std::string_view b) const {
    const int c = CompareNoCase(a, b);
    if (c != 0 || !keepCaseVariants_) return c;
    // Names differing only in case are different files: ordered after the case-blind order.
    const int exact = a.compare(b);
    return exact < 0 ? -1 : exact > 0 ? 1 : 0;
}

SortedStringList::SortedStringList(const SortedStringList& other)
    : keepCaseVariants_(other.keepCaseVariants_), items_(other.Items()), added_(Less{this}) {}

SortedStringList& SortedStringList::operator=(const SortedStringList& other) {
    if (this == &other) return *this;
    keepCaseVariants_ = other.keepCaseVariants_;
    items_ = other.Items();
    added_ = std::set<std::string, Less>(Less{this});
    return *this;
}

bool SortedStringList::Add(const std::string& item) {
    auto it = std::lower_bound(items_.begin(), items_.end(), std::string_view(item),
                               [this](const std::string& a, std::string_view b) { return Order(a, b) < 0; });
    if (it != items_.end() && Order(*it, item) == 0) return false;
    if (it == items_.end() && added_.empty()) {
        items_.push_back(item);  // in order already: the common case of a list read in order
        return true;
    }
    return added_.insert(item).second;
}

bool SortedStringList::Contains(std::string_view item) const {
    auto it = std::lower_bound(items_.begin(), items_.end(), item,
                               [this](const std::string& a, std::string_view b) { return Order(a, b) < 0; });
    if (it != items_.end() && Order(*it, item) == 0) return true;
    return !added_.empty() && added_.count(std::string(item)) != 0;
}

bool SortedStringList::Remove(std::string_view item) {
    Merge();
    auto it = std::lower_bound(items_.begin(), items_.end(), item,
                               [this](const std::string& a, std::string_view b) { return Order(a, b) < 0; });
    if (it == items_.end() || Order(*it, item) != 0) return false;
    items_.erase(it);
    return true;
}

const std::vector<std::string>& SortedStringList::Items() const {
    Merge();
    return items_;
}

void SortedStringList::Merge() const {
    if (added_.empty()) return;
    std::vector<std::string> merged;
    merged.reserve(items_.size() + added_.size());
    auto a = items_.begin();
    auto b = added_.begin();
    while (a != items_.end() || b != added_.end()) {
        if (b == added_.end() || (a != items_.end() && Order(*a, *b) < 0))
            merged.push_back(std::move(*a++));
        else
            merged.push_back(std::move(added_.extract(b++).value()));
    }
    items_.swap(merged);
    added_.clear();
}

void SortedStringList::SetText(std::string_view text) {
    items_.clear();
    added_.clear();
    std::vector<std::string> lines = SplitLines(text);
    std::sort(lines.begin(), lines.end(),
              [this](const std::string& a, const std::string& b) { return Order(a, b) < 0; });
    for (auto& l : lines)
        if (items_.empty() || Order(items_.back(), l) != 0) items_.push_back(std::move(l));
}

}  // namespace qm::store

namespace qm::store {

TickedList ParseTickedList(std::string_view text) {
    TickedList list;
    list.Entries = SplitLines(text);
    std::string selection;
    if (!list.Entries.empty() && !list.Entries.back().empty() && list.Entries.back()[0] == ' ') {
        selection = list.Entries.back().substr(1);
        list.Entries.pop_back();
    }
    list.Ticked.assign(list.Entries.size(), true);
    for (std::size_t i = 0; i < list.Entries.size() && i < selection.size(); ++i) list.Ticked[i] = selection[i] == 'x';
    return list;
}

std::string FormatTickedList(const TickedList& list) {
    if (list.Entries.empty()) return {};
    std::string out;
    for (std::size_t i = 0; i < list.Entries.size(); ++i) {
        if (i) out += "\r\n";
        out += list.Entries[i];
    }
    out += "\r\n ";
    for (std::size_t i = 0; i < list.Entries.size(); ++i)
        out += (i < list.Ticked.size() && !list.Ticked[i]) ? 'o' : 'x';
    return out;
}

}  // namespace qm::store
