#pragma once
// Language files ("qm.int"): every visible text of the program replaced from one plain-text
// file. The file holds a header, one section per window ("[MainForm]") with
// "Caption=", "Component.Caption=", "Component.Hint=" and "Component.N=" entries, and a
// "[Strings]" section that replaces the message list line by line.
//
// The file comes from anyone who hands it to the user: it is capped in size and line count,
// its texts are handed on as plain texts (never as format strings or markup), and item
// numbers are checked by the window that owns the item.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qm::desktop {

constexpr std::size_t kLanguageFileMaxBytes = 1024 * 1024;
constexpr std::size_t kLanguageFileMaxLines = 50000;
constexpr int kLanguageItemMax = 100000;  // highest ".N" item number taken

// The name the program reads from its program folder.
constexpr const char* kLanguageFileName = "qm.int";

// One window as the language file sees it. The desktop program implements it over widgets
// found by their object names; unknown components are ignored by the implementation.
class LanguageTarget {
public:
    virtual ~LanguageTarget() = default;
    virtual std::string Name() const = 0;
    virtual void SetTitle(const std::string& text) = 0;
    virtual void SetCaption(const std::string& component, const std::string& text) = 0;
    virtual void SetHint(const std::string& component, const std::string& text) = 0;
    // index is from 0 to kLanguageItemMax; the window ignores items that do not exist.
    virtual void SetItem(const std::string& component, int index, const std::string& text) = 0;
};

// The language file the window loads: the program folder's "qm.int" when it has one, else
// the translation installed for the user's language (".../quillmoor/lang/qm.int.de" for
// German; English is the program's own), else none (empty).
std::string ChooseLanguageFile(const std::string& programFolder);

// The loaded lines of a language file.
class LanguageFile {
public:
    // Reads path. A missing file is not an error: false with error empty, nothing loaded.
    // A file over the size cap is refused with error set.
    bool Load(const std::string& path, std::string& error);
    // The lines of text (cut at kLanguageFileMaxBytes and kLanguageFileMaxLines).
    void SetText(std::string_view text);
    bool Loaded() const { return loaded_; }
    const std::vector<std::string>& Lines() const { return lines_; }

    // Applies the entries to the windows whose names match their sections (all listed
    // windows), and the "[Strings]" section to the message list. Pass one window to apply
    // the file to a window created later; the message list is applied then too.
    void Apply(const std::vector<LanguageTarget*>& windows) const;
    // The message texts of the "[Strings]" section, in order (comments and empty lines
    // left out).
    std::vector<std::string> Strings() const;

private:
    std::vector<std::string> lines_;
    bool loaded_ = false;
};

// The texts of one window for the template.
struct ComponentTexts {
    std::string name;
    std::string caption, hint;       // empty: no such property
    std::vector<std::string> items;  // list entries, radio buttons or tree nodes
};
struct WindowTexts {
    std::string name, title;
    std::vector<ComponentTexts> components;
};

// The template text: header, the windows in the order given, then "[Strings]" with the
// messages, CR LF line ends. Component lines are written only for texts holding at least
// one character from "A" to "z".
std::string LanguageTemplateText(const std::vector<WindowTexts>& windows, const std::vector<std::string>& messages);
// A template text with the entries of a loaded language file put in place of the ones it
// names (same window, component and property), and "[Strings]" from messages.
std::string TranslatedTemplateText(std::string_view templateText, const LanguageFile& language,
                                   const std::vector<std::string>& messages);
// The current message list (after any language file) as template lines.
std::vector<std::string> CurrentMessages();

// Writes text to path atomically (through a temporary file renamed into place).
bool WriteLanguageText(const std::string& path, const std::string& text, std::string& error);

}  // namespace qm::desktop
