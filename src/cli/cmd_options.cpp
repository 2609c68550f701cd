// quillmoor-cli options: show the program options, or set some by their registry names.
#include <cstdio>

#include "app/core.h"
#include "cli/cli_command.h"
#include "platform/registry.h"
#include "store/object_stream.h"
#include "store/options_store.h"
#include "store/string_list.h"

namespace qm::cli {
namespace {

// The download folders are shown and taken as one line, separated by ";".
std::string ShowValue(const store::OptionValue& v) {
    if (v.name != "DDs") return v.text;
    std::string out;
    for (const auto& item : store::SplitLines(v.text)) {
        if (!out.empty()) out += ';';
        out += item;
    }
    return out;
}

void PrintOptions(const std::vector<std::string>* only) {
    for (const store::OptionValue& v : store::OptionValues(store::Options())) {
        if (only) {
            bool wanted = false;
            for (const auto& n : *only) wanted = wanted || n == v.name;
            if (!wanted) continue;
        }
        std::printf("%s=%s\n", v.name.c_str(), ShowValue(v).c_str());
    }
}

int RunOptions(const Invocation& inv) {
    struct Change {
        const store::OptionName* name;
        std::string text;
        std::int32_t number = 0;
    };
    std::vector<Change> changes;
    for (const std::string& a : inv.args) {
        std::size_t eq = a.find('=');
        if (eq == std::string::npos || eq == 0) return UsageError("options", "expected NAME=VALUE, got '" + a + "'");
        std::string name = a.substr(0, eq);
        const store::OptionName* found = nullptr;
        for (const store::OptionName& n : store::OptionNames())
            if (store::CompareNoCase(n.name, name) == 0) found = &n;
        if (!found) return UsageError("options", "unknown option '" + name + "'");
        Change c{found, a.substr(eq + 1)};
        if (found->isInteger) {
            std::string lower = store::LowerCase(c.text);
            if (found->isBoolean && (lower == "true" || lower == "yes"))
                c.number = 1;
            else if (found->isBoolean && (lower == "false" || lower == "no"))
                c.number = 0;
            else if (!store::ParseDecimal(c.text, c.number))
                return UsageError("options", std::string(found->name) + " needs a whole number, got '" + c.text + "'");
            else if (found->isBoolean && c.number != 0 && c.number != 1)
                return UsageError("options", std::string(found->name) + " needs 0 or 1, got '" + c.text + "'");
        }
        changes.push_back(std::move(c));
    }

    app::Core core;

    app::Session& session = core.GetSession();
    std::string error;
    const auto access = changes.empty() ? app::Session::Access::Read : app::Session::Access::Change;
    if (!OpenCore("options", core, inv, access)) return kExitFailure;
    if (changes.empty()) {
        PrintOptions(nullptr);
        return kExitOk;
    }

    // The new values go into the key the options were read from and are read back with every
    // conversion and repair of loading, then saved as at shutdown.
    platform::RegKey key = store::OpenOptionsKeyForLoad(session.Registry());
    std::vector<std::string> names;
    for (const Change& c : changes) {
        const std::string name = c.name->name;
        names.push_back(name);
        if (c.name->isInteger)
            key.WriteInt(name, c.number);
        else if (name == "HTTPUser" || name == "HTTPPass")
            key.WriteString(name, store::EncodeLetterPairs(c.text));
        else if (name == "DDs") {
            std::vector<std::string> items;
            std::string cur;
            for (char ch : c.text) {
                if (ch == ';') {
                    if (!cur.empty()) items.push_back(cur);
                    cur.clear();
                } else {
                    cur += ch;
                }
            }
            if (!cur.empty()) items.push_back(cur);
            key.WriteString(name, store::JoinLines(items));
        } else {
            key.WriteString(name, c.text);
        }
    }
    session.LoadProgramOptions();
    if (!session.Save(error)) {
        std::fprintf(stderr, "quillmoor-cli options: %s\n", error.c_str());
        return kExitFailure;
    }
    PrintOptions(&names);
    return kExitOk;
}

}  // namespace
QM_CLI_COMMAND("options", "[NAME=VALUE ...]", "show every program option, or set options by their registry names",
               RunOptions);
}  // namespace qm::cli
