#pragma once
// The window-state values kept beside the program options in the registry: the main
// window's rectangle, panes, bars, confirmations, auto-save, tool lists, the selected tree
// node and the progress and log windows' placement. The desktop window reads and writes
// them by name; quillmoor-cli uses the confirmations, the auto-save and "TreeSelected".
#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace qm::app {

class WindowState {
public:
    WindowState();  // every value at its default (see window_state.cpp)

    // Reads every value present with the right type; writes each missing one with its
    // current value. Values that are only written are not read. A value of the wrong type
    // keeps the default and is reported in warnings.
    void Load(platform::RegKey& key, std::vector<std::string>* warnings = nullptr);
    // Writes every value in order.
    void Save(platform::RegKey& key) const;

    std::int32_t Int(const std::string& name) const;  // booleans are 0 or 1; unknown names 0
    bool Bool(const std::string& name) const { return Int(name) != 0; }
    std::string Text(const std::string& name) const;
    // False for an unknown name or one of the other type.
    bool SetInt(const std::string& name, std::int32_t value);
    bool SetBool(const std::string& name, bool value) { return SetInt(name, value ? 1 : 0); }
    bool SetText(const std::string& name, const std::string& value);

    struct Value {
        std::string name;
        bool isText = false;
        bool isBool = false;
        bool writeOnly = false;
        std::int32_t number = 0;
        std::string text;
    };
    const std::vector<Value>& Values() const { return values_; }

private:
    Value* Find(const std::string& name);
    const Value* Find(const std::string& name) const;
    std::vector<Value> values_;
};

}  // namespace qm::app
