#include "app/new_project.h"

#include "store/defaults_project.h"
#include "store/string_list.h"
#include "store/ui_messages.h"

namespace qm::app {

namespace {
std::string ApplySchemeRules(std::string a) {
    std::string head = store::LowerCase(a.substr(0, 7));
    if (head != "http://" && head != "file://" && head.compare(0, 6, "ftp://") != 0 &&
        store::LowerCase(a.substr(0, 8)) != "https://")
        a = "http://" + a;
    if (a.compare(0, 8, "file:///") == 0) a.erase(7, 1);
    return a;
}
}  // namespace

std::string NormaliseTypedAddress(const std::string& typed) {
    std::string a = typed;
    const std::size_t q = a.find('?');
    for (std::size_t i = 0; i < a.size() && i < q; ++i)
        if (a[i] == '\\') a[i] = '/';
    return ApplySchemeRules(a);
}

std::string NormalisePastedAddress(const std::string& text) {
    std::string a;
    const std::size_t q = text.find('?');
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (i < q) {
            if (c == '\r' || c == '\n') continue;
            if (c == '\\') c = '/';
        }
        a += c;
    }
    return ApplySchemeRules(a);
}

store::Project& NewProject(store::ProjectTree& tree, store::ProjectFolder& folder, const store::Project& settings,
                           const std::string& typedAddress) {
    auto p = std::make_unique<store::Project>();
    p->Assign(settings);
    p->URL = NormaliseTypedAddress(typedAddress);
    p->StatusText = store::UIMessage(store::UIText::Ready);
    p->IID = tree.TakeID();
    return tree.AddProject(folder, std::move(p));
}

store::Project& PasteAddress(store::ProjectTree& tree, store::ProjectFolder& folder, const store::Project& defaults,
                             const std::string& text) {
    auto p = std::make_unique<store::Project>();
    p->Assign(defaults);
    p->URL = NormalisePastedAddress(text);
    p->Caption = p->URL;
    p->StatusText = store::UIMessage(store::UIText::Ready);
    p->IID = tree.TakeID();
    return tree.AddProject(folder, std::move(p));
}

}  // namespace qm::app
