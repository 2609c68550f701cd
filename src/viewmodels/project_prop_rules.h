#pragma once
// The rules of the Project properties dialog, apart from its widgets: how a field's text
// becomes a setting, which controls are enabled, how the extension and keyword lists are
// edited (what OK hands back is in app/project_edits.h).
#include <string>

#include "app/project_edits.h"
#include "store/project.h"
#include "store/string_list.h"

namespace qm::viewmodels {

// The Project name that goes with a changed address: while the first seven characters of
// the name equal those of the address, the name follows the address.
std::string MirroredName(const std::string& name, const std::string& address);

int ReadLevel(const std::string& text);                       // 0..999, not a number: 1
int ReadSkipLevel(const std::string& text, int level);        // 0..level, not a number: 0
int ReadTotalSizeLimit(const std::string& text);              // 0..32500, not a number: 10000
int ReadFileCountLimit(const std::string& text);              // 0..32500, not a number: 5000
int ReadCategorySize(const std::string& text, int position);  // not a number: position
int ReadDay(const std::string& text);                         // day of month minus 1, 0..30
// The log-in form's fields as typed (one name=value a line, any line ends) in the stored
// form: CR LF line ends, blank lines and surrounding spaces dropped.
std::string FormFieldsText(const std::string& typed);

// Which controls of a category page are enabled.
struct CategoryEnables {
    bool groups = false;  // extension and size groups: the category is not excluded
    bool minCheck = false, minEdit = false;
    bool maxCheck = false, maxEdit = false;
};
CategoryEnables CategoryControls(const store::FileCategory& category);

// Which scheduling controls are enabled for a schedule kind ("When").
struct ScheduleEnables {
    bool time = false, weekday = false, day = false, month = false, once = false;
    bool interval = false;  // the time picker holds an interval ("Every")
};
ScheduleEnables ScheduleControls(int when);

// Extension and keyword lists: the entries with their ticks, rebuilt as list text after
// every change.
// Adds the trimmed text as a ticked entry; false (nothing added) when it is empty.
bool AddTickedEntry(store::TickedList& list, const std::string& text);
// Removes entry index and returns its text (empty when there is no such entry).
std::string RemoveTickedEntry(store::TickedList& list, int index);
void SetTicked(store::TickedList& list, int index, bool ticked);

}  // namespace qm::viewmodels
