// Keyword picker and folder dialog rules.
#include "viewmodels/map_page.h"

#include "store/options.h"

namespace qm::viewmodels {

bool KeywordPickOk(KeywordKind kind, int depth, bool hasChildren) {
    switch (kind) {
    case KeywordKind::Server: return depth == 1;
    case KeywordKind::Directory: return depth >= 2 && hasChildren;
    case KeywordKind::FileName: return depth >= 2 && !hasChildren;
    }
    return false;
}

std::string PickerFolderFor(const std::string& fieldText) {
    std::string f = fieldText.empty() ? store::Options().PathPrefix : fieldText;
    if (f.size() > 1 && (f.back() == '/' || f.back() == '\\')) f.pop_back();
    return f;
}

std::string FieldTextForPicked(const std::string& folder) {
    if (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) return folder;
    return folder + "/";
}

}  // namespace qm::viewmodels
