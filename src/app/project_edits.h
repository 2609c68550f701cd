#pragma once
// A Project's keyword lists and filter rules by page, and taking back what a dialog edited.
#include <string>

namespace qm::store {
class Project;
}  // namespace qm::store

namespace qm::app {

// The keyword list of a filter page (0 servers, 1 directories, 2 file names), the exclude
// list or the include list; and the page's rule ("RSrvsBx", "RPathBx", "RFileBx").
std::string& KeywordList(store::Project& project, int page, bool include);
int& FilterRule(store::Project& project, int page);
const std::string& KeywordList(const store::Project& project, int page, bool include);
int FilterRule(const store::Project& project, int page);

// OK hands back only what the dialog edits, and of that only what the user changed while it
// was open (original: the copy the dialog was filled from): run counters, statistics, the
// last start and what the scheduler or the engine changed meanwhile stay as they are.
void CopyEditedSettings(store::Project& target, const store::Project& original, const store::Project& edited);

}  // namespace qm::app
