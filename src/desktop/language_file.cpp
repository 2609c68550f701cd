#include "desktop/language_file.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <utility>

#include "platform/installed_data.h"
#include "platform/program_folder.h"
#include "store/string_list.h"
#include "store/trim.h"
#include "store/ui_messages.h"

namespace qm::desktop {

std::string ChooseLanguageFile(const std::string& programFolder) {
    if (!programFolder.empty()) {
        const std::string own = programFolder + "/" + kLanguageFileName;
        if (std::filesystem::exists(own)) return own;
    }
    const std::string code = platform::UserLanguageCode();
    if (code.empty() || code == "en") return {};
    return platform::FindInstalledData(std::string("quillmoor/lang/") + kLanguageFileName + "." + code);
}

namespace {

std::string_view TrimControls(std::string_view s) { return store::TrimView(s, store::kBlanksAndControls); }

bool IsComment(std::string_view line) {
    return TrimControls(line).empty() || line.front() == '#' || line.front() == ';';
}

bool IsHeader(std::string_view line) { return line.substr(0, 10) == "[Intl File"; }

// The name of a section line "[Name]" (the rest of the line when "]" is missing).
std::string SectionName(std::string_view line) {
    std::string_view rest = line.substr(1);
    return std::string(rest.substr(0, rest.find(']')));
}

struct Entry {
    enum Kind { None, Title, Caption, Hint, Item } kind = None;
    std::string component;
    int index = 0;
    std::string value;
};

Entry ParseEntry(std::string_view line) {
    Entry e;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return e;
    e.value = std::string(line.substr(eq + 1));
    const std::size_t dot = line.find('.');
    if (dot == std::string_view::npos || dot > eq) {
        if (store::CompareNoCase(TrimControls(line.substr(0, eq)), "Caption") == 0) e.kind = Entry::Title;
        return e;
    }
    e.component = std::string(TrimControls(line.substr(0, dot)));
    const std::string_view prop = TrimControls(line.substr(dot + 1, eq - dot - 1));
    if (e.component.empty()) return e;
    if (store::CompareNoCase(prop, "Caption") == 0) {
        e.kind = Entry::Caption;
    } else if (store::CompareNoCase(prop, "Hint") == 0) {
        e.kind = Entry::Hint;
    } else if (!prop.empty() && prop.size() <= 6) {
        int n = 0;
        for (char c : prop) {
            if (c < '0' || c > '9') return e;
            n = n * 10 + (c - '0');
        }
        if (n > kLanguageItemMax) return e;
        e.kind = Entry::Item;
        e.index = n;
    }
    return e;
}

// Walks the lines: onSection for every section start, onLine for every entry line of it.
template <class Section, class Line>
void Walk(const std::vector<std::string>& lines, Section onSection, Line onLine) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (IsHeader(line)) {
            ++i;  // the "Language=" line after the header
            continue;
        }
        if (IsComment(line)) continue;
        if (line.front() == '[')
            onSection(SectionName(line));
        else
            onLine(line);
    }
}

bool HasLetterRange(const std::string& s) {
    for (char c : s)
        if (c >= 'A' && c <= 'z') return true;
    return false;
}

}  // namespace

bool LanguageFile::Load(const std::string& path, std::string& error) {
    error.clear();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    if (!S_ISREG(st.st_mode)) {
        error = path + " is not a file";
        return false;
    }
    if (static_cast<std::uint64_t>(st.st_size) > kLanguageFileMaxBytes) {
        error = path + " is larger than " + std::to_string(kLanguageFileMaxBytes / 1024) + " KB; not read";
        return false;
    }
    std::string data;
    if (!platform::ReadWholeFile(path, data, error)) return false;
    SetText(data);
    return true;
}

void LanguageFile::SetText(std::string_view text) {
    if (text.size() > kLanguageFileMaxBytes) text = text.substr(0, kLanguageFileMaxBytes);
    lines_ = store::SplitLines(text);
    if (lines_.size() > kLanguageFileMaxLines) lines_.resize(kLanguageFileMaxLines);
    loaded_ = true;
}

