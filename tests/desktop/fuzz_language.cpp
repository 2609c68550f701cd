// Language files of any content: read, applied to a window that knows every name, and merged
// into a template.
#include <cstddef>
#include <cstdint>

#include "desktop/language_file.h"
#include "store/ui_messages.h"

namespace {
class AnyWindow : public qm::desktop::LanguageTarget {
public:
    std::string Name() const override { return "MainForm"; }
    void SetTitle(const std::string& t) override { size += t.size(); }
    void SetCaption(const std::string& c, const std::string& t) override { size += c.size() + t.size(); }
    void SetHint(const std::string& c, const std::string& t) override { size += c.size() + t.size(); }
    void SetItem(const std::string& c, int i, const std::string& t) override {
        if (i < 0 || i > qm::desktop::kLanguageItemMax) __builtin_trap();
        size += c.size() + t.size();
    }
    std::size_t size = 0;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    qm::desktop::LanguageFile file;
    file.SetText(text);
    AnyWindow window;
    file.Apply({&window});
    qm::desktop::TranslatedTemplateText(text, file, qm::desktop::CurrentMessages());
    qm::store::ResetUIMessages();
    return 0;
}
