#pragma once
// Lists of text lines as the program keeps them: keyword lists, extension lists, the
// download folders, site maps. Text is 8-bit bytes; "without regard to case" is ASCII folding.
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace qm::store {

// Lines joined as list text: every line followed by CR LF.
std::string JoinLines(const std::vector<std::string>& lines);
// Splits list text at CR LF, LF or CR; a final line break does not make an empty last line.
std::vector<std::string> SplitLines(std::string_view text);

// ASCII case folding and comparison.
std::string LowerCase(std::string_view text);
int CompareNoCase(std::string_view a, std::string_view b);

// A sorted list that ignores duplicates, compared without regard to case
// (the download folders, a Project's site map).
class SortedStringList {
public:
    SortedStringList() = default;
    // keepCaseVariants: items that differ only in letter case are kept apart (file names on
    // this system); the order stays the case-blind one.
    explicit SortedStringList(bool keepCaseVariants) : keepCaseVariants_(keepCaseVariants), added_(Less{this}) {}
    SortedStringList(const SortedStringList& other);
    SortedStringList& operator=(const SortedStringList& other);
    bool Add(const std::string& item);  // false when an equal item was already there
    bool Contains(std::string_view item) const;
    bool Remove(std::string_view item);
    void Clear() {
        items_.clear();
        added_.clear();
    }
    std::size_t Count() const { return items_.size() + added_.size(); }
    bool Empty() const { return items_.empty() && added_.empty(); }
    const std::vector<std::string>& Items() const;
    std::string Text() const { return JoinLines(Items()); }
    void SetText(std::string_view text);  // replaces the items
private:
    struct Less {
        const SortedStringList* list;
        bool operator()(const std::string& a, const std::string& b) const { return list->Order(a, b) < 0; }
    };
    int Order(std::string_view a, std::string_view b) const;
    // Folds the items added since into the sorted vector, in one pass.
    void Merge() const;
    bool keepCaseVariants_ = false;
    // A site map grows by tens of thousands of items during a download, in no useful order:
    // new items wait in a tree and join the vector when the list is next read as a whole.
    mutable std::vector<std::string> items_;
    mutable std::set<std::string, Less> added_{Less{this}};
};

}  // namespace qm::store

namespace qm::store {

// An extension or keyword list with its selection line: the entries, and for each whether
// it is ticked. The selection line is a last line beginning with a space, one "x" (ticked)
// or "o" per entry; an entry without a character counts as ticked.
struct TickedList {
    std::vector<std::string> Entries;
    std::vector<bool> Ticked;  // one per entry
};
TickedList ParseTickedList(std::string_view text);
// The list text as the properties dialog writes it: the entries joined by CR LF, then CR LF,
// a space and the characters; an empty list is empty text.
std::string FormatTickedList(const TickedList& list);

}  // namespace qm::store
