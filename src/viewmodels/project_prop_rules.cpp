// The Project properties dialog's rules.
#include "viewmodels/project_prop_rules.h"
#include "store/trim.h"

#include "viewmodels/dialog_values.h"

namespace qm::viewmodels {

std::string MirroredName(const std::string& name, const std::string& address) {
    return name.substr(0, 7) == address.substr(0, 7) ? address : name;
}

int ReadLevel(const std::string& text) { return Clamp(ReadNumber(text, 1), 0, 999); }

int ReadSkipLevel(const std::string& text, int level) { return Clamp(ReadNumber(text, 0), 0, level < 0 ? 0 : level); }

int ReadTotalSizeLimit(const std::string& text) { return Clamp(ReadNumber(text, 10000), 0, 32500); }
int ReadFileCountLimit(const std::string& text) { return Clamp(ReadNumber(text, 5000), 0, 32500); }

int ReadCategorySize(const std::string& text, int position) { return Clamp(ReadNumber(text, position), 0, 2000000); }

int ReadDay(const std::string& text) { return Clamp(ReadNumber(text, 1) - 1, 0, 30); }

CategoryEnables CategoryControls(const store::FileCategory& category) {
    CategoryEnables e;
    e.groups = !category.Flag(store::CategoryFlag::Excluded);
    bool sizes = e.groups && category.Flag(store::CategoryFlag::SelectedSizesOnly);
    e.minCheck = e.maxCheck = sizes;
    e.minEdit = sizes && category.Flag(store::CategoryFlag::MinSizeOn);
    e.maxEdit = sizes && category.Flag(store::CategoryFlag::MaxSizeOn);
    return e;
}

ScheduleEnables ScheduleControls(int when) {
    ScheduleEnables e;
    switch (when) {
    case 1: e.time = e.once = true; break;                    // daily
    case 2: e.time = e.weekday = e.once = true; break;        // weekly
    case 3: e.time = e.day = e.once = true; break;            // monthly
    case 4: e.time = e.day = e.month = e.once = true; break;  // yearly
    case 5: e.time = e.interval = e.once = true; break;       // every
    default: break;                                           // manually
    }
    return e;
}

bool AddTickedEntry(store::TickedList& list, const std::string& text) {
    std::string entry = store::Trim(text);
    if (entry.empty()) return false;
    list.Ticked.resize(list.Entries.size(), true);
    list.Entries.push_back(entry);
    list.Ticked.push_back(true);
    return true;
}

std::string RemoveTickedEntry(store::TickedList& list, int index) {
    if (index < 0 || index >= static_cast<int>(list.Entries.size())) return {};
    list.Ticked.resize(list.Entries.size(), true);
    std::string text = list.Entries[index];
    list.Entries.erase(list.Entries.begin() + index);
    list.Ticked.erase(list.Ticked.begin() + index);
    return text;
}

void SetTicked(store::TickedList& list, int index, bool ticked) {
    list.Ticked.resize(list.Entries.size(), true);
    if (index >= 0 && index < static_cast<int>(list.Ticked.size())) list.Ticked[index] = ticked;
}

std::string FormFieldsText(const std::string& typed) {
    std::string out;
    std::size_t start = 0;
    while (start <= typed.size()) {
        std::size_t end = typed.find_first_of("\r\n", start);
        if (end == std::string::npos) end = typed.size();
        std::string line = typed.substr(start, end - start);
        const std::size_t first = line.find_first_not_of(" \t");
        const std::size_t last = line.find_last_not_of(" \t");
        if (first != std::string::npos) {
            if (!out.empty()) out += "\r\n";
            out += line.substr(first, last - first + 1);
        }
        start = end + 1;
    }
    return out;
}

}  // namespace qm::viewmodels