std::vector<std::string> LanguageFile::Strings() const {
    std::vector<std::string> out;
    bool inStrings = false;
    Walk(
        lines_, [&](const std::string& name) { inStrings = store::CompareNoCase(name, "Strings") == 0; },
        [&](const std::string& line) {
            if (inStrings) out.push_back(line);
        });
    return out;
}

void LanguageFile::Apply(const std::vector<LanguageTarget*>& windows) const {
    LanguageTarget* current = nullptr;
    bool inStrings = false;
    int message = 0;
    Walk(
        lines_,
        [&](const std::string& name) {
            current = nullptr;
            inStrings = store::CompareNoCase(name, "Strings") == 0;
            if (inStrings) message = 0;
            for (LanguageTarget* w : windows)
                if (w && store::CompareNoCase(w->Name(), name) == 0) current = w;
        },
        [&](const std::string& line) {
            if (inStrings) {
                // Entries past the table have no reader in the program: they are dropped.
                if (message < store::kUIMessageCount) store::SetUIMessage(message, line);
                ++message;
                return;
            }
            if (!current) return;
            Entry e = ParseEntry(line);
            switch (e.kind) {
            case Entry::Title: current->SetTitle(e.value); break;
            case Entry::Caption: current->SetCaption(e.component, e.value); break;
            case Entry::Hint: current->SetHint(e.component, e.value); break;
            case Entry::Item: current->SetItem(e.component, e.index, e.value); break;
            case Entry::None: break;
            }
        });
}

std::string LanguageTemplateText(const std::vector<WindowTexts>& windows, const std::vector<std::string>& messages) {
    std::vector<std::string> out = {"[Intl File 4.0]", "Language=English", ""};
    for (const WindowTexts& w : windows) {
        out.push_back("[" + w.name + "]");
        out.push_back("Caption=" + w.title);
        for (const ComponentTexts& c : w.components) {
            if (HasLetterRange(c.caption)) out.push_back(c.name + ".Caption=" + c.caption);
            if (HasLetterRange(c.hint)) out.push_back(c.name + ".Hint=" + c.hint);
            for (std::size_t i = 0; i < c.items.size(); ++i)
                if (HasLetterRange(c.items[i])) out.push_back(c.name + "." + std::to_string(i) + "=" + c.items[i]);
        }
        out.push_back("");
    }
    out.push_back("[Strings]");
    for (const std::string& m : messages) out.push_back(m);
    return store::JoinLines(out);
}

std::string TranslatedTemplateText(std::string_view templateText, const LanguageFile& language,
                                   const std::vector<std::string>& messages) {
    // window (lower case) + "\n" + entry key (lower case) -> the language file's value
    std::map<std::string, std::string> values;
    std::string section;
    Walk(
        language.Lines(), [&](const std::string& name) { section = store::LowerCase(name); },
        [&](const std::string& line) {
            const std::size_t eq = line.find('=');
            if (eq != std::string::npos)
                values[section + "\n" + store::LowerCase(TrimControls(std::string_view(line).substr(0, eq)))] =
                    line.substr(eq + 1);
        });
    std::vector<std::string> in = store::SplitLines(templateText), out;
    section.clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        const std::string& line = in[i];
        if (IsHeader(line)) {
            out.push_back(line);
            if (i + 1 < in.size()) out.push_back(in[++i]);
            continue;
        }
        if (!line.empty() && line.front() == '[') {
            section = store::LowerCase(SectionName(line));
            if (section == "strings") break;
            out.push_back(line);
            continue;
        }
        const std::size_t eq = line.find('=');
        if (IsComment(line) || eq == std::string::npos) {
            out.push_back(line);
            continue;
        }
        auto it = values.find(section + "\n" + store::LowerCase(TrimControls(std::string_view(line).substr(0, eq))));
        out.push_back(it == values.end() ? line : line.substr(0, eq + 1) + it->second);
    }
    out.push_back("[Strings]");
    for (const std::string& m : messages) out.push_back(m);
    return store::JoinLines(out);
}

std::vector<std::string> CurrentMessages() {
    std::vector<std::string> out;
    for (int i = 0; i < store::kUIMessageCount; ++i) out.push_back(store::UIMessage(i));
    return out;
}

bool WriteLanguageText(const std::string& path, const std::string& text, std::string& error) {
    return platform::WriteFileAtomic(path, text, false, error);
}

}  // namespace qm::desktop
