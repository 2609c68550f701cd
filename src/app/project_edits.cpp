// A Project's keyword lists and filter rules by page, and taking back what a dialog edited.
#include "app/project_edits.h"

#include "store/project.h"

namespace qm::app {

std::string& KeywordList(store::Project& p, int page, bool include) {
    switch (page) {
    case 1: return include ? p.RPathIn : p.RPathEx;
    case 2: return include ? p.RFileIn : p.RFileEx;
    default: return include ? p.RSrvsIn : p.RSrvsEx;
    }
}

int& FilterRule(store::Project& p, int page) { return page == 1 ? p.RPathBx : page == 2 ? p.RFileBx : p.RSrvsBx; }

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
    Take(t.WebArchive, o.WebArchive, e.WebArchive);
    Take(t.Robots, o.Robots, e.Robots);
    Take(t.PerSecond, o.PerSecond, e.PerSecond);
    Take(t.Sitemaps, o.Sitemaps, e.Sitemaps);
    Take(t.LoginURL, o.LoginURL, e.LoginURL);
    Take(t.LoginFields, o.LoginFields, e.LoginFields);
    Take(t.RenderPages, o.RenderPages, e.RenderPages);
    for (int i = 0; i < store::kCategoryCount; ++i) {
        store::FileCategory& tc = t.Categories[i];
        const store::FileCategory &oc = o.Categories[i], &ec = e.Categories[i];
        if (i != store::kCatOther) Take(tc.Exts, oc.Exts, ec.Exts);
        for (std::size_t f = 0; f < store::kCategoryFlagCount; ++f) Take(tc.Flags[f], oc.Flags[f], ec.Flags[f]);
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
