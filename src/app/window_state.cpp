// The window-state values, their order and their defaults.
#include "app/window_state.h"

#include "store/string_list.h"

namespace qm::app {

namespace {

WindowState::Value Num(const char* name, std::int32_t v, bool writeOnly = false) {
    WindowState::Value x;
    x.name = name;
    x.number = v;
    x.writeOnly = writeOnly;
    return x;
}
WindowState::Value Flag(const char* name, bool v) {
    WindowState::Value x = Num(name, v ? 1 : 0);
    x.isBool = true;
    return x;
}
WindowState::Value Str(const char* name, const char* v, bool writeOnly = false) {
    WindowState::Value x;
    x.name = name;
    x.isText = true;
    x.text = v;
    x.writeOnly = writeOnly;
    return x;
}

}  // namespace

WindowState::WindowState() {
    // The defaults: a 900 x 640 window near the top left corner, the Projects page and the
    // site map shown, every bar shown, the log panel shown, no internal browser, deletes
    // confirmed, exit not confirmed, auto-save every 10 minutes.
    values_ = {
        Num("Left", 80),
        Num("Top", 60),
        Num("Width", 900),
        Num("Height", 640),
        Flag("Maximized", false),
        Str("Browsers", ""),
        Str("Viewers", ""),
        Str("Editors", ""),
        Flag("InternalBrowser", false),
        Flag("MessagesPanel", true),
        Num("ProjectsWidth", 260, true),
        Num("ProgressHeight", 140),
        Num("PrTreeWidth", 260),
        Flag("AddressBar", true),
        Flag("ToolBar", true),
        Flag("StatusBar", true),
        Flag("pgProjects", true),
        Flag("pgMap", true),
        Num("ShowMode", 0),
        Flag("ConfirmDel", true),
        Flag("ConfirmExit", false),
        Flag("ShowOnStart", false),
        Num("MapMode", 0),
        Num("DblClkAction", 0),
        Flag("bAutoSave", true),
        Num("iAutoSave", 10),
        Flag("Splash Window", true),
        Flag("LVisible", true),
        Flag("ExtendUI", false),
        Flag("TextLabels", true),
        Flag("GrayButtons", false),
        Str("LastRunPos", "", true),
        Num("TreeSelected", -1),
        Flag("WndProgress.Floating", false),
        Num("WndProgress.Left", 120),
        Num("WndProgress.Top", 420),
        Num("WndProgress.Width", 640),
        Num("WndProgress.Height", 140),
        Flag("LogWindow.Floating", false),
        Num("LogWindow.Left", 120),
        Num("LogWindow.Top", 560),
        Num("LogWindow.Width", 640),
        Num("LogWindow.Height", 160),
    };
}

WindowState::Value* WindowState::Find(const std::string& name) {
    for (Value& v : values_)
        if (store::CompareNoCase(v.name, name) == 0) return &v;
    return nullptr;
}
const WindowState::Value* WindowState::Find(const std::string& name) const {
    return const_cast<WindowState*>(this)->Find(name);
}

void WindowState::Load(platform::RegKey& key, std::vector<std::string>* warnings) {
    for (Value& v : values_) {
        if (v.writeOnly) continue;
        if (!key.ValueExists(v.name)) {
            if (v.isText)
                key.WriteString(v.name, v.text);
            else
                key.WriteInt(v.name, v.number);
            continue;
        }
        bool ok = false;
        if (v.isText) {
            ok = key.ReadString(v.name, v.text);
        } else {
            std::int32_t n = 0;
            ok = key.ReadInt(v.name, n);
            if (ok) v.number = v.isBool ? (n != 0 ? 1 : 0) : n;
        }
        if (!ok && warnings)
            warnings->push_back("window-state value \"" + v.name + "\" has the wrong type; its default is used");
    }
}

void WindowState::Save(platform::RegKey& key) const {
    for (const Value& v : values_) {
        if (v.isText)
            key.WriteString(v.name, v.text);
        else
            key.WriteInt(v.name, v.number);
    }
}

std::int32_t WindowState::Int(const std::string& name) const {
    const Value* v = Find(name);
    return v && !v->isText ? v->number : 0;
}

std::string WindowState::Text(const std::string& name) const {
    const Value* v = Find(name);
    return v && v->isText ? v->text : std::string();
}

bool WindowState::SetInt(const std::string& name, std::int32_t value) {
    Value* v = Find(name);
    if (!v || v->isText) return false;
    v->number = v->isBool ? (value != 0 ? 1 : 0) : value;
    return true;
}

bool WindowState::SetText(const std::string& name, const std::string& value) {
    Value* v = Find(name);
    if (!v || !v->isText) return false;
    v->text = value;
    return true;
}

}  // namespace qm::app
