// The Project properties dialog's rules.
#include "app/project_prop_rules.h"
#include "store/trim.h"

#include "app/dialog_values.h"

namespace qm::app {

std::string MirroredName(const std::string& name, const std::string& address) {
    return name.substr(0, 7) == address.substr(0, 7) ? address : name;
}

int ReadLevel(const std::string& text) { return Clamp(ReadNumber(text, 1), 0, 999); }

int ReadSkipLevel(const std::string& text, int level) {
    return Clamp(ReadNumber(text, 0), 0, level < 0 ? 0 : level);
}

int ReadTotalSizeLimit(const std::string& text) { return Clamp(ReadNumber(text, 10000), 0, 32500); }
int ReadFileCountLimit(const std::string& text) { return Clamp(ReadNumber(text, 5000), 0, 32500); }

int ReadCategorySize(const std::string& text, int position) {
    return Clamp(ReadNumber(text, position), 0, 2000000);
}

int ReadDay(const std::string& text) { return Clamp(ReadNumber(text, 1) - 1, 0, 30); }

CategoryEnables CategoryControls(const store::FileCategory& category) {
    CategoryEnables e;
    e.groups = !category.Flags[0];
    bool sizes = e.groups && category.Flags[2];
    e.minCheck = e.maxCheck = sizes;
    e.minEdit = sizes && category.Flags[3];
    e.maxEdit = sizes && category.Flags[4];
    return e;
}

ScheduleEnables ScheduleControls(int when) {
    ScheduleEnables e;
    switch (when) {
    case 1: e.time = e.once = true; break;                                  // daily
    case 2: e.time = e.weekday = e.once = true; break;                      // weekly
    case 3: e.time = e.day = e.once = true; break;                          // monthly
    case 4: e.time = e.day = e.month = e.once = true; break;                // yearly
    case 5: e.time = e.interval = e.once = true; break;                     // every
    default: break;                                                         // manually
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

std::string& KeywordList(store::Project& p, int page, bool include) {
    switch (page) {
    case 1: return include ? p.RPathIn : p.RPathEx;
    case 2: return include ? p.RFileIn : p.RFileEx;
    default: return include ? p.RSrvsIn : p.RSrvsEx;
    }
}

int& FilterRule(store::Project& p, int page) {
    return page == 1 ? p.RPathBx : page == 2 ? p.RFileBx : p.RSrvsBx;
}

const std::string& KeywordList(const store::Project& p, int page, bool include) {
    return KeywordList(const_cast<store::Project&>(p), page, include);
}
int FilterRule(const store::Project& p, int page) { return FilterRule(const_cast<store::Project&>(p), page); }

namespace {
template <typename T>
void Take(T& target, const T& original, const T& edited) {
    if (!(original == edited)) target = edited;
}
}  // namespace

void CopyEditedSettings(store::Project& t, const store::Project& o, const store::Project& e) {
    Take(t.Caption, o.Caption, e.Caption);
    Take(t.URL, o.URL, e.URL);
    Take(t.Lev, o.Lev, e.Lev);
    Take(t.FMGroup, o.FMGroup, e.FMGroup);
    Take(t.FM3Lev, o.FM3Lev, e.FM3Lev);
    Take(t.LimBTSize, o.LimBTSize, e.LimBTSize);
    Take(t.LimTSize, o.LimTSize, e.LimTSize);
    Take(t.LimBNumber, o.LimBNumber, e.LimBNumber);
    Take(t.LimNumber, o.LimNumber, e.LimNumber);
    Take(t.EnableScript, o.EnableScript, e.EnableScript);
    Take(t.EnableJava, o.EnableJava, e.EnableJava);
    Take(t.LTranslate, o.LTranslate, e.LTranslate);
    Take(t.CrawlTraps, o.CrawlTraps, e.CrawlTraps);
    for (int i = 0; i < store::kCategoryCount; ++i) {
        store::FileCategory& tc = t.Categories[i];
        const store::FileCategory &oc = o.Categories[i], &ec = e.Categories[i];
        if (i != store::kCatOther) Take(tc.Exts, oc.Exts, ec.Exts);
        for (int f = 0; f < 5; ++f) Take(tc.Flags[f], oc.Flags[f], ec.Flags[f]);
        Take(tc.MinSize, oc.MinSize, ec.MinSize);
        Take(tc.MaxSize, oc.MaxSize, ec.MaxSize);
    }
    for (int page = 0; page < 3; ++page) {
        Take(FilterRule(t, page), FilterRule(o, page), FilterRule(e, page));
        for (bool include : {false, true})
            Take(KeywordList(t, page, include), KeywordList(o, page, include), KeywordList(e, page, include));
    }
    Take(t.pswMethod, o.pswMethod, e.pswMethod);
    Take(t.User, o.User, e.User);
    Take(t.Psw, o.Psw, e.Psw);
    Take(t.When, o.When, e.When);
    Take(t.Hour, o.Hour, e.Hour);
    Take(t.Minute, o.Minute, e.Minute);
    Take(t.Weekday, o.Weekday, e.Weekday);
    Take(t.Day, o.Day, e.Day);
    Take(t.Month, o.Month, e.Month);
    Take(t.Once, o.Once, e.Once);
}

}  // namespace qm::app
